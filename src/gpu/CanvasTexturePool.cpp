#include "CanvasTexturePool.h"

#include <utility>

GpuTextureRef CanvasTexturePool::nextTexture(int width, int height, StorageMode storageMode,
                                             TextureLayout layout) {
    std::lock_guard<std::mutex> guard(lock);
    const CanvasPoolKey wanted{width, height, storageMode, layout};
    if (!(key == wanted && buffers.size() == 2)) {
        buffers.clear();
        GpuTextureRef first = GpuTexture::create(width, height, storageMode, layout);
        GpuTextureRef second =
            first ? GpuTexture::create(width, height, storageMode, layout) : nullptr;
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

namespace {

thread_local CanvasPools* threadPools = nullptr;

CanvasPools& currentPools() {
    // The window's: process-wide and never released, like the GPU they live on.
    static CanvasPools* const live = new CanvasPools;
    return threadPools ? *threadPools : *live;
}

} // namespace

CanvasPools::Use::Use(CanvasPools& pools) : m_previous(std::exchange(threadPools, &pools)) {}

CanvasPools::Use::~Use() {
    threadPools = m_previous;
}

CanvasTexturePool& primaryCanvasPool() {
    return currentPools().primary;
}

CanvasTexturePool& secondaryCanvasPool() {
    return currentPools().secondary;
}

CanvasTexturePool& sirdsOutputPool() {
    return currentPools().sirdsOutput;
}
