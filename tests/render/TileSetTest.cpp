#include "TileSet.h"

#include "RGBAImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

TileSet prepared(std::uint64_t seed, int mode = 0, double side = 0, double patch = 128) {
    const TileSetInputs in{.patternSeed = seed,
                           .viewWidth = side ? side : 800,
                           .viewHeight = side ? side : 600,
                           .backingScale = 2,
                           .maxPatchSize = patch,
                           .isAutostereogramMode = mode == 2,
                           .isStereoscopicMode = mode == 1,
                           .sirdsStripColumns = 4};
    TileSet tiles;
    prepareAnimationTiles(tiles, in);
    return tiles;
}

// canvasW, canvasH, renderW, P, cols, rows; mode 1 is stereo, 2 autostereogram.
std::array<int, 6> geometry(double w, double h, double scale, double patch, int mode = 0,
                            int strip = 4) {
    const CanvasGeometry g = canvasGeometry(w, h, scale, patch, mode == 2, mode == 1, strip);
    return {g.canvasW, g.canvasH, g.renderW, g.P, g.cols, g.rows};
}

} // namespace

TEST(TileSet, GeometryOfTheThreeModesAndOfAbsurdInputs) {
    // 800 x 600 points at 2x, patches of 128: single, stereo pair, 4-column strip.
    const int renderW[3] = {1600, 800, 512}, cols[3] = {13, 7, 4};
    for (int mode = 0; mode < 3; ++mode) {
        EXPECT_EQ(geometry(800, 600, 2, 128, mode),
                  (std::array{1600, 1200, renderW[mode], 128, cols[mode], 10}));
        // One set per cell across the whole drawable, in every mode.
        const TileSet tiles = prepared(3, mode);
        EXPECT_EQ(tiles.animationTileParams.size(), 13u);
        EXPECT_EQ(tiles.animationTileVariantIndices.size(), size_t(cols[mode] * 10));
        EXPECT_EQ(tiles.breathingPhaseOffsets.size(), 13u);
    }
    EXPECT_EQ(geometry(800, 600, 2, 128, 2, 99)[2], 6 * 128);
    EXPECT_EQ(geometry(0, 0, 2, 128), (std::array{1, 1, 1, 16, 1, 1}));
    EXPECT_EQ(geometry(300, 50, 1, 500)[3], 50);
    EXPECT_EQ(geometry(300, 50, 1, 33.9)[3], 33);
    EXPECT_EQ(geometry(100.5, 20, 1, 128)[0], 101);

    // A stereo pair: the anaglyph's eyes cover the drawable; 200-point halves
    // 20 apart with marks keep 2 x 32 rows for the marks.
    const auto eye = [](StereoLayout layout) {
        const CanvasGeometry g =
            canvasGeometry(800, 600, 2, 128, false, true, 4, layout, {200, 20, true});
        return std::array{g.renderW, g.renderH, g.cols, g.rows};
    };
    EXPECT_EQ(eye(StereoLayout::anaglyph), (std::array{1600, 1200, 13, 10}));
    EXPECT_EQ(eye(StereoLayout::cross), (std::array{400, 1136, 4, 9}));

    // Absurd inputs stay bounded.
    for (double v : {1e308, -1e308, double(INFINITY), double(NAN)})
        for (double scale : {2.0, 0.0, 1e308, double(NAN)})
            for (int mode = 0; mode < 3; ++mode)
                for (const auto& g :
                     {geometry(v, v, scale, 128, mode), geometry(800, 600, scale, v, mode)}) {
                    ASSERT_GE(std::ranges::min(g), 1);
                    ASSERT_LE(std::ranges::max(g), kMaxImageSide);
                    ASSERT_GE(g[3], 16);
                }
    const TileSet huge = prepared(5, 0, 1e308, -1e308); // smallest cells, largest canvas
    EXPECT_EQ(huge.animationTileParams.size(), size_t(kMaxImageSide / 16));
    EXPECT_EQ(huge.animationTileVariantIndices.size(),
              size_t(kMaxImageSide / 16 * kMaxImageSide / 16));
}

TEST(TileSet, DrawOrderPinsEveryList) {
    // Seed 1, 13 sets over 130 cells: each list comes from its own stretch of
    // the generator, so drawing any of them earlier moves all that follow.
    const TileSet tiles = prepared(1);
    const auto four = [](double v) { return std::trunc(v * 1e4) / 1e4; };
    // Sets 0 and 1: orientation, frequency, contrast.
    const std::array<double, 3> params[2] = {{90, 7.4746, 0.9797}, {75, 5.6655, 0.8340}};
    for (int i = 0; i < 2; ++i) {
        const TileParams& p = tiles.animationTileParams[i];
        EXPECT_EQ((std::array{p.orientation, four(p.frequency), four(p.contrast)}), params[i]);
    }
    const std::vector<double> directions = {1, -1, 1, 1, -1, -1, 1, 1, 1, -1, 1, 1, -1};
    EXPECT_EQ(tiles.animationTileRotationDirections, directions);
    EXPECT_EQ((std::vector<int>(tiles.animationTileVariantIndices.begin(),
                                tiles.animationTileVariantIndices.begin() + 8)),
              (std::vector<int>{8, 11, 9, 3, 8, 11, 10, 4}));
    EXPECT_EQ(four(tiles.breathingPhaseOffsets[0]), 0.7304);
    EXPECT_EQ(four(tiles.breathingPhaseOffsets[1]), 2.6989);
    EXPECT_EQ(four(tiles.animationTileHues[0]), 0.9815);
    EXPECT_EQ(four(tiles.animationTileHues[1]), 0.5995);

    // A complete set is kept; parameters without cells are drawn afresh.
    TileSet kept = tiles;
    prepareAnimationTiles(
        kept, {.patternSeed = 77, .viewWidth = 800, .viewHeight = 600, .backingScale = 2});
    EXPECT_EQ(kept.animationTileParams, tiles.animationTileParams);
    kept.animationTileVariantIndices.clear();
    prepareAnimationTiles(
        kept, {.patternSeed = 77, .viewWidth = 800, .viewHeight = 600, .backingScale = 2});
    EXPECT_EQ(kept.animationTileParams, prepared(77).animationTileParams);
    EXPECT_EQ(kept.animationTileVariantIndices, prepared(77).animationTileVariantIndices);
    // Seed 0 would start the generator at zero; it stands for the golden ratio.
    EXPECT_EQ(prepared(0).animationTileVariantIndices,
              prepared(0x9e3779b97f4a7c15ULL).animationTileVariantIndices);
}
