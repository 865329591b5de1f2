#include "PatchSynthesis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

RGBAImage patch(int side, double freq, double deg, double phase, double sigma, double contrast,
                double radiusScale = 0.96) {
    return *synthesizePatchCPU(side, side, freq, deg, phase, sigma, contrast, radiusScale);
}

} // namespace

TEST(PatchSynthesis, SizesBytesAndTheClampedRadius) {
    EXPECT_EQ(synthesizePatchCPU(0, 64, 4, 0, 0, 0.3, 1, 1)->size(), QSize(1, 64));
    EXPECT_EQ(synthesizePatchCPU(1e308, NAN, 4, 0, 0, 0.3, 1, 1)->size(), QSize(kMaxImageSide, 1));
    // No contrast, or an envelope narrower than any pixel centre: 127.5 -> 127.
    for (const RGBAImage& flat : {patch(64, 5, 30, 1, 0.3, 0), patch(64, 5, 30, 1, 0, 1)})
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(flat.pixel(x, y), qRgba(127, 127, 127, 255));
    const double pi = std::numbers::pi;
    EXPECT_EQ(qRed(patch(33, 4, 20, 0, 0.3, 1).pixel(16, 16)), 255);
    EXPECT_EQ(qRed(patch(33, 4, 20, pi, 0.3, 1).pixel(16, 16)), 0);
    EXPECT_EQ(qRed(patch(33, 4, 20, 0, 0.3, 0.5741176470588235).pixel(16, 16)), 200); // 200.7
    EXPECT_EQ(qRed(patch(33, 4, 20, 0, 0.3, -3).pixel(16, 16)), 0);
    EXPECT_EQ(qRed(patch(8, NAN, 0, 0, 0.3, 1).pixel(3, 5)), 255);
    // Off centre, with R = 16 on a 64-pixel side: sigma is a fraction of R, 4.8 pixels.
    EXPECT_EQ(qRed(patch(64, 4, 0, 0, 0.3, 1, 0.5).pixel(40, 35)), 146); // 146.3

    // The radius scale is clamped to [0.01, 1]. (Stripe direction and frequency:
    // the GPU kernel's own arithmetic gives the same bytes, checked by GpuPatch.)
    EXPECT_EQ(patch(40, 5, 30, 0.2, 0.3, 0.8, 1.0), patch(40, 5, 30, 0.2, 0.3, 0.8, 1.248));
    EXPECT_EQ(patch(40, 5, 30, 0.2, 0.3, 0.8, 0.01), patch(40, 5, 30, 0.2, 0.3, 0.8, -4));
}
