#include "StereoFrame.h"
#include "TestImages.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(StereoFrame, EachLayoutFromTheEyesAsAskedFor) {
    // A pair of 60-point halves 10 points apart with marks, at 2 pixels per point
    // in a 400 x 200 frame: 120-pixel halves centred around a 20-pixel gap, dots
    // of radius 8 centred 16 rows down, the halves in the 32 rows below that.
    const PairPlacement p = placePair(400, 200, 2.0, {60, 10, true});
    ASSERT_EQ(p, (PairPlacement{120, 136, 70, 210, 32, 8, 16}));
    const RGBAImage left = pattern(120, 136, 0), right = pattern(120, 136, 1);
    for (StereoLayout layout : {StereoLayout::parallel, StereoLayout::cross}) {
        const RGBAImage frame = *composeStereoFrame(layout, left, right, 400, 200, p);
        const bool crossed = layout == StereoLayout::cross;
        const QRgb grey = qRgba(127, 127, 127, 255), black = qRgba(0, 0, 0, 255);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 400; ++x) {
                QRgb expected = grey;
                const int row = y - 32;
                if (row >= 0 && row < 136 && x >= 70 && x < 190)
                    expected = (crossed ? right : left).pixel(x - 70, row);
                else if (row >= 0 && row < 136 && x >= 210 && x < 330)
                    expected = (crossed ? left : right).pixel(x - 210, row);
                for (int cx : {130, 270}) // dx^2 + dy^2 <= 8 x 9
                    if ((x - cx) * (x - cx) + (y - 16) * (y - 16) <= 72)
                        expected = black;
                ASSERT_EQ(frame.pixel(x, y), expected) << x << "," << y;
            }
    }
    // The whole window, no gap: today's pair; a gap wider than the frame leaves
    // a pixel per half; marks only where the halves keep half the height.
    EXPECT_EQ(placePair(1001, 600, 1, {}), (PairPlacement{500, 600, 0, 500}));
    EXPECT_EQ(placePair(1920, 1080, 1, {227, 0, false}), (PairPlacement{227, 1080, 733, 960}));
    EXPECT_EQ(placePair(10, 5, 1, {0, 1e308, false}).halfWidth, 1);
    EXPECT_EQ(placePair(100, 63, 1, {0, 0, true}).markRadius, 0);
    EXPECT_EQ(placePair(100, 64, 1, {0, 0, true}).markRadius, 4);

    // Anaglyph: Dubois' least-squares red-cyan matrices, within one of rounding.
    const double L[3][3] = {
        {0.437, 0.449, 0.164}, {-0.062, -0.062, -0.024}, {-0.048, -0.050, -0.017}};
    const double R[3][3] = {
        {-0.011, -0.032, -0.007}, {0.377, 0.761, 0.009}, {-0.026, -0.093, 1.234}};
    const RGBAImage l = pattern(53, 31, 0), r = pattern(53, 31, 2).mirrored(true, false);
    const RGBAImage anaglyph = *composeStereoFrame(StereoLayout::anaglyph, l, r, 53, 31, {});
    const RGBAImage rows = *composeStereoFrame(StereoLayout::interleaved, l, r, 53, 31, {});
    const auto channel = [](QRgb p, int c) { return double(p >> (16 - 8 * c) & 255) / 255; };
    for (int y = 0; y < 31; ++y)
        for (int x = 0; x < 53; ++x) {
            const QRgb a = l.pixel(x, y), b = r.pixel(x, y), out = anaglyph.pixel(x, y);
            for (int c = 0; c < 3; ++c) {
                double v = 0;
                for (int k = 0; k < 3; ++k)
                    v += L[c][k] * channel(a, k) + R[c][k] * channel(b, k);
                ASSERT_NEAR(channel(out, c), std::clamp(v, 0.0, 1.0), 1.0 / 255) << x << "," << y;
            }
            ASSERT_EQ(rows.pixel(x, y), (y % 2 ? r : l).pixel(x, y)) << x << "," << y;
        }
    // An eye of another size has no frame.
    EXPECT_FALSE(composeStereoFrame(StereoLayout::anaglyph, l, pattern(52, 31, 1), 53, 31, {}));
    EXPECT_FALSE(composeStereoFrame(StereoLayout::parallel, left, left, 400, 200, {}));
}
