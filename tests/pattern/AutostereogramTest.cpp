#include "Autostereogram.h"

#include <gtest/gtest.h>

namespace {

// A strip whose pixels name their own position.
RGBAImage labelledStrip(int w, int h) {
    RGBAImage image = *makeRGBAImage(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uchar* p = image.scanLine(y) + 4 * x;
            p[0] = static_cast<uchar>(x);
            p[1] = static_cast<uchar>(y);
            p[2] = 7;
            p[3] = 255;
        }
    return image;
}

QRgb pixel(const RGBAImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 4 * x;
    return qRgba(p[0], p[1], p[2], p[3]);
}

QRgb stripPixel(int x, int y) {
    return qRgba(x, y, 7, 255);
}

} // namespace

TEST(Autostereogram, MaxShift) {
    EXPECT_EQ(sirdsMaxShift(1), 3);
    EXPECT_EQ(sirdsMaxShift(59), 3);
    EXPECT_EQ(sirdsMaxShift(60), 3);
    EXPECT_EQ(sirdsMaxShift(79), 3);
    EXPECT_EQ(sirdsMaxShift(80), 4);
    EXPECT_EQ(sirdsMaxShift(200), 10);
}

TEST(Autostereogram, ShiftTableIsAConeAndIsCached) {
    SIRDSShiftCache cache;
    const std::vector<int>& table = cache.shiftTable(4, 4, 10);
    ASSERT_EQ(table.size(), 16u);
    EXPECT_EQ(table[2 * 4 + 2], 10); // apex at (w/2, h/2)
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[2 * 4 + 0], 0); // d = 1: depth below zero
    EXPECT_EQ(table[2 * 4 + 1], 3); // d = 0.5: depth 0.3
    EXPECT_EQ(table[1 * 4 + 2], 3);
    EXPECT_EQ(table[1 * 4 + 1], 0); // d = 0.71: depth 0.0101, rounds to 0
    EXPECT_EQ(cache.cachedKey, (SIRDSKey{4, 4, 10}));

    // The same key hands back the stored table untouched.
    cache.cachedTable[0] = 99;
    EXPECT_EQ(cache.shiftTable(4, 4, 10)[0], 99);
    // A new key recomputes.
    const std::vector<int>& next = cache.shiftTable(4, 4, 11);
    EXPECT_EQ(next[0], 0);
    EXPECT_EQ(next[2 * 4 + 2], 11);

    // Rounding is half away from zero: depth 0.3 x 5 = 1.5 gives 2.
    EXPECT_EQ(cache.shiftTable(4, 4, 5)[2 * 4 + 1], 2);

    EXPECT_TRUE(cache.shiftTable(0, 7, 3).empty());
}

TEST(Autostereogram, NarrowOutputCopiesTheStrip) {
    SIRDSShiftCache cache;
    const RGBAImage strip = labelledStrip(20, 5);

    auto narrow = makeAutostereogram(strip, 12, 7, cache);
    ASSERT_TRUE(narrow);
    ASSERT_EQ(narrow->size(), QSize(12, 7));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(pixel(*narrow, x, y), stripPixel(x, y % 5));

    auto exact = makeAutostereogram(strip, 20, 11, cache);
    ASSERT_TRUE(exact);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(pixel(*exact, x, y), stripPixel(x, y % 5));
}

TEST(Autostereogram, RepeatsShiftedByTheCone) {
    SIRDSShiftCache cache;
    const RGBAImage strip = labelledStrip(60, 4); // maxShift 3
    auto out = makeAutostereogram(strip, 200, 8, cache);
    ASSERT_TRUE(out);
    EXPECT_EQ(cache.cachedKey, (SIRDSKey{60, 4, 3}));

    // Row 2 crosses the apex. At x = 90 (strip column 30) the shift is 3, so
    // the repeat distance is 57: out[90] = out[33] = strip[33].
    EXPECT_EQ(pixel(*out, 90, 2), stripPixel(33, 2));
    // Strip column 0 has no depth: out[60] = strip[0].
    EXPECT_EQ(pixel(*out, 60, 2), stripPixel(0, 2));
    // Shifts compound: out[150] = out[93] (shift 3) = out[36] (column 33, shift 3).
    EXPECT_EQ(pixel(*out, 150, 2), stripPixel(36, 2));
    // Rows below the strip reuse its rows.
    EXPECT_EQ(pixel(*out, 150, 6), stripPixel(36, 2));
    // Row 0 lies on the cone's edge: plain repeats.
    EXPECT_EQ(pixel(*out, 150, 0), stripPixel(30, 0));
}

TEST(Autostereogram, TinyStripReadsStayInTheRow) {
    SIRDSShiftCache cache;
    const RGBAImage strip = labelledStrip(2, 2);
    auto out = makeAutostereogram(strip, 9, 3, cache);
    ASSERT_TRUE(out);
    // Row 1, column 3 (strip column 1, the apex, shift 3) copies column 4, not
    // yet written: the fill shows through.
    EXPECT_EQ(pixel(*out, 3, 1), qRgba(128, 128, 128, 128));
    EXPECT_EQ(pixel(*out, 2, 1), stripPixel(0, 1));

    EXPECT_FALSE(makeAutostereogram(strip, 0, 3, cache));
    EXPECT_FALSE(makeAutostereogram(strip, 3, kMaxImageSide + 1, cache));
    EXPECT_FALSE(makeAutostereogram(RGBAImage(), 3, 3, cache));
}
