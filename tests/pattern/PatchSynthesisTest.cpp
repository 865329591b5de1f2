#include "PatchSynthesis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

int grey(const RGBAImage& image, int x, int y) {
    return image.constScanLine(y)[4 * x];
}

// Largest spread of values along each row (byRow) or each column.
int largestSpread(const RGBAImage& image, bool byRow) {
    const int outer = byRow ? image.height() : image.width();
    const int inner = byRow ? image.width() : image.height();
    int spread = 0;
    for (int a = 0; a < outer; ++a) {
        int lo = 255, hi = 0;
        for (int b = 0; b < inner; ++b) {
            const int v = byRow ? grey(image, b, a) : grey(image, a, b);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        spread = std::max(spread, hi - lo);
    }
    return spread;
}

} // namespace

TEST(PatchSynthesis, SizesAreWholeAndBounded) {
    auto thin = synthesizePatchCPU(0, 64, 4, 0, 0, 0.3, 1, 0.96);
    ASSERT_TRUE(thin);
    EXPECT_EQ(thin->size(), QSize(1, 64));
    EXPECT_EQ(thin->bytesPerLine(), 4);
    EXPECT_EQ(thin->format(), QImage::Format_RGBA8888_Premultiplied);

    auto fractional = synthesizePatchCPU(10.9, -3, 4, 0, 0, 0.3, 1, 0.96);
    ASSERT_TRUE(fractional);
    EXPECT_EQ(fractional->size(), QSize(10, 1));

    auto absurd = synthesizePatchCPU(1e308, std::nan(""), 4, 0, 0, 0.3, 1, 0.96);
    ASSERT_TRUE(absurd);
    EXPECT_EQ(absurd->size(), QSize(kMaxImageSide, 1));
}

TEST(PatchSynthesis, GreyOpaqueAndMidGreyWhereThereIsNoCarrier) {
    // Flat patches: no contrast, or an envelope narrower than any pixel centre.
    for (auto patch : {synthesizePatchCPU(64, 64, 5, 30, 1, 0.3, 0, 0.96),
                       synthesizePatchCPU(64, 64, 5, 30, 1, 0, 1, 0.96)}) {
        ASSERT_TRUE(patch);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const uchar* p = patch->constScanLine(y) + 4 * x;
                ASSERT_EQ(p[0], 127); // 127.5 truncated, not rounded
                ASSERT_EQ(p[1], 127);
                ASSERT_EQ(p[2], 127);
                ASSERT_EQ(p[3], 255);
            }
    }
}

TEST(PatchSynthesis, CentreOfOddPatchAndTruncation) {
    const double pi = std::numbers::pi;
    auto bright = synthesizePatchCPU(33, 33, 4, 20, 0, 0.3, 1, 0.96);
    ASSERT_TRUE(bright);
    EXPECT_EQ(grey(*bright, 16, 16), 255);
    EXPECT_EQ(grey(*bright, 0, 0), 127); // far outside the envelope

    auto dark = synthesizePatchCPU(33, 33, 4, 20, pi, 0.3, 1, 0.96);
    EXPECT_EQ(grey(*dark, 16, 16), 0);

    // Centre value (0.5741 * 0.5 + 0.5) * 255 = 200.7: truncated to 200.
    auto partial = synthesizePatchCPU(33, 33, 4, 20, 0, 0.3, 0.5741176470588235, 0.96);
    EXPECT_EQ(grey(*partial, 16, 16), 200);

    // Over-range contrast is clamped, not wrapped.
    auto over = synthesizePatchCPU(33, 33, 4, 20, 0, 0.3, 3, 0.96);
    EXPECT_EQ(grey(*over, 16, 16), 255);
    auto under = synthesizePatchCPU(33, 33, 4, 20, 0, 0.3, -3, 0.96);
    EXPECT_EQ(grey(*under, 16, 16), 0);
}

TEST(PatchSynthesis, NonNumbersEndAsWhite) {
    auto patch = synthesizePatchCPU(8, 8, std::nan(""), 0, 0, 0.3, 1, 0.96);
    ASSERT_TRUE(patch);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(grey(*patch, x, y), 255);
}

TEST(PatchSynthesis, StripeDirection) {
    // A very wide envelope leaves only the carrier.
    auto vertical = synthesizePatchCPU(64, 64, 3, 0, 0.4, 100, 1, 1);
    EXPECT_LE(largestSpread(*vertical, false), 1); // columns are constant
    EXPECT_GT(largestSpread(*vertical, true), 200);

    auto horizontal = synthesizePatchCPU(64, 64, 3, 90, 0.4, 100, 1, 1);
    EXPECT_LE(largestSpread(*horizontal, true), 1); // rows are constant
    EXPECT_GT(largestSpread(*horizontal, false), 200);

    // +45 degrees turns the carrier towards +y (down the image): the carrier
    // runs along the main diagonal, so mirroring across it keeps every value.
    // An odd phase makes the wrong turn visible.
    const double half = std::numbers::pi / 2;
    auto clockwise = synthesizePatchCPU(48, 48, 3, 45, half, 0.4, 1, 0.96);
    auto counter = synthesizePatchCPU(48, 48, 3, -45, half, 0.4, 1, 0.96);
    int clockwiseMismatch = 0, counterMismatch = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
            clockwiseMismatch += std::abs(grey(*clockwise, x, y) - grey(*clockwise, y, x)) > 1;
            counterMismatch += std::abs(grey(*counter, x, y) - grey(*counter, y, x)) > 1;
        }
    EXPECT_EQ(clockwiseMismatch, 0);
    EXPECT_GT(counterMismatch, 100);
}

TEST(PatchSynthesis, FrequencyCountsCyclesPerEnvelopeDiameter) {
    // R = 64 / 2 * 0.5 = 16: four cycles over 32 pixels is a period of 8.
    auto patch = synthesizePatchCPU(64, 64, 4, 0, 0, 100, 1, 0.5);
    const int y = 32;
    for (int x = 0; x + 8 < 64; ++x) {
        EXPECT_NEAR(grey(*patch, x, y), grey(*patch, x + 8, y), 1) << x;
        EXPECT_NEAR(grey(*patch, x, y) + grey(*patch, x + 4, y), 254, 2) << x;
    }
}

TEST(PatchSynthesis, RadiusScaleIsClamped) {
    auto atOne = synthesizePatchCPU(40, 40, 5, 30, 0.2, 0.3, 0.8, 1.0);
    auto breathing = synthesizePatchCPU(40, 40, 5, 30, 0.2, 0.3, 0.8, 0.96 * 1.3);
    EXPECT_EQ(*atOne, *breathing);
    auto smallest = synthesizePatchCPU(40, 40, 5, 30, 0.2, 0.3, 0.8, 0.01);
    auto tiny = synthesizePatchCPU(40, 40, 5, 30, 0.2, 0.3, 0.8, -4);
    EXPECT_EQ(*smallest, *tiny);
    EXPECT_NE(*atOne, *smallest);
}
