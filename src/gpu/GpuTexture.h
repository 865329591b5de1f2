#pragma once

#include <memory>
#include <mutex>
#include <vector>

// Storage modes keep their numeric identity: 0 is CPU-readable ("shared"),
// 2 is GPU-only ("private"). Part of a texture's identity and of a pool key.
enum class StorageMode { shared = 0, gpuPrivate = 2 };

// How the texels are stored. windowOrder stores them in the order of the window's
// pixels (blue, green, red, alpha on X11), so that a software rasterizer copies
// such a texture to the window byte for byte instead of shading every pixel. It is
// made with an unsized format, which can be neither an image unit nor a
// glCopyImageSubData end: fill it with uploads (GL_BGRA is copied as it is).
enum class TextureLayout { standard, windowOrder };

// An RGBA8 2-D texture of the process-wide share group, without mipmaps, texel
// row 0 holding the image's top row. Reference-counted through GpuTextureRef; the
// GL object is deleted within the share group from whichever thread lets go last.
class GpuTexture {
public:
    // Needs the calling thread's GPU context (GpuDevice); null when the
    // texture cannot be made.
    static std::shared_ptr<GpuTexture> create(int width, int height, StorageMode mode,
                                              TextureLayout layout = TextureLayout::standard);
    // The largest side create() can make on this machine's GL (and never more
    // than kMaxImageSide). Needs the calling thread's GPU context.
    static int largestSide();
    ~GpuTexture();
    GpuTexture(const GpuTexture&) = delete;
    GpuTexture& operator=(const GpuTexture&) = delete;

    // The texture is touched by GPU work that may not have finished: writes, or a
    // frame on screen still reading it. A context other than the one that did it
    // waits for it with waitOnGpu() before using or overwriting the texture,
    // instead of the issuer waiting for the GPU. Call on the context that issued
    // the work, right after it; the texture then owns the fence.
    void fenceWork();
    // Makes the current context's later commands wait, on the GPU, for the work
    // of the last fenceWork(); nothing when there is none.
    void waitOnGpu() const;
    // How often work was fenced on a texture by a context that had not waited
    // for the fenced work of another context on it: a ring texture overwritten
    // while a frame may still read it, say. Process-wide; anything but 0 is a fault.
    static long long unwaitedFenceCount();

    unsigned int name() const { return m_name; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    StorageMode storageMode() const { return m_storageMode; }

private:
    GpuTexture(unsigned int name, int width, int height, StorageMode mode);
    unsigned int m_name;
    // Fenced on one thread (a frame drawn) while another waits (the next pass
    // writing the same ring texture): the fence must not go while it is waited on.
    mutable std::mutex m_fenceLock;
    void* m_fence = nullptr;                       // GLsync
    const void* m_fencedIn = nullptr;              // the context of m_fence
    mutable std::vector<const void*> m_waitedIn{}; // the contexts that waited for it
    int m_width;
    int m_height;
    StorageMode m_storageMode;
};

using GpuTextureRef = std::shared_ptr<GpuTexture>;
