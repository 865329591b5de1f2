#include "Autostereogram.h"

#include <gtest/gtest.h>

namespace {

// A strip whose pixels name their own position.
RGBAImage labelledStrip(int w, int h) {
    RGBAImage image = *makeRGBAImage(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgba(x, y, 7, 255));
    return image;
}

} // namespace

TEST(Autostereogram, ConeTableAndRowsThatRepeatTheStripShiftedByTheCone) {
    for (auto [w, shift] : {std::pair{59, 3}, {60, 3}, {79, 3}, {200, 10}})
        EXPECT_EQ(sirdsMaxShift(w), shift) << w;

    SIRDSShiftCache cache;
    // Apex at (w/2, h/2); d = 0.5 gives depth 0.3; d = 1 and d = 0.71 give none.
    EXPECT_EQ(cache.shiftTable(4, 4, 10),
              (std::vector<int>{0, 0, 0, 0, 0, 0, 3, 0, 0, 3, 10, 3, 0, 0, 3, 0}));

    // A new key is computed afresh.
    EXPECT_EQ(cache.shiftTable(4, 4, 11)[2 * 4 + 2], 11);
    EXPECT_EQ(cache.shiftTable(4, 4, 5)[2 * 4 + 1], 2); // 1.5 rounds away from zero

    for (int outW : {12, 20}) { // no wider than the strip: a plain copy
        const RGBAImage out = *makeAutostereogram(labelledStrip(20, 5), outW, 11, cache);
        ASSERT_EQ(out.size(), QSize(outW, 11));
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < outW; ++x)
                ASSERT_EQ(out.pixel(x, y), qRgba(x, y % 5, 7, 255));
    }

    const RGBAImage out = *makeAutostereogram(labelledStrip(60, 4), 200, 8, cache);
    // Row 2 crosses the apex: at x = 90 (strip column 30) the shift is 3, so
    // out[90] = out[33]; column 0 has none, out[60] = out[0].
    EXPECT_EQ(out.pixel(90, 2), qRgba(33, 2, 7, 255));
    EXPECT_EQ(out.pixel(60, 2), qRgba(0, 2, 7, 255));
    // Shifts compound: out[150] = out[93] = out[36]; rows below reuse the strip's.
    EXPECT_EQ(out.pixel(150, 2), qRgba(36, 2, 7, 255));
    EXPECT_EQ(out.pixel(150, 6), qRgba(36, 2, 7, 255));
    EXPECT_EQ(out.pixel(150, 0), qRgba(30, 0, 7, 255)); // the cone's edge: plain repeats

    const RGBAImage strip = labelledStrip(2, 2);
    const RGBAImage tiny = *makeAutostereogram(strip, 9, 3, cache);
    // Row 1, x = 3 (strip column 1, shift 3) copies x = 4, not yet written.
    EXPECT_EQ(tiny.pixel(3, 1), qRgba(128, 128, 128, 128));
    EXPECT_EQ(tiny.pixel(2, 1), qRgba(0, 1, 7, 255));

    EXPECT_FALSE(makeAutostereogram(strip, 0, 3, cache));
    EXPECT_FALSE(makeAutostereogram(strip, 3, kMaxImageSide + 1, cache));
    EXPECT_FALSE(makeAutostereogram(RGBAImage(), 3, 3, cache));
}
