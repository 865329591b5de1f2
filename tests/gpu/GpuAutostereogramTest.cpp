#include "GpuAutostereogram.h"
#include "CanvasTexturePool.h"
#include "GpuGeneration.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

RGBAImage patternedStrip(int W, int H) {
    RGBAImage strip = *makeRGBAImage(W, H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            strip.setPixelColor(
                x, y, QColor((x * 37 + y * 11) % 256, (x * 5) % 256, (y * 29) % 256, 255));
        }
    }
    return strip;
}

// The whole picture from expandRowCentred, on a 0x80-filled output.
RGBAImage expectedAutostereogram(const RGBAImage& strip, int outW, int outH, int columns) {
    const int stripW = strip.width();
    const int cell = std::max(stripW / std::max(columns, 1), 1);
    const int offset = outW < stripW ? 0 : (outW - stripW) / 2;
    const int end = std::min(offset + stripW, outW);
    SIRDSShiftCache cache;
    const std::vector<int> table = cache.shiftTable(cell, cell, sirdsMaxShift(stripW));
    RGBAImage out = *makeRGBAImage(outW, outH);
    std::memset(out.bits(), 0x80, std::size_t(out.sizeInBytes()));
    for (int y = 0; y < outH; ++y) {
        expandRowCentred(y, reinterpret_cast<const std::uint32_t*>(strip.constBits()),
                         reinterpret_cast<std::uint32_t*>(out.bits()), table, cell, offset, end,
                         stripW, strip.height(), outW);
    }
    return out;
}

TEST(ExpandRowCentred, PropagatesRightThenLeftFromTheCentredStrip) {
    // Strip 4 wide, one cell of 4: in cell row 2 the cone gives shifts 0 1 3 1.
    const std::uint32_t strip[] = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14};
    const std::vector<int> table = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 1, 0, 0, 0, 0};
    // Row 2 of a 10 x 3 output (cell rows 0 and 1 of this cone are flat).
    std::vector<std::uint32_t> image(30, 0x80808080u);
    expandRowCentred(2, strip, image.data(), table, 4, 3, 7, 4, 3, 10);
    const std::vector<std::uint32_t> row(image.begin() + 20, image.end());
    EXPECT_EQ(row, (std::vector<std::uint32_t>{12, 12, 11, 11, 12, 13, 14, 12, 12, 14}));
}

TEST(GpuAutostereogram, KernelEqualsExpandRowCentredByteForByte) {
    const RGBAImage strip = patternedStrip(36, 20);
    const GpuTextureRef stripTexture = uploadImageToTexture(strip);
    ASSERT_TRUE(stripTexture);
    // Equal, narrower, odd and even margins; no, several and too many columns.
    for (const int outW : {36, 30, 97, 98, 200}) {
        for (const int columns : {0, 3, 50}) {
            SIRDSShiftCache cache;
            auto actual =
                readbackTexture(makeAutostereogramGPU(stripTexture, outW, 45, columns, cache));
            ASSERT_TRUE(actual);
            EXPECT_EQ(*actual, expectedAutostereogram(strip, outW, 45, columns))
                << "outW " << outW << " columns " << columns;
        }
    }
}

TEST(GpuAutostereogram, ConeRowMatchesAHandComputedExample) {
    RGBAImage strip = *makeRGBAImage(4, 3);
    for (int x = 0; x < 4; ++x) {
        strip.setPixelColor(x, 2, QColor(10 * (x + 1), 0, 0, 255));
    }
    SIRDSShiftCache cache;
    auto out = readbackTexture(makeAutostereogramGPU(uploadImageToTexture(strip), 10, 3, 1, cache));
    ASSERT_TRUE(out);
    // Strip pixel A..D = red 10..40; row 2 reads B B A A B C D B B D.
    const int expected[] = {20, 20, 10, 10, 20, 30, 40, 20, 20, 40};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(out->pixelColor(x, 2).red(), expected[x]) << "x " << x;
    }
}

TEST(GpuAutostereogram, StripsNarrowerThanTheShiftLeaveUnwrittenPixelsAt0x80) {
    const RGBAImage strip = patternedStrip(2, 5);
    SIRDSShiftCache cache;
    auto actual =
        readbackTexture(makeAutostereogramGPU(uploadImageToTexture(strip), 9, 7, 1, cache));
    ASSERT_TRUE(actual);
    EXPECT_EQ(*actual, expectedAutostereogram(strip, 9, 7, 1));
}

TEST(GpuAutostereogram, ConsecutiveFramesAlternateTheOutputRing) {
    const GpuTextureRef strip = uploadImageToTexture(patternedStrip(40, 16));
    SIRDSShiftCache cache;
    const GpuTextureRef a = makeAutostereogramGPU(strip, 123, 16, 2, cache);
    const GpuTextureRef b = makeAutostereogramGPU(strip, 123, 16, 2, cache);
    const GpuTextureRef c = makeAutostereogramGPU(strip, 123, 16, 2, cache);
    ASSERT_TRUE(a && b && c);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(a->storageMode(), StorageMode::gpuPrivate);
    EXPECT_FALSE(makeAutostereogramGPU(nullptr, 10, 10, 2, cache));
    EXPECT_FALSE(makeAutostereogramGPU(strip, 0, 10, 2, cache));
}

} // namespace
