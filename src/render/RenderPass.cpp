#include "RenderPass.h"

#include "Canvas.h"
#include "CanvasTexturePool.h"
#include "GpuAutostereogram.h"
#include "GpuDevice.h"
#include "GpuGeneration.h"
#include "PatchFilter.h"
#include "PatchSynthesis.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

namespace {

constexpr double kTintSaturation = 0.85;
constexpr double kBaseRadiusScale = 0.96;

// The CPU path's patches, one slot per set. A set whose patch could not be made
// keeps a null image in its slot, so the later sets stay on their own cells.
struct PatchList {
    std::vector<RGBAImage> patches;
    int madeCount = 0;
};

struct CpuInputs {
    const RenderSnapshot& snapshot;
    const std::vector<double>& multipliers;
    bool useImageFilter;
    bool useGPU;
    int patchSize;
    const PatchGenerator& generator;
};

double multiplierFor(const CpuInputs& in, std::size_t set) {
    if (set < in.multipliers.size())
        return in.multipliers[set];
    return 1.0 + 0.3 * std::sin(in.snapshot.breathingPhase);
}

std::optional<RGBAImage> makeSetPatch(const CpuInputs& in, std::size_t set, double orientation,
                                      double phase) {
    const TileParams& params = in.snapshot.tileParams[set];
    const double side = in.patchSize;
    std::optional<RGBAImage> image =
        in.generator(in.useImageFilter, in.useGPU, side, side, params.frequency, orientation, phase,
                     params.sigma, params.contrast, kBaseRadiusScale * multiplierFor(in, set));
    if (!image || image->isNull())
        return std::nullopt;
    if (in.snapshot.isColorMode && set < in.snapshot.hues.size())
        return tintPatch(*image, in.snapshot.hues[set], in.snapshot.colorModeBlackLevel);
    return image;
}

PatchList makePatches(const CpuInputs& in, double phase) {
    PatchList list;
    list.patches.reserve(in.snapshot.tileParams.size());
    for (std::size_t i = 0; i < in.snapshot.tileParams.size(); ++i) {
        std::optional<RGBAImage> image =
            makeSetPatch(in, i, in.snapshot.tileParams[i].orientation, phase);
        if (image) {
            list.patches.push_back(std::move(*image));
            ++list.madeCount;
        } else {
            list.patches.emplace_back();
        }
    }
    return list;
}

std::map<int, RGBAImage> makeSpinImages(const CpuInputs& in, double phase) {
    std::map<int, RGBAImage> images;
    const auto& indices = in.snapshot.variantIndices;
    for (const TileSpin& spin : in.snapshot.spins) {
        if (spin.tileIdx < 0 || static_cast<std::size_t>(spin.tileIdx) >= indices.size())
            continue;
        const int v = indices[spin.tileIdx];
        if (v < 0 || static_cast<std::size_t>(v) >= in.snapshot.tileParams.size())
            continue;
        const double orientation =
            std::fmod(spin.rotDeg + in.snapshot.tileParams[v].orientation, 360.0);
        if (std::optional<RGBAImage> image = makeSetPatch(in, v, orientation, phase))
            images[spin.tileIdx] = std::move(*image);
    }
    return images;
}

RenderOutcome renderGPU(const RenderSnapshot& snap, const CanvasGeometry& g,
                        const std::vector<double>& multipliers, SIRDSShiftCache& cache,
                        RenderOutcome outcome) {
    auto canvas = [&](double phase, StorageMode mode, CanvasTexturePool& pool,
                      CanvasTiles delivery = CanvasTiles::copied) {
        return renderCanvasGPU(snap.tileParams, snap.variantIndices, snap.spins, g.P, multipliers,
                               snap.hues, snap.isColorMode, g.renderW, g.renderH, phase,
                               kTintSaturation, snap.colorModeBlackLevel, mode, pool, delivery)
            .texture;
    };
    if (snap.isAutostereogramMode) {
        outcome.kind = RenderOutcome::Kind::gpuAutostereogram;
        // The strip is read back by the expansion, so it must be CPU-readable.
        GpuTextureRef strip = canvas(snap.phase, StorageMode::shared, primaryCanvasPool());
        if (strip)
            outcome.leftTexture = makeAutostereogramGPU(
                strip, g.canvasW, g.canvasH, static_cast<int>(snap.sirdsStripColumns), cache);
        return outcome;
    }
    outcome.kind = RenderOutcome::Kind::gpuCanvas;
    // Where the GPU is the CPU, shading each pixel of the window costs about
    // twenty times what copying does: a single view's canvas is composed by the
    // processor in the window's texel order, which the presenter copies. The
    // eyes of a pair are drawn through shaders whatever their order.
    const bool composed = !snap.isStereoscopicMode && GpuDevice::shared().isSoftwareRenderer();
    outcome.leftTexture = canvas(snap.phase, StorageMode::gpuPrivate, primaryCanvasPool(),
                                 composed ? CanvasTiles::composedByProcessor : CanvasTiles::copied);
    if (snap.isStereoscopicMode)
        outcome.rightTexture = canvas(snap.phase + snap.stereoPhaseOffset, StorageMode::gpuPrivate,
                                      secondaryCanvasPool());
    return outcome;
}

// The CPU and image-filter generators' autostereogram is left-anchored; the
// GPU generator's, made here on its CPU route, is centred.
enum class Autostereogram { leftAnchored, centred };

RenderOutcome renderCPU(const RenderSnapshot& snap, const CanvasGeometry& g,
                        const std::vector<double>& multipliers, AppModel::RenderingMode mode,
                        SIRDSShiftCache& cache, const PatchGenerator& generator,
                        RenderOutcome outcome,
                        Autostereogram autostereogram = Autostereogram::leftAnchored) {
    if (snap.tileParams.empty())
        return outcome;
    const CpuInputs in{snap,
                       multipliers,
                       mode == AppModel::RenderingMode::imageFilter,
                       mode == AppModel::RenderingMode::gpu,
                       g.P,
                       generator};

    const PatchList left = makePatches(in, snap.phase);
    if (left.madeCount == 0) {
        outcome.kind = RenderOutcome::Kind::cpuFailure;
        return outcome;
    }
    outcome.kind = RenderOutcome::Kind::cpuCanvas;
    const std::map<int, RGBAImage> leftSpins = makeSpinImages(in, snap.phase);
    outcome.leftImage =
        composeCanvas(g.renderW, g.renderH, g.P, left.patches, snap.variantIndices, leftSpins);

    if (snap.isStereoscopicMode) {
        const double rightPhase = snap.phase + snap.stereoPhaseOffset;
        const PatchList right = makePatches(in, rightPhase);
        if (right.madeCount == left.madeCount)
            outcome.rightImage = composeCanvas(g.renderW, g.renderH, g.P, right.patches,
                                               snap.variantIndices, makeSpinImages(in, rightPhase));
    }
    if (snap.isAutostereogramMode && outcome.leftImage)
        outcome.sirdsImage =
            autostereogram == Autostereogram::centred
                ? makeAutostereogramCentred(*outcome.leftImage, g.canvasW, g.canvasH,
                                            static_cast<int>(snap.sirdsStripColumns), cache)
                : makeAutostereogram(*outcome.leftImage, g.canvasW, g.canvasH, cache);
    return outcome;
}

// The patch kernel's picture: it takes the orientation and the phase reduced to
// one turn, so the CPU reference gets them so too.
std::optional<RGBAImage> kernelPatchOnCpu(bool, bool, double width, double height, double frequency,
                                          double orientation, double phase, double sigma,
                                          double contrast, double radiusScale) {
    return synthesizePatchCPU(width, height, frequency, std::fmod(orientation, 360.0),
                              std::fmod(phase, 2 * std::numbers::pi), sigma, contrast, radiusScale);
}

RenderOutcome outcomeFor(const RenderSnapshot& snapshot, const CanvasGeometry& g) {
    RenderOutcome outcome;
    outcome.renderCount = snapshot.renderCount;
    outcome.isStereoscopicMode = snapshot.isStereoscopicMode;
    outcome.renderW = g.renderW;
    outcome.canvasH = g.renderH;
    return outcome;
}

} // namespace

