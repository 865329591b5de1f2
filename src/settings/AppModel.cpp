#include "AppModel.h"

#include <QHash>
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

// A NaN must land on a bound too, or "clamped differs from stored" would recurse forever.
double clampTo(double v, double lo, double hi) {
    if (std::isnan(v))
        return lo;
    return std::min(std::max(v, lo), hi);
}

qint64 clampTo(qint64 v, qint64 lo, qint64 hi) {
    return std::clamp(v, lo, hi);
}

} // namespace

QString AppModel::rawValue(RenderingMode mode) {
    switch (mode) {
    case RenderingMode::cpu:
        return QStringLiteral("CPU");
    case RenderingMode::imageFilter:
        return QStringLiteral("Core Image");
    case RenderingMode::gpu:
        return QStringLiteral("Metal");
    }
    return {};
}

std::optional<AppModel::RenderingMode> AppModel::renderingModeFromRawValue(const QString& raw) {
    for (RenderingMode mode : allRenderingModes()) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

QList<AppModel::RenderingMode> AppModel::allRenderingModes() {
    return {RenderingMode::cpu, RenderingMode::imageFilter, RenderingMode::gpu};
}

AppModel::AppModel(QObject* parent) : AppModel(std::make_shared<FilePreferencesStore>(), parent) {}

AppModel::AppModel(std::shared_ptr<PreferencesStore> store, QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_randomizeNonce(QUuid::createUuid()) {
    restore();
}

AppModel::~AppModel() = default;

void AppModel::notify(Signal signal) {
    emit(this->*signal)();
    emit changed();
}

// Every assignment writes the store, even an unchanged one; only a change notifies,
// and only after the rule has run, so observers never see a half-applied rule.
void AppModel::assignBool(bool& field, bool v, const QString& key, Signal signal) {
    const bool differs = field != v;
    field = v;
    m_store->setBool(key, v);
    if (differs)
        notify(signal);
}

void AppModel::assignDouble(double& field, double v, const QString& key, Signal signal) {
    const bool differs = field != v;
    field = v;
    m_store->setDouble(key, v);
    if (differs)
        notify(signal);
}

void AppModel::assignTransientBool(bool& field, bool v, Signal signal) {
    const bool differs = field != v;
    field = v;
    if (differs)
        notify(signal);
}

// The clamp is a nested assignment: a clamped value notifies twice (raw, then
// clamped) and the store ends with the clamped one.
template <typename T>
void AppModel::assignClamped(T& field, T v, T lo, T hi, const QString& key, Signal signal) {
    const bool differs = field != v;
    field = v;
    const T c = clampTo(v, lo, hi);
    if (c != field)
        assignClamped(field, c, lo, hi, key, signal);
    else
        write(key, c);
    if (differs)
        notify(signal);
}

// Persisted first; then a true value turns the other depth mode off.
void AppModel::assignExclusive(bool& field, bool v, const QString& key, Signal signal,
                               void (AppModel::*setOther)(bool)) {
    const bool differs = field != v;
    field = v;
    m_store->setBool(key, v);
    if (v)
        (this->*setOther)(false);
    if (differs)
        notify(signal);
}

void AppModel::setMaxPatchSize(double v) {
    assignDouble(m_maxPatchSize, v, QStringLiteral("maxPatchSize"), &AppModel::maxPatchSizeChanged);
}

void AppModel::setPhaseAnimationSpeed(double v) {
    assignDouble(m_phaseAnimationSpeed, v, QStringLiteral("phaseAnimationSpeed"),
                 &AppModel::phaseAnimationSpeedChanged);
}

void AppModel::setRotationAnimationSpeed(double v) {
    assignDouble(m_rotationAnimationSpeed, v, QStringLiteral("rotationAnimationSpeed"),
                 &AppModel::rotationAnimationSpeedChanged);
}

void AppModel::setIsPhaseAnimationEnabled(bool v) {
    assignBool(m_isPhaseAnimationEnabled, v, QStringLiteral("isPhaseAnimationEnabled"),
               &AppModel::isPhaseAnimationEnabledChanged);
}

void AppModel::setIsRotationAnimationEnabled(bool v) {
    assignBool(m_isRotationAnimationEnabled, v, QStringLiteral("isRotationAnimationEnabled"),
               &AppModel::isRotationAnimationEnabledChanged);
}

void AppModel::setAnimationMaxFPS(double v) {
    assignDouble(m_animationMaxFPS, v, QStringLiteral("animationMaxFPS"),
                 &AppModel::animationMaxFPSChanged);
}

void AppModel::setAnimationRenderScale(double v) {
    const bool differs = m_animationRenderScale.load() != v;
    m_animationRenderScale.store(v);
    m_store->setDouble(QStringLiteral("animationRenderScale"), v);
    if (differs)
        notify(&AppModel::animationRenderScaleChanged);
}

void AppModel::setRenderingMode(RenderingMode v) {
    const bool differs = m_renderingMode.load() != v;
    m_renderingMode.store(v);
    m_store->setObject(QStringLiteral("renderingMode"), rawValue(v));
    if (differs)
        notify(&AppModel::renderingModeChanged);
}

void AppModel::setShowStatusBar(bool v) {
    assignBool(m_showStatusBar, v, QStringLiteral("showStatusBar"),
               &AppModel::showStatusBarChanged);
}

void AppModel::setIsRandomTileSpinEnabled(bool v) {
    assignBool(m_isRandomTileSpinEnabled, v, QStringLiteral("isRandomTileSpinEnabled"),
               &AppModel::isRandomTileSpinEnabledChanged);
}

void AppModel::setIsBreathingEnabled(bool v) {
    assignBool(m_isBreathingEnabled, v, QStringLiteral("isBreathingEnabled"),
               &AppModel::isBreathingEnabledChanged);
}

void AppModel::setRandomSpinInterval(double v) {
    assignDouble(m_randomSpinInterval, v, QStringLiteral("randomSpinInterval"),
                 &AppModel::randomSpinIntervalChanged);
}

void AppModel::setIsStereoscopicMode(bool v) {
    assignExclusive(m_isStereoscopicMode, v, QStringLiteral("isStereoscopicMode"),
                    &AppModel::isStereoscopicModeChanged, &AppModel::setIsAutostereogramMode);
}

void AppModel::setStereoPhaseDisparity(double v) {
    assignDouble(m_stereoPhaseDisparity, v, QStringLiteral("stereoPhaseDisparity"),
                 &AppModel::stereoPhaseDisparityChanged);
}

void AppModel::setIsColorMode(bool v) {
    assignBool(m_isColorMode, v, QStringLiteral("isColorMode"), &AppModel::isColorModeChanged);
}

void AppModel::setColorModeBlackLevel(double v) {
    const bool differs = m_colorModeBlackLevel != v;
    m_colorModeBlackLevel = v;
    if (v != 1.0)
        setColorModeBlackLevel(1.0);
    else
        m_store->setDouble(QStringLiteral("colorModeBlackLevel"), 1.0);
    if (differs)
        notify(&AppModel::colorModeBlackLevelChanged);
}

void AppModel::setIsColorInverted(bool v) {
    assignBool(m_isColorInverted, v, QStringLiteral("isColorInverted"),
               &AppModel::isColorInvertedChanged);
}

void AppModel::setDisplayGamma(double v) {
    assignClamped(m_displayGamma, v, 0.5, 2.0, QStringLiteral("displayGamma"),
                  &AppModel::displayGammaChanged);
}

void AppModel::setDisplayBlackLift(double v) {
    assignClamped(m_displayBlackLift, v, 0.0, 1.0, QStringLiteral("displayBlackLift"),
                  &AppModel::displayBlackLiftChanged);
}

void AppModel::setIsIlluminantMode(bool v) {
    assignBool(m_isIlluminantMode, v, QStringLiteral("isIlluminantMode"),
               &AppModel::isIlluminantModeChanged);
}

void AppModel::setIsAutostereogramMode(bool v) {
    assignExclusive(m_isAutostereogramMode, v, QStringLiteral("isAutostereogramMode"),
                    &AppModel::isAutostereogramModeChanged, &AppModel::setIsStereoscopicMode);
}

void AppModel::setSirdsStripColumns(qint64 v) {
    assignClamped<qint64>(m_sirdsStripColumns, v, 2, 6, QStringLiteral("sirdsStripColumns"),
                          &AppModel::sirdsStripColumnsChanged);
}

void AppModel::setStereoLayout(StereoLayout v) {
    const bool differs = m_stereoLayout != v;
    m_stereoLayout = v;
    m_store->setObject(QStringLiteral("stereoLayout"), StereoLayouts::rawValue(v));
    m_store->setBool(QStringLiteral("isCrossEyedStereo"), v == StereoLayout::cross);
    if (differs)
        notify(&AppModel::stereoLayoutChanged);
}

void AppModel::setStereoPairWidth(double v) {
    assignClamped(m_stereoPairWidth, v, 0.0, 100.0, QStringLiteral("stereoPairWidth"),
                  &AppModel::stereoPairWidthChanged);
}

void AppModel::setStereoPairGap(double v) {
    assignClamped(m_stereoPairGap, v, 0.0, 20.0, QStringLiteral("stereoPairGap"),
                  &AppModel::stereoPairGapChanged);
}

void AppModel::setShowFusionMarks(bool v) {
    assignBool(m_showFusionMarks, v, QStringLiteral("showFusionMarks"),
               &AppModel::showFusionMarksChanged);
}

void AppModel::setShowSettings(bool v) {
    assignTransientBool(m_showSettings, v, &AppModel::showSettingsChanged);
}

void AppModel::setShowControlPanel(bool v) {
    assignTransientBool(m_showControlPanel, v, &AppModel::showControlPanelChanged);
}

void AppModel::setRandomizeNonce(const QUuid& v) {
    const bool differs = m_randomizeNonce != v;
    m_randomizeNonce = v;
    if (differs)
        notify(&AppModel::randomizeNonceChanged);
}

void AppModel::setIsAnimationPaused(bool v) {
    assignTransientBool(m_isAnimationPaused, v, &AppModel::isAnimationPausedChanged);
}

bool AppModel::isAnyAnimationEnabled() const {
    return m_isRotationAnimationEnabled || m_isPhaseAnimationEnabled || m_isBreathingEnabled ||
           m_isRandomTileSpinEnabled;
}

namespace {

// One setting that a reset puts back: its default, and how to read and assign it.
struct ResetStep {
    QVariant defaultValue;
    std::function<QVariant(const AppModel&)> get;
    std::function<void(AppModel&, const QVariant&)> set;
};

template <typename T>
ResetStep resetStep(T (AppModel::*get)() const, void (AppModel::*set)(T), T defaultValue) {
    return {QVariant::fromValue(defaultValue),
            [get](const AppModel& m) { return QVariant::fromValue((m.*get)()); },
            [set](AppModel& m, const QVariant& v) { (m.*set)(v.value<T>()); }};
}

// In the reset's order. Assigned in this order, the values read before a reset
// come back whole: of the two exclusive depth modes the one that was on is
// assigned last.
const std::vector<ResetStep>& resetSteps() {
    static const std::vector<ResetStep> steps = {
        resetStep(&AppModel::maxPatchSize, &AppModel::setMaxPatchSize, 128.0),
        resetStep(&AppModel::phaseAnimationSpeed, &AppModel::setPhaseAnimationSpeed, 1.0),
        resetStep(&AppModel::rotationAnimationSpeed, &AppModel::setRotationAnimationSpeed, 30.0),
        resetStep(&AppModel::isPhaseAnimationEnabled, &AppModel::setIsPhaseAnimationEnabled, false),
        resetStep(&AppModel::isRotationAnimationEnabled, &AppModel::setIsRotationAnimationEnabled,
                  false),
        resetStep(&AppModel::animationMaxFPS, &AppModel::setAnimationMaxFPS, 30.0),
        resetStep(&AppModel::animationRenderScale, &AppModel::setAnimationRenderScale, 1.0),
        resetStep(&AppModel::isRandomTileSpinEnabled, &AppModel::setIsRandomTileSpinEnabled, false),
        resetStep(&AppModel::isBreathingEnabled, &AppModel::setIsBreathingEnabled, false),
        resetStep(&AppModel::randomSpinInterval, &AppModel::setRandomSpinInterval, 2.0),
        resetStep(&AppModel::isStereoscopicMode, &AppModel::setIsStereoscopicMode, false),
        resetStep(&AppModel::stereoPhaseDisparity, &AppModel::setStereoPhaseDisparity, 0.25),
        resetStep(&AppModel::isColorMode, &AppModel::setIsColorMode, false),
        resetStep(&AppModel::isColorInverted, &AppModel::setIsColorInverted, false),
        resetStep(&AppModel::displayGamma, &AppModel::setDisplayGamma, 1.0),
        resetStep(&AppModel::displayBlackLift, &AppModel::setDisplayBlackLift, 0.0),
        resetStep(&AppModel::isIlluminantMode, &AppModel::setIsIlluminantMode, false),
        resetStep(&AppModel::isAutostereogramMode, &AppModel::setIsAutostereogramMode, false),
        resetStep(&AppModel::sirdsStripColumns, &AppModel::setSirdsStripColumns, qint64(3)),
        resetStep(&AppModel::stereoLayout, &AppModel::setStereoLayout, StereoLayout::parallel),
        resetStep(&AppModel::stereoPairWidth, &AppModel::setStereoPairWidth, 0.0),
        resetStep(&AppModel::stereoPairGap, &AppModel::setStereoPairGap, 0.0),
        resetStep(&AppModel::showFusionMarks, &AppModel::setShowFusionMarks, false),
    };
    return steps;
}

} // namespace

void AppModel::resetToDefaults() {
    for (const ResetStep& step : resetSteps())
        step.set(*this, step.defaultValue);
}

QVariantList AppModel::resettableValues() const {
    QVariantList values;
    for (const ResetStep& step : resetSteps())
        values << step.get(*this);
    return values;
}

void AppModel::restoreResettableValues(const QVariantList& values) {
    const std::vector<ResetStep>& steps = resetSteps();
    if (values.size() != qsizetype(steps.size()))
        return;
    for (std::size_t i = 0; i < steps.size(); ++i)
        steps[i].set(*this, values[qsizetype(i)]);
}

void AppModel::requestRandomize() {
    setRandomizeNonce(QUuid::createUuid());
}

void AppModel::restore() {
    // Every key is read before anything is assigned: restoring isStereoscopicMode = true
    // writes false under "isAutostereogramMode", and a stored true there must still win.
    static const char* const keys[] = {"maxPatchSize",
                                       "phaseAnimationSpeed",
                                       "rotationAnimationSpeed",
                                       "isPhaseAnimationEnabled",
                                       "isRotationAnimationEnabled",
                                       "animationMaxFPS",
                                       "animationRenderScale",
                                       "showStatusBar",
                                       "isRandomTileSpinEnabled",
                                       "isBreathingEnabled",
                                       "randomSpinInterval",
                                       "isStereoscopicMode",
                                       "stereoPhaseDisparity",
                                       "isColorMode",
                                       "isIlluminantMode",
                                       "isColorInverted",
                                       "displayGamma",
                                       "displayBlackLift",
                                       "isAutostereogramMode",
                                       "sirdsStripColumns",
                                       "isCrossEyedStereo",
                                       "stereoLayout",
                                       "stereoPairWidth",
                                       "stereoPairGap",
                                       "showFusionMarks"};
    QHash<QString, QVariant> stored;
    for (const char* key : keys)
        stored.insert(QLatin1String(key), m_store->objectForKey(QLatin1String(key)));

    // A value of the wrong kind leaves the default and stays in the store untouched.
    const auto restoreDouble = [&](const char* key, void (AppModel::*setter)(double)) {
        if (const auto v = readDouble(stored.value(QLatin1String(key))))
            (this->*setter)(*v);
    };
    const auto restoreBool = [&](const char* key, void (AppModel::*setter)(bool)) {
        if (const auto v = readBool(stored.value(QLatin1String(key))))
            (this->*setter)(*v);
    };

    restoreDouble("maxPatchSize", &AppModel::setMaxPatchSize);
    restoreDouble("phaseAnimationSpeed", &AppModel::setPhaseAnimationSpeed);
    restoreDouble("rotationAnimationSpeed", &AppModel::setRotationAnimationSpeed);
    restoreBool("isPhaseAnimationEnabled", &AppModel::setIsPhaseAnimationEnabled);
    restoreBool("isRotationAnimationEnabled", &AppModel::setIsRotationAnimationEnabled);
    restoreDouble("animationMaxFPS", &AppModel::setAnimationMaxFPS);
    restoreDouble("animationRenderScale", &AppModel::setAnimationRenderScale);

    // The stored generator is never read: every start uses the GPU.
    setRenderingMode(RenderingMode::gpu);

    restoreBool("showStatusBar", &AppModel::setShowStatusBar);
    restoreBool("isRandomTileSpinEnabled", &AppModel::setIsRandomTileSpinEnabled);
    restoreBool("isBreathingEnabled", &AppModel::setIsBreathingEnabled);
    // The animation clock divides by this interval; a non-positive one counts as unreadable.
    if (const auto v = readDouble(stored.value(QStringLiteral("randomSpinInterval")));
        v && *v > 0.0)
        setRandomSpinInterval(*v);
    restoreBool("isStereoscopicMode", &AppModel::setIsStereoscopicMode);
    restoreDouble("stereoPhaseDisparity", &AppModel::setStereoPhaseDisparity);
    restoreBool("isColorMode", &AppModel::setIsColorMode);

    setColorModeBlackLevel(1.0);

    restoreBool("isIlluminantMode", &AppModel::setIsIlluminantMode);
    restoreBool("isColorInverted", &AppModel::setIsColorInverted);
    restoreDouble("displayGamma", &AppModel::setDisplayGamma);
    restoreDouble("displayBlackLift", &AppModel::setDisplayBlackLift);
    restoreBool("isAutostereogramMode", &AppModel::setIsAutostereogramMode);
    if (const auto v = readInteger(stored.value(QStringLiteral("sirdsStripColumns"))))
        setSirdsStripColumns(*v);
    // A file from before the layouts knows only parallel and cross-eyed; that
    // key is only read, so a start over such a file writes nothing new, and a
    // layout this build cannot read (a later build's, say) stays in the file.
    if (const auto v =
            StereoLayouts::fromRawValue(stored.value(QStringLiteral("stereoLayout")).toString()))
        setStereoLayout(*v);
    else if (const auto crossed = readBool(stored.value(QStringLiteral("isCrossEyedStereo"))))
        m_stereoLayout = *crossed ? StereoLayout::cross : StereoLayout::parallel;
    restoreDouble("stereoPairWidth", &AppModel::setStereoPairWidth);
    restoreDouble("stereoPairGap", &AppModel::setStereoPairGap);
    restoreBool("showFusionMarks", &AppModel::setShowFusionMarks);
}
