#include "GpuGeneration.h"

#include "Canvas.h"
#include "GpuContext.h"
#include "GpuDevice.h"
#include "PatchSynthesis.h"

#include <QOpenGLFunctions_4_3_Core>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace {

using gpucontext::ScopedThreadContext;

// The kernel's parameters: the patch's quantities in double precision, for the
// pixels it recomputes exactly, the same as single-precision constants, then the tint.
struct PatchKernelParams {
    double frequency = 0;
    double orientation = 0;
    double phase = 0;
    double sigma = 0;
    double contrast = 0;
    double centreX = 0;
    double centreY = 0;
    double radius = 0;
    float cosF = 0, sinF = 0; // of the orientation
    float envelopeScaleF = 0; // 0.5 / (sigma R)^2, the envelope's exponent per squared pixel
    float carrierScaleF = 0;  // 2 pi frequency / 2R, the carrier's phase per pixel
    double hue = 0;
    double tintSaturation = 0; // above 0: tinted (the CPU tint, saturation 0.85)
    double blackLevel = 0;
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
    // The CPU reference's intermediate quantities, rounded once.
    const double theta = params.orientation * std::numbers::pi / 180;
    params.cosF = float(std::cos(theta));
    params.sinF = float(std::sin(theta));
    const double sig = std::max(params.sigma * params.radius, 1e-6);
    params.envelopeScaleF = float(0.5 / (sig * sig));
    params.carrierScaleF = float(2 * std::numbers::pi * params.frequency / (2 * params.radius));
    return params;
}

// The tint as the kernel takes it: the CPU tint's table, one opaque RGBA8 pixel
// (red in the lowest byte) per grey byte.
std::array<GLuint, 256> tintWords(double hue, double blackLevel) {
    const TintTable table = tintTable(hue, blackLevel);
    std::array<GLuint, 256> words{};
    for (std::size_t v = 0; v < 256; ++v) {
        words[v] = GLuint(table.byte[0][v]) | GLuint(table.byte[1][v]) << 8 |
                   GLuint(table.byte[2][v]) << 16 | 0xff000000u;
    }
    return words;
}

// Sets what both programs of the patch kernel take, the program in use.
void setCommonUniforms(QOpenGLFunctions_4_3_Core& gl, const PatchKernelParams& p, GLuint slot,
                       GLuint listBase) {
    const bool tinted = p.tintSaturation > 0;
    gl.glUniform1i(8, tinted ? 1 : 0);
    gl.glUniform1ui(10, slot);
    gl.glUniform1f(11, p.inversionFlag);
    gl.glUniform1ui(12, listBase);
    if (tinted) {
        const std::array<GLuint, 256> words = tintWords(p.hue, p.blackLevel);
        gl.glUniform4uiv(20, 64, words.data());
    }
}

