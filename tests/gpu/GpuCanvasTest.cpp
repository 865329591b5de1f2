#include "Canvas.h"
#include "CanvasTexturePool.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "PatchSynthesis.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using gputest::maxByteDifference;

// A P x P image whose every pixel names its source and position, so a copy from
// the wrong tile, row or column shows.
RGBAImage labelledPatch(int P, int label) {
    RGBAImage image = *makeRGBAImage(P, P);
    for (int y = 0; y < P; ++y) {
        for (int x = 0; x < P; ++x) {
            image.setPixelColor(x, y, QColor(label * 40 % 256, x * 8 % 256, y * 8 % 256, 255));
        }
    }
    return image;
}

// Fills both textures of the pool's ring with transparent black, as the CPU
// canvas starts, so tiles left untouched compare equal.
void clearRing(CanvasTexturePool& pool, int W, int H, StorageMode mode) {
    const std::vector<GpuTextureRef> blank = {uploadImageToTexture(makeRGBAImage(W, H))};
    for (int i = 0; i < 2; ++i) {
        placeTilesGPU(W, H, blank, {0}, {}, std::max(W, H), mode, pool);
    }
}

TEST(CanvasTexturePool, AlternatesBetweenTwoTexturesAndRebuildsOnANewKey) {
    CanvasTexturePool pool;
    GpuTextureRef first = pool.nextTexture(640, 480, StorageMode::gpuPrivate);
    GpuTextureRef second = pool.nextTexture(640, 480, StorageMode::gpuPrivate);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(pool.nextTexture(640, 480, StorageMode::gpuPrivate), first);
    EXPECT_EQ(pool.nextTexture(640, 480, StorageMode::gpuPrivate), second);

    GpuTextureRef shared = pool.nextTexture(640, 480, StorageMode::shared);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->storageMode(), StorageMode::shared);
    EXPECT_NE(shared, first);
    EXPECT_NE(shared, second);

    GpuTextureRef resized = pool.nextTexture(320, 200, StorageMode::shared);
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->width(), 320);
    EXPECT_EQ(resized->height(), 200);
    EXPECT_NE(pool.nextTexture(320, 200, StorageMode::shared), resized);
    EXPECT_EQ(pool.nextTexture(320, 200, StorageMode::shared), resized);
}

TEST(CanvasTexturePool, ImpossibleSizeGivesNothingAndTheNextRequestRebuilds) {
    CanvasTexturePool pool;
    GpuTextureRef ok = pool.nextTexture(64, 64, StorageMode::gpuPrivate);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(pool.nextTexture(0, 64, StorageMode::gpuPrivate));
    EXPECT_FALSE(pool.nextTexture(kMaxImageSide + 1, 64, StorageMode::gpuPrivate));
    GpuTextureRef again = pool.nextTexture(64, 64, StorageMode::gpuPrivate);
    ASSERT_TRUE(again);
    EXPECT_NE(again, ok) << "the ring was thrown away by the failed request";
}

TEST(PlaceTiles, CopiesTheGridOfComposeCanvasExactly) {
    // Partial top row and right column, an override over an out-of-range index,
    // a negative index and a variant without an image left untouched.
    const int P = 32;
    std::vector<RGBAImage> images = {labelledPatch(P, 1), labelledPatch(P, 2), labelledPatch(P, 3)};
    std::vector<GpuTextureRef> textures;
    for (const RGBAImage& image : images) {
        textures.push_back(uploadImageToTexture(image));
    }
    const std::vector<int> indices = {0, 1, 2, 0, 1, 2, 7, -1, 2, 1, 0, 2, 1, 0, 2};
    const RGBAImage overrideImage = labelledPatch(P, 5);
    const std::map<int, GpuTextureRef> overrides = {{6, uploadImageToTexture(overrideImage)},
                                                    {40, uploadImageToTexture(overrideImage)}};
    const std::map<int, RGBAImage> cpuOverrides = {{6, overrideImage}, {40, overrideImage}};

    for (const auto& [W, H] : {std::pair{100, 100}, {96, 64}, {130, 70}, {20, 10}}) {
        CanvasTexturePool pool;
        clearRing(pool, W, H, StorageMode::shared);
        auto placed = readbackTexture(
            placeTilesGPU(W, H, textures, indices, overrides, P, StorageMode::shared, pool));
        auto composed = composeCanvas(W, H, P, images, indices, cpuOverrides);
        ASSERT_TRUE(placed && composed);
        EXPECT_EQ(*placed, *composed) << W << "x" << H;
    }
}

