// Before any Qt header: Qt's emit macro breaks TBB's headers.
#include <tbb/parallel_for.h>

#include "PatchSynthesis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

double envelopeRadius(int W, int H, double radiusScale) {
    double k = radiusScale;
    if (k < 0.01)
        k = 0.01;
    else if (k >= 1.0)
        k = 1.0;
    return std::min(W / 2.0, H / 2.0) * k;
}

std::optional<RGBAImage> synthesizePatchCPU(double width, double height, double frequency,
                                            double orientation, double phase, double sigma,
                                            double contrast, double radiusScale) {
    const int W = imageSide(width);
    const int H = imageSide(height);
    auto image = makeRGBAImage(W, H);
    if (!image)
        return std::nullopt;

    const double pi = std::numbers::pi;
    const double theta = orientation * pi / 180;
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    const double cx = W / 2.0;
    const double cy = H / 2.0;
    const double R = envelopeRadius(W, H, radiusScale);
    double sig = sigma * R;
    if (sig < 1e-6)
        sig = 1e-6;
    const double sig2 = sig * sig;
    const double twoPi = 2 * pi;
    const double twoR = 2 * R;

    // Rows in parallel: a batch of large pictures keeps every core busy.
    uchar* const bits = image->bits();
    const qsizetype stride = image->bytesPerLine();
    tbb::parallel_for(0, H, [&](int y) {
        uchar* row = bits + y * stride;
        const double dy = y + 0.5 - cy;
        for (int x = 0; x < W; ++x) {
            const double dx = x + 0.5 - cx;
            const double u = c * dx + s * dy;
            const double v = c * dy - s * dx;
            const double envelope = std::exp(-0.5 * (u * u + v * v) / sig2);
            const double carrier = std::cos(phase + twoPi * frequency * u / twoR);
            double value = (contrast * carrier * envelope * 0.5 + 0.5) * 255;
            // A non-number must not reach the integer conversion.
            if (std::isnan(value))
                value = 255;
            value = std::clamp(value, 0.0, 255.0);
            const auto byte = static_cast<uchar>(value);
            uchar* p = row + 4 * x;
            p[0] = byte;
            p[1] = byte;
            p[2] = byte;
            p[3] = 255;
        }
    });
    return image;
}
