#pragma once

#include "AnimationState.h"
#include "AppModel.h"
#include "Autostereogram.h"
#include "FrameImage.h"
#include "Rational.h"
#include "RenderPass.h"
#include "TileSet.h"

#include <QSize>
#include <cstdint>
#include <optional>

// Everything a picture depends on, as plain values. The command-line renderer,
// the video export and every other way of making frames outside the live window
// go from one of these to one picture, so one request gives the same bytes
// everywhere.
struct RenderRequest {
    std::uint64_t seed = 0;    // the pattern seed
    double viewWidth = 800;    // points
    double viewHeight = 600;   // points
    double backingScale = 1;   // pixels per point
    double maxPatchSize = 128; // pixels
    AppModel::RenderingMode renderingMode = AppModel::RenderingMode::gpu;
    // The GPU generator's bytes made by its CPU route (renderFrameOnCpu): no
    // display, no GPU. The image filter has no such route and fails.
    bool withoutGpu = false;
    double animationRenderScale = 1; // clamped to [0.4, 1] by the pass
    bool isStereoscopicMode = false;
    bool isAutostereogramMode = false;
    std::int64_t sirdsStripColumns = 3; // clamped to [2, 6]
    bool isColorMode = false;
    double colorModeBlackLevel = 1;
    double stereoPhaseDisparity = 0.25; // units of pi
    StereoLayout stereoLayout = StereoLayout::parallel;
    StereoPairSize stereoPair{}; // points: a side-by-side pair's halves, gap and marks
    double phase = 0;            // carrier phase at time 0, radians
    double breathingPhase = 0;   // breathing phase at time 0, radians
    AnimationSettings animation;
    Rational time;                // seconds from the animation's start
    std::optional<Rational> loop; // a loop's duration: time counts modulo it

    // The picture settings and animation switches of model, the pair's
    // centimetres at the screen's points per centimetre; the seed, the geometry
    // and the time stay as they are.
    void takeSettings(const AppModel& model,
                      double pointsPerCentimetre = kReferencePointsPerCentimetre);
    TileSetInputs tileSetInputs() const;
    // The picture's size in pixels.
    QSize frameSize() const;
};

// A request's tile set, drawn once, and its pictures at any time: the frames
// of one video share it.
class RequestRenderer {
public:
    explicit RequestRenderer(const RenderRequest& request);

    const RenderRequest& request() const { return m_request; }
    const TileSet& tiles() const { return m_tiles; }
    AnimationState stateAt(const Rational& t) const;
    RenderSnapshot snapshotAt(const Rational& t) const;
    // The picture at t as it is written to files: the frame of renderFrameImage
    // tinted by the illuminant when it drifts.
    FrameImage frameAt(const Rational& t);
    FrameImage frame() { return frameAt(m_request.time); }

private:
    RenderRequest m_request;
    TileSet m_tiles;
    SIRDSShiftCache m_shiftCache;
};

// One picture of one request.
FrameImage renderRequest(const RenderRequest& request);

// The window's illuminant tint applied to image's colours: each channel times
// the illuminant's colour at hue, rounded to the nearest byte, as the window's
// blit does.
void applyIlluminantTint(QImage& image, double hue);
