// Before any Qt header: Qt's emit macro breaks TBB's headers.
#include <tbb/parallel_for.h>

#include "Autostereogram.h"

#include <cmath>
#include <cstring>

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
    const RGBAImage source = strip.format() == QImage::Format_RGBA8888_Premultiplied
                                 ? strip
                                 : strip.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (source.isNull())
        return std::nullopt;
    const int stripW = source.width();
    const int stripH = source.height();
    auto out = makeRGBAImage(outW, outH);
    if (!out)
        return std::nullopt;
    // A pixel that is never written stays (128, 128, 128, 128).
    std::memset(out->bits(), 0x80, static_cast<size_t>(out->sizeInBytes()));

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
