#include "FrameImage.h"

#include "GpuGeneration.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <cmath>

namespace {

constexpr int kDotsPerMeter = 3780; // 96 dpi

// Moved out, so the frame is the image's only owner and setting its text and
// resolution copies no pixels.
QImage imageOf(std::optional<RGBAImage>&& image) {
    return image ? std::move(*image) : QImage();
}

QImage imageOf(const GpuTextureRef& texture) {
    return texture ? imageOf(readbackTexture(texture)) : QImage();
}

FrameImage failed(FrameImage::Failure failure) {
    FrameImage frame;
    frame.failure = failure;
    return frame;
}

// The renderer's texts: the tool and the Python module say the same.
QString tr(const char* text) {
    return QCoreApplication::translate("lumenweave-render", text);
}

} // namespace

QString failureText(FrameImage::Failure failure) {
    using Failure = FrameImage::Failure;
    switch (failure) {
    case Failure::none:
        break;
    case Failure::noTileSet:
        return tr("描くタイルがありません");
    case Failure::noPatch:
        return tr("パッチを一つも作れませんでした");
    case Failure::noCanvas:
        return tr("キャンバスを作れませんでした");
    case Failure::noRightEye:
        return tr("右目の絵を作れませんでした");
    case Failure::noMemory:
        return tr("立体視のペアのためのメモリがありません");
    }
    return {};
}

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

FrameSize frameSize(const RenderSnapshot& snapshot, double animationRenderScale, int largestSide) {
    const double scale = passScale(snapshot.backingScale, animationRenderScale);
    return {std::round(snapshot.viewWidth * scale), std::round(snapshot.viewHeight * scale),
            largestSide};
}

QString frameSizeRefusal(const RenderSnapshot& snapshot, double animationRenderScale,
                         int largestSide, bool onGpu) {
    const FrameSize pixels = frameSize(snapshot, animationRenderScale, largestSide);
    if (pixels.fits())
        return {};
    return tr("--size %1x%2 と --scale %3 では %4x%5 ピクセルになります。作れるのは一辺 1 から %6 "
              "ピクセルまでです（%7）")
        .arg(snapshot.viewWidth)
        .arg(snapshot.viewHeight)
        .arg(snapshot.backingScale)
        .arg(pixels.width)
        .arg(pixels.height)
        .arg(largestSide)
        .arg(onGpu ? tr("このマシンの OpenGL のテクスチャの上限。CPU の生成器は %1 まで")
                         .arg(kMaxImageSide)
                   : tr("CPU の生成器の上限"));
}

FrameImage renderFrameImage(const RenderSnapshot& snapshot, std::uint64_t patternSeed,
                            AppModel::RenderingMode renderingMode, double animationRenderScale,
                            SIRDSShiftCache& sirdsShiftCache) {
    return frameImageOf(renderFrame(snapshot, renderingMode, animationRenderScale, sirdsShiftCache),
                        snapshot, animationRenderScale, patternSeed);
}

FrameImage frameImageOf(RenderOutcome out, const RenderSnapshot& snapshot,
                        double animationRenderScale, std::uint64_t patternSeed) {
    using Kind = RenderOutcome::Kind;
    using Failure = FrameImage::Failure;
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
        left = imageOf(std::move(out.sirdsImage ? out.sirdsImage : out.leftImage));
        right = imageOf(std::move(out.rightImage));
        break;
    }
    if (left.isNull())
        return failed(Failure::noCanvas);

    FrameImage frame;
    if (!out.isStereoscopicMode) {
        frame.image = std::move(left);
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
    // A new image takes its resolution from the screen, or 100 dpi without one;
    // a PNG's bytes must not depend on where it was made.
    frame.image.setDotsPerMeterX(kDotsPerMeter);
    frame.image.setDotsPerMeterY(kDotsPerMeter);
    return frame;
}
