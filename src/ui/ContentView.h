#pragma once

#include "AppModel.h"
#include "DisplayLinkAdapter.h"
#include "FieldPresenter.h"
#include "FrameLog.h"
#include "ModeToastView.h"
#include "RenderState.h"
#include "StatusBarView.h"
#include "SystemLoadMonitor.h"

#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QWidget>
#include <memory>

// The settings whose change calls for a new picture.
struct RenderTriggerState {
    bool isStereoscopicMode = false;
    bool isColorMode = false;
    double stereoPhaseDisparity = 0;
    double colorModeBlackLevel = 0;
    bool isColorInverted = false;
    qint64 sirdsStripColumns = 0;
    bool isAutostereogramMode = false;
    double maxPatchSize = 0;
    // The eyes' canvas size follows these while a stereo pair is shown.
    bool isStereoSideBySide = true;
    double stereoPairWidth = 0;
    double stereoPairGap = 0;
    bool showFusionMarks = false;

    static RenderTriggerState fromModel(const AppModel& model);
    bool operator==(const RenderTriggerState&) const = default;
};

// The main window's view: owns the window's render state, lays out the key
// catcher and the canvas with its presenter, which paints the border, the status
// bar and the mode-change toast over the field, and reacts to geometry, setting,
// power and thermal changes. Main thread only.
class ContentView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kResizeDebounceMs = 150;
    static constexpr int kOverlayPadding = 16;

    // Without a monitor the view makes its own.
    explicit ContentView(AppModel& model, QWidget* parent = nullptr,
                         SystemLoadMonitor* loadMonitor = nullptr);
    ~ContentView() override;

    AppModel& appModel() const { return m_model; }
    // The window's render state; set its seed or injection points before the
    // canvas first appears.
    RenderState& renderState() const { return *m_state; }
    DisplayLinkAdapter& displayLinkAdapter() { return m_displayLinkAdapter; }
    // Writes a line to log for every new frame put on screen from now on.
    void setFrameLog(std::unique_ptr<FrameLog> log);

    // ---- operations ----
    void applyWindowResize();
    void updateDisplayLink();
    void stopDisplayLink();
    void randomizePattern();
    // Shows the field of seed: a randomize, its undo, a seed typed in.
    void setPatternSeed(std::uint64_t seed);
    std::uint64_t patternSeed() const { return m_state->patternSeed; }
    void resumeAnimation();
    void handleRenderTriggerChange(const RenderTriggerState& oldState,
                                   const RenderTriggerState& newState);
    void showModeMessage(const QString& text, int hideDelayMs = ModeToastView::kHideDelayMs);
    void hideModeMessage();
    QString statusText() const;
    double currentBackingScale() const;

    // ---- state ----
    bool showStatusDetail() const { return m_showStatusDetail; }
    void setShowStatusDetail(bool on);
    QString modeChangeMessage() const { return m_toast->modeChangeMessage(); }
    bool isResizePending() const { return m_resizeDebounce.isActive(); }
    RenderTriggerState renderTriggerState() const { return m_watched.trigger; }

    // ---- layers, for the shell and tests ----
    // The widget that takes the pause key, whichever widget of the window was sent it.
    QWidget* keyCatcher() const { return m_keyCatcher; }
    FieldPresenter* presenter() const { return m_presenter; }
    // The widget that holds the presenter's window in this view.
    QWidget* presenterHost() const { return m_presenterHost; }
    StatusBarView* statusBar() const { return m_statusBar; }
    // Where the toast is placed now, in this view's coordinates.
    QRect toastGeometry() const;

signals:
    // Every render this view asks for, with its force flag.
    void renderRequested(bool force);
    // A randomize request drew a new pattern seed.
    void patternRandomized(std::uint64_t previousSeed, std::uint64_t seed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The values whose changes the view reacts to, compared exactly.
    struct Watched {
        QUuid randomizeNonce;
        bool isAnimationDriven = false;
        double animationMaxFPS = 0;
        bool isAnimationPaused = false;
        StereoLayout stereoLayout = StereoLayout::parallel;
        RenderTriggerState trigger;
    };
    Watched currentWatched() const;
    void scheduleReactions();
    void runReactions();

    void canvasAppeared();
    void canvasGeometryChanged(const QSizeF& size);
    void canvasDisappeared();
    void watchWindow();
    bool measureScreen();
    void screenChanged();
    void viewGeometryChanged(bool autostereogramOn);
    void updateLifecycleSuspension();

    bool isCanvasLive() const;
    bool isAnimationRunning() const;
    bool isAnimationDriven() const;
    bool isMotionEnabled() const;
    void requestRender(bool force);
    void resetRandomSpins();

    void refreshLayout();
    void refreshPresenter();
    void refreshStatusBar();
    void placeOverlays();
    void pushOverlays();
    bool presenterEvent(QEvent* event);

    AppModel& m_model;
    std::unique_ptr<RenderState> m_state;
    DisplayLinkAdapter m_displayLinkAdapter;
    SystemLoadMonitor* m_loadMonitor;

    QWidget* m_keyCatcher = nullptr;
    QWidget* m_canvas = nullptr;
    QPointer<FieldPresenter> m_presenter; // owned by its host
    QWidget* m_presenterHost = nullptr;
    StatusBarView* m_statusBar = nullptr;
    ModeToastView* m_toast = nullptr;

    Watched m_watched;
    bool m_reactionsQueued = false;
    QTimer m_resizeDebounce;
    bool m_showStatusDetail = false;
    QPointer<QWidget> m_watchedWindow;
    bool m_windowUnmapped = false; // hidden by the window system, e.g. minimized

    // The frame log and the new frame on its way to the screen.
    std::unique_ptr<FrameLog> m_frameLog;
    enum class LoggedFrame { none, installed, drawn } m_loggedFrame = LoggedFrame::none;
    double m_loggedPassSeconds = 0;
    std::int64_t m_loggedSkippedTicks = 0;
};
