#include "FrameRatePolicy.h"

#include "AppModel.h"

#include <algorithm>

namespace {

double clampRate(double m, double lo, double hi) {
    if (m < lo)
        return lo;
    if (m >= hi)
        return hi;
    return m;
}

} // namespace

AnimationActivity AnimationActivity::fromModel(const AppModel& model) {
    const bool unpaused = !model.isAnimationPaused();
    AnimationActivity a;
    a.phase = model.isPhaseAnimationEnabled() && unpaused;
    a.rotation = model.isRotationAnimationEnabled() && unpaused;
    a.spin = model.isRandomTileSpinEnabled() && unpaused;
    a.illuminant = model.isIlluminantMode();
    a.breathing = model.isBreathingEnabled() && unpaused;
    a.maxFPS = model.animationMaxFPS();
    return a;
}

double loadFactor(bool isLowPowerModeEnabled, ThermalState thermalState) {
    double f = isLowPowerModeEnabled ? 0.5 : 1.0;
    switch (thermalState) {
    case ThermalState::nominal:
        break;
    case ThermalState::fair:
        f *= 0.75;
        break;
    case ThermalState::serious:
        f *= 0.5;
        break;
    case ThermalState::critical:
        f *= 0.25;
        break;
    }
    return f;
}

std::optional<double> animationFrameRate(const AnimationActivity& activity, double f) {
    if (!activity.any())
        return std::nullopt;
    const double m = activity.maxFPS;
    double fps = 15.0;
    if (activity.phase || activity.rotation)
        fps = std::max(15.0, f * clampRate(m, 5, 120));
    if (activity.spin)
        fps = std::max(fps, f * clampRate(m, 15, 60));
    if (activity.illuminant)
        fps = std::max(fps, f * 30);
    return fps;
}