TEST(PlaceTiles, SkippedTilesKeepWhatThePooledCanvasHeld) {
    const int P = 16;
    const std::vector<GpuTextureRef> patches = {uploadImageToTexture(labelledPatch(P, 1)),
                                                uploadImageToTexture(labelledPatch(P, 2))};
    CanvasTexturePool pool;
    auto full = readbackTexture(
        placeTilesGPU(32, 32, patches, {0, 0, 0, 0}, {}, P, StorageMode::shared, pool));
    placeTilesGPU(32, 32, patches, {1, 1, 1, 1}, {}, P, StorageMode::shared, pool);
    // Third call: the first texture again; only tile 0 is placed.
    auto partial =
        readbackTexture(placeTilesGPU(32, 32, patches, {1}, {}, P, StorageMode::shared, pool));
    ASSERT_TRUE(full && partial);
    EXPECT_EQ(partial->copy(0, 0, 32, 16), full->copy(0, 0, 32, 16));
    EXPECT_EQ(partial->copy(16, 16, 16, 16), full->copy(16, 16, 16, 16));
    EXPECT_EQ(partial->copy(0, 16, 16, 16), labelledPatch(P, 2));
}

TEST(RenderCanvas, MatchesComposeCanvasOfTheCpuPatches) {
    const std::vector<TileParams> variants = {
        {0, 3, 0.3, 1}, {45, 2, 0.5, 0.8}, {100, 4, 0.2, 0.6}};
    const std::vector<double> scales = {1.0, 1.04, 0.9};
    const std::vector<int> indices = {2, 0, 1, 1, 2, 0, 0, 2, 1, 5, 0, 1};
    // Tile 9 has an out-of-range variant; tile 4 spins twice (the last wins);
    // tile 99 and tile 9 cannot spin.
    const std::vector<TileSpin> spins = {{4, 200}, {1, -30}, {4, 400}, {99, 10}, {9, 10}};
    const int P = 24;
    const double W = 90, H = 60; // 4 x 3 tiles, the top row and right column partial
    const double phase = 2.2;

    CanvasTexturePool pool;
    clearRing(pool, 90, 60, StorageMode::shared);
    const RenderCanvasResult result =
        renderCanvasGPU(variants, indices, spins, P, scales, {}, false, W, H, phase, 0.85, 0,
                        StorageMode::shared, pool);
    EXPECT_EQ(result.gpuGeneratedCount, 3 + 3);
    EXPECT_EQ(result.cpuFallbackCount, 0);

    std::vector<RGBAImage> patches;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const TileParams& t = variants[i];
        patches.push_back(*synthesizePatchCPU(P, P, t.frequency, t.orientation, phase, t.sigma,
                                              t.contrast, scales[i] * 0.96));
    }
    auto spun = [&](int v, double rot) {
        const TileParams& t = variants[std::size_t(v)];
        return *synthesizePatchCPU(P, P, t.frequency, std::fmod(rot + t.orientation, 360), phase,
                                   t.sigma, t.contrast, scales[std::size_t(v)] * 0.96);
    };
    const std::map<int, RGBAImage> overrides = {{4, spun(2, 400)}, {1, spun(0, -30)}};
    auto expected = composeCanvas(W, H, P, patches, indices, overrides);
    auto actual = readbackTexture(result.texture);
    ASSERT_TRUE(actual && expected);
    EXPECT_LE(maxByteDifference(*actual, *expected), 1);
    // The out-of-range tile (row 2, col 1: image rows 0..11, columns 24..47) stays clear.
    EXPECT_EQ(actual->copy(24, 0, 24, 12), expected->copy(24, 0, 24, 12));
    EXPECT_EQ(actual->pixel(30, 5), 0u);
}

TEST(RenderCanvas, NoVariantsGivesNoCanvasAndRepeatedFramesReuseThePool) {
    CanvasTexturePool pool;
    const RenderCanvasResult empty = renderCanvasGPU({}, {0, 0}, {{0, 5}}, 16, {}, {}, false, 32,
                                                     32, 0, 0.85, 0, StorageMode::gpuPrivate, pool);
    EXPECT_FALSE(empty.texture);
    EXPECT_EQ(empty.gpuGeneratedCount, 0);
    EXPECT_EQ(empty.cpuFallbackCount, 0);

    std::vector<GpuTextureRef> canvases;
    for (int frame = 0; frame < 3; ++frame) {
        canvases.push_back(renderCanvasGPU({{0, 2, 0.3, 1}}, {0, 0}, {}, 16, {}, {}, false, 32, 16,
                                           frame * 0.5, 0.85, 0, StorageMode::gpuPrivate, pool)
                               .texture);
    }
    EXPECT_NE(canvases[0], canvases[1]);
    EXPECT_EQ(canvases[0], canvases[2]);
}

} // namespace
