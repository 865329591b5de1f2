#include "GpuGeneration.h"

#include "Canvas.h"
#include "GpuContext.h"
#include "GpuDevice.h"
#include "PatchSynthesis.h"

#include <QOpenGLFunctions_4_3_Core>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using gpucontext::ScopedThreadContext;

// The kernel's twelve parameters: the patch's quantities in double precision,
// so that its bytes truncate like the CPU reference's, then the tint's.
struct PatchKernelParams {
    double frequency = 0;
    double orientation = 0;
    double phase = 0;
    double sigma = 0;
    double contrast = 0;
    double centreX = 0;
    double centreY = 0;
    double radius = 0;
    float hue = 0;
    float tintSaturation = 0;
    float blackLevel = 0;
    float inversionFlag = 0; // inversion belongs to the presenter
};

// A grey W x H patch of one parameter set, at the set's orientation, centred,
// with the CPU generator's envelope radius. Angles are reduced to one turn,
// which the kernel's sine and cosine expect.
PatchKernelParams patchParams(const TileParams& tile, double phase, int W, int H,
                              double radiusScale) {
    PatchKernelParams params;
    params.frequency = tile.frequency;
    params.orientation = std::fmod(tile.orientation, 360.0);
    params.phase = std::fmod(phase, 2 * std::numbers::pi);
    params.sigma = tile.sigma;
    params.contrast = tile.contrast;
    params.centreX = W / 2.0;
    params.centreY = H / 2.0;
    params.radius = envelopeRadius(W, H, radiusScale);
    return params;
}

// Binds the texture to image unit 0 and dispatches "gaborKernel" over it; the
// program must be in use. Nothing waits here.
void encodePatch(QOpenGLFunctions_4_3_Core& gl, const GpuTexture& texture,
                 const PatchKernelParams& p) {
    const double quantities[8] = {p.frequency, p.orientation, p.phase,   p.sigma,
                                  p.contrast,  p.centreX,     p.centreY, p.radius};
    for (int location = 0; location < 8; ++location) {
        gl.glUniform1d(location, quantities[location]);
    }
    gl.glUniform1f(8, p.hue);
    gl.glUniform1f(9, p.tintSaturation);
    gl.glUniform1f(10, p.blackLevel);
    gl.glUniform1f(11, p.inversionFlag);
    gl.glBindImageTexture(0, texture.name(), 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_RGBA8);
    gl.glDispatchCompute(GLuint((texture.width() + 15) / 16), GLuint((texture.height() + 15) / 16),
                         1);
}

bool uploadInto(QOpenGLFunctions_4_3_Core& gl, const GpuTexture& texture, const RGBAImage& image) {
    const RGBAImage pixels = image.format() == QImage::Format_RGBA8888_Premultiplied
                                 ? image
                                 : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (pixels.isNull() || pixels.width() != texture.width() ||
        pixels.height() != texture.height()) {
        return false;
    }
    gpucontext::clearErrors(gl);
    // A ring texture may still be on screen.
    texture.waitOnGpu();
    gl.glBindTexture(GL_TEXTURE_2D, texture.name());
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(pixels.bytesPerLine() / 4));
    // Image row 0 (the top) goes to texel row 0.
    gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, pixels.width(), pixels.height(), GL_RGBA,
                       GL_UNSIGNED_BYTE, pixels.constBits());
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    return gl.glGetError() == GL_NO_ERROR;
}

// The tile grid of composeCanvas with texture copies, encoded without waiting.
GpuTextureRef encodePlacement(QOpenGLFunctions_4_3_Core& gl, double width, double height,
                              const std::vector<GpuTextureRef>& patches,
                              const std::vector<int>& tileVariantIndices,
                              const std::map<int, GpuTextureRef>& overrides, int patchSize,
                              StorageMode storageMode, CanvasTexturePool& pool) {
    const int W = imageSide(width);
    const int H = imageSide(height);
    const int P = std::max(patchSize, 1);
    GpuTextureRef canvas = pool.nextTexture(W, H, storageMode);
    if (!canvas) {
        return nullptr;
    }
    // The ring's other frame may still be on screen.
    canvas->waitOnGpu();
    const long long cols = (W + (long long)P - 1) / P;
    const long long rows = (H + (long long)P - 1) / P;
    for (long long row = 0; row < rows; ++row) {
        for (long long col = 0; col < cols; ++col) {
            const long long t = row * cols + col;
            const long long x = col * P;
            long long copyW = std::min<long long>(W - x, P);
            const long long cut = std::max<long long>((row + 1) * P - H, 0);
            const long long dstY = std::max<long long>(H - (row + 1) * P, 0);
            long long copyH = std::min<long long>(H - dstY, P - cut);

            const GpuTexture* source = nullptr;
            if (auto found = overrides.find(int(t)); found != overrides.end()) {
                source = found->second.get();
            } else if (t < (long long)tileVariantIndices.size()) {
                const int v = tileVariantIndices[std::size_t(t)];
                if (v >= 0 && v < (int)patches.size()) {
                    source = patches[std::size_t(v)].get();
                }
            }
            if (!source) {
                continue;
            }
            // A source smaller than a tile gives what it has instead of a GL error.
            copyW = std::min<long long>(copyW, source->width());
            copyH = std::min<long long>(copyH, source->height() - cut);
            if (copyW < 1 || copyH < 1) {
                continue;
            }
            gl.glCopyImageSubData(source->name(), GL_TEXTURE_2D, 0, 0, GLint(cut), 0,
                                  canvas->name(), GL_TEXTURE_2D, 0, GLint(x), GLint(dstY), 0,
                                  GLsizei(copyW), GLsizei(copyH), 1);
        }
    }
    return canvas;
}

