#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "PatchFilter.h"

#include <gtest/gtest.h>

namespace {

using gputest::compareBytes;

TEST(GpuPatch, KernelEqualsTheCpuPatchAndTheFilterIsWithinOneOverAParameterGrid) {
    // The kernel computes in double precision: every byte is the CPU's. The
    // filter computes in float: only values within float error of a whole byte
    // may differ; rounding anywhere would put about half the bytes one off.
    const std::pair<int, int> sizes[] = {{15, 15}, {16, 16}, {33, 33},
                                         {64, 64}, {40, 24}, {20, 41}};
    // A phase far from zero must be reduced before it becomes a float.
    const double orientations[] = {0, 90, 37.3}, phases[] = {0, 1.3, -1e6}, contrasts[] = {1, 0.45},
                 sigmas[] = {0, 0.2, 0.5}, radiusScales[] = {0.5, 0.96, 1.3};
    gputest::ByteDifference all;
    for (int i = 0; i < 6 * 3 * 3 * 2 * 3 * 3; ++i) { // every combination
        const auto [W, H] = sizes[i % 6];
        const double o = orientations[i / 6 % 3], p = phases[i / 18 % 3], f = 2 + i / 18 % 3,
                     c = contrasts[i / 54 % 2], s = sigmas[i / 108 % 3], r = radiusScales[i / 324];
        auto gpu = generatePatchGPU(W, H, f, o, p, s, c, r);
        auto cpu = synthesizePatchCPU(W, H, f, o, p, s, c, r);
        ASSERT_TRUE(gpu && cpu);
        ASSERT_EQ(compareBytes(*gpu, *cpu).largest, 0) << "case " << i << ", " << W << "x" << H;
        if (r == 0.96) { // the image filter's fixed radius
            auto filtered = generatePatchFilter(W, H, f, o, p, s, c);
            ASSERT_TRUE(filtered);
            const gputest::ByteDifference d = compareBytes(*filtered, *cpu);
            ASSERT_LE(d.largest, 1) << "filter, case " << i;
            all.count += d.count;
            all.total += d.total;
        }
    }
    EXPECT_LT(all.count * 100, all.total) << all.count << " of " << all.total << " differ";
    EXPECT_EQ(generatePatchFilter(0, -3, 1, 0, 0, 0.3, 1)->size(), QSize(1, 1));
}

} // namespace
