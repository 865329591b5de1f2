#include "FrameImage.h"

#include "GpuGeneration.h"

#include <QRegularExpression>

namespace {

QImage imageOf(const std::optional<RGBAImage>& image) {
    return image ? *image : QImage();
}

QImage imageOf(const GpuTextureRef& texture) {
    return texture ? imageOf(readbackTexture(texture)) : QImage();
}

FrameImage failed(FrameImage::Failure failure) {
    FrameImage frame;
    frame.failure = failure;
    return frame;
}

} // namespace

QString seedText(std::uint64_t patternSeed) {
    return QStringLiteral("0x%1").arg(patternSeed, 16, 16, QLatin1Char('0'));
}

std::optional<std::uint64_t> parseSeed(const QString& text) {
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    static const QRegularExpression hex(QStringLiteral("^0[xX][0-9a-fA-F]+$"));
    bool ok = false;
    std::uint64_t v = 0;
    // toULongLong reports overflow past 2^64 - 1 as a failure.
    if (hex.match(text).hasMatch())
        v = text.mid(2).toULongLong(&ok, 16);
    else if (decimal.match(text).hasMatch())
        v = text.toULongLong(&ok, 10);
    return ok ? std::optional(v) : std::nullopt;
}

FrameImage renderFrameImage(const RenderSnapshot& snapshot, std::uint64_t patternSeed,
                            AppModel::RenderingMode renderingMode, double animationRenderScale,
                            SIRDSShiftCache& sirdsShiftCache) {
    using Kind = RenderOutcome::Kind;
    using Failure = FrameImage::Failure;
    const RenderOutcome out =
        renderFrame(snapshot, renderingMode, animationRenderScale, sirdsShiftCache);
    QImage left, right;
    switch (out.kind) {
    case Kind::none:
        return failed(Failure::noTileSet);
    case Kind::cpuFailure:
        return failed(Failure::noPatch);
    case Kind::gpuCanvas:
    case Kind::gpuAutostereogram:
        left = imageOf(out.leftTexture);
        right = imageOf(out.rightTexture);
        break;
    case Kind::cpuCanvas:
        left = imageOf(out.sirdsImage ? out.sirdsImage : out.leftImage);
        right = imageOf(out.rightImage);
        break;
    }
    if (left.isNull())
        return failed(Failure::noCanvas);

    FrameImage frame;
    if (!out.isStereoscopicMode) {
        frame.image = left;
    } else {
        if (right.isNull())
            return failed(Failure::noRightEye);
        // The layout as the window shows it, at the pass's size.
        const CanvasGeometry g = passGeometry(snapshot, animationRenderScale);
        std::optional<RGBAImage> shown =
            composeStereoFrame(snapshot.stereoLayout, left, right, g.canvasW, g.canvasH, g.pair);
        if (!shown)
            return failed(Failure::noMemory);
        frame.image = std::move(*shown);
    }
    // The seed makes the pattern again (lumenweave-render --seed).
    frame.image.setText(QStringLiteral("Seed"), seedText(patternSeed));
    return frame;
}
