#pragma once

// One tile parameter set (a variant).
struct TileParams {
    double orientation = 0; // degrees
    double frequency = 0;   // cycles per envelope diameter
    double sigma = 0;       // envelope width as a fraction of the envelope radius
    double contrast = 0;    // carrier amplitude
    bool operator==(const TileParams&) const = default;
};

// One running random spin of a canvas cell.
struct TileSpin {
    int tileIdx = 0;   // canvas cell index, row-major from the bottom-left
    double rotDeg = 0; // degrees added to the cell's orientation
    bool operator==(const TileSpin&) const = default;
};
