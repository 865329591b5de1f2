#include "GpuTexture.h"

#include "GpuContext.h"
#include "RGBAImage.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions_4_3_Core>
#include <algorithm>
#include <atomic>

int GpuTexture::largestSide() {
    GLint maxSize = 0;
    gpucontext::shareGroupFunctions().glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    return std::min(int(maxSize), kMaxImageSide);
}

std::shared_ptr<GpuTexture> GpuTexture::create(int width, int height, StorageMode mode,
                                               TextureLayout layout) {
    const int largest = largestSide();
    if (width < 1 || height < 1 || width > largest || height > largest) {
        return nullptr;
    }
    QOpenGLFunctions_4_3_Core& gl = gpucontext::shareGroupFunctions();
    gpucontext::clearErrors(gl);
    GLuint name = 0;
    gl.glGenTextures(1, &name);
    gl.glBindTexture(GL_TEXTURE_2D, name);
    if (layout == TextureLayout::windowOrder) {
        // Unsized, so the driver may keep the texels in the order they come in.
        gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                        nullptr);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    } else {
        gl.glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, width, height);
    }
    // No smoothing when sampled as is; the presenter binds a sampler of its own.
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    if (name == 0 || gl.glGetError() != GL_NO_ERROR) {
        gl.glDeleteTextures(1, &name);
        return nullptr;
    }
    return std::shared_ptr<GpuTexture>(new GpuTexture(name, width, height, mode));
}

GpuTexture::GpuTexture(unsigned int name, int width, int height, StorageMode mode)
    : m_name(name), m_width(width), m_height(height), m_storageMode(mode) {}

GpuTexture::~GpuTexture() {
    // Past the application's end no context can be made current; the process
    // is going away and takes the texture with it.
    if (!QCoreApplication::instance()) {
        return;
    }
    QOpenGLFunctions_4_3_Core& gl = gpucontext::shareGroupFunctions();
    if (m_fence) {
        gl.glDeleteSync(static_cast<GLsync>(m_fence));
    }
    gl.glDeleteTextures(1, &m_name);
}

namespace {
std::atomic<long long> unwaitedFences{0};
}

long long GpuTexture::unwaitedFenceCount() {
    return unwaitedFences.load();
}

void GpuTexture::fenceWork() {
    QOpenGLFunctions_4_3_Core& gl = gpucontext::shareGroupFunctions();
    GLsync fence = gl.glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // Sent off now, so that a wait in another context cannot wait for ever.
    gl.glFlush();
    const void* context = QOpenGLContext::currentContext();
    std::lock_guard<std::mutex> guard(m_fenceLock);
    if (m_fence) {
        if (m_fencedIn != context && std::ranges::find(m_waitedIn, context) == m_waitedIn.end())
            ++unwaitedFences;
        gl.glDeleteSync(static_cast<GLsync>(m_fence));
    }
    m_fence = fence;
    m_fencedIn = context;
    m_waitedIn.clear();
}

void GpuTexture::waitOnGpu() const {
    std::lock_guard<std::mutex> guard(m_fenceLock);
    if (m_fence) {
        gpucontext::shareGroupFunctions().glWaitSync(static_cast<GLsync>(m_fence), 0,
                                                     GL_TIMEOUT_IGNORED);
        const void* context = QOpenGLContext::currentContext();
        if (std::ranges::find(m_waitedIn, context) == m_waitedIn.end())
            m_waitedIn.push_back(context);
    }
}
