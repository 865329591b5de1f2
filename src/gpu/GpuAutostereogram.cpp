// Before any Qt header: Qt's "emit" macro breaks tbb's headers.
#include <tbb/parallel_for.h>

#include "GpuAutostereogram.h"

#include "CanvasTexturePool.h"
#include "GpuContext.h"
#include "GpuDevice.h"
#include "GpuGeneration.h"

#include <QOpenGLFunctions_4_3_Core>
#include <algorithm>
#include <cstring>

namespace {

GpuTextureRef expandOnGpu(unsigned int program, const GpuTexture& strip, int outW, int outH,
                          int cell, int offset, const std::vector<int>& table) {
    gpucontext::ScopedThreadContext scope;
    QOpenGLFunctions_4_3_Core& gl = scope.gl();
    GpuTextureRef output = sirdsOutputPool().nextTexture(outW, outH, StorageMode::gpuPrivate);
    if (!output) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(gpucontext::programLock());
    gpucontext::ThreadObjects& objects = gpucontext::threadObjects();
    const long long bytes = (long long)(table.size() * sizeof(int));
    gpucontext::clearErrors(gl);
    if (!objects.tableBuffer) {
        gl.glGenBuffers(1, &objects.tableBuffer);
    }
    gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, objects.tableBuffer);
    // The buffer only grows, so steady animation allocates nothing.
    if (objects.tableBufferBytes < bytes) {
        gl.glBufferData(GL_SHADER_STORAGE_BUFFER, GLsizeiptr(bytes), table.data(), GL_DYNAMIC_DRAW);
        objects.tableBufferBytes = bytes;
    } else {
        gl.glBufferSubData(GL_SHADER_STORAGE_BUFFER, 0, GLsizeiptr(bytes), table.data());
    }
    gl.glBindBuffer(GL_SHADER_STORAGE_BUFFER, 0);
    if (gl.glGetError() != GL_NO_ERROR) {
        objects.tableBufferBytes = 0;
        return nullptr;
    }

    gl.glUseProgram(program);
    const int params[6] = {outW, outH, strip.height(), strip.width(), cell, offset};
    for (int location = 0; location < 6; ++location) {
        gl.glUniform1i(location, params[location]);
    }
    // 32-bit words: pixels are copied whole, never converted.
    gl.glBindImageTexture(0, strip.name(), 0, GL_FALSE, 0, GL_READ_ONLY, GL_R32UI);
    gl.glBindImageTexture(1, output->name(), 0, GL_FALSE, 0, GL_READ_WRITE, GL_R32UI);
    gl.glBindBufferBase(GL_SHADER_STORAGE_BUFFER, 1, objects.tableBuffer);
    // One invocation per output row (rows are independent, a row is not); the
    // shader's groups hold 64 rows.
    gl.glDispatchCompute(GLuint((outH + 63) / 64), 1, 1);
    gl.glUseProgram(0);
    gl.glMemoryBarrier(GL_ALL_BARRIER_BITS);
    gl.glFinish();
    if (gl.glGetError() != GL_NO_ERROR) {
        return nullptr;
    }
    return output;
}

GpuTextureRef expandOnCpu(const GpuTextureRef& strip, int outW, int outH, int cell, int offset,
                          int end, const std::vector<int>& table) {
    std::optional<RGBAImage> stripImage = readbackTexture(strip);
    std::optional<RGBAImage> output = makeRGBAImage(outW, outH);
    if (!stripImage || !output) {
        return nullptr;
    }
    std::memset(output->bits(), 0x80, std::size_t(output->sizeInBytes()));
    const auto* stripPixels = reinterpret_cast<const std::uint32_t*>(stripImage->constBits());
    auto* outPixels = reinterpret_cast<std::uint32_t*>(output->bits());
    const int stripW = strip->width();
    const int stripH = strip->height();
    tbb::parallel_for(0, outH, [&](int y) {
        expandRowCentred(y, stripPixels, outPixels, table, cell, offset, end, stripW, stripH, outW);
    });
    return uploadImageToTexture(output);
}

} // namespace

GpuTextureRef makeAutostereogramGPU(const GpuTextureRef& strip, int outW, int outH, int columns,
                                    SIRDSShiftCache& cache) {
    if (!strip || outW < 1 || outH < 1 || outW > kMaxImageSide || outH > kMaxImageSide) {
        return nullptr;
    }
    const int stripW = strip->width();
    const int cell = std::max(stripW / std::max(columns, 1), 1);
    const int maxShift = sirdsMaxShift(stripW);
    const int offset = outW < stripW ? 0 : (outW - stripW) / 2;
    const int end = std::min(offset + stripW, outW);
    const std::vector<int>& table = cache.shiftTable(cell, cell, maxShift);

    if (const unsigned int program = GpuDevice::shared().sirdsKernel()) {
        return expandOnGpu(program, *strip, outW, outH, cell, offset, table);
    }
    return expandOnCpu(strip, outW, outH, cell, offset, end, table);
}

void expandRowCentred(int y, const std::uint32_t* strip, std::uint32_t* out,
                      const std::vector<int>& table, int cell, int offset, int end, int stripW,
                      int stripH, int outW) {
    const int ty = y % stripH;
    const int cy = y % cell;
    std::uint32_t* row = out + std::size_t(y) * std::size_t(outW);
    const std::uint32_t* stripRow = strip + std::size_t(ty) * std::size_t(stripW);
    const int* shifts = table.data() + std::size_t(cy) * std::size_t(cell);

    for (int x = offset; x < end; ++x) {
        row[x] = stripRow[x - offset];
    }
    for (int x = end; x < outW; ++x) {
        const int src = x - stripW + shifts[x % cell];
        if (src >= 0 && src < outW) {
            row[x] = row[src];
        }
    }
    for (int x = offset - 1; x >= 0; --x) {
        const int src = x + stripW - shifts[x % cell];
        if (src >= 0 && src < outW) {
            row[x] = row[src];
        }
    }
}
