#include "CanvasTexturePool.h"

GpuTextureRef CanvasTexturePool::nextTexture(int width, int height, StorageMode storageMode) {
    std::lock_guard<std::mutex> guard(lock);
    const CanvasPoolKey wanted{width, height, storageMode};
    if (!(key == wanted && buffers.size() == 2)) {
        buffers.clear();
        GpuTextureRef first = GpuTexture::create(width, height, storageMode);
        GpuTextureRef second = first ? GpuTexture::create(width, height, storageMode) : nullptr;
        if (!second) {
            // The key stays as it was, so the next call tries again.
            return nullptr;
        }
        buffers = {std::move(first), std::move(second)};
        key = wanted;
        nextIndex = 0;
    }
    GpuTextureRef taken = buffers[std::size_t(nextIndex)];
    nextIndex = (nextIndex + 1) % int(buffers.size());
    return taken;
}

// Process-wide and never released, like the GPU they live on.
CanvasTexturePool& primaryCanvasPool() {
    static CanvasTexturePool* const pool = new CanvasTexturePool;
    return *pool;
}

CanvasTexturePool& secondaryCanvasPool() {
    static CanvasTexturePool* const pool = new CanvasTexturePool;
    return *pool;
}

CanvasTexturePool& sirdsOutputPool() {
    static CanvasTexturePool* const pool = new CanvasTexturePool;
    return *pool;
}
