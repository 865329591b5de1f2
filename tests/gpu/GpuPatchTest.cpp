#include "Canvas.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "PatchFilter.h"
#include "PatchSynthesis.h"

#include <QString>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace {

using gputest::maxByteDifference;

// The GPU's envelope radius is not clamped above 1; this is the CPU formula
// with R = min(W, H) / 2 x radiusScale as it stands.
RGBAImage unclampedReference(int W, int H, double frequency, double orientation, double phase,
                             double sigma, double contrast, double radiusScale) {
    RGBAImage image = *makeRGBAImage(W, H);
    const double theta = orientation * std::numbers::pi / 180;
    const double R = std::min(W / 2.0, H / 2.0) * radiusScale;
    const double sig = std::max(sigma * R, 1e-6);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double dx = x + 0.5 - W / 2.0, dy = y + 0.5 - H / 2.0;
            const double u = std::cos(theta) * dx + std::sin(theta) * dy;
            const double v = std::cos(theta) * dy - std::sin(theta) * dx;
            const double env = std::exp(-0.5 * (u * u + v * v) / (sig * sig));
            const double car = std::cos(phase + 2 * std::numbers::pi * frequency * u / (2 * R));
            const int value = int(std::clamp((contrast * car * env * 0.5 + 0.5) * 255, 0.0, 255.0));
            image.setPixelColor(x, y, QColor(value, value, value, 255));
        }
    }
    return image;
}

TEST(GpuPatch, MatchesTheCpuPatchWithinOneOverAParameterGrid) {
    // Both truncate, so only values within float error of a whole byte may differ;
    // rounding anywhere would put about half the bytes one off.
    int compared = 0;
    long long bytes = 0, differing = 0;
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
                            ASSERT_LE(maxByteDifference(*gpu, *cpu), 1)
                                << W << "x" << H << " o=" << orientation << " p=" << phase
                                << " c=" << contrast << " s=" << sigma << " r=" << radiusScale;
                            ++compared;
                            bytes += 4LL * W * H;
                            differing += gputest::differingBytes(*gpu, *cpu);
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(compared, 5 * 3 * 3 * 2 * 3 * 3);
    EXPECT_LT(differing * 100, bytes) << differing << " of " << bytes << " bytes differ";
}

TEST(GpuPatch, RadiusScaleAboveOneIsNotClamped) {
    for (const double radiusScale : {1.1, 1.248}) {
        auto gpu = generatePatchGPU(48, 48, 3, 20, 0.4, 0.5, 1, radiusScale);
        ASSERT_TRUE(gpu);
        EXPECT_LE(
            maxByteDifference(*gpu, unclampedReference(48, 48, 3, 20, 0.4, 0.5, 1, radiusScale)),
            1);
        EXPECT_GT(
            maxByteDifference(*gpu, *synthesizePatchCPU(48, 48, 3, 20, 0.4, 0.5, 1, radiusScale)),
            1)
            << "the clamped CPU patch differs visibly";
    }
}

TEST(GpuPatch, ColourTintMatchesTheCpuTintWithinTwo) {
    // Tolerance: the grey byte may differ by one, which Overlay can double.
    const TileParams tile{30, 2.5, 0.4, 0.9};
    for (const int P : {16, 31}) {
        for (const double hue : {0.0, 0.2, 0.55, 0.9, 1.25}) {
            for (const double black : {0.0, 0.001, 0.3, 1.0}) {
                const RenderCanvasResult result =
                    renderCanvasGPU({tile}, {0}, {}, P, {1.0}, {hue}, true, P, P, 0.5, 0.85, black,
                                    StorageMode::shared, primaryCanvasPool());
                ASSERT_TRUE(result.texture);
                auto gpu = readbackTexture(result.texture);
                const RGBAImage cpu =
                    tintPatch(*synthesizePatchCPU(P, P, 2.5, 30, 0.5, 0.4, 0.9, 0.96), hue, black);
                EXPECT_LE(maxByteDifference(*gpu, cpu), 2)
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
            EXPECT_EQ(filtered->size(), QSize(W, H));
            EXPECT_LE(maxByteDifference(*filtered, *cpu), 1)
                << W << "x" << H << " o=" << orientation;
        }
    }
    // Sizes below one pixel count as one.
    auto tiny = generatePatchFilter(0, -3, 1, 0, 0, 0.3, 1);
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->size(), QSize(1, 1));
}

} // namespace
