#pragma once

#include "BuildInfo.h"

#include <QString>
#include <QtGlobal>

// Everything the status bar's text depends on.
struct StatusTextInputs {
    bool showStatusDetail = false;
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
    bool isAutostereogramMode = false;
    qint64 sirdsStripColumns = 3;
};

// The frame rate (" 60fps") or, in detail, five lines summarising the settings.
QString statusText(const StatusTextInputs& in);

// The label of the depth preset nearest to a disparity; ties go to the shallower.
QString depthPresetLabel(double stereoPhaseDisparity);
