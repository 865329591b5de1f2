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
            strip.setPixelColor(x, y,
                                QColor((x * 37 + y * 11) % 256, x * 5 % 256, y * 29 % 256, 255));
        }
    }
    return strip;
}

// The whole picture from expandRowCentred, on a 0x80-filled output.
RGBAImage expectedAutostereogram(const RGBAImage& strip, int outW, int outH, int columns) {
    const int stripW = strip.width();
    const int cell = std::max(stripW / std::max(columns, 1), 1);
    const int offset = outW < stripW ? 0 : (outW - stripW) / 2;
    SIRDSShiftCache cache;
    const std::vector<int> table = cache.shiftTable(cell, cell, sirdsMaxShift(stripW));
    RGBAImage out = *makeRGBAImage(outW, outH);
    std::memset(out.bits(), 0x80, std::size_t(out.sizeInBytes()));
    for (int y = 0; y < outH; ++y) {
        expandRowCentred(y, reinterpret_cast<const std::uint32_t*>(strip.constBits()),
                         reinterpret_cast<std::uint32_t*>(out.bits()), table, cell, offset,
                         std::min(offset + stripW, outW), stripW, strip.height(), outW);
    }
    return out;
}

TEST(GpuAutostereogram, KernelEqualsExpandRowCentredByteForByte) {
    // Equal, narrower, odd and even margins; no, several and too many columns; a
    // strip narrower than the shift, whose unwritten pixels stay 0x80.
    for (const auto& [stripW, stripH] : {std::pair{36, 20}, {2, 5}}) {
        const RGBAImage strip = patternedStrip(stripW, stripH);
        const GpuTextureRef texture = uploadImageToTexture(strip);
        for (const int outW : {stripW, 30, 97, 98, 200}) {
            for (const int columns : {0, 3, 50}) {
                SIRDSShiftCache cache;
                auto actual =
                    readbackTexture(makeAutostereogramGPU(texture, outW, 45, columns, cache));
                ASSERT_TRUE(actual);
                EXPECT_EQ(*actual, expectedAutostereogram(strip, outW, 45, columns))
                    << "strip " << stripW << " outW " << outW << " columns " << columns;
            }
        }
    }
}

TEST(GpuAutostereogram, CentredConeRowMatchesAHandComputedExample) {
    // Strip A B C D in row 2 of a 10 x 3 output, one 4 x 4 cell: offset 3, and
    // in cell row 2 the cone shifts are 0 1 3 1.
    RGBAImage strip = *makeRGBAImage(4, 3);
    for (int x = 0; x < 4; ++x) {
        strip.setPixelColor(x, 2, QColor(10 * (x + 1), 0, 0, 255));
    }
    SIRDSShiftCache cache;
    const GpuTextureRef texture = uploadImageToTexture(strip);
    const GpuTextureRef first = makeAutostereogramGPU(texture, 10, 3, 1, cache);
    auto out = readbackTexture(first);
    ASSERT_TRUE(out);
    const int expected[] = {20, 20, 10, 10, 20, 30, 40, 20, 20, 40}; // B B A A B C D B B D
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(out->pixelColor(x, 2).red(), expected[x]) << "x " << x;
    }
    // Consecutive frames take the output ring's two textures in turn.
    EXPECT_NE(makeAutostereogramGPU(texture, 10, 3, 1, cache), first);
    EXPECT_EQ(makeAutostereogramGPU(texture, 10, 3, 1, cache), first);
}

} // namespace
