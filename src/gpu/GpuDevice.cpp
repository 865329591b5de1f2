#include "GpuDevice.h"

#include "GpuContext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QOpenGLFunctions_4_3_Core>
#include <cstdio>
#include <mutex>
#include <optional>

namespace {

// A build failure: its text is what the console line reports.
struct BuildError {
    QString description;
};

struct ShaderSource {
    GLenum stage;
    QString fileName; // empty: the source is built in
    QByteArray builtIn = {};
};

// The image filter draws one covering triangle; its vertex stage is not part of
// the library, so a library with only "gaborPatch" still has the filter.
const char* const kCoveringTriangleVertex = R"(#version 430 core
void main() {
    vec2 corner = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";

std::optional<QByteArray> readSource(const QDir& dir, const ShaderSource& stage) {
    if (stage.fileName.isEmpty()) {
        return stage.builtIn;
    }
    QFile file(dir.filePath(stage.fileName));
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

// The driver's log of a failed compile (a shader) or link (a program), as one
// line. The log ends with a NUL that must not reach the console.
BuildError buildError(QOpenGLFunctions_4_3_Core& gl, GLuint object, bool isProgram) {
    GLint length = 0;
    if (isProgram)
        gl.glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        gl.glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    QByteArray log(std::max(length, 1), '\0');
    if (isProgram)
        gl.glGetProgramInfoLog(object, length, nullptr, log.data());
    else
        gl.glGetShaderInfoLog(object, length, nullptr, log.data());
    log.truncate(qstrnlen(log.constData(), log.size()));
    const QString text = QString::fromUtf8(log).simplified();
    if (text.isEmpty())
        return {isProgram ? QStringLiteral("link failed") : QStringLiteral("compile failed")};
    return {text};
}

// Compiles and links the given stages. A missing file gives 0 without error (an
// entry point the library lacks); a compile or link failure gives the driver's log.
GLuint buildProgram(QOpenGLFunctions_4_3_Core& gl, const QDir& dir,
                    const std::vector<ShaderSource>& stages, std::optional<BuildError>& error) {
    std::vector<QByteArray> sources;
    for (const ShaderSource& stage : stages) {
        std::optional<QByteArray> source = readSource(dir, stage);
        if (!source) {
            return 0;
        }
        sources.push_back(*source);
    }

    GLuint program = gl.glCreateProgram();
    std::vector<GLuint> shaders;
    auto cleanUp = [&] {
        for (GLuint shader : shaders) {
            gl.glDeleteShader(shader);
        }
    };
    for (std::size_t i = 0; i < stages.size(); ++i) {
        GLuint shader = gl.glCreateShader(stages[i].stage);
        shaders.push_back(shader);
        const char* text = sources[i].constData();
        const GLint length = GLint(sources[i].size());
        gl.glShaderSource(shader, 1, &text, &length);
        gl.glCompileShader(shader);
        GLint ok = GL_FALSE;
        gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
        if (!ok) {
            error = buildError(gl, shader, false);
            cleanUp();
            gl.glDeleteProgram(program);
            return 0;
        }
        gl.glAttachShader(program, shader);
    }
    gl.glLinkProgram(program);
    cleanUp();
    GLint linked = GL_FALSE;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) {
        error = buildError(gl, program, true);
        gl.glDeleteProgram(program);
        return 0;
    }
    return program;
}

void reportBuildError(const BuildError& error) {
    const QByteArray line =
        (QStringLiteral("[GPU] シェーダーコンパイルエラー: ") + error.description + '\n').toUtf8();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

} // namespace

struct GpuDevice::Impl {
    QString directory;
    GLuint computePipeline = 0;
    GLuint exactComputePipeline = 0;
    GLuint sirdsPipeline = 0;
    GLuint blitPipeline = 0;
    GLuint blitTintPipeline = 0;
    GLuint stereoPipeline = 0;
    bool softwareRenderer = false;

    mutable std::once_flag patchFilterOnce;
    mutable GLuint patchFilter = 0;
};

GpuDevice& GpuDevice::shared() {
    // Before the once-only guard: a GUI thread blocked on the guard could not
    // make the surface a worker creating the instance waits for.
    gpucontext::prepareSurface();
    static GpuDevice* const instance = new GpuDevice(shaderSearchPath());
    return *instance;
}

QStringList GpuDevice::shaderSearchPath() {
    const QString appDir = QCoreApplication::applicationDirPath();
    return {appDir + QStringLiteral("/shaders"),
            QDir::cleanPath(appDir + QStringLiteral("/../share/lumenweave/shaders"))};
}

GpuDevice::GpuDevice(const QStringList& shaderSearchPath) : d(std::make_unique<Impl>()) {
    for (const QString& candidate : shaderSearchPath) {
        if (!candidate.isEmpty() && QDir(candidate).exists()) {
            d->directory = candidate;
            break;
        }
    }
    gpucontext::ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    const QByteArray renderer = reinterpret_cast<const char*>(gl.glGetString(GL_RENDERER));
    d->softwareRenderer = renderer.contains("llvmpipe") || renderer.contains("softpipe");

    // One unit: the first error ends it and is reported; what was built stays.
    const QDir dir(d->directory);
    std::optional<BuildError> error;
    if (d->directory.isEmpty()) {
        error = BuildError{QStringLiteral("シェーダーライブラリが見つかりません: ") +
                           shaderSearchPath.join(QStringLiteral(", "))};
    }
    if (!error) {
        d->computePipeline =
            buildProgram(gl, dir, {{GL_COMPUTE_SHADER, QStringLiteral("gaborKernel.comp")}}, error);
    }
    if (!error) {
        d->exactComputePipeline = buildProgram(
            gl, dir, {{GL_COMPUTE_SHADER, QStringLiteral("gaborKernelExact.comp")}}, error);
    }
    if (!error) {
        d->sirdsPipeline =
            buildProgram(gl, dir, {{GL_COMPUTE_SHADER, QStringLiteral("sirdsExpand.comp")}}, error);
    }
    if (!error) {
        d->blitPipeline = buildProgram(gl, dir,
                                       {{GL_VERTEX_SHADER, QStringLiteral("blitVertex.vert")},
                                        {GL_FRAGMENT_SHADER, QStringLiteral("blitFragment.frag")}},
                                       error);
    }
    if (!error) {
        d->blitTintPipeline =
            buildProgram(gl, dir,
                         {{GL_VERTEX_SHADER, QStringLiteral("blitVertex.vert")},
                          {GL_FRAGMENT_SHADER, QStringLiteral("blitTintFragment.frag")}},
                         error);
    }
    if (!error) {
        d->stereoPipeline =
            buildProgram(gl, dir,
                         {{GL_VERTEX_SHADER, QStringLiteral("blitVertex.vert")},
                          {GL_FRAGMENT_SHADER, QStringLiteral("stereoFragment.frag")}},
                         error);
    }
    if (error) {
        reportBuildError(*error);
    }
}

GpuDevice::~GpuDevice() {
    gpucontext::ScopedThreadContext scope;
    for (GLuint program :
         {d->computePipeline, d->exactComputePipeline, d->sirdsPipeline, d->blitPipeline,
          d->blitTintPipeline, d->stereoPipeline, d->patchFilter}) {
        if (program) {
            scope.gl().glDeleteProgram(program);
        }
    }
}

QOpenGLFunctions_4_3_Core& GpuDevice::makeCurrent() {
    return gpucontext::makeThreadContextCurrent();
}

unsigned int GpuDevice::patchKernel() const {
    return d->computePipeline;
}
unsigned int GpuDevice::exactPatchKernel() const {
    return d->exactComputePipeline;
}
unsigned int GpuDevice::sirdsKernel() const {
    return d->sirdsPipeline;
}
unsigned int GpuDevice::blitProgram() const {
    return d->blitPipeline;
}
unsigned int GpuDevice::blitTintProgram() const {
    return d->blitTintPipeline;
}
unsigned int GpuDevice::stereoProgram() const {
    return d->stereoPipeline;
}
bool GpuDevice::isSoftwareRenderer() const {
    return d->softwareRenderer;
}

unsigned int GpuDevice::patchFilterProgram() const {
    std::call_once(d->patchFilterOnce, [this] {
        const QDir dir(d->directory);
        if (d->directory.isEmpty() || !dir.exists()) {
            return;
        }
        gpucontext::ScopedThreadContext scope;
        // Built on first use and silent: a failure only leaves the generator
        // without its program.
        std::optional<BuildError> ignored;
        d->patchFilter = buildProgram(scope.gl(), dir,
                                      {{GL_VERTEX_SHADER, QString(), kCoveringTriangleVertex},
                                       {GL_FRAGMENT_SHADER, QStringLiteral("gaborPatch.frag")}},
                                      ignored);
    });
    return d->patchFilter;
}
