#pragma once

#include "Canvas.h"
#include "GpuAutostereogram.h"
#include "GpuGeneration.h"
#include "PatchSynthesis.h"
#include "TestImages.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <span>

namespace gputest {

// The canvas renderCanvasGPU should make, from CPU patches: each variant at its
// own orientation, each spinning tile as (variant, orientation); tinted when
// hues are given.
inline std::optional<RGBAImage> cpuCanvas(const std::vector<TileParams>& variants,
                                          const std::vector<int>& indices,
                                          const std::map<int, std::pair<int, double>>& spins, int P,
                                          double W, double H, double phase,
                                          const std::vector<double>& scales,
                                          const std::vector<double>& hues = {}, double black = 0) {
    auto patch = [&](int v, double orientation) {
        const TileParams& t = variants[std::size_t(v)];
        const RGBAImage plain = *synthesizePatchCPU(P, P, t.frequency, orientation, phase, t.sigma,
                                                    t.contrast, scales[std::size_t(v)] * 0.96);
        return hues.empty() ? plain : tintPatch(plain, hues[std::size_t(v)], black);
    };
    std::vector<RGBAImage> patches;
    for (std::size_t v = 0; v < variants.size(); ++v)
        patches.push_back(patch(int(v), variants[v].orientation));
    std::map<int, RGBAImage> overrides;
    for (const auto& [tile, spin] : spins)
        overrides.emplace(tile, patch(spin.first, spin.second));
    return composeCanvas(W, H, P, patches, indices, overrides);
}

// The checks below run here on the kernels and, in a process without them
// (GpuProcessTest), on the CPU routes.

// renderCanvasGPU, plain and tinted at several black levels, on 4 x 3 tiles of
// 24 with a partial top row and right column: tile 7's index is negative, tile
// 9's variant is out of range, tile 4 spins twice (the last wins), tiles 99 and
// 9 cannot spin. The canvas is exact, tinted too.
inline void expectCanvasesMatchCpuPatches(bool kernels) {
    const std::vector<TileParams> variants = {
        {0, 3, 0.3, 1}, {45, 2, 0.5, 0.8}, {100, 4, 0.2, 0.6}};
    // 1.3 x 0.96 takes the envelope past the tile: clamped like the CPU's. Hue
    // 2.25 wraps over two turns.
    const std::vector<double> scales = {1.0, 1.3, 0.9}, hues = {0.1, 0.55, 2.25};
    const std::vector<int> indices = {2, 0, 1, 1, 2, 0, 0, -1, 1, 5, 0, 1};
    // Both ring textures cleared to transparent black, as the CPU canvas starts.
    CanvasTexturePool pool;
    const std::vector<GpuTextureRef> blank = {uploadImageToTexture(makeRGBAImage(90, 60))};
    for (int i = 0; i < 2; ++i)
        placeTilesGPU(90, 60, blank, {0}, {}, 90, StorageMode::shared, pool);
    // Copied on the GPU, then composed by the processor (which writes every texel).
    for (const CanvasTiles delivery : {CanvasTiles::copied, CanvasTiles::composedByProcessor})
        for (const double black : {-1.0, 0.0, 0.001, 0.3, 1.0}) { // below 0: not tinted
            const bool tinted = black >= 0;
            const RenderCanvasResult result = renderCanvasGPU(
                variants, indices, {{4, 200}, {1, -30}, {4, 400}, {99, 10}, {9, 10}}, 24, scales,
                hues, tinted, 90, 60, 2.2, 0.85, black, StorageMode::shared, pool, delivery);
            EXPECT_EQ(result.gpuGeneratedCount, kernels ? 6 : 0);
            EXPECT_EQ(result.cpuFallbackCount, kernels ? 0 : 6);
            auto expected = cpuCanvas(variants, indices, {{4, {2, 140}}, {1, {0, -30}}}, 24, 90, 60,
                                      2.2, scales, tinted ? hues : std::vector<double>(), black);
            auto actual = readbackTexture(result.texture);
            ASSERT_TRUE(actual && expected);
            EXPECT_EQ(maxChannelDifference(*actual, *expected), 0) << black;
        }
    const RenderCanvasResult none = renderCanvasGPU({}, {0, 0}, {{0, 5}}, 16, {}, {}, false, 32, 32,
                                                    0, 0.85, 0, StorageMode::shared, pool);
    EXPECT_TRUE(!none.texture && none.gpuGeneratedCount == 0 && none.cpuFallbackCount == 0);
}

// Every route of the centred autostereogram draws the processor's picture:
// equal, narrower, odd and even margins; no, several and too many columns; a
// strip narrower than the shift. And rows worked out by hand, not through the
// row recurrence all routes share: strip A B C D (red 10, 20, 30, 40; green the
// row) in a 10 x 3 output, one 4 x 4 cell: offset 3, cone shifts 0 0 0 0 /
// 0 0 1 0 / 0 1 3 1 in rows 0-2.
inline void expectCentredAutostereograms(bool kernels) {
    std::vector routes = {makeAutostereogramCPU, makeAutostereogramGPU};
    if (kernels)
        routes.push_back(makeAutostereogramKernel);
    const auto made = [](auto route, const GpuTextureRef& strip, int w, int h, int columns) {
        SIRDSShiftCache cache;
        return readbackTexture(route(strip, w, h, columns, cache));
    };
    for (const auto& [stripW, stripH] : {std::pair{36, 20}, {2, 5}}) {
        const GpuTextureRef strip = uploadImageToTexture(pattern(stripW, stripH));
        for (const int outW : {stripW, 30, 97, 98, 200})
            for (const int columns : {0, 3, 50}) {
                const auto expected = made(makeAutostereogramCPU, strip, outW, 45, columns);
                for (auto route : std::span(routes).subspan(1)) {
                    const auto actual = made(route, strip, outW, 45, columns);
                    ASSERT_TRUE(actual && expected);
                    EXPECT_EQ(*actual, *expected) << stripW << " " << outW << " " << columns;
                }
            }
    }
    RGBAImage hand = *makeRGBAImage(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            hand.setPixelColor(x, y, QColor(10 * (x + 1), 50 * y, 0, 255));
    const GpuTextureRef strip = uploadImageToTexture(hand);
    const char* rows[] = {"BCDABCDABC", "BCCABCDABC", "BBAABCDBBD"};
    for (auto route : routes) {
        const auto out = made(route, strip, 10, 3, 1);
        ASSERT_TRUE(out);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 10; ++x)
                EXPECT_EQ(out->pixelColor(x, y), QColor(10 * (rows[y][x] - 'A' + 1), 50 * y, 0))
                    << "x " << x << ", y " << y;
    }
}

// The shaders built beside this executable.
inline QString builtShaderDirectory() {
    return QCoreApplication::applicationDirPath() + "/shaders";
}

} // namespace gputest
