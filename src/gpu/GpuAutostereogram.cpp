#include "GpuAutostereogram.h"

#include "CanvasTexturePool.h"
#include "GpuContext.h"
#include "GpuDevice.h"
#include "GpuGeneration.h"

#include <QOpenGLFunctions_4_3_Core>
#include <algorithm>
#include <array>
#include <numeric>
#include <optional>

namespace {

// Larger column maps (cells as wide as a large output) go the CPU route instead.
constexpr long long kMaxColumnMapEntries = 16LL << 20;

// For each depth-cell row, the strip column every output column ends up showing,
// or ~0 where the row keeps its 0x80 fill: the row recurrence itself, run on
// column numbers instead of pixels.
std::vector<std::uint32_t> columnMap(int outW, int stripW, const CentredLayout& l,
                                     const std::vector<int>& table) {
    std::vector<std::uint32_t> stripColumns(std::size_t(stripW), 0);
    std::iota(stripColumns.begin(), stripColumns.end(), 0u);
    std::vector<std::uint32_t> map(std::size_t(l.cell) * std::size_t(outW), ~0u);
    for (int cy = 0; cy < l.cell; ++cy) {
        expandRowCentred(cy, stripColumns.data(), map.data(), table, l.cell, l.offset, l.end,
                         stripW, 1, outW);
    }
    return map;
}

GpuTextureRef expandOnGpu(unsigned int program, const GpuTexture& strip, int outW, int outH,
                          const CentredLayout& l, int maxShift, const std::vector<int>& table) {
    gpucontext::ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    GpuTextureRef output = sirdsOutputPool().nextTexture(outW, outH, StorageMode::gpuPrivate);
    if (!output) {
        return nullptr;
    }
    // The ring's other frame may still be on screen.
    output->waitOnGpu();
    std::lock_guard<std::mutex> guard(gpucontext::programLock());
    gpucontext::ThreadObjects& objects = gpucontext::threadObjects();
    gpucontext::clearErrors(gl);
    if (!objects.columnBuffer) {
        gl.glGenBuffers(1, &objects.columnBuffer);
    }
    // The map changes only with the size, the strip and the depth table, so
    // steady animation neither makes nor uploads one.
    const std::array<int, 5> key = {outW, strip.width(), l.cell, l.offset, maxShift};
    if (objects.columnKey != key) {
        const std::vector<std::uint32_t> map = columnMap(outW, strip.width(), l, table);
        gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, objects.columnBuffer);
        gl.glBufferData(GL_SHADER_STORAGE_BUFFER, GLsizeiptr(map.size() * sizeof(std::uint32_t)),
                        map.data(), GL_STATIC_DRAW);
        gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, 0);
        if (gl.glGetError() != GL_NO_ERROR) {
            objects.columnKey = {};
            return nullptr;
        }
        objects.columnKey = key;
    }

    strip.waitOnGpu();
    gl.glUseProgram(program);
    const int params[6] = {outW, outH, strip.height(), strip.width(), l.cell, l.offset};
    for (int location = 0; location < 6; ++location) {
        gl.glUniform1i(location, params[location]);
    }
    // 32-bit words: pixels are copied whole, never converted.
    gl.glBindImageTexture(0, strip.name(), 0, GL_FALSE, 0, GL_READ_ONLY, GL_R32UI);
    gl.glBindImageTexture(1, output->name(), 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_R32UI);
    gl.glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, objects.columnBuffer);
    // One group per output row; its invocations share the row's pixels.
    gl.glDispatchCompute(GLuint(outH), 1, 1);
    gl.glUseProgram(0);
    gl.glMemoryBarrier(GL_ALL_BARRIER_BITS);
    if (gl.glGetError() != GL_NO_ERROR) {
        return nullptr;
    }
    output->fenceWork();
    return output;
}

std::optional<CentredLayout> layoutFor(const GpuTextureRef& strip, int outW, int outH,
                                       int columns) {
    return strip ? centredLayout(strip->width(), outW, outH, columns) : std::nullopt;
}

} // namespace

GpuTextureRef makeAutostereogramGPU(const GpuTextureRef& strip, int outW, int outH, int columns,
                                    SIRDSShiftCache& cache) {
    const std::optional<CentredLayout> l = layoutFor(strip, outW, outH, columns);
    GpuDevice& device = GpuDevice::shared();
    // Where the GPU is the CPU, the kernel's scattered image stores are slower
    // than the CPU writing rows and uploading them whole.
    if (!device.sirdsKernel() || device.isSoftwareRenderer() ||
        (l && (long long)l->cell * outW > kMaxColumnMapEntries)) {
        return makeAutostereogramCPU(strip, outW, outH, columns, cache);
    }
    return makeAutostereogramKernel(strip, outW, outH, columns, cache);
}

GpuTextureRef makeAutostereogramKernel(const GpuTextureRef& strip, int outW, int outH, int columns,
                                       SIRDSShiftCache& cache) {
    const unsigned int program = GpuDevice::shared().sirdsKernel();
    const std::optional<CentredLayout> l = layoutFor(strip, outW, outH, columns);
    if (!program || !l || (long long)l->cell * outW > kMaxColumnMapEntries) {
        return nullptr;
    }
    const int maxShift = sirdsMaxShift(strip->width());
    const std::vector<int>& table = cache.shiftTable(l->cell, l->cell, maxShift);
    return expandOnGpu(program, *strip, outW, outH, *l, maxShift, table);
}

GpuTextureRef makeAutostereogramCPU(const GpuTextureRef& strip, int outW, int outH, int columns,
                                    SIRDSShiftCache& cache) {
    const std::optional<RGBAImage> stripImage = readbackTexture(strip);
    const std::optional<RGBAImage> output =
        stripImage ? makeAutostereogramCentred(*stripImage, outW, outH, columns, cache)
                   : std::nullopt;
    if (!output) {
        return nullptr;
    }
    // Into the ring as the kernel's pictures go, so that no frame makes a texture.
    GpuTextureRef texture = sirdsOutputPool().nextTexture(outW, outH, StorageMode::gpuPrivate);
    if (!texture || !uploadImageInto(*texture, *output)) {
        return nullptr;
    }
    return texture;
}
