#pragma once

#include "GpuTexture.h"

#include <mutex>
#include <optional>
#include <vector>

struct CanvasPoolKey {
    int width = 0;
    int height = 0;
    StorageMode storageMode = StorageMode::gpuPrivate;
    TextureLayout layout = TextureLayout::standard;
    bool operator==(const CanvasPoolKey&) const = default;
};

// A ring of two canvas-sized textures, rebuilt when the size, storage mode or
// layout changes, so that animation does not allocate a canvas per frame. A texture
// handed out may still be read by a frame on screen: writers wait on it
// (GpuTexture::waitOnGpu) before they overwrite it.
class CanvasTexturePool {
public:
    GpuTextureRef nextTexture(int width, int height, StorageMode storageMode,
                              TextureLayout layout = TextureLayout::standard);

private:
    std::mutex lock;
    std::optional<CanvasPoolKey> key;
    std::vector<GpuTextureRef> buffers;
    int nextIndex = 0;
};

// The rings a run of passes renders into. The window's passes use a
// process-wide set; anything else that renders (an image export, a video) keeps
// a set of its own and names it for its thread while it renders, so that it
// never takes a texture the window is showing or about to show.
struct CanvasPools {
    CanvasTexturePool primary;     // single view, left eye, autostereogram strip
    CanvasTexturePool secondary;   // right eye
    CanvasTexturePool sirdsOutput; // GPU autostereogram output

    // While one lives, the pools below are these on the calling thread.
    class Use {
    public:
        explicit Use(CanvasPools& pools);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        CanvasPools* m_previous;
    };
};

// The calling thread's set: its own while a CanvasPools::Use lives, else the window's.
CanvasTexturePool& primaryCanvasPool();
CanvasTexturePool& secondaryCanvasPool();
CanvasTexturePool& sirdsOutputPool();
