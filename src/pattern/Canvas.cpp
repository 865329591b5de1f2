#include "Canvas.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

RGBAImage asPremultipliedRGBA(const RGBAImage& image) {
    if (image.format() == QImage::Format_RGBA8888_Premultiplied)
        return image;
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// Copies a P x P image with its top-left corner at (x0, yTop) in image rows
// (top down); what falls outside the canvas is cut off.
void copyTile(RGBAImage& canvas, const RGBAImage& tile, int x0, int yTop, int P) {
    const int W = canvas.width();
    const int H = canvas.height();
    const int count = std::min(P, W - x0);
    if (count <= 0)
        return;
    for (int r = std::max(0, -yTop); r < P && yTop + r < H; ++r)
        std::memcpy(canvas.scanLine(yTop + r) + 4 * x0, tile.constScanLine(r),
                    static_cast<size_t>(count) * 4);
}

} // namespace

std::optional<RGBAImage> composeCanvas(double width, double height, double patchSize,
                                       const std::vector<RGBAImage>& patches,
                                       const std::vector<int>& variantIndices,
                                       const std::map<int, RGBAImage>& tileImageOverrides) {
    const int W = imageSide(width);
    const int H = imageSide(height);
    auto canvas = makeRGBAImage(W, H);
    if (!canvas)
        return std::nullopt;

    // Below one pixel the grid would have no bound; beyond the largest image
    // every canvas is a single cell either way.
    const double P =
        std::isnan(patchSize) ? 1.0 : std::clamp(patchSize, 1.0, double(kMaxImageSide));
    const int cols = static_cast<int>(std::ceil(W / P));
    const int rows = static_cast<int>(std::ceil(H / P));
    const bool wholeCells = P == std::floor(P);
    const int iP = static_cast<int>(P);

    // A same-size draw without smoothing is a plain copy; only images of another
    // size, or fractional cells, need painting. Whole cells never overlap, so
    // painting those after the copies changes nothing.
    struct PaintedCell {
        const RGBAImage* image;
        int row, col;
    };
    std::vector<PaintedCell> painted;

    const auto variantCount = static_cast<long long>(patches.size());
    const auto indexCount = static_cast<long long>(variantIndices.size());
    int t = 0;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col, ++t) {
            const RGBAImage* image = nullptr;
            if (auto it = tileImageOverrides.find(t); it != tileImageOverrides.end()) {
                image = &it->second;
            } else if (t < indexCount) {
                const int v = variantIndices[static_cast<size_t>(t)];
                if (v >= 0 && v < variantCount)
                    image = &patches[static_cast<size_t>(v)];
            }
            if (!image || image->isNull())
                continue;
            if (wholeCells && image->width() == iP && image->height() == iP)
                copyTile(*canvas, asPremultipliedRGBA(*image), col * iP, H - (row + 1) * iP, iP);
            else
                painted.push_back({image, row, col});
        }
    }
    if (!painted.empty()) {
        QPainter painter(&*canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (const auto& cell : painted)
            painter.drawImage(QRectF(cell.col * P, H - (cell.row + 1) * P, P, P), *cell.image);
    }
    return canvas;
}

TintColor hueToTint(double hue) {
    constexpr double p = 0.075;
    constexpr double q = 0.925;
    // The whole turns go first, so that any hue lands in [0, 1] and every
    // component stays in [0, 1]; for hues in [-1, 2] this is the single wrap.
    const double h = hue - std::floor(hue);
    const auto channel = [](double t) {
        if (t < 0)
            t += 1;
        else if (t > 1)
            t -= 1;
        if (t < 1.0 / 6)
            return p + 5.1 * t;
        if (t < 1.0 / 2)
            return q;
        if (t < 2.0 / 3)
            return p + 5.1 * (2.0 / 3 - t);
        return p;
    };
    return {channel(h + 1.0 / 3), channel(h), channel(h - 1.0 / 3)};
}

namespace {

// Separable blend of an opaque source colour cs over a premultiplied backdrop
// byte cb with alpha ab (PDF model): cs(1 - ab) + ab B(cb / ab, cs). The result
// is opaque and rounded to the nearest byte, as an 8-bit surface holds it.
template <typename Blend> uchar blendOpaque(uchar cb, uchar ab, double cs, Blend blend) {
    const double alpha = ab / 255.0;
    double value = cs * (1 - alpha);
    if (ab > 0)
        value += alpha * blend(double(cb) / ab, cs);
    return static_cast<uchar>(std::clamp(std::floor(value * 255 + 0.5), 0.0, 255.0));
}

double overlay(double b, double s) {
    return b <= 0.5 ? 2 * s * b : 1 - 2 * (1 - s) * (1 - b);
}

double multiply(double b, double s) {
    return b * s;
}

// The tint of one channel of a premultiplied pixel.
class Tint {
public:
    Tint(double hue, double colorModeBlackLevel)
        : lowerBlack(colorModeBlackLevel > 0.001), g((1 - colorModeBlackLevel) * 0.5) {
        const TintColor tint = hueToTint(hue);
        rgb[0] = tint.r;
        rgb[1] = tint.g;
        rgb[2] = tint.b;
    }
    uchar operator()(uchar value, uchar alpha, int ch) const {
        if (lowerBlack) {
            value = blendOpaque(value, alpha, g, overlay);
            alpha = 255;
        }
        return blendOpaque(value, alpha, rgb[ch], multiply);
    }

private:
    bool lowerBlack;
    double g;
    double rgb[3];
};

} // namespace

TintTable tintTable(double hue, double colorModeBlackLevel) {
    const Tint tint(hue, colorModeBlackLevel);
    TintTable table;
    for (int ch = 0; ch < 3; ++ch)
        for (int v = 0; v < 256; ++v)
            table.byte[ch][v] = tint(static_cast<uchar>(v), 255, ch);
    return table;
}

RGBAImage tintPatch(const RGBAImage& image, double hue, double colorModeBlackLevel) {
    if (image.isNull())
        return image;
    RGBAImage out = asPremultipliedRGBA(image).copy();
    if (out.isNull())
        return image;
    // Computed per pixel rather than with QPainter's 8-bit composition, which
    // quantises the fill colour to a byte first and so puts some results one
    // off the exact blend. Opaque pixels, all of them in generated patches, go
    // through the table.
    const Tint tint(hue, colorModeBlackLevel);
    const TintTable opaque = tintTable(hue, colorModeBlackLevel);
    for (int y = 0; y < out.height(); ++y) {
        uchar* px = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x, px += 4) {
            for (int ch = 0; ch < 3; ++ch)
                px[ch] = px[3] == 255 ? opaque.byte[ch][px[ch]] : tint(px[ch], px[3], ch);
            px[3] = 255;
        }
    }
    return out;
}

std::optional<RGBAImage> makeErrorImage(double width, double height) {
    const int W = imageSide(width);
    const int H = imageSide(height);
    auto image = makeRGBAImage(W, H);
    if (!image)
        return std::nullopt;
    image->fill(QColor::fromRgbF(0.2f, 0, 0));
    QPainter painter(&*image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Butt ends, as the cross must stop at the corners.
    QPen pen(QColor::fromRgbF(1.0f, 0.4f, 0.4f));
    pen.setWidthF(std::max(std::min(W, H) * 0.05, 1.0));
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    QPainterPath cross;
    cross.moveTo(0, 0);
    cross.lineTo(W, H);
    cross.moveTo(W, 0);
    cross.lineTo(0, H);
    painter.drawPath(cross);
    return image;
}
