// Before any Qt header: Qt's emit macro breaks TBB's headers.
#include <tbb/parallel_for.h>

#include "Autostereogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

RGBAImage premultiplied(const RGBAImage& image) {
    return image.format() == QImage::Format_RGBA8888_Premultiplied
               ? image
               : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// An outW x outH picture whose unwritten pixels read (128, 128, 128, 128).
std::optional<RGBAImage> greyOutput(int outW, int outH) {
    auto out = makeRGBAImage(outW, outH);
    if (out)
        std::memset(out->bits(), 0x80, static_cast<size_t>(out->sizeInBytes()));
    return out;
}

} // namespace

const std::vector<int>& SIRDSShiftCache::shiftTable(int tileW, int tileH, int maxShift) {
    const SIRDSKey key{tileW, tileH, maxShift};
    if (key == cachedKey)
        return cachedTable;
    std::vector<int> table;
    if (tileW > 0 && tileH > 0) {
        table.assign(static_cast<size_t>(tileW) * static_cast<size_t>(tileH), 0);
        for (int y = 0; y < tileH; ++y) {
            const double ny = double(y) / tileH - 0.5;
            for (int x = 0; x < tileW; ++x) {
                const double nx = double(x) / tileW - 0.5;
                const double d = std::sqrt((2 * ny) * (2 * ny) + (2 * nx) * (2 * nx));
                double depth = 1 - 1.4 * d;
                if (depth < 0)
                    depth = 0;
                table[static_cast<size_t>(y) * tileW + x] =
                    static_cast<int>(std::round(depth * maxShift));
            }
        }
    }
    cachedKey = key;
    cachedTable = std::move(table);
    return cachedTable;
}

int sirdsMaxShift(int stripW) {
    return stripW >= 60 ? stripW / 20 : 3;
}

std::optional<RGBAImage> makeAutostereogram(const RGBAImage& strip, int outW, int outH,
                                            SIRDSShiftCache& cache) {
    if (strip.isNull())
        return std::nullopt;
    const RGBAImage source = premultiplied(strip);
    if (source.isNull())
        return std::nullopt;
    const int stripW = source.width();
    const int stripH = source.height();
    auto out = greyOutput(outW, outH);
    if (!out)
        return std::nullopt;

    const std::vector<int>& table = cache.shiftTable(stripW, stripH, sirdsMaxShift(stripW));
    uchar* const outBits = out->bits();
    const qsizetype outStride = out->bytesPerLine();

    tbb::parallel_for(0, outH, [&](int y) {
        const int ty = y % stripH;
        auto* row = reinterpret_cast<quint32*>(outBits + y * outStride);
        const auto* stripRow = reinterpret_cast<const quint32*>(source.constScanLine(ty));
        const int* shifts = table.data() + static_cast<size_t>(ty) * stripW;
        for (int x = 0; x < outW; ++x) {
            if (x < stripW) {
                row[x] = stripRow[x];
                continue;
            }
            // Bounded by the row: with a strip narrower than four pixels the
            // source may lie at or after x, an unwritten or the same pixel.
            const int src = x - stripW + shifts[x % stripW];
            if (src >= 0 && src < outW)
                row[x] = row[src];
        }
    });
    return out;
}

std::optional<CentredLayout> centredLayout(int stripW, int outW, int outH, int columns) {
    if (stripW < 1 || outW < 1 || outH < 1 || outW > kMaxImageSide || outH > kMaxImageSide)
        return std::nullopt;
    const int offset = outW < stripW ? 0 : (outW - stripW) / 2;
    return CentredLayout{std::max(stripW / std::max(columns, 1), 1), offset,
                         std::min(offset + stripW, outW)};
}

void expandRowCentred(int y, const std::uint32_t* strip, std::uint32_t* out,
                      const std::vector<int>& table, int cell, int offset, int end, int stripW,
                      int stripH, int outW) {
    const int ty = y % stripH;
    const int cy = y % cell;
    std::uint32_t* row = out + std::size_t(y) * std::size_t(outW);
    const std::uint32_t* stripRow = strip + std::size_t(ty) * std::size_t(stripW);
    const int* shifts = table.data() + std::size_t(cy) * std::size_t(cell);

    for (int x = offset; x < end; ++x)
        row[x] = stripRow[x - offset];
    for (int x = end; x < outW; ++x) {
        const int src = x - stripW + shifts[x % cell];
        if (src >= 0 && src < outW)
            row[x] = row[src];
    }
    for (int x = offset - 1; x >= 0; --x) {
        const int src = x + stripW - shifts[x % cell];
        if (src >= 0 && src < outW)
            row[x] = row[src];
    }
}

std::optional<RGBAImage> makeAutostereogramCentred(const RGBAImage& strip, int outW, int outH,
                                                   int columns, SIRDSShiftCache& cache) {
    if (strip.isNull())
        return std::nullopt;
    const RGBAImage source = premultiplied(strip);
    const std::optional<CentredLayout> l = centredLayout(source.width(), outW, outH, columns);
    std::optional<RGBAImage> out = greyOutput(outW, outH);
    if (source.isNull() || !l || !out)
        return std::nullopt;
    const int stripW = source.width();
    const int stripH = source.height();
    // Rows of 4 x width bytes exactly, so the pictures are arrays of words.
    const auto* stripPixels = reinterpret_cast<const std::uint32_t*>(source.constBits());
    auto* outPixels = reinterpret_cast<std::uint32_t*>(out->bits());
    const std::vector<int>& table = cache.shiftTable(l->cell, l->cell, sirdsMaxShift(stripW));
    tbb::parallel_for(0, outH, [&](int y) {
        expandRowCentred(y, stripPixels, outPixels, table, l->cell, l->offset, l->end, stripW,
                         stripH, outW);
    });
    return out;
}
