#include "PatchSynthesis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

RGBAImage patch(int side, double freq, double deg, double phase, double sigma, double contrast,
                double radiusScale = 0.96) {
    return *synthesizePatchCPU(side, side, freq, deg, phase, sigma, contrast, radiusScale);
}

int grey(const RGBAImage& image, int x, int y) {
    return image.constScanLine(y)[4 * x];
}

// How many pixels differ by more than 1 from the pixel at (f(x, y)).
template <typename F> int mismatches(const RGBAImage& image, F f) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const auto [u, v] = f(x, y);
            count += std::abs(grey(image, x, y) - grey(image, u, v)) > 1;
        }
    return count;
}

} // namespace

TEST(PatchSynthesis, SizesBytesStripeDirectionAndFrequency) {
    EXPECT_EQ(synthesizePatchCPU(0, 64, 4, 0, 0, 0.3, 1, 1)->size(), QSize(1, 64));
    EXPECT_EQ(synthesizePatchCPU(1e308, NAN, 4, 0, 0, 0.3, 1, 1)->size(), QSize(kMaxImageSide, 1));
    // No contrast, or an envelope narrower than any pixel centre: 127.5 -> 127.
    for (const RGBAImage& flat : {patch(64, 5, 30, 1, 0.3, 0), patch(64, 5, 30, 1, 0, 1)})
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(flat.pixel(x, y), qRgba(127, 127, 127, 255));
    const double pi = std::numbers::pi;
    EXPECT_EQ(grey(patch(33, 4, 20, 0, 0.3, 1), 16, 16), 255);
    EXPECT_EQ(grey(patch(33, 4, 20, pi, 0.3, 1), 16, 16), 0);
    EXPECT_EQ(grey(patch(33, 4, 20, 0, 0.3, 0.5741176470588235), 16, 16), 200); // 200.7
    EXPECT_EQ(grey(patch(33, 4, 20, 0, 0.3, -3), 16, 16), 0);
    EXPECT_EQ(grey(patch(8, NAN, 0, 0, 0.3, 1), 3, 5), 255);
    // Off centre, with R = 16 on a 64-pixel side: sigma is a fraction of R, 4.8 pixels.
    EXPECT_EQ(grey(patch(64, 4, 0, 0, 0.3, 1, 0.5), 40, 35), 146); // 146.3

    // A very wide envelope leaves only the carrier: at 0 degrees every column
    // is constant, at 90 every row.
    const auto column = [](int x, int) { return std::pair{x, 0}; };
    const auto row = [](int, int y) { return std::pair{0, y}; };
    EXPECT_EQ(mismatches(patch(64, 3, 0, 0.4, 100, 1), column), 0);
    EXPECT_GT(mismatches(patch(64, 3, 0, 0.4, 100, 1), row), 1000);
    EXPECT_EQ(mismatches(patch(64, 3, 90, 0.4, 100, 1), row), 0);

    // +45 degrees turns the carrier towards +y, down the image, so mirroring
    // across the main diagonal keeps it; an odd phase shows the wrong turn.
    const auto mirror = [](int x, int y) { return std::pair{y, x}; };
    EXPECT_EQ(mismatches(patch(48, 3, 45, std::numbers::pi / 2, 0.4, 1), mirror), 0);
    EXPECT_GT(mismatches(patch(48, 3, -45, std::numbers::pi / 2, 0.4, 1), mirror), 100);

    // R = 64 / 2 x 0.5 = 16: four cycles per 32-pixel diameter, a period of 8.
    const RGBAImage fine = patch(64, 4, 0, 0, 100, 1, 0.5);
    for (int x = 0; x + 8 < 64; ++x) {
        EXPECT_NEAR(grey(fine, x, 32), grey(fine, x + 8, 32), 1) << x;
        EXPECT_NEAR(grey(fine, x, 32) + grey(fine, x + 4, 32), 254, 2) << x;
    }
    // The CPU radius scale is clamped to [0.01, 1].
    EXPECT_EQ(patch(40, 5, 30, 0.2, 0.3, 0.8, 1.0), patch(40, 5, 30, 0.2, 0.3, 0.8, 1.248));
    EXPECT_EQ(patch(40, 5, 30, 0.2, 0.3, 0.8, 0.01), patch(40, 5, 30, 0.2, 0.3, 0.8, -4));
}