// Scratch patch texture number index for this thread, kept between calls.
GpuTextureRef scratchPatch(std::size_t index, int size) {
    gpucontext::ThreadObjects& objects = gpucontext::threadObjects();
    if (objects.patchSize != size) {
        objects.patchTextures.clear();
        objects.patchSize = size;
    }
    if (objects.patchTextures.size() <= index) {
        objects.patchTextures.resize(index + 1);
    }
    GpuTextureRef& slot = objects.patchTextures[index];
    if (!slot) {
        slot = GpuTexture::create(size, size, StorageMode::shared);
    }
    return slot;
}

} // namespace

std::optional<RGBAImage> generatePatchGPU(double width, double height, double frequency,
                                          double orientation, double phase, double sigma,
                                          double contrast, double radiusScale) {
    const int W = imageSide(width);
    const int H = imageSide(height);
    GpuDevice& manager = GpuDevice::shared();
    const GLuint program = manager.patchKernel();
    if (!program) {
        return std::nullopt;
    }
    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    GpuTextureRef texture = GpuTexture::create(W, H, StorageMode::shared);
    if (!texture) {
        return std::nullopt;
    }
    const PatchKernelParams params =
        patchParams({orientation, frequency, sigma, contrast}, phase, W, H, radiusScale);
    {
        std::lock_guard<std::mutex> guard(gpucontext::programLock());
        gl.glUseProgram(program);
        encodePatch(gl, *texture, params);
        gl.glUseProgram(0);
        gl.glMemoryBarrier(GL_ALL_BARRIER_BITS);
        gl.glFinish();
    }
    return readbackTexture(texture);
}

std::optional<RGBAImage> readbackTexture(const GpuTextureRef& texture) {
    if (!texture) {
        return std::nullopt;
    }
    std::optional<RGBAImage> image = makeRGBAImage(texture->width(), texture->height());
    if (!image) {
        return std::nullopt;
    }
    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    gpucontext::clearErrors(gl);
    texture->waitOnGpu();
    gl.glMemoryBarrier(GL_TEXTURE_UPDATE_BARRIER_BIT);
    gl.glBindTexture(GL_TEXTURE_2D, texture->name());
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_PACK_ROW_LENGTH, GLint(image->bytesPerLine() / 4));
    // Texel row 0 becomes the image's top row.
    gl.glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image->bits());
    gl.glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    if (gl.glGetError() != GL_NO_ERROR) {
        return std::nullopt;
    }
    return image;
}

GpuTextureRef uploadImageToTexture(const std::optional<RGBAImage>& image) {
    if (!image || image->isNull()) {
        return nullptr;
    }
    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    GpuTextureRef texture =
        GpuTexture::create(image->width(), image->height(), StorageMode::gpuPrivate);
    if (!texture || !uploadInto(gl, *texture, *image)) {
        return nullptr;
    }
    texture->fenceWork();
    return texture;
}

bool uploadImageInto(GpuTexture& texture, const RGBAImage& image) {
    ScopedThreadContext scope;
    if (!uploadInto(scope.gl(), texture, image)) {
        return false;
    }
    texture.fenceWork();
    return true;
}

