#include "PngFile.h"

#include <QBuffer>
#include <QImageWriter>

std::optional<WriteFailure> savePng(const QImage& image, OutputFile& output) {
    auto failed = [&output](const QString& detail) {
        return WriteFailure{output.path(), WriteFailure::Refusal::other, 0, detail};
    };
    if (image.isNull())
        return failed(QStringLiteral("no image to write"));
    // Encoded in memory first: the PNG encoder, failing half-way through a
    // file write, gives up with its buffers unfreed and says why only on stderr.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return failed(writer.errorString());
    if (output.open() && output.write(png) && output.commit())
        return std::nullopt;
    return output.failure();
}

std::optional<WriteFailure> savePng(const QImage& image, const QString& path) {
    OutputFile output(path);
    return savePng(image, output);
}
