#pragma once

#include "PreferencesStore.h"
#include "StereoLayout.h"

#include <QList>
#include <QObject>
#include <QUuid>
#include <QVariantList>
#include <atomic>
#include <memory>
#include <optional>

// The one observable store of every user setting. Lives on the main thread; only
// renderingMode() and animationRenderScale() may be read from other threads.
//
// Each stored property has a getter, a setter that follows the assignment rules
// (clamps, the pinned black level, the stereo / autostereogram exclusion, write
// through to the store) and a <name>Changed() signal emitted only when the value
// changed. Every emitted change signal is followed by changed().
class AppModel : public QObject {
    Q_OBJECT
public:
    enum class RenderingMode { cpu, imageFilter, gpu };
    static QString rawValue(RenderingMode mode);
    static std::optional<RenderingMode> renderingModeFromRawValue(const QString& raw);
    static QList<RenderingMode> allRenderingModes();

    // Restores from FilePreferencesStore().
    explicit AppModel(QObject* parent = nullptr);
    explicit AppModel(std::shared_ptr<PreferencesStore> store, QObject* parent = nullptr);
    ~AppModel() override;

    double maxPatchSize() const { return m_maxPatchSize; }
    void setMaxPatchSize(double v);
    double phaseAnimationSpeed() const { return m_phaseAnimationSpeed; }
    void setPhaseAnimationSpeed(double v);
    double rotationAnimationSpeed() const { return m_rotationAnimationSpeed; }
    void setRotationAnimationSpeed(double v);
    bool isPhaseAnimationEnabled() const { return m_isPhaseAnimationEnabled; }
    void setIsPhaseAnimationEnabled(bool v);
    bool isRotationAnimationEnabled() const { return m_isRotationAnimationEnabled; }
    void setIsRotationAnimationEnabled(bool v);
    double animationMaxFPS() const { return m_animationMaxFPS; }
    void setAnimationMaxFPS(double v);
    double animationRenderScale() const { return m_animationRenderScale.load(); } // any thread
    void setAnimationRenderScale(double v);
    RenderingMode renderingMode() const { return m_renderingMode.load(); } // any thread
    void setRenderingMode(RenderingMode v);
    bool showStatusBar() const { return m_showStatusBar; }
    void setShowStatusBar(bool v);
    bool isRandomTileSpinEnabled() const { return m_isRandomTileSpinEnabled; }
    void setIsRandomTileSpinEnabled(bool v);
    bool isBreathingEnabled() const { return m_isBreathingEnabled; }
    void setIsBreathingEnabled(bool v);
    double randomSpinInterval() const { return m_randomSpinInterval; }
    void setRandomSpinInterval(double v);
    bool isStereoscopicMode() const { return m_isStereoscopicMode; }
    void setIsStereoscopicMode(bool v);
    double stereoPhaseDisparity() const { return m_stereoPhaseDisparity; }
    void setStereoPhaseDisparity(double v);
    bool isColorMode() const { return m_isColorMode; }
    void setIsColorMode(bool v);
    double colorModeBlackLevel() const { return m_colorModeBlackLevel; }
    void setColorModeBlackLevel(double v);
    bool isColorInverted() const { return m_isColorInverted; }
    void setIsColorInverted(bool v);
    double displayGamma() const { return m_displayGamma; }
    void setDisplayGamma(double v);
    double displayBlackLift() const { return m_displayBlackLift; }
    void setDisplayBlackLift(double v);
    bool isIlluminantMode() const { return m_isIlluminantMode; }
    void setIsIlluminantMode(bool v);
    bool isAutostereogramMode() const { return m_isAutostereogramMode; }
    void setIsAutostereogramMode(bool v);
    qint64 sirdsStripColumns() const { return m_sirdsStripColumns; }
    void setSirdsStripColumns(qint64 v);
    // Stored under "stereoLayout"; "isCrossEyedStereo" is written beside it for
    // older builds and read only when "stereoLayout" is absent or unreadable.
    StereoLayout stereoLayout() const { return m_stereoLayout; }
    void setStereoLayout(StereoLayout v);
    // Each half of a side-by-side pair, in centimetres on the screen; 0 is as wide
    // as the window allows. Clamped to 0 ... 100.
    double stereoPairWidth() const { return m_stereoPairWidth; }
    void setStereoPairWidth(double v);
    // Between the halves, in centimetres; clamped to 0 ... 20.
    double stereoPairGap() const { return m_stereoPairGap; }
    void setStereoPairGap(double v);
    bool showFusionMarks() const { return m_showFusionMarks; }
    void setShowFusionMarks(bool v);

