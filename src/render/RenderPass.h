#pragma once

#include "AppModel.h"
#include "Autostereogram.h"
#include "GpuTexture.h"
#include "RGBAImage.h"
#include "TileParams.h"
#include "TileSet.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Everything a pass needs from its window, copied on the main thread when the pass
// is requested. The arrays are copies, so the animation clock may move on while a
// pass runs.
struct RenderSnapshot {
    bool force = false;                        // skip the 0.06 s settling delay
    std::int64_t renderCount = 0;              // the pass's generation
    double backingScale = 1;                   // pixels per point
    double viewWidth = 0;                      // points
    double viewHeight = 0;                     // points
    bool isAutostereogramMode = false;         //
    double maxPatchSize = 128;                 // the view's copy
    std::int64_t sirdsStripColumns = 3;        // already clamped to [2, 6]
    bool isStereoscopicMode = false;           //
    std::vector<double> breathingPhaseOffsets; // per set, radians
    double breathingPhase = 0;                 // radians
    double phase = 0;                          // carrier phase, radians
    std::vector<TileParams> tileParams;        // per set
    std::vector<int> variantIndices;           // per cell, row-major from the bottom-left
    std::vector<TileSpin> spins;               // running spins
    std::vector<double> hues;                  // per set, used in colour mode
    bool isColorMode = false;                  //
    double colorModeBlackLevel = 1.0;          //
    double stereoPhaseOffset = 0;              // (stereoPhaseDisparity mod 2) x pi, radians
    StereoLayout stereoLayout = StereoLayout::parallel; //
    StereoPairSize stereoPair{};                        // points; side by side only
};

// The right eye's phase shift for a disparity in units of pi: only the
// remainder modulo 2 counts, and a non-finite disparity shifts nothing.
double stereoPhaseOffset(double stereoPhaseDisparity);

// The scale a pass works at: backing scale times the render scale clamped to
// [0.4, 1] (a non-finite render scale counts as 1).
double passScale(double backingScale, double animationRenderScale);

// The pass's canvas and cell geometry at passScale.
CanvasGeometry passGeometry(const RenderSnapshot& snapshot, double animationRenderScale);

// 1 + 0.3 sin(breathingPhase + offset) for each offset, in set order.
std::vector<double> breathingMultipliers(const std::vector<double>& offsets, double breathingPhase);

// One patch from the generator the rendering mode names: the image filter (which
// takes no radius scale), the GPU kernel, or the CPU reference.
std::optional<RGBAImage> generatePatchImage(bool useImageFilter, bool useGPU, double width,
                                            double height, double frequency, double orientation,
                                            double phase, double sigma, double contrast,
                                            double radiusScale);

using PatchGenerator = std::function<decltype(generatePatchImage)>;

// What a pass produced, and so which completion it calls for.
struct RenderOutcome {
    enum class Kind {
        none,              // nothing to install (no tile set)
        gpuCanvas,         // leftTexture (+ rightTexture in stereo)
        gpuAutostereogram, // leftTexture holds the autostereogram
        cpuFailure,        // no patch could be made
        cpuCanvas,         // sirdsImage / leftImage (+ rightImage in stereo)
    };
    Kind kind = Kind::none;
    std::int64_t renderCount = 0;
    bool isStereoscopicMode = false;
    int renderW = 1; // one eye's canvas, or the autostereogram's strip
    int canvasH = 1; // one eye's canvas, or the autostereogram
    GpuTextureRef leftTexture;
    GpuTextureRef rightTexture;
    std::optional<RGBAImage> sirdsImage;
    std::optional<RGBAImage> leftImage;
    std::optional<RGBAImage> rightImage;
    double passSeconds = 0; // how long the pixel work took, on the worker
};

// The pixel work of one pass, on the calling thread: geometry, breathing, then
// the GPU canvas, GPU autostereogram or CPU path. No delay, no staleness check,
// nothing posted. The GPU paths need GpuDevice; any thread.
RenderOutcome renderFrame(const RenderSnapshot& snapshot, AppModel::RenderingMode renderingMode,
                          double animationRenderScale, SIRDSShiftCache& sirdsShiftCache);
// The GPU generator's picture made with the CPU routines, byte for byte what
// renderFrame makes on the GPU: the kernel's patches from the CPU reference, the
// same tint and tile grid, and the centred autostereogram. Needs no display and
// no GPU; any thread, several at once.
RenderOutcome renderFrameOnCpu(const RenderSnapshot& snapshot, double animationRenderScale,
                               SIRDSShiftCache& sirdsShiftCache);
// renderFrame with the CPU path's patches made by generator (tests).
RenderOutcome renderFrame(const RenderSnapshot& snapshot, AppModel::RenderingMode renderingMode,
                          double animationRenderScale, SIRDSShiftCache& sirdsShiftCache,
                          const PatchGenerator& generator);
