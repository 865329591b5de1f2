#pragma once

#include "SystemLoadMonitor.h"

#include <optional>

class AppModel;

// The animation kinds that want display ticks, with the user's frame cap.
struct AnimationActivity {
    bool phase = false;      // phase animation, unpaused
    bool rotation = false;   // rotation, unpaused
    bool spin = false;       // random tile spin, unpaused
    bool illuminant = false; // illuminant drift ignores the pause
    bool breathing = false;  // breathing, unpaused
    double maxFPS = 30;      // animationMaxFPS

    static AnimationActivity fromModel(const AppModel& model);
    bool any() const { return phase || rotation || spin || illuminant || breathing; }
};

// 0.5 in low-power mode, else 1, times the thermal state's factor.
double loadFactor(bool isLowPowerModeEnabled, ThermalState thermalState);

// The display-link rate for the active kinds, or nothing when none is active.
// Never below 15: load only lowers the rate towards that floor.
std::optional<double> animationFrameRate(const AnimationActivity& activity, double loadFactor);
