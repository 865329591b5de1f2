#pragma once

#include "StereoFrame.h"
#include "TileParams.h"

#include <cstdint>
#include <vector>

// The seeded generator of the tile set (SplitMix64).
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed); // seed 0 counts as 0x9e3779b97f4a7c15
    std::uint64_t next();
    std::uint64_t below(std::uint64_t n); // uniform in [0, n), n > 0 (Lemire)
    double closed(double a, double b);    // uniform on [a, b], both ends included
    bool coin();                          // bit 17 of next() is 0

private:
    std::uint64_t m_state;
};

// Canvas and tile geometry for a scale s in pixels per point. Computed in doubles
// and bounded (canvas sides at most kMaxImageSide), so no input overflows an int.
struct CanvasGeometry {
    int canvasW = 1; // whole drawable
    int canvasH = 1;
    int renderW = 1; // one eye's canvas, or the autostereogram's strip
    int renderH = 1; // one eye's canvas: canvasH but for a side-by-side pair with marks
    int P = 16;      // patch and cell size
    int cols = 1;
    int rows = 1;
    PairPlacement pair; // where a side-by-side pair's halves lie in the drawable
    int tileCount() const { return cols * rows; }
};

// A stereo pair side by side has one half of the pair's placement per eye; the
// other layouts give each eye the whole drawable.
CanvasGeometry canvasGeometry(double viewWidth, double viewHeight, double scale,
                              double maxPatchSize, bool isAutostereogramMode,
                              bool isStereoscopicMode, std::int64_t sirdsStripColumns,
                              StereoLayout stereoLayout = StereoLayout::parallel,
                              const StereoPairSize& stereoPair = {});

// The per-window tile set drawn from patternSeed.
struct TileSet {
    std::vector<TileParams> animationTileParams;
    std::vector<int> animationTileVariantIndices;
    std::vector<double> animationTileHues;
    std::vector<double> animationTileRotationDirections;
    std::vector<double> breathingPhaseOffsets;

    // Empties what depends on the seed (params, variant indices, hues).
    void clear();
};

struct TileSetInputs {
    std::uint64_t patternSeed = 0;
    double viewWidth = 0;  // points
    double viewHeight = 0; // points
    double backingScale = 1;
    double maxPatchSize = 128;
    double sigma = 0.25;
    bool isAutostereogramMode = false;
    bool isStereoscopicMode = false;
    std::int64_t sirdsStripColumns = 3;
    StereoLayout stereoLayout = StereoLayout::parallel;
    StereoPairSize stereoPair{}; // points
};

// Ensures a tile set exists: returns at once when params and variant indices are
// both non-empty, otherwise draws every per-set and per-cell list afresh.
void prepareAnimationTiles(TileSet& tiles, const TileSetInputs& inputs);