double stereoPhaseOffset(double stereoPhaseDisparity) {
    const double disparity = std::fmod(stereoPhaseDisparity, 2.0);
    return std::isfinite(disparity) ? disparity * std::numbers::pi : 0.0;
}

double passScale(double backingScale, double animationRenderScale) {
    const double renderScale =
        std::isfinite(animationRenderScale) ? std::clamp(animationRenderScale, 0.4, 1.0) : 1.0;
    return backingScale * renderScale;
}

CanvasGeometry passGeometry(const RenderSnapshot& snapshot, double animationRenderScale) {
    return canvasGeometry(snapshot.viewWidth, snapshot.viewHeight,
                          passScale(snapshot.backingScale, animationRenderScale),
                          snapshot.maxPatchSize, snapshot.isAutostereogramMode,
                          snapshot.isStereoscopicMode, snapshot.sirdsStripColumns,
                          snapshot.stereoLayout, snapshot.stereoPair);
}

std::vector<double> breathingMultipliers(const std::vector<double>& offsets,
                                         double breathingPhase) {
    std::vector<double> multipliers;
    multipliers.reserve(offsets.size());
    for (double offset : offsets)
        multipliers.push_back(1.0 + 0.3 * std::sin(breathingPhase + offset));
    return multipliers;
}

