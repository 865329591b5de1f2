#pragma once

#include "RGBAImage.h"

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
