#pragma once

#include <QString>
#include <memory>

class QOpenGLFunctions_4_3_Core;

// The process's GPU: one OpenGL 4.3 core context per thread that uses the GPU,
// all in the share group of QOpenGLContext::globalShareContext(), and the
// programs built once from the shader library. Pipelines are GL program names;
// 0 means absent.
class MetalManager {
public:
    // Created on first use, from any thread, exactly once; never released.
    // Loads the shader library from defaultShaderDirectory().
    static MetalManager& shared();

    // An instance over another shader folder (tests). Same share group.
    explicit MetalManager(const QString& shaderDirectory);
    ~MetalManager();
    MetalManager(const MetalManager&) = delete;
    MetalManager& operator=(const MetalManager&) = delete;

    // "shaders" beside the executable, else share/lumenweave/shaders above it.
    static QString defaultShaderDirectory();

    // Makes the calling thread's context current (creating it on first use) and
    // returns its functions. Other code may have made another context current
    // meanwhile (a widget on the main thread), so call this before every GPU use.
    QOpenGLFunctions_4_3_Core& makeCurrent();

    unsigned int computePipelineState() const; // "gaborKernel"
    unsigned int sirdsPipelineState() const;   // "sirdsExpand"
    unsigned int blitRenderPipeline() const;   // "blitVertex" + "blitFragment"
    unsigned int patchFilterProgram() const;   // "gaborPatch" (image-filter generator)

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
