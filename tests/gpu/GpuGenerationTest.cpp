// The generators on the GPU against their CPU definitions.
#include "GpuGeneration.h"
#include "CanvasTexturePool.h"
#include "GpuAutostereogram.h"
#include "GpuTestSupport.h"
#include "PatchFilter.h"

#include <gtest/gtest.h>

namespace {

TEST(RenderCanvas, MatchesComposeCanvasOfTheCpuPatches) {
    gputest::expectCanvasesMatchCpuPatches(true);
}

TEST(GpuPatch, KernelEqualsTheCpuPatchAndTheFilterIsWithinOneOverAParameterGrid) {
    // The kernel computes in double precision: every byte is the CPU's. The
    // filter computes in float: only values within float error of a whole byte
    // may differ; rounding anywhere would put about half the bytes one off.
    const std::pair<int, int> sizes[] = {{15, 15}, {16, 16}, {33, 33},
                                         {64, 64}, {40, 24}, {20, 41}};
    // A phase far from zero must be reduced before it becomes a float.
    const double orientations[] = {0, 90, 37.3}, phases[] = {0, 1.3, -1e6}, contrasts[] = {1, 0.45},
                 sigmas[] = {0, 0.2, 0.5}, radiusScales[] = {0.5, 0.96, 1.3};
    qsizetype differing = 0, compared = 0;
    for (int i = 0; i < 6 * 3 * 3 * 2 * 3 * 3; ++i) { // every combination
        const auto [W, H] = sizes[i % 6];
        const double o = orientations[i / 6 % 3], p = phases[i / 18 % 3], f = 2 + i / 18 % 3,
                     c = contrasts[i / 54 % 2], s = sigmas[i / 108 % 3], r = radiusScales[i / 324];
        auto gpu = generatePatchGPU(W, H, f, o, p, s, c, r);
        auto cpu = synthesizePatchCPU(W, H, f, o, p, s, c, r);
        ASSERT_TRUE(gpu && cpu);
        ASSERT_EQ(maxChannelDifference(*gpu, *cpu), 0) << "case " << i << ", " << W << "x" << H;
        if (r == 0.96) { // the image filter's fixed radius
            auto filtered = generatePatchFilter(W, H, f, o, p, s, c);
            ASSERT_TRUE(filtered);
            ASSERT_LE(maxChannelDifference(*filtered, *cpu), 1) << "filter, case " << i;
            for (qsizetype b = 0; b < cpu->sizeInBytes(); ++b, ++compared)
                differing += filtered->constBits()[b] != cpu->constBits()[b];
        }
    }
    EXPECT_LT(differing * 100, compared) << differing << " of " << compared << " differ";
    EXPECT_EQ(generatePatchFilter(0, -3, 1, 0, 0, 0.3, 1)->size(), QSize(1, 1));
}

TEST(GpuPatch, OnlyCloseCallsAreRecomputedAndEveryByteIsTheCpus) {
    // Large patches of the field's own ranges: single precision alone puts about
    // one pixel in 10^5 on another byte. At frequency 3000 most of the carrier's
    // arguments are beyond the single-precision cosine's range: most pixels are
    // recomputed, by many work groups.
    struct Case {
        double f, o, p, s, c, r;
        bool mostlyExact;
    };
    for (const Case& k :
         {Case{8.7, 37.3, 1.1, 0.45, 0.93, 0.96, false}, Case{3.2, 105, 5.9, 0.6, 0.55, 1.2, false},
          Case{3000, 10, 0.2, 0.5, 1, 0.96, true}}) {
        const int side = k.mostlyExact ? 96 : 1024;
        auto gpu = generatePatchGPU(side, side, k.f, k.o, k.p, k.s, k.c, k.r);
        const ExactPathCount count = lastExactPathCount();
        auto cpu = synthesizePatchCPU(side, side, k.f, k.o, k.p, k.s, k.c, k.r);
        ASSERT_TRUE(gpu && cpu);
        EXPECT_EQ(maxChannelDifference(*gpu, *cpu), 0) << k.f;
        EXPECT_EQ(count.pixels, side * side);
        EXPECT_GT(count.exact, 0);
        EXPECT_LT(count.exact * 100, count.pixels * (k.mostlyExact ? 100 : 1)) << count.exact;
    }
    // Tinted, the recomputed pixels take the same tint.
    const std::vector<TileParams> sets = {{37.3, 8.7, 0.45, 0.93}};
    CanvasTexturePool pool;
    const RenderCanvasResult tinted =
        renderCanvasGPU(sets, {0}, {}, 512, {1.0}, {0.3}, true, 512, 512, 1.1, 0.85, 0.3,
                        StorageMode::shared, pool);
    EXPECT_GT(lastExactPathCount().exact, 0);
    auto actual = readbackTexture(tinted.texture);
    auto expected = gputest::cpuCanvas(sets, {0}, {}, 512, 512, 512, 1.1, {1.0}, {0.3}, 0.3);
    ASSERT_TRUE(actual && expected);
    EXPECT_EQ(maxChannelDifference(*actual, *expected), 0);
}

TEST(GpuAutostereogram, EveryRouteDrawsTheProcessorsPictureAndTheHandComputedRows) {
    gputest::expectCentredAutostereograms(true);
}

} // namespace