// The patch kernel in this thread's context: "gaborKernel" of each patch as it
// comes, then in finish() "gaborKernelExact" of them all, so that on a GPU the
// second program waits only once for the first. "gaborKernel" lists the pixels
// it leaves to "gaborKernelExact" in this thread's buffers: per patch slot a
// count record (the indirect dispatch and the number listed, four words) and
// room for every pixel of the patch. The caller holds the program lock.
class PatchKernelEncoder {
public:
    // Room for patchCount patches of at most W x H; isReady() is false when
    // either program is missing or the room cannot be had.
    PatchKernelEncoder(QOpenGLFunctions_4_3_Core& gl, std::size_t patchCount, int W, int H)
        : m_gl(gl), m_single(GpuDevice::shared().patchKernel()),
          m_exact(GpuDevice::shared().exactPatchKernel()) {
        gpucontext::ThreadObjects& objects = gpucontext::threadObjects();
        objects.exactSlotsUsed = 0;
        objects.exactPixelsMade = 0;
        const long long room = (long long)W * H;
        if (!m_single || !m_exact || patchCount == 0 ||
            room * (long long)patchCount > (long long)std::numeric_limits<GLuint>::max()) {
            return;
        }
        m_room = GLuint(room);
        if (!objects.exactCountBuffer) {
            gl.glGenBuffers(1, &objects.exactCountBuffer);
            gl.glGenBuffers(1, &objects.exactPixelBuffer);
        }
        // The last call's shader writes end before these buffers change.
        gl.glMemoryBarrier(GL_BUFFER_UPDATE_BARRIER_BIT);
        gpucontext::clearErrors(gl);
        if (objects.exactSlots < patchCount || objects.exactRoom != m_room) {
            objects.exactSlots = std::max(objects.exactSlots, patchCount);
            objects.exactRoom = m_room;
            gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, objects.exactCountBuffer);
            gl.glBufferData(GL_SHADER_STORAGE_BUFFER, GLsizeiptr(objects.exactSlots * 16), nullptr,
                            GL_DYNAMIC_DRAW);
            gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, objects.exactPixelBuffer);
            gl.glBufferData(GL_SHADER_STORAGE_BUFFER,
                            GLsizeiptr(objects.exactSlots * m_room * sizeof(GLuint)), nullptr,
                            GL_DYNAMIC_COPY);
        }
        std::vector<GLuint> records(patchCount * 4);
        for (std::size_t i = 0; i < patchCount; ++i) {
            records[4 * i + 1] = 1; // groups y and z
            records[4 * i + 2] = 1;
        }
        gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, objects.exactCountBuffer);
        gl.glBufferSubData(GL_SHADER_STORAGE_BUFFER, 0, GLsizeiptr(records.size() * sizeof(GLuint)),
                           records.data());
        gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, 0);
        if (gl.glGetError() != GL_NO_ERROR) {
            objects.exactSlots = 0; // made again next time
            return;
        }
        gl.glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 0, objects.exactCountBuffer);
        gl.glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, objects.exactPixelBuffer);
        gl.glBindBuffer(GL_DISPATCH_INDIRECT_BUFFER, objects.exactCountBuffer);
        gl.glUseProgram(m_single);
        m_ready = true;
    }
    ~PatchKernelEncoder() { m_gl.glUseProgram(0); }
    PatchKernelEncoder(const PatchKernelEncoder&) = delete;
    PatchKernelEncoder& operator=(const PatchKernelEncoder&) = delete;

    bool isReady() const { return m_ready; }

    // The patch into texture, in single precision; its close calls wait for finish().
    void encode(const GpuTextureRef& texture, const PatchKernelParams& p) {
        gpucontext::ThreadObjects& objects = gpucontext::threadObjects();
        const GLuint slot = GLuint(objects.exactSlotsUsed++);
        objects.exactPixelsMade += (long long)texture->width() * texture->height();
        setCommonUniforms(m_gl, p, slot, slot * m_room);
        m_gl.glUniform2f(14, float(p.centreX), float(p.centreY));
        m_gl.glUniform2f(15, p.cosF, p.sinF);
        m_gl.glUniform1f(16, p.envelopeScaleF);
        m_gl.glUniform1f(17, p.carrierScaleF);
        m_gl.glUniform1f(18, float(p.phase));
        m_gl.glUniform1f(19, float(p.contrast));
        m_gl.glBindImageTexture(0, texture->name(), 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_RGBA8);
        m_gl.glDispatchCompute(GLuint((texture->width() + 15) / 16),
                               GLuint((texture->height() + 15) / 16), 1);
        m_pending.push_back({texture, p, slot});
    }

    // The listed pixels of every patch encoded, in double precision.
    void finish() {
        if (m_pending.empty()) {
            return;
        }
        m_gl.glMemoryBarrier(GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT |
                             GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
        m_gl.glUseProgram(m_exact);
        for (const Pending& patch : m_pending) {
            const PatchKernelParams& p = patch.params;
            const double quantities[8] = {p.frequency, p.orientation, p.phase,   p.sigma,
                                          p.contrast,  p.centreX,     p.centreY, p.radius};
            for (int location = 0; location < 8; ++location) {
                m_gl.glUniform1d(location, quantities[location]);
            }
            setCommonUniforms(m_gl, p, patch.slot, patch.slot * m_room);
            m_gl.glBindImageTexture(0, patch.texture->name(), 0, GL_FALSE, 0, GL_WRITE_ONLY,
                                    GL_RGBA8);
            m_gl.glDispatchComputeIndirect(GLintptr(patch.slot) * 16);
        }
        m_pending.clear();
        m_gl.glUseProgram(m_single);
    }

private:
    struct Pending {
        GpuTextureRef texture;
        PatchKernelParams params;
        GLuint slot = 0;
    };
    QOpenGLFunctions_4_3_Core& m_gl;
    GLuint m_single;
    GLuint m_exact;
    GLuint m_room = 0;
    bool m_ready = false;
    std::vector<Pending> m_pending;
};

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

