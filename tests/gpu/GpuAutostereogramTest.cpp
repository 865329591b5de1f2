#include "GpuAutostereogram.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(GpuAutostereogram, KernelEqualsExpandRowCentredByteForByte) {
    gputest::expectCentredAutostereograms(true);
}

TEST(GpuAutostereogram, CentredConeRowMatchesAHandComputedExample) {
    // Strip A B C D in row 2 of a 10 x 3 output, one 4 x 4 cell: offset 3, and
    // in cell row 2 the cone shifts are 0 1 3 1.
    RGBAImage strip = *makeRGBAImage(4, 3);
    for (int x = 0; x < 4; ++x)
        strip.setPixelColor(x, 2, QColor(10 * (x + 1), 0, 0, 255));
    SIRDSShiftCache cache;
    const GpuTextureRef texture = uploadImageToTexture(strip);
    const GpuTextureRef first = makeAutostereogramGPU(texture, 10, 3, 1, cache);
    auto out = readbackTexture(first);
    ASSERT_TRUE(out);
    const int expected[] = {20, 20, 10, 10, 20, 30, 40, 20, 20, 40}; // B B A A B C D B B D
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(out->pixelColor(x, 2).red(), expected[x]) << "x " << x;
    // Consecutive frames take the output ring's two textures in turn.
    EXPECT_NE(makeAutostereogramGPU(texture, 10, 3, 1, cache), first);
    EXPECT_EQ(makeAutostereogramGPU(texture, 10, 3, 1, cache), first);
}

} // namespace
