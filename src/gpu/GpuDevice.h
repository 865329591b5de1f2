#pragma once

#include <QStringList>
#include <memory>

class QOpenGLFunctions_4_3_Core;

// The process's GPU: one OpenGL 4.3 core context per thread that uses the GPU,
// all in the share group of QOpenGLContext::globalShareContext(), and the
// programs built once from the shader library. Pipelines are GL program names;
// 0 means absent.
class GpuDevice {
public:
    // Created on first use, from any thread, exactly once; never released.
    // Loads the shader library from the first folder of shaderSearchPath() that exists.
    static GpuDevice& shared();

    // An instance over other shader folders (tests). Same share group.
    explicit GpuDevice(const QStringList& shaderSearchPath);
    ~GpuDevice();
    GpuDevice(const GpuDevice&) = delete;
    GpuDevice& operator=(const GpuDevice&) = delete;

    // "shaders" beside the executable, then share/lumenweave/shaders above it.
    static QStringList shaderSearchPath();

    // Makes the calling thread's context current (creating it on first use) and
    // returns its functions. Other code may have made another context current
    // meanwhile (a widget on the main thread), so call this before every GPU use.
    QOpenGLFunctions_4_3_Core& makeCurrent();

    unsigned int patchKernel() const;        // "gaborKernel"
    unsigned int exactPatchKernel() const;   // "gaborKernelExact", which finishes its work
    unsigned int sirdsKernel() const;        // "sirdsExpand"
    unsigned int blitProgram() const;        // "blitVertex" + "blitFragment"
    unsigned int blitTintProgram() const;    // "blitVertex" + "blitTintFragment"
    unsigned int stereoProgram() const;      // "blitVertex" + "stereoFragment"
    unsigned int patchFilterProgram() const; // "gaborPatch" (image-filter generator)
    // The "GPU" is Mesa's rasterizer on the CPU (llvmpipe, softpipe).
    bool isSoftwareRenderer() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
