#include "PatchFilter.h"

#include "GpuContext.h"
#include "GpuDevice.h"

#include <QOpenGLFunctions_4_3_Core>
#include <algorithm>
#include <cmath>
#include <numbers>

std::optional<RGBAImage> generatePatchFilter(double width, double height, double frequency,
                                             double orientation, double phase, double sigma,
                                             double contrast) {
    const int W = imageSide(width);
    const int H = imageSide(height);
    const unsigned int program = GpuDevice::shared().patchFilterProgram();
    if (!program) {
        return std::nullopt;
    }
    std::optional<RGBAImage> image = makeRGBAImage(W, H);
    if (!image) {
        return std::nullopt;
    }

    gpucontext::ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    gpucontext::ThreadObjects& objects = gpucontext::threadObjects();
    // Framebuffers and vertex arrays are not shared: one of each per thread context.
    if (!objects.filterFramebuffer) {
        gl.glGenFramebuffers(1, &objects.filterFramebuffer);
        gl.glGenVertexArrays(1, &objects.filterVertexArray);
    }
    if (!objects.filterTarget || objects.filterTarget->width() != W ||
        objects.filterTarget->height() != H) {
        objects.filterTarget = GpuTexture::create(W, H, StorageMode::shared);
        if (!objects.filterTarget) {
            return std::nullopt;
        }
    }

    gpucontext::clearErrors(gl);
    std::lock_guard<std::mutex> guard(gpucontext::programLock());
    gl.glBindFramebuffer(GL_FRAMEBUFFER, objects.filterFramebuffer);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                              objects.filterTarget->name(), 0);
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return std::nullopt;
    }
    gl.glViewport(0, 0, W, H);
    gl.glUseProgram(program);
    const float radius = float(std::min(W, H) / 2.0 * 0.96);
    // Angles reduced to one turn in double: a float keeps too few digits of a large phase.
    const float values[8] = {float(frequency),
                             float(std::fmod(orientation, 360.0)),
                             float(std::fmod(phase, 2 * std::numbers::pi)),
                             float(sigma),
                             float(contrast),
                             float(W / 2.0),
                             float(H / 2.0),
                             radius};
    for (int location = 0; location < 8; ++location) {
        gl.glUniform1f(location, values[location]);
    }
    gl.glBindVertexArray(objects.filterVertexArray);
    gl.glDrawArrays(GL_TRIANGLES, 0, 3);
    gl.glBindVertexArray(0);
    gl.glUseProgram(0);

    // Framebuffer row 0 holds the patch's top row (see the shader).
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_PACK_ROW_LENGTH, GLint(image->bytesPerLine() / 4));
    gl.glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, image->bits());
    gl.glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (gl.glGetError() != GL_NO_ERROR) {
        return std::nullopt;
    }
    return image;
}
