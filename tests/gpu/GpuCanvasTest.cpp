#include "CanvasTexturePool.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(CanvasTexturePool, AlternatesAndRebuildsOnANewKeyOrAfterAFailure) {
    CanvasTexturePool pool;
    GpuTextureRef a = pool.nextTexture(640, 480, StorageMode::gpuPrivate);
    GpuTextureRef b = pool.nextTexture(640, 480, StorageMode::gpuPrivate);
    ASSERT_TRUE(a && b && a != b);
    EXPECT_EQ(pool.nextTexture(640, 480, StorageMode::gpuPrivate), a);

    GpuTextureRef shared = pool.nextTexture(640, 480, StorageMode::shared);
    ASSERT_TRUE(shared && shared != a && shared != b);
    EXPECT_EQ(shared->storageMode(), StorageMode::shared);

    EXPECT_FALSE(pool.nextTexture(kMaxImageSide + 1, 64, StorageMode::shared));
    GpuTextureRef again = pool.nextTexture(640, 480, StorageMode::shared);
    EXPECT_TRUE(again && again != shared) << "the failed request threw the ring away";
}

TEST(PlaceTiles, CopiesTheGridOfComposeCanvasExactly) {
    // Partial top row and right column, an override over an out-of-range index,
    // a negative index, an override beyond the grid.
    const int P = 32;
    std::vector<RGBAImage> images;
    std::vector<GpuTextureRef> textures;
    for (const int label : {1, 2, 3})
        textures.push_back(
            uploadImageToTexture(images.emplace_back(gputest::pattern(P, P, label))));
    const std::vector<int> indices = {0, 1, 2, 0, 1, 2, 7, -1, 2, 1, 0, 2, 1, 0, 2};
    const RGBAImage spin = gputest::pattern(P, P, 5);
    const GpuTextureRef spinTexture = uploadImageToTexture(spin);

    for (const auto& [W, H] : {std::pair{100, 100}, {96, 64}, {130, 70}, {20, 10}}) {
        CanvasTexturePool pool;
        gputest::clearRing(pool, W, H);
        auto placed = readbackTexture(placeTilesGPU(W, H, textures, indices,
                                                    {{6, spinTexture}, {40, spinTexture}}, P,
                                                    StorageMode::shared, pool));
        auto composed = composeCanvas(W, H, P, images, indices, {{6, spin}, {40, spin}});
        ASSERT_TRUE(placed && composed);
        EXPECT_EQ(*placed, *composed) << W << "x" << H;
    }
}

TEST(RenderCanvas, MatchesComposeCanvasOfTheCpuPatches) {
    gputest::expectCanvasesMatchCpuPatches(true);
}

} // namespace
