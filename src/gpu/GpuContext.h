#pragma once

#include "GpuTexture.h"

#include <array>
#include <mutex>
#include <vector>

class QOpenGLContext;
class QOpenGLFunctions_4_3_Core;
class QSurface;

// The per-thread OpenGL contexts behind GpuDevice, shared by every instance:
// programs of one share group are valid in all of them.
namespace gpucontext {

// Makes the calling thread's own context current (made on first use) and returns
// its functions. Ends the process when no 4.3 core context can be had.
QOpenGLFunctions_4_3_Core& makeThreadContextCurrent();

// Makes sure the surfaces the calling thread's context draws on exist (made on
// the GUI thread). Call before taking any lock the GUI thread might wait for.
void prepareSurface();

// The root of the share group every context here joins.
QOpenGLContext* shareRoot();

// Functions of a context of the share group: the current one when it belongs,
// else the thread's own (made current). Enough for creating and deleting objects.
QOpenGLFunctions_4_3_Core& shareGroupFunctions();

// Objects that belong to the calling thread's own context (VAOs and FBOs are not
// shared), and scratch textures kept between calls so that steady animation
// creates no GL object per frame. Valid after makeThreadContextCurrent().
struct ThreadObjects {
    int patchSize = 0;
    std::vector<GpuTextureRef> patchTextures; // patchSize x patchSize scratch patches
    unsigned int filterFramebuffer = 0;
    unsigned int filterVertexArray = 0;
    GpuTextureRef filterTarget;
    unsigned int columnBuffer = 0;  // the autostereogram's column map
    std::array<int, 5> columnKey{}; // what the map in it was made for
    // The patch kernel's lists of pixels left to its double-precision program:
    // a count record and room for exactRoom pixels per slot.
    unsigned int exactCountBuffer = 0;
    unsigned int exactPixelBuffer = 0;
    std::size_t exactSlots = 0;
    unsigned int exactRoom = 0;
    std::size_t exactSlotsUsed = 0; // by the last call
    long long exactPixelsMade = 0;  // by the last call
};
ThreadObjects& threadObjects();

// Uniform values belong to the program object, which every context shares; a
// thread holds this from setting them until it has issued the work that uses
// them (work takes the values it was issued with).
std::mutex& programLock();

// Makes the thread's own context current for the lifetime of the guard and puts
// back whatever context was current before (a widget's, say).
class ScopedThreadContext {
public:
    ScopedThreadContext();
    ~ScopedThreadContext();
    ScopedThreadContext(const ScopedThreadContext&) = delete;
    ScopedThreadContext& operator=(const ScopedThreadContext&) = delete;
    QOpenGLFunctions_4_3_Core& gl() const { return *m_gl; }

private:
    QOpenGLFunctions_4_3_Core* m_gl;
    QOpenGLContext* m_previous;
    QSurface* m_previousSurface;
};

// Clears the GL error queue, so the next glGetError() reports only what follows.
void clearErrors(QOpenGLFunctions_4_3_Core& gl);

} // namespace gpucontext
