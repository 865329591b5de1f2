#include "PngFile.h"

#include <QImageWriter>
#include <QSaveFile>

QString savePng(const QImage& image, const QString& path) {
    if (image.isNull())
        return QStringLiteral("no image to write to %1").arg(path);
    // Returning before commit() discards the new file and keeps the old one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    QImageWriter writer(&file, "png");
    if (!writer.write(image))
        return QStringLiteral("cannot write %1: %2").arg(path, writer.errorString());
    // commit() does not see a failure of the flush it makes itself (a short
    // write past a file-size limit), so flush first.
    if (!file.flush() || !file.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return {};
}
