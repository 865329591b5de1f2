#pragma once

#include <QList>
#include <QString>
#include <optional>

class AppModel;

// Preset choices of the control panel. Each maps onto plain settings of AppModel;
// nothing here is stored.

enum class RenderScaleOption { half, threeQuarter, full };
enum class FrameRateOption { fps15, fps30, fps60 };
enum class AnimationSpeed { slow, normal, fast };
enum class DepthOption { shallow, normal, deep };

namespace RenderScaleOptions {
QList<RenderScaleOption> allCases();
QString rawValue(RenderScaleOption o);
std::optional<RenderScaleOption> fromRawValue(const QString& raw); // exact match only
double scale(RenderScaleOption o);
QString label(RenderScaleOption o);                           // verbatim, e.g. "0.5x"
RenderScaleOption nearestOption(double animationRenderScale); // ties to the earlier case
void apply(RenderScaleOption o, AppModel& model);
} // namespace RenderScaleOptions

namespace FrameRateOptions {
QList<FrameRateOption> allCases();
QString rawValue(FrameRateOption o);
std::optional<FrameRateOption> fromRawValue(const QString& raw);
double framesPerSecond(FrameRateOption o);
QString label(FrameRateOption o); // verbatim, e.g. "15fps"
FrameRateOption nearestOption(double animationMaxFPS);
void apply(FrameRateOption o, AppModel& model);
} // namespace FrameRateOptions

namespace AnimationSpeeds {
QList<AnimationSpeed> allCases();
QString rawValue(AnimationSpeed o);
std::optional<AnimationSpeed> fromRawValue(const QString& raw);
double phaseSpeed(AnimationSpeed o);
double rotationSpeed(AnimationSpeed o);
QString label(AnimationSpeed o); // through the localisation lookup
AnimationSpeed nearestOption(double phaseAnimationSpeed, double rotationAnimationSpeed);
void apply(AnimationSpeed o, AppModel& model);
} // namespace AnimationSpeeds

// The stereo pair's depth presets, shared by the panel and the status bar.
namespace DepthOptions {
QList<DepthOption> allCases();
double disparity(DepthOption o); // stereoPhaseDisparity, in units of pi
QString label(DepthOption o);    // through the localisation lookup
DepthOption nearestOption(double stereoPhaseDisparity);
void apply(DepthOption o, AppModel& model);
} // namespace DepthOptions