// A canvas as its patches and where they go: the tile grid of composeCanvas
// (tile index = row x cols + col, row 0 at the bottom) over patchSize cells, each
// showing overrides' patch for it, else patches[tileVariantIndices[cell]].
struct TilePlacement {
    const std::vector<GpuTextureRef>& patches;
    const std::vector<int>& tileVariantIndices;
    const std::map<int, GpuTextureRef>& overrides;
    int patchSize = 1;
    // The patch the cell shows; null for none.
    const GpuTexture* patchAt(long long cell) const {
        if (auto found = overrides.find(int(cell)); found != overrides.end()) {
            return found->second.get();
        }
        if (cell < 0 || cell >= (long long)tileVariantIndices.size()) {
            return nullptr;
        }
        const int v = tileVariantIndices[std::size_t(cell)];
        return v >= 0 && v < (int)patches.size() ? patches[std::size_t(v)].get() : nullptr;
    }
};

// The tile grid of composeCanvas copied into the canvas, encoded without waiting.
void encodeTileCopies(QOpenGLFunctions_4_3_Core& gl, const GpuTexture& canvas,
                      const TilePlacement& tiles) {
    const int W = canvas.width();
    const int H = canvas.height();
    const int P = std::max(tiles.patchSize, 1);
    const long long cols = (W + (long long)P - 1) / P;
    const long long rows = (H + (long long)P - 1) / P;
    for (long long row = 0; row < rows; ++row) {
        for (long long col = 0; col < cols; ++col) {
            const GpuTexture* source = tiles.patchAt(row * cols + col);
            if (!source) {
                continue;
            }
            const long long x = col * P;
            const long long cut = std::max<long long>((row + 1) * P - H, 0);
            const long long dstY = std::max<long long>(H - (row + 1) * P, 0);
            // A source smaller than a tile gives what it has instead of a GL error.
            const long long copyW = std::min<long long>({W - x, P, source->width()});
            const long long copyH =
                std::min<long long>({H - dstY, P - cut, source->height() - cut});
            if (copyW < 1 || copyH < 1) {
                continue;
            }
            gl.glCopyImageSubData(source->name(), GL_TEXTURE_2D, 0, 0, GLint(cut), 0, canvas.name(),
                                  GL_TEXTURE_2D, 0, GLint(x), GLint(dstY), 0, GLsizei(copyW),
                                  GLsizei(copyH), 1);
        }
    }
}

// The tile grid of composeCanvas made by the processor and uploaded whole in the
// window's texel order: where the GPU is the CPU, this costs about a copy of the
// canvas, and showing it another, where drawing it shades every pixel. Cells
// without a patch are transparent black.
bool composeOnProcessor(QOpenGLFunctions_4_3_Core& gl, const GpuTexture& canvas,
                        const TilePlacement& tiles) {
    const long long W = canvas.width();
    const long long H = canvas.height();
    const long long P = std::max(tiles.patchSize, 1);
    gpucontext::clearErrors(gl);
    // The patches, read back in the window's order into storage the thread
    // keeps, as it keeps the canvas: fresh memory each frame costs a page fault
    // per page.
    std::map<const GpuTexture*, std::size_t> offsets;
    std::size_t total = 0;
    auto place = [&](const GpuTexture* patch) {
        if (patch && offsets.emplace(patch, total).second) {
            total += std::size_t(patch->width()) * std::size_t(patch->height());
        }
    };
    for (const GpuTextureRef& patch : tiles.patches) {
        place(patch.get());
    }
    for (const auto& [cell, patch] : tiles.overrides) {
        place(patch.get());
    }
    thread_local std::vector<quint32> texels;
    texels.resize(std::max(texels.size(), total));
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    for (const auto& [patch, offset] : offsets) {
        gl.glBindTexture(GL_TEXTURE_2D, patch->name());
        gl.glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data() + offset);
    }
    // Kept by the thread: a canvas each frame.
    thread_local std::vector<quint32> pixels;
    pixels.resize(std::size_t(W * H));
    const long long cols = (W + P - 1) / P;
    const long long rows = (H + P - 1) / P;
    std::vector<std::pair<const GpuTexture*, const quint32*>> sources(
        static_cast<std::size_t>(cols));
    for (long long row = 0; row < rows; ++row) {
        for (long long col = 0; col < cols; ++col) {
            const GpuTexture* source = tiles.patchAt(row * cols + col);
            sources[std::size_t(col)] = {source,
                                         source ? texels.data() + offsets[source] : nullptr};
        }
        // Image rows run down, the grid's rows up from the bottom; the top row
        // of cells is cut at the canvas's top.
        const long long bottom = H - row * P;
        for (long long y = std::max(bottom - P, 0LL); y < bottom; ++y) {
            const long long patchRow = y - (bottom - P);
            quint32* line = pixels.data() + y * W;
            for (long long col = 0; col < cols; ++col) {
                const auto [source, data] = sources[std::size_t(col)];
                const long long x = col * P;
                const long long width = std::min(W - x, P);
                const long long copied = source && patchRow < source->height()
                                             ? std::min<long long>(width, source->width())
                                             : 0;
                if (copied > 0) {
                    std::memcpy(line + x, data + patchRow * source->width(),
                                std::size_t(copied) * 4);
                }
                std::fill(line + x + copied, line + x + width, 0u);
            }
        }
    }
    gl.glBindTexture(GL_TEXTURE_2D, canvas.name());
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(W), GLsizei(H), GL_BGRA, GL_UNSIGNED_BYTE,
                       pixels.data());
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    return gl.glGetError() == GL_NO_ERROR;
}

