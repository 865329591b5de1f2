#include "PngFile.h"

#include <QBuffer>
#include <QImageWriter>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

QString savePng(const QImage& image, const QString& path) {
    if (image.isNull())
        return QStringLiteral("no image to write to %1").arg(path);
    // Encoded in memory first: the PNG encoder, failing half-way through a
    // file write, gives up with its buffers unfreed and says why only on stderr.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return QStringLiteral("cannot write %1: %2").arg(path, writer.errorString());
    // Returning before commit() discards the new file and keeps the old one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    // commit() does not see a failure of the flush it makes itself (a short
    // write past a file-size limit), so flush first.
    errno = 0;
    if (file.write(png) != png.size() || !file.flush() || !file.commit()) {
        // Qt words a refused write past a file-size limit as "Unknown error".
        const QString why =
            errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : file.errorString();
        return QStringLiteral("cannot write %1: %2").arg(path, why);
    }
    return {};
}