    // Transient, never persisted.
    bool showSettings() const { return m_showSettings; }
    void setShowSettings(bool v);
    bool showControlPanel() const { return m_showControlPanel; }
    void setShowControlPanel(bool v);
    QUuid randomizeNonce() const { return m_randomizeNonce; }
    void setRandomizeNonce(const QUuid& v);
    bool isAnimationPaused() const { return m_isAnimationPaused; }
    void setIsAnimationPaused(bool v);

    bool isAnyAnimationEnabled() const;

    // The store behind the settings, for the shell's own keys (window geometry),
    // which live in a group of their own, apart from every setting key.
    PreferencesStore& preferencesStore() const { return *m_store; }

    // Puts the picture, animation and display settings back to their defaults.
    void resetToDefaults();
    // The values a reset puts back, as they are now, and their return (an undo).
    QVariantList resettableValues() const;
    void restoreResettableValues(const QVariantList& values);
    // Asks for a new random pattern: a fresh UUID in randomizeNonce.
    void requestRandomize();

signals:
    void maxPatchSizeChanged();
    void phaseAnimationSpeedChanged();
    void rotationAnimationSpeedChanged();
    void isPhaseAnimationEnabledChanged();
    void isRotationAnimationEnabledChanged();
    void animationMaxFPSChanged();
    void animationRenderScaleChanged();
    void renderingModeChanged();
    void showStatusBarChanged();
    void isRandomTileSpinEnabledChanged();
    void isBreathingEnabledChanged();
    void randomSpinIntervalChanged();
    void isStereoscopicModeChanged();
    void stereoPhaseDisparityChanged();
    void isColorModeChanged();
    void colorModeBlackLevelChanged();
    void isColorInvertedChanged();
    void displayGammaChanged();
    void displayBlackLiftChanged();
    void isIlluminantModeChanged();
    void isAutostereogramModeChanged();
    void sirdsStripColumnsChanged();
    void stereoLayoutChanged();
    void stereoPairWidthChanged();
    void stereoPairGapChanged();
    void showFusionMarksChanged();
    void showSettingsChanged();
    void showControlPanelChanged();
    void randomizeNonceChanged();
    void isAnimationPausedChanged();
    // After every individual change signal above.
    void changed();

private:
    using Signal = void (AppModel::*)();
    void notify(Signal signal);
    void assignBool(bool& field, bool v, const QString& key, Signal signal);
    void assignDouble(double& field, double v, const QString& key, Signal signal);
    void assignTransientBool(bool& field, bool v, Signal signal);
    template <typename T>
    void assignClamped(T& field, T v, T lo, T hi, const QString& key, Signal signal);
    void assignExclusive(bool& field, bool v, const QString& key, Signal signal,
                         void (AppModel::*setOther)(bool));
    void write(const QString& key, double v) { m_store->setDouble(key, v); }
    void write(const QString& key, qint64 v) { m_store->setInteger(key, v); }
    void restore();

    std::shared_ptr<PreferencesStore> m_store;

    double m_maxPatchSize = 128.0;
    double m_phaseAnimationSpeed = 1.0;
    double m_rotationAnimationSpeed = 30.0;
    bool m_isPhaseAnimationEnabled = false;
    bool m_isRotationAnimationEnabled = false;
    double m_animationMaxFPS = 30.0;
    std::atomic<double> m_animationRenderScale{1.0};
    std::atomic<RenderingMode> m_renderingMode{RenderingMode::gpu};
    bool m_showStatusBar = false;
    bool m_isRandomTileSpinEnabled = false;
    bool m_isBreathingEnabled = false;
    double m_randomSpinInterval = 2.0;
    bool m_isStereoscopicMode = false;
    double m_stereoPhaseDisparity = 0.25;
    bool m_isColorMode = false;
    double m_colorModeBlackLevel = 1.0;
    bool m_isColorInverted = false;
    double m_displayGamma = 1.0;
    double m_displayBlackLift = 0.0;
    bool m_isIlluminantMode = false;
    bool m_isAutostereogramMode = false;
    qint64 m_sirdsStripColumns = 3;
    StereoLayout m_stereoLayout = StereoLayout::parallel;
    double m_stereoPairWidth = 0.0;
    double m_stereoPairGap = 0.0;
    bool m_showFusionMarks = false;
    bool m_showSettings = false;
    bool m_showControlPanel = false;
    QUuid m_randomizeNonce;
    bool m_isAnimationPaused = false;
};
