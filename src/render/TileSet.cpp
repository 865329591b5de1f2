#include "TileSet.h"

#include "RGBAImage.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint64_t kGolden = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t kTwo53 = 1ULL << 53;
constexpr double kTwoMinus53 = 1.0 / 9007199254740992.0;

// A pixel count from a rounded double: at least 1, at most the largest image
// side; non-numbers count as 1.
int clampedSide(double value) {
    if (!(value >= 1))
        return 1;
    if (value >= kMaxImageSide)
        return kMaxImageSide;
    return static_cast<int>(value);
}

// max(16, min(a, whole(maxPatchSize), b)); a non-number patch size sets no limit.
int patchSide(int a, double maxPatchSize, int b) {
    const double limit = std::fmin(std::fmin(double(a), std::trunc(maxPatchSize)), double(b));
    return static_cast<int>(std::fmax(16.0, limit));
}

} // namespace

SplitMix64::SplitMix64(std::uint64_t seed) : m_state(seed == 0 ? kGolden : seed) {}

std::uint64_t SplitMix64::next() {
    m_state += kGolden;
    std::uint64_t z = m_state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::uint64_t SplitMix64::below(std::uint64_t n) {
    // No value lies below 0; answering 0 keeps the modulo below from dividing by zero.
    if (n == 0)
        return 0;
    unsigned __int128 m = static_cast<unsigned __int128>(next()) * n;
    if (static_cast<std::uint64_t>(m) < n) {
        const std::uint64_t t = (0 - n) % n;
        while (static_cast<std::uint64_t>(m) < t)
            m = static_cast<unsigned __int128>(next()) * n;
    }
    return static_cast<std::uint64_t>(m >> 64);
}

double SplitMix64::closed(double a, double b) {
    const std::uint64_t x = below(kTwo53 + 1);
    if (x == kTwo53)
        return b;
    return a + (b - a) * (static_cast<double>(x) * kTwoMinus53);
}

bool SplitMix64::coin() {
    return ((next() >> 17) & 1) == 0;
}

CanvasGeometry canvasGeometry(double viewWidth, double viewHeight, double scale,
                              double maxPatchSize, bool isAutostereogramMode,
                              bool isStereoscopicMode, std::int64_t sirdsStripColumns,
                              StereoLayout stereoLayout, const StereoPairSize& stereoPair) {
    CanvasGeometry g;
    g.canvasW = clampedSide(std::round(viewWidth * scale));
    g.canvasH = clampedSide(std::round(viewHeight * scale));
    g.renderW = g.canvasW;
    g.renderH = g.canvasH;
    if (isAutostereogramMode) {
        const int stripTile = patchSide(g.canvasW, maxPatchSize, g.canvasH);
        const auto columns = std::clamp<std::int64_t>(sirdsStripColumns, 2, 6);
        g.renderW = clampedSide(std::round(scale * (double(stripTile) * double(columns) / scale)));
    } else if (isStereoscopicMode && StereoLayouts::isSideBySide(stereoLayout)) {
        g.pair = placePair(g.canvasW, g.canvasH, scale, stereoPair);
        g.renderW = g.pair.halfWidth;
        g.renderH = g.pair.halfHeight;
    }
    g.P = patchSide(g.renderW, maxPatchSize, g.renderH);
    g.cols = (g.renderW + g.P - 1) / g.P;
    g.rows = (g.renderH + g.P - 1) / g.P;
    return g;
}

void TileSet::clear() {
    animationTileParams.clear();
    animationTileVariantIndices.clear();
    animationTileHues.clear();
}

void prepareAnimationTiles(TileSet& tiles, const TileSetInputs& inputs) {
    if (!tiles.animationTileParams.empty() && !tiles.animationTileVariantIndices.empty())
        return;

    const CanvasGeometry g =
        canvasGeometry(inputs.viewWidth, inputs.viewHeight, inputs.backingScale,
                       inputs.maxPatchSize, inputs.isAutostereogramMode, inputs.isStereoscopicMode,
                       inputs.sirdsStripColumns, inputs.stereoLayout, inputs.stereoPair);
    const int tileCount = g.tileCount();
    // One set per cell across the whole drawable, not across one eye or strip.
    const int setCount = std::max(1, (g.canvasW + g.P - 1) / g.P);

    SplitMix64 rng(inputs.patternSeed);
    const double sigma = std::max(0.32, inputs.sigma);

    std::vector<TileParams> params;
    params.reserve(setCount);
    for (int i = 0; i < setCount; ++i) {
        const auto k = rng.below(12);
        const double frequency = rng.closed(3.0, 9.0);
        const double contrast = rng.closed(0.3, 1.0);
        params.push_back({15.0 * double(k), frequency, sigma, contrast});
    }

    std::vector<int> indices(static_cast<size_t>(tileCount));
    for (int& index : indices)
        index = static_cast<int>(rng.below(static_cast<std::uint64_t>(setCount)));

    std::vector<double> directions(static_cast<size_t>(setCount));
    for (double& direction : directions)
        direction = rng.coin() ? 1.0 : -1.0;

    std::vector<double> offsets(static_cast<size_t>(setCount));
    for (double& offset : offsets)
        offset = rng.closed(0, 6.283185307179586);

    const double base = static_cast<double>(rng.below(kTwo53 + 1)) * kTwoMinus53;
    std::vector<double> hues(static_cast<size_t>(setCount));
    for (int i = 0; i < setCount; ++i) {
        const double h = base + i * 0.618033988749895;
        hues[static_cast<size_t>(i)] = h - std::floor(h);
    }

    tiles.animationTileParams = std::move(params);
    tiles.animationTileVariantIndices = std::move(indices);
    tiles.animationTileRotationDirections = std::move(directions);
    tiles.breathingPhaseOffsets = std::move(offsets);
    tiles.animationTileHues = std::move(hues);
}