std::optional<RGBAImage> generatePatchImage(bool useImageFilter, bool useGPU, double width,
                                            double height, double frequency, double orientation,
                                            double phase, double sigma, double contrast,
                                            double radiusScale) {
    if (useImageFilter)
        return generatePatchFilter(width, height, frequency, orientation, phase, sigma, contrast);
    if (useGPU)
        return generatePatchGPU(width, height, frequency, orientation, phase, sigma, contrast,
                                radiusScale);
    return synthesizePatchCPU(width, height, frequency, orientation, phase, sigma, contrast,
                              radiusScale);
}

RenderOutcome renderFrame(const RenderSnapshot& snapshot, AppModel::RenderingMode renderingMode,
                          double animationRenderScale, SIRDSShiftCache& sirdsShiftCache) {
    static const PatchGenerator generator(&generatePatchImage);
    return renderFrame(snapshot, renderingMode, animationRenderScale, sirdsShiftCache, generator);
}

RenderOutcome renderFrame(const RenderSnapshot& snapshot, AppModel::RenderingMode renderingMode,
                          double animationRenderScale, SIRDSShiftCache& sirdsShiftCache,
                          const PatchGenerator& generator) {
    const CanvasGeometry g = passGeometry(snapshot, animationRenderScale);
    const std::vector<double> multipliers =
        breathingMultipliers(snapshot.breathingPhaseOffsets, snapshot.breathingPhase);
    RenderOutcome outcome = outcomeFor(snapshot, g);
    if (renderingMode == AppModel::RenderingMode::gpu && !snapshot.tileParams.empty())
        return renderGPU(snapshot, g, multipliers, sirdsShiftCache, std::move(outcome));
    return renderCPU(snapshot, g, multipliers, renderingMode, sirdsShiftCache, generator,
                     std::move(outcome));
}

RenderOutcome renderFrameOnCpu(const RenderSnapshot& snapshot, double animationRenderScale,
                               SIRDSShiftCache& sirdsShiftCache) {
    static const PatchGenerator generator(&kernelPatchOnCpu);
    const CanvasGeometry g = passGeometry(snapshot, animationRenderScale);
    return renderCPU(snapshot, g,
                     breathingMultipliers(snapshot.breathingPhaseOffsets, snapshot.breathingPhase),
                     AppModel::RenderingMode::cpu, sirdsShiftCache, generator,
                     outcomeFor(snapshot, g), Autostereogram::centred);
}
