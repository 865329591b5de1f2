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

TEST(RenderCanvas, MatchesComposeCanvasOfTheCpuPatches) {
    gputest::expectCanvasesMatchCpuPatches(true);
}

} // namespace
