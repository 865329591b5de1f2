#include "Canvas.h"
#include "CanvasTexturePool.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "PatchSynthesis.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// Every pixel names its image and position, so a copy from the wrong tile, row
// or column shows.
RGBAImage labelledPatch(int P, int label) {
    RGBAImage image = *makeRGBAImage(P, P);
    for (int y = 0; y < P; ++y) {
        for (int x = 0; x < P; ++x) {
            image.setPixelColor(x, y, QColor(label * 40 % 256, x * 8 % 256, y * 8 % 256, 255));
        }
    }
    return image;
}

// Both ring textures cleared to transparent black, as the CPU canvas starts.
void clearRing(CanvasTexturePool& pool, int W, int H) {
    const std::vector<GpuTextureRef> blank = {uploadImageToTexture(makeRGBAImage(W, H))};
    for (int i = 0; i < 2; ++i) {
        placeTilesGPU(W, H, blank, {0}, {}, std::max(W, H), StorageMode::shared, pool);
    }
}

TEST(CanvasTexturePool, AlternatesAndRebuildsOnANewKeyOrAfterAFailure) {
    CanvasTexturePool pool;
    GpuTextureRef a = pool.nextTexture(640, 480, StorageMode::gpuPrivate);
    GpuTextureRef b = pool.nextTexture(640, 480, StorageMode::gpuPrivate);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(pool.nextTexture(640, 480, StorageMode::gpuPrivate), a);

    GpuTextureRef shared = pool.nextTexture(640, 480, StorageMode::shared);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->storageMode(), StorageMode::shared);
    EXPECT_TRUE(shared != a && shared != b);

    EXPECT_FALSE(pool.nextTexture(kMaxImageSide + 1, 64, StorageMode::shared));
    GpuTextureRef again = pool.nextTexture(640, 480, StorageMode::shared);
    EXPECT_TRUE(again && again != shared) << "the failed request threw the ring away";
}

TEST(PlaceTiles, CopiesTheGridOfComposeCanvasExactly) {
    // Partial top row and right column, an override over an out-of-range index,
    // a negative index, an override beyond the grid.
    const int P = 32;
    const std::vector<RGBAImage> images = {labelledPatch(P, 1), labelledPatch(P, 2),
                                           labelledPatch(P, 3)};
    std::vector<GpuTextureRef> textures;
    for (const RGBAImage& image : images) {
        textures.push_back(uploadImageToTexture(image));
    }
    const std::vector<int> indices = {0, 1, 2, 0, 1, 2, 7, -1, 2, 1, 0, 2, 1, 0, 2};
    const RGBAImage spin = labelledPatch(P, 5);
    const GpuTextureRef spinTexture = uploadImageToTexture(spin);

    for (const auto& [W, H] : {std::pair{100, 100}, {96, 64}, {130, 70}, {20, 10}}) {
        CanvasTexturePool pool;
        clearRing(pool, W, H);
        auto placed = readbackTexture(placeTilesGPU(W, H, textures, indices,
                                                    {{6, spinTexture}, {40, spinTexture}}, P,
                                                    StorageMode::shared, pool));
        auto composed = composeCanvas(W, H, P, images, indices, {{6, spin}, {40, spin}});
        ASSERT_TRUE(placed && composed);
        EXPECT_EQ(*placed, *composed) << W << "x" << H;
    }
}

TEST(RenderCanvas, MatchesComposeCanvasOfTheCpuPatches) {
    const std::vector<TileParams> variants = {
        {0, 3, 0.3, 1}, {45, 2, 0.5, 0.8}, {100, 4, 0.2, 0.6}};
    const std::vector<double> scales = {1.0, 1.04, 0.9};
    const std::vector<int> indices = {2, 0, 1, 1, 2, 0, 0, 2, 1, 5, 0, 1};
    // Tile 9's variant is out of range; tile 4 spins twice (the last wins);
    // tiles 99 and 9 cannot spin.
    const std::vector<TileSpin> spins = {{4, 200}, {1, -30}, {4, 400}, {99, 10}, {9, 10}};
    const int P = 24;
    const double W = 90, H = 60, phase = 2.2; // 4 x 3 tiles, top row and right column partial

    CanvasTexturePool pool;
    clearRing(pool, 90, 60);
    const RenderCanvasResult result =
        renderCanvasGPU(variants, indices, spins, P, scales, {}, false, W, H, phase, 0.85, 0,
                        StorageMode::shared, pool);
    EXPECT_EQ(result.gpuGeneratedCount, 3 + 3);
    EXPECT_EQ(result.cpuFallbackCount, 0);

    auto cpuPatch = [&](int v, double orientation) {
        const TileParams& t = variants[std::size_t(v)];
        return *synthesizePatchCPU(P, P, t.frequency, orientation, phase, t.sigma, t.contrast,
                                   scales[std::size_t(v)] * 0.96);
    };
    const std::vector<RGBAImage> patches = {cpuPatch(0, 0), cpuPatch(1, 45), cpuPatch(2, 100)};
    const std::map<int, RGBAImage> overrides = {{4, cpuPatch(2, std::fmod(400 + 100, 360))},
                                                {1, cpuPatch(0, -30)}};
    auto expected = composeCanvas(W, H, P, patches, indices, overrides);
    auto actual = readbackTexture(result.texture);
    ASSERT_TRUE(actual && expected);
    EXPECT_LE(gputest::compareBytes(*actual, *expected).largest, 1);
    EXPECT_EQ(actual->pixel(30, 5), 0u) << "tile 9 (top row, second column) stays clear";

    const RenderCanvasResult none = renderCanvasGPU({}, {0, 0}, {{0, 5}}, 16, {}, {}, false, 32, 32,
                                                    0, 0.85, 0, StorageMode::shared, pool);
    EXPECT_TRUE(!none.texture && none.gpuGeneratedCount == 0 && none.cpuFallbackCount == 0);
}

} // namespace
