#pragma once

#include "RGBAImage.h"

#include <cstdint>
#include <optional>
#include <vector>

struct SIRDSKey {
    int tileW = 0;
    int tileH = 0;
    int maxShift = 0;
    bool operator==(const SIRDSKey&) const = default;
};

// The cone-shaped depth table of the autostereogram, for one key at a time.
// Used by one render at a time (no locking).
class SIRDSShiftCache {
public:
    // tileW x tileH shifts, row-major; recomputed only when the key changes.
    const std::vector<int>& shiftTable(int tileW, int tileH, int maxShift);

    SIRDSKey cachedKey;
    std::vector<int> cachedTable;
};

// Largest shift for a strip of width stripW: stripW / 20 from 60 pixels on, else 3.
int sirdsMaxShift(int stripW);

// The left-anchored autostereogram of the CPU generators: the strip repeated
// rightwards with per-pixel shifts, rows in parallel. Nothing on failure.
std::optional<RGBAImage> makeAutostereogram(const RGBAImage& strip, int outW, int outH,
                                            SIRDSShiftCache& cache);

// Where the centred autostereogram puts its strip in an output row (columns
// offset to end - 1) and the side of its square depth cells: the strip's width
// over columns (at least 1). Nothing for an output side out of range.
struct CentredLayout {
    int cell = 1;
    int offset = 0;
    int end = 0;
};
std::optional<CentredLayout> centredLayout(int stripW, int outW, int outH, int columns);

// Fills output row y of the centred autostereogram: the strip in the centre,
// propagated rightwards and then leftwards with one depth cone per cell x cell
// square. Pixels are RGBA words.
void expandRowCentred(int y, const std::uint32_t* strip, std::uint32_t* out,
                      const std::vector<int>& table, int cell, int offset, int end, int stripW,
                      int stripH, int outW);

// The centred autostereogram of the GPU generator, made here: expandRowCentred
// over a 0x80-filled picture, rows in parallel. Nothing on failure.
std::optional<RGBAImage> makeAutostereogramCentred(const RGBAImage& strip, int outW, int outH,
                                                   int columns, SIRDSShiftCache& cache);
