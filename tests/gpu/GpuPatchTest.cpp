#include "Canvas.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "PatchFilter.h"
#include "PatchSynthesis.h"

#include <gtest/gtest.h>

namespace {

using gputest::compareBytes;

TEST(GpuPatch, MatchesTheCpuPatchWithinOneOverAParameterGrid) {
    // Both truncate, so only values within float error of a whole byte may
    // differ; rounding anywhere would put about half the bytes one off.
    gputest::ByteDifference all;
    for (const auto& [W, H] : {std::pair{15, 15}, {16, 16}, {33, 33}, {64, 64}, {40, 24}}) {
        for (const double orientation : {0.0, 90.0, 37.3}) {
            for (const double phase : {0.0, 1.3, 4.0}) {
                for (const double contrast : {1.0, 0.45}) {
                    for (const double sigma : {0.0, 0.2, 0.5}) {
                        for (const double radiusScale : {0.5, 0.96, 1.0}) {
                            const double frequency = 1 + phase;
                            auto gpu = generatePatchGPU(W, H, frequency, orientation, phase, sigma,
                                                        contrast, radiusScale);
                            auto cpu = synthesizePatchCPU(W, H, frequency, orientation, phase,
                                                          sigma, contrast, radiusScale);
                            ASSERT_TRUE(gpu && cpu);
                            const gputest::ByteDifference d = compareBytes(*gpu, *cpu);
                            ASSERT_LE(d.largest, 1)
                                << W << "x" << H << " o=" << orientation << " p=" << phase
                                << " c=" << contrast << " s=" << sigma << " r=" << radiusScale;
                            all.count += d.count;
                            all.total += d.total;
                        }
                    }
                }
            }
        }
    }
    EXPECT_LT(all.count * 100, all.total) << all.count << " of " << all.total << " differ";
}

TEST(GpuPatch, RadiusScaleAboveOneIsNotClamped) {
    // A 40-pixel patch at scale k has R = 20k: the centre 40 x 40 of the CPU
    // patch of side 40k at scale 1, whose pixel centres fall on the same offsets.
    for (const auto& [radiusScale, side] : {std::pair{1.2, 48}, {1.3, 52}}) {
        auto gpu = generatePatchGPU(40, 40, 3, 20, 0.4, 0.5, 1, radiusScale);
        auto cpu = synthesizePatchCPU(side, side, 3, 20, 0.4, 0.5, 1, 1.0);
        ASSERT_TRUE(gpu && cpu);
        const int margin = (side - 40) / 2;
        EXPECT_LE(compareBytes(*gpu, cpu->copy(margin, margin, 40, 40)).largest, 1);
    }
}

TEST(GpuPatch, ColourTintMatchesTintPatchWithinTwo) {
    // A grey byte one off can become two after Overlay's doubling slope.
    for (const int P : {16, 31}) {
        for (const double hue : {0.0, 0.2, 0.55, 0.9, 1.25}) {
            for (const double black : {0.0, 0.001, 0.3, 1.0}) {
                const RenderCanvasResult result =
                    renderCanvasGPU({{30, 2.5, 0.4, 0.9}}, {0}, {}, P, {1.0}, {hue}, true, P, P,
                                    0.5, 0.85, black, StorageMode::shared, primaryCanvasPool());
                auto gpu = readbackTexture(result.texture);
                ASSERT_TRUE(gpu);
                const RGBAImage cpu =
                    tintPatch(*synthesizePatchCPU(P, P, 2.5, 30, 0.5, 0.4, 0.9, 0.96), hue, black);
                EXPECT_LE(compareBytes(*gpu, cpu).largest, 2)
                    << "P=" << P << " hue=" << hue << " black=" << black;
            }
        }
    }
}

TEST(PatchFilter, MatchesTheCpuPatchAtRadiusScale096) {
    for (const auto& [W, H] : {std::pair{64, 48}, {33, 33}, {20, 41}}) {
        for (const double orientation : {0.0, 90.0, 123.4}) {
            auto filtered = generatePatchFilter(W, H, 3, orientation, 0.8, 0.35, 0.9);
            auto cpu = synthesizePatchCPU(W, H, 3, orientation, 0.8, 0.35, 0.9, 0.96);
            ASSERT_TRUE(filtered && cpu);
            EXPECT_LE(compareBytes(*filtered, *cpu).largest, 1) << W << "x" << H;
        }
    }
    EXPECT_EQ(generatePatchFilter(0, -3, 1, 0, 0, 0.3, 1)->size(), QSize(1, 1));
}

} // namespace
