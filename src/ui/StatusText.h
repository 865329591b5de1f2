#pragma once

#include "BuildInfo.h"
#include "StereoLayout.h"

#include <QString>
#include <QtGlobal>
#include <cstdint>

// Everything the status bar's text depends on.
struct StatusTextInputs {
    bool showStatusDetail = false;
    // Frames come (an animation runs, or the illuminant drifts); paused with an
    // animation switched on; no animation at all.
    enum class Motion { running, paused, still } motion = Motion::running;
    int lastFps = 0;
    double maxPatchSize = 128; // the view's copy
    double viewWidth = 0;      // points
    bool isIlluminantMode = false;
    bool isColorMode = false;
    bool isColorInverted = false;
    double displayBlackLift = 0;
    bool isRotationAnimationEnabled = false;
    bool isPhaseAnimationEnabled = false;
    bool isBreathingEnabled = false;
    bool isRandomTileSpinEnabled = false;
    bool isStereoscopicMode = false;
    double stereoPhaseDisparity = 0.25;
    StereoLayout stereoLayout = StereoLayout::parallel;
    bool isAutostereogramMode = false;
    qint64 sirdsStripColumns = 3;
    std::uint64_t patternSeed = 0;
};

// The frame rate (" 60fps"), "一時停止" or "静止"; or, in detail, six lines
// summarising the settings and the seed.
QString statusText(const StatusTextInputs& in);

// The label of the depth preset nearest to a disparity; ties go to the shallower.
QString depthPresetLabel(double stereoPhaseDisparity);
