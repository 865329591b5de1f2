#include "OptionEnums.h"

#include "AppModel.h"

#include <QCoreApplication>
#include <cmath>

namespace {

template <typename E, typename Distance> E nearestCase(const QList<E>& cases, Distance distance) {
    E best = cases.first();
    for (E c : cases) {
        // Strictly closer only, so ties keep the earlier case.
        if (distance(c) < distance(best))
            best = c;
    }
    return best;
}

template <typename E>
std::optional<E> caseFromRaw(const QList<E>& cases, const QString& raw, QString (*rawOf)(E)) {
    for (E c : cases) {
        if (rawOf(c) == raw)
            return c;
    }
    return std::nullopt;
}

} // namespace

namespace RenderScaleOptions {

QList<RenderScaleOption> allCases() {
    return {RenderScaleOption::half, RenderScaleOption::threeQuarter, RenderScaleOption::full};
}

QString rawValue(RenderScaleOption o) {
    switch (o) {
    case RenderScaleOption::half:
        return QStringLiteral("half");
    case RenderScaleOption::threeQuarter:
        return QStringLiteral("threeQuarter");
    case RenderScaleOption::full:
        return QStringLiteral("full");
    }
    return {};
}

std::optional<RenderScaleOption> fromRawValue(const QString& raw) {
    return caseFromRaw(allCases(), raw, &rawValue);
}

double scale(RenderScaleOption o) {
    switch (o) {
    case RenderScaleOption::half:
        return 0.5;
    case RenderScaleOption::threeQuarter:
        return 0.75;
    case RenderScaleOption::full:
        return 1.0;
    }
    return 1.0;
}

QString label(RenderScaleOption o) {
    switch (o) {
    case RenderScaleOption::half:
        return QStringLiteral("0.5x");
    case RenderScaleOption::threeQuarter:
        return QStringLiteral("0.75x");
    case RenderScaleOption::full:
        return QStringLiteral("1.0x");
    }
    return {};
}

RenderScaleOption nearestOption(double animationRenderScale) {
    return nearestCase(
        allCases(), [&](RenderScaleOption o) { return std::abs(scale(o) - animationRenderScale); });
}

void apply(RenderScaleOption o, AppModel& model) {
    model.setAnimationRenderScale(scale(o));
}

} // namespace RenderScaleOptions

namespace FrameRateOptions {

QList<FrameRateOption> allCases() {
    return {FrameRateOption::fps15, FrameRateOption::fps30, FrameRateOption::fps60};
}

QString rawValue(FrameRateOption o) {
    switch (o) {
    case FrameRateOption::fps15:
        return QStringLiteral("fps15");
    case FrameRateOption::fps30:
        return QStringLiteral("fps30");
    case FrameRateOption::fps60:
        return QStringLiteral("fps60");
    }
    return {};
}

std::optional<FrameRateOption> fromRawValue(const QString& raw) {
    return caseFromRaw(allCases(), raw, &rawValue);
}

double framesPerSecond(FrameRateOption o) {
    switch (o) {
    case FrameRateOption::fps15:
        return 15.0;
    case FrameRateOption::fps30:
        return 30.0;
    case FrameRateOption::fps60:
        return 60.0;
    }
    return 30.0;
}

QString label(FrameRateOption o) {
    switch (o) {
    case FrameRateOption::fps15:
        return QStringLiteral("15fps");
    case FrameRateOption::fps30:
        return QStringLiteral("30fps");
    case FrameRateOption::fps60:
        return QStringLiteral("60fps");
    }
    return {};
}

FrameRateOption nearestOption(double animationMaxFPS) {
    return nearestCase(allCases(), [&](FrameRateOption o) {
        return std::abs(framesPerSecond(o) - animationMaxFPS);
    });
}

void apply(FrameRateOption o, AppModel& model) {
    model.setAnimationMaxFPS(framesPerSecond(o));
}

} // namespace FrameRateOptions

namespace AnimationSpeeds {

QList<AnimationSpeed> allCases() {
    return {AnimationSpeed::slow, AnimationSpeed::normal, AnimationSpeed::fast};
}

QString rawValue(AnimationSpeed o) {
    switch (o) {
    case AnimationSpeed::slow:
        return QStringLiteral("slow");
    case AnimationSpeed::normal:
        return QStringLiteral("normal");
    case AnimationSpeed::fast:
        return QStringLiteral("fast");
    }
    return {};
}

std::optional<AnimationSpeed> fromRawValue(const QString& raw) {
    return caseFromRaw(allCases(), raw, &rawValue);
}

double phaseSpeed(AnimationSpeed o) {
    switch (o) {
    case AnimationSpeed::slow:
        return 0.5;
    case AnimationSpeed::normal:
        return 1.0;
    case AnimationSpeed::fast:
        return 2.0;
    }
    return 1.0;
}

double rotationSpeed(AnimationSpeed o) {
    switch (o) {
    case AnimationSpeed::slow:
        return 10.0;
    case AnimationSpeed::normal:
        return 30.0;
    case AnimationSpeed::fast:
        return 90.0;
    }
    return 30.0;
}

QString label(AnimationSpeed o) {
    switch (o) {
    case AnimationSpeed::slow:
        return QCoreApplication::translate("AnimationSpeed", "遅い");
    case AnimationSpeed::normal:
        return QCoreApplication::translate("AnimationSpeed", "普通");
    case AnimationSpeed::fast:
        return QCoreApplication::translate("AnimationSpeed", "速い");
    }
    return {};
}

AnimationSpeed nearestOption(double phaseAnimationSpeed, double rotationAnimationSpeed) {
    return nearestCase(allCases(), [&](AnimationSpeed o) {
        return std::abs(phaseSpeed(o) - phaseAnimationSpeed) +
               std::abs(rotationSpeed(o) - rotationAnimationSpeed);
    });
}

void apply(AnimationSpeed o, AppModel& model) {
    model.setPhaseAnimationSpeed(phaseSpeed(o));
    model.setRotationAnimationSpeed(rotationSpeed(o));
}

} // namespace AnimationSpeeds

namespace DepthOptions {

QList<DepthOption> allCases() {
    return {DepthOption::shallow, DepthOption::normal, DepthOption::deep};
}

double disparity(DepthOption o) {
    switch (o) {
    case DepthOption::shallow:
        return 0.1;
    case DepthOption::normal:
        return 0.3;
    case DepthOption::deep:
        return 0.75;
    }
    return 0.3;
}

QString label(DepthOption o) {
    switch (o) {
    case DepthOption::shallow:
        return QCoreApplication::translate("DepthOption", "浅い", "depth option");
    case DepthOption::normal:
        return QCoreApplication::translate("DepthOption", "普通", "depth option");
    case DepthOption::deep:
        return QCoreApplication::translate("DepthOption", "深い", "depth option");
    }
    return {};
}

DepthOption nearestOption(double stereoPhaseDisparity) {
    return nearestCase(
        allCases(), [&](DepthOption o) { return std::abs(disparity(o) - stereoPhaseDisparity); });
}

void apply(DepthOption o, AppModel& model) {
    model.setStereoPhaseDisparity(disparity(o));
}

} // namespace DepthOptions
