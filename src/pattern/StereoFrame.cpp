#include "StereoFrame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A half's mark radius, in points.
constexpr double kMarkRadius = 4.0;

// Pixels from points, rounded; nothing for a non-number or what is not positive.
int pixels(double points, double scale, int limit) {
    const double v = std::round(points * scale);
    if (!(v >= 1))
        return 0;
    return v >= limit ? limit : int(v);
}

void fillOpaque(RGBAImage& image, int grey) {
    image.fill(QColor(grey, grey, grey, 255));
}

// The frame is opaque: a transparent canvas pixel shows its colour bytes.
void copyOpaque(uchar* to, const uchar* from, int pixelCount) {
    std::memcpy(to, from, std::size_t(pixelCount) * 4);
    for (int x = 0; x < pixelCount; ++x)
        to[4 * x + 3] = 255;
}

std::optional<RGBAImage> sideBySide(bool crossed, const RGBAImage& leftEye,
                                    const RGBAImage& rightEye, int W, int H,
                                    const PairPlacement& p) {
    const QSize half(p.halfWidth, p.halfHeight);
    if (leftEye.size() != half || rightEye.size() != half)
        return std::nullopt;
    std::optional<RGBAImage> frame = makeRGBAImage(W, H);
    if (!frame)
        return std::nullopt;
    fillOpaque(*frame, kPairSurroundGrey);
    const RGBAImage& first = crossed ? rightEye : leftEye;
    const RGBAImage& second = crossed ? leftEye : rightEye;
    for (int y = 0; y < p.halfHeight && p.top + y < H; ++y) {
        uchar* row = frame->scanLine(p.top + y);
        for (const auto& [eye, x] : {std::pair{&first, p.leftX}, std::pair{&second, p.rightX}}) {
            const int count = std::min(p.halfWidth, W - x);
            if (count > 0)
                copyOpaque(row + 4 * x, eye->constScanLine(y), count);
        }
    }
    const int firstMarkRow = std::max(0, p.markRow - p.markRadius);
    const int lastMarkRow = std::min(H - 1, p.markRow + p.markRadius);
    for (int y = firstMarkRow; p.markRadius > 0 && y <= lastMarkRow; ++y) {
        uchar* row = frame->scanLine(y);
        for (int x = 0; x < W; ++x) {
            if (p.isMark(x, y))
                std::memcpy(row + 4 * x, "\0\0\0\xff", 4);
        }
    }
    return frame;
}

std::optional<RGBAImage> anaglyph(const RGBAImage& leftEye, const RGBAImage& rightEye, int W,
                                  int H) {
    std::optional<RGBAImage> frame = makeRGBAImage(W, H);
    if (!frame)
        return std::nullopt;
    for (int y = 0; y < H; ++y) {
        const uchar* l = leftEye.constScanLine(y);
        const uchar* r = rightEye.constScanLine(y);
        uchar* out = frame->scanLine(y);
        for (int x = 0; x < W; ++x, l += 4, r += 4, out += 4) {
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int k = 0; k < 3; ++k)
                    v += kAnaglyphLeft[c][k] * (l[k] / 255.0);
                for (int k = 0; k < 3; ++k)
                    v += kAnaglyphRight[c][k] * (r[k] / 255.0);
                out[c] = uchar(std::lround(std::clamp(v, 0.0, 1.0) * 255));
            }
            out[3] = 255;
        }
    }
    return frame;
}

std::optional<RGBAImage> interleaved(const RGBAImage& leftEye, const RGBAImage& rightEye, int W,
                                     int H) {
    std::optional<RGBAImage> frame = makeRGBAImage(W, H);
    if (!frame)
        return std::nullopt;
    for (int y = 0; y < H; ++y) {
        const RGBAImage& eye = y % 2 == 0 ? leftEye : rightEye;
        copyOpaque(frame->scanLine(y), eye.constScanLine(y), W);
    }
    return frame;
}

} // namespace

bool PairPlacement::isMark(int x, int y) const {
    if (markRadius <= 0)
        return false;
    const int dy = y - markRow;
    for (int half = 0; half < 2; ++half) {
        const int dx = x - markColumn(half);
        if (dx * dx + dy * dy <= markLimit())
            return true;
    }
    return false;
}

PairPlacement placePair(int W, int H, double scale, const StereoPairSize& pair) {
    W = std::max(1, W);
    H = std::max(1, H);
    PairPlacement p;
    const int gap = std::min(pixels(pair.gap, scale, W), std::max(0, W - 2));
    const int widest = std::max(1, (W - gap) / 2);
    const int asked = pixels(pair.halfWidth, scale, W);
    p.halfWidth = asked > 0 ? std::min(asked, widest) : widest;
    p.leftX = std::max(0, (W - (2 * p.halfWidth + gap)) / 2);
    p.rightX = p.leftX + p.halfWidth + gap;

    int band = 0;
    if (pair.marks) {
        const int radius = std::max(2, pixels(kMarkRadius, scale, H));
        band = 4 * radius;
        // The halves keep at least half of the frame's height.
        if (4 * band <= H) {
            p.markRadius = radius;
            p.markRow = band / 2;
        } else {
            band = 0;
        }
    }
    p.top = band;
    p.halfHeight = H - 2 * band;
    return p;
}

std::optional<RGBAImage> composeStereoFrame(StereoLayout layout, const RGBAImage& leftEye,
                                            const RGBAImage& rightEye, int W, int H,
                                            const PairPlacement& pair) {
    const auto format = QImage::Format_RGBA8888_Premultiplied;
    if (leftEye.format() != format || rightEye.format() != format)
        return std::nullopt;
    if (StereoLayouts::isSideBySide(layout))
        return sideBySide(layout == StereoLayout::cross, leftEye, rightEye, W, H, pair);
    const QSize frame(W, H);
    if (leftEye.size() != frame || rightEye.size() != frame)
        return std::nullopt;
    if (layout == StereoLayout::anaglyph)
        return anaglyph(leftEye, rightEye, W, H);
    return interleaved(leftEye, rightEye, W, H);
}
