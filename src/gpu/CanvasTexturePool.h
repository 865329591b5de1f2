#pragma once

#include "GpuTexture.h"

#include <mutex>
#include <optional>
#include <vector>

struct CanvasPoolKey {
    int width = 0;
    int height = 0;
    StorageMode storageMode = StorageMode::gpuPrivate;
    bool operator==(const CanvasPoolKey&) const = default;
};

// A ring of two canvas-sized textures, rebuilt when the size or storage mode
// changes, so that animation does not allocate a canvas per frame. A texture
// handed out may still be read by a frame on screen: writers wait on it
// (GpuTexture::waitOnGpu) before they overwrite it.
class CanvasTexturePool {
public:
    GpuTextureRef nextTexture(int width, int height, StorageMode storageMode);

private:
    std::mutex lock;
    std::optional<CanvasPoolKey> key;
    std::vector<GpuTextureRef> buffers;
    int nextIndex = 0;
};

CanvasTexturePool& primaryCanvasPool();   // single view, left eye, autostereogram strip
CanvasTexturePool& secondaryCanvasPool(); // right eye
CanvasTexturePool& sirdsOutputPool();     // GPU autostereogram output