RenderCanvasResult
renderCanvasGPU(const std::vector<TileParams>& variants, const std::vector<int>& tileVariantIndices,
                const std::vector<TileSpin>& spinTiles, int patchSize,
                const std::vector<double>& radiusScales, const std::vector<double>& hues,
                bool colorMode, double width, double height, double phase, double saturation,
                double colorModeBlackLevel, StorageMode storageMode, CanvasTexturePool& pool) {
    RenderCanvasResult result;
    const int P = std::clamp(patchSize, 1, kMaxImageSide);
    GpuDevice& manager = GpuDevice::shared();
    const GLuint program = manager.patchKernel();

    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    std::lock_guard<std::mutex> guard(gpucontext::programLock());
    if (program) {
        gl.glUseProgram(program);
    }

    // One patch per variant, in the variant's own slot whatever happens to the
    // others, so tiles always find the variant they name.
    std::size_t slotCount = 0;
    // Variants the kernel cannot make always count as CPU fallbacks; spin tiles
    // only when a CPU patch took their place (otherwise the tile keeps its variant).
    auto makePatch = [&](const TileParams& tile, std::size_t v, bool isSpin) {
        const double radiusFactor = v < radiusScales.size() ? radiusScales[v] * 0.96 : 0.96;
        const double hue = colorMode && v < hues.size() ? hues[v] : 0.0;
        const double tintSaturation = colorMode ? saturation : 0.0;
        GpuTextureRef texture = scratchPatch(slotCount++, P);
        if (program && texture) {
            PatchKernelParams params = patchParams(tile, phase, P, P, radiusFactor);
            params.hue = float(hue);
            params.tintSaturation = float(tintSaturation);
            params.blackLevel = float(colorModeBlackLevel);
            encodePatch(gl, *texture, params);
            ++result.gpuGeneratedCount;
            return texture;
        }
        if (!isSpin) {
            ++result.cpuFallbackCount;
        }
        if (!texture) {
            return texture;
        }
        std::optional<RGBAImage> patch = synthesizePatchCPU(
            P, P, tile.frequency, tile.orientation, phase, tile.sigma, tile.contrast, radiusFactor);
        if (patch && tintSaturation > 0) {
            patch = tintPatch(*patch, hue, colorModeBlackLevel);
        }
        if (!patch || !uploadInto(gl, *texture, *patch)) {
            return GpuTextureRef();
        }
        if (isSpin) {
            ++result.cpuFallbackCount;
        }
        return texture;
    };

    std::vector<GpuTextureRef> patches;
    patches.reserve(variants.size());
    for (std::size_t i = 0; i < variants.size(); ++i) {
        patches.push_back(makePatch(variants[i], i, false));
    }
    if (std::none_of(patches.begin(), patches.end(), [](const auto& p) { return bool(p); })) {
        if (program) {
            gl.glUseProgram(0);
        }
        return result;
    }

    std::map<int, GpuTextureRef> overrides;
    for (const TileSpin& spin : spinTiles) {
        if (spin.tileIdx < 0 || spin.tileIdx >= (int)tileVariantIndices.size()) {
            continue;
        }
        const int v = tileVariantIndices[std::size_t(spin.tileIdx)];
        if (v < 0 || v >= (int)variants.size()) {
            continue;
        }
        TileParams turned = variants[std::size_t(v)];
        turned.orientation = std::fmod(spin.rotDeg + turned.orientation, 360.0);
        if (GpuTextureRef texture = makePatch(turned, std::size_t(v), true)) {
            overrides[spin.tileIdx] = std::move(texture);
        }
    }
    if (program) {
        gl.glUseProgram(0);
    }

    gl.glMemoryBarrier(GL_ALL_BARRIER_BITS);
    result.texture = encodePlacement(gl, width, height, patches, tileVariantIndices, overrides, P,
                                     storageMode, pool);
    // Handed over unfinished: whoever uses it elsewhere waits on the GPU.
    if (result.texture) {
        result.texture->fenceWork();
    }
    return result;
}

GpuTextureRef placeTilesGPU(double width, double height, const std::vector<GpuTextureRef>& patches,
                            const std::vector<int>& tileVariantIndices,
                            const std::map<int, GpuTextureRef>& overrides, int patchSize,
                            StorageMode storageMode, CanvasTexturePool& pool) {
    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    for (const GpuTextureRef& patch : patches) {
        if (patch) {
            patch->waitOnGpu();
        }
    }
    for (const auto& [tile, patch] : overrides) {
        patch->waitOnGpu();
    }
    gl.glMemoryBarrier(GL_ALL_BARRIER_BITS);
    GpuTextureRef canvas = encodePlacement(gl, width, height, patches, tileVariantIndices,
                                           overrides, patchSize, storageMode, pool);
    if (canvas) {
        canvas->fenceWork();
    }
    return canvas;
}