// The next canvas of pool, once the frame on screen that may still read it is done.
GpuTextureRef nextCanvas(double width, double height, StorageMode storageMode,
                         CanvasTexturePool& pool, TextureLayout layout = TextureLayout::standard) {
    GpuTextureRef canvas =
        pool.nextTexture(imageSide(width), imageSide(height), storageMode, layout);
    if (canvas) {
        canvas->waitOnGpu();
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
    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    GpuTextureRef texture = GpuTexture::create(W, H, StorageMode::shared);
    if (!texture) {
        return std::nullopt;
    }
    {
        std::lock_guard<std::mutex> guard(gpucontext::programLock());
        PatchKernelEncoder kernel(gl, 1, W, H);
        if (!kernel.isReady()) {
            return std::nullopt;
        }
        kernel.encode(texture, patchParams({orientation, frequency, sigma, contrast}, phase, W, H,
                                           radiusScale));
        kernel.finish();
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

RenderCanvasResult renderCanvasGPU(const std::vector<TileParams>& variants,
                                   const std::vector<int>& tileVariantIndices,
                                   const std::vector<TileSpin>& spinTiles, int patchSize,
                                   const std::vector<double>& radiusScales,
                                   const std::vector<double>& hues, bool colorMode, double width,
                                   double height, double phase, double saturation,
                                   double colorModeBlackLevel, StorageMode storageMode,
                                   CanvasTexturePool& pool, CanvasTiles delivery) {
    RenderCanvasResult result;
    const int P = std::clamp(patchSize, 1, kMaxImageSide);
    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    std::lock_guard<std::mutex> guard(gpucontext::programLock());

    PatchKernelEncoder kernel(gl, variants.size() + spinTiles.size(), P, P);

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
        if (kernel.isReady() && texture) {
            PatchKernelParams params = patchParams(tile, phase, P, P, radiusFactor);
            params.hue = hue;
            params.tintSaturation = tintSaturation;
            params.blackLevel = colorModeBlackLevel;
            kernel.encode(texture, params);
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
    kernel.finish();

    gl.glMemoryBarrier(GL_ALL_BARRIER_BITS);
    const TilePlacement tiles{patches, tileVariantIndices, overrides, P};
    GpuTextureRef canvas;
    if (delivery == CanvasTiles::composedByProcessor) {
        canvas = nextCanvas(width, height, storageMode, pool, TextureLayout::windowOrder);
        if (canvas && !composeOnProcessor(gl, *canvas, tiles)) {
            canvas = nullptr;
        }
    } else if ((canvas = nextCanvas(width, height, storageMode, pool))) {
        encodeTileCopies(gl, *canvas, tiles);
    }
    // Handed over unfinished: whoever uses it elsewhere waits on the GPU.
    if (canvas) {
        canvas->fenceWork();
    }
    result.texture = std::move(canvas);
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
    GpuTextureRef canvas = nextCanvas(width, height, storageMode, pool);
    if (canvas) {
        encodeTileCopies(gl, *canvas,
                         TilePlacement{patches, tileVariantIndices, overrides, patchSize});
        canvas->fenceWork();
    }
    return canvas;
}

ExactPathCount lastExactPathCount() {
    ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    const gpucontext::ThreadObjects& objects = gpucontext::threadObjects();
    ExactPathCount count;
    count.pixels = objects.exactPixelsMade;
    if (objects.exactSlotsUsed == 0) {
        return count;
    }
    std::vector<GLuint> records(objects.exactSlotsUsed * 4);
    gl.glMemoryBarrier(GL_BUFFER_UPDATE_BARRIER_BIT);
    gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, objects.exactCountBuffer);
    gl.glGetBufferSubData(GL_SHADER_STORAGE_BUFFER, 0, GLsizeiptr(records.size() * sizeof(GLuint)),
                          records.data());
    gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, 0);
    for (std::size_t i = 0; i < objects.exactSlotsUsed; ++i) {
        count.exact += records[4 * i + 3];
    }
    return count;
}
