#include "ContentView.h"

#include "FrameRatePolicy.h"
#include "KeyEventCatcher.h"
#include "StatusText.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>
#include <cmath>

namespace {

// The canvas: opaque black until a frame is presented over it.
class CanvasWidget : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::black); }
};

double validScale(double scale) {
    return std::isfinite(scale) && scale > 0 ? scale : 0;
}

// Points per centimetre on the screen, from the size it reports; without one, or
// with one no screen has, the desktop's reference pixel of 1/96 inch.
double screenPointsPerCentimetre(const QScreen* screen) {
    if (screen) {
        const double millimetres = screen->physicalSize().width();
        const double points = screen->size().width();
        if (millimetres > 0 && points > 0) {
            const double perCentimetre = points / (millimetres / 10.0);
            if (perCentimetre >= 40 / 2.54 && perCentimetre <= 600 / 2.54)
                return perCentimetre;
        }
    }
    return kReferencePointsPerCentimetre;
}

} // namespace

RenderTriggerState RenderTriggerState::fromModel(const AppModel& model) {
    RenderTriggerState s;
    s.isStereoscopicMode = model.isStereoscopicMode();
    s.isColorMode = model.isColorMode();
    s.stereoPhaseDisparity = model.stereoPhaseDisparity();
    s.colorModeBlackLevel = model.colorModeBlackLevel();
    s.isColorInverted = model.isColorInverted();
    s.sirdsStripColumns = model.sirdsStripColumns();
    s.isAutostereogramMode = model.isAutostereogramMode();
    s.maxPatchSize = model.maxPatchSize();
    s.isStereoSideBySide = StereoLayouts::isSideBySide(model.stereoLayout());
    s.stereoPairWidth = model.stereoPairWidth();
    s.stereoPairGap = model.stereoPairGap();
    s.showFusionMarks = model.showFusionMarks();
    return s;
}

ContentView::ContentView(AppModel& model, QWidget* parent, SystemLoadMonitor* loadMonitor)
    : QWidget(parent), m_model(model), m_state(std::make_unique<RenderState>(model)),
      m_loadMonitor(loadMonitor ? loadMonitor : new SystemLoadMonitor(this)) {
    m_state->setBackingScaleProvider([this] { return currentBackingScale(); });

    m_keyCatcher = new KeyEventCatcher(
        m_model, [this](const QString& message) { showModeMessage(message); }, this);
    m_canvas = new CanvasWidget(this);
    m_canvas->installEventFilter(this);
    // A native GL window swaps straight to the screen; a GL widget would be
    // composed through the window's backing store on every frame.
    m_presenter = new FieldPresenter;
    m_presenter->installEventFilter(this);
    m_presenterHost = QWidget::createWindowContainer(m_presenter, m_canvas);
    m_presenterHost->setFocusPolicy(Qt::NoFocus);
    m_presenterHost->installEventFilter(this);
    connect(m_presenter, &QWindow::screenChanged, this, &ContentView::screenChanged);
    m_statusBar = new StatusBarView(this);
    m_toast = new ModeToastView(this);

    m_statusBar->move(QPoint(kOverlayPadding, kOverlayPadding));
    connect(m_statusBar, &StatusBarView::changed, this, &ContentView::pushOverlays);
    connect(m_toast, &ModeToastView::changed, this, &ContentView::placeOverlays);

    m_resizeDebounce.setSingleShot(true);
    m_resizeDebounce.setInterval(kResizeDebounceMs);
    connect(&m_resizeDebounce, &QTimer::timeout, this, &ContentView::applyWindowResize);

    m_watched = currentWatched();
    connect(&m_model, &AppModel::changed, this, &ContentView::scheduleReactions);
    connect(m_loadMonitor, &SystemLoadMonitor::powerStateChanged, this,
            &ContentView::updateDisplayLink);
    connect(m_loadMonitor, &SystemLoadMonitor::thermalStateChanged, this,
            &ContentView::updateDisplayLink);
    // The illuminant hue moves on a tick that also asks for a frame; the tint
    // goes out with that frame rather than in a draw of its own.
    connect(m_state.get(), &RenderState::texturesChanged, this, &ContentView::refreshPresenter);
    connect(m_state.get(), &RenderState::lastFpsChanged, this, &ContentView::refreshStatusBar);

    refreshLayout();
}

ContentView::~ContentView() {
    stopDisplayLink();
    m_displayLinkAdapter.setCallback({});
}

void ContentView::setFrameLog(std::unique_ptr<FrameLog> log) {
    const bool connected = bool(m_frameLog);
    m_frameLog = std::move(log);
    if (connected || !m_frameLog)
        return;
    // A frame is on screen once the draw that first shows it has been swapped.
    connect(m_state.get(), &RenderState::texturesChanged, this, [this] {
        m_loggedFrame = LoggedFrame::installed;
        m_loggedPassSeconds = m_state->lastPassSeconds;
    });
    connect(m_presenter, &FieldPresenter::frameDrawn, this, [this] {
        if (m_loggedFrame == LoggedFrame::installed)
            m_loggedFrame = LoggedFrame::drawn;
    });
    connect(m_presenter, &FieldPresenter::frameSwapped, this, [this] {
        if (m_loggedFrame != LoggedFrame::drawn || !m_frameLog)
            return;
        m_loggedFrame = LoggedFrame::none;
        const std::int64_t skipped = m_state->skippedTickCount;
        m_frameLog->frameShown(RenderState::steadySeconds(), m_loggedPassSeconds,
                               skipped != m_loggedSkippedTicks);
        m_loggedSkippedTicks = skipped;
    });
}

// ---- derived conditions ----

bool ContentView::isCanvasLive() const {
    return m_state->lastProxy.has_value() && !m_state->isLifecycleSuspended;
}

bool ContentView::isAnimationRunning() const {
    return m_model.isAnyAnimationEnabled() && !m_model.isAnimationPaused();
}

bool ContentView::isAnimationDriven() const {
    return isAnimationRunning() || m_model.isIlluminantMode();
}

bool ContentView::isMotionEnabled() const {
    return m_model.isPhaseAnimationEnabled() || m_model.isRotationAnimationEnabled();
}

void ContentView::requestRender(bool force) {
    if (m_state->isLifecycleSuspended)
        return; // dropped; the return from suspension renders
    emit renderRequested(force);
    m_state->requestRender(force);
}

void ContentView::resetRandomSpins() {
    m_state->randomSpinTiles.clear();
    m_state->randomSpinTimeAccum = 0.0;
}

// ---- geometry ----

bool ContentView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_presenter || watched == m_presenterHost) {
        if (presenterEvent(event))
            return true;
    }
    if (watched == m_watchedWindow) {
        const QEvent::Type type = event->type();
        if (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange) {
            if (event->spontaneous() && type != QEvent::WindowStateChange)
                m_windowUnmapped = type == QEvent::Hide;
            // Judged once the window has settled.
            QMetaObject::invokeMethod(this, &ContentView::updateLifecycleSuspension,
                                      Qt::QueuedConnection);
        }
    }
    if (watched == m_canvas) {
        switch (event->type()) {
        case QEvent::Show:
            // A spontaneous show is the window coming back from the window
            // manager; the suspension handles that.
            if (!event->spontaneous())
                canvasAppeared();
            break;
        case QEvent::Hide:
            if (!event->spontaneous())
                canvasDisappeared();
            break;
        case QEvent::Resize:
            m_presenterHost->setGeometry(m_canvas->rect());
            canvasGeometryChanged(static_cast<QResizeEvent*>(event)->size());
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool ContentView::presenterEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // Whichever of the host and the GL window has the keyboard, Space still
        // reaches the key catcher, and other keys go on from there as usual.
        QCoreApplication::sendEvent(m_keyCatcher, event);
        return true;
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_statusBar->isVisible() &&
            m_statusBar->geometry().contains(mouse->position().toPoint())) {
            setShowStatusDetail(!m_showStatusDetail);
            return true;
        }
        return false;
    }
    case QEvent::MouseMove:
        if (m_presenter) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (m_statusBar->isVisible() &&
                m_statusBar->geometry().contains(mouse->position().toPoint()))
                m_presenter->setCursor(Qt::PointingHandCursor);
            else
                m_presenter->unsetCursor();
        }
        return false;
    default:
        return false;
    }
}

void ContentView::resizeEvent(QResizeEvent* event) {
    m_canvas->setGeometry(rect());
    placeOverlays();
    QWidget::resizeEvent(event);
}

void ContentView::canvasAppeared() {
    watchWindow();
    const QSizeF size = m_canvas->size();
    m_state->lastProxy = size;
    if (size.width() > 0 && size.height() > 0) {
        m_state->viewSize = size;
        m_state->maxPatchSize = m_model.maxPatchSize();
        measureScreen();
        // Built now even when ticks will render: the spin step asks for a frame
        // only once there are cells to spin.
        m_state->prepareAnimationTiles();
        updateDisplayLink();
        // A running animation renders on its next tick.
        if (!isAnimationDriven())
            requestRender(true);
    }
    refreshLayout();
}

void ContentView::canvasGeometryChanged(const QSizeF& size) {
    // Sizes before the canvas first appears are taken at the appearance.
    if (!m_state->lastProxy || *m_state->lastProxy == size)
        return;
    m_state->lastProxy = size;
    m_resizeDebounce.start();
}

void ContentView::canvasDisappeared() {
    m_resizeDebounce.stop();
    stopDisplayLink();
}

void ContentView::applyWindowResize() {
    if (!m_state->lastProxy)
        return;
    const QSizeF candidate = *m_state->lastProxy;
    if (candidate == m_state->viewSize)
        return;
    if (!(candidate.width() > 0 && candidate.height() > 0))
        return;
    m_state->viewSize = candidate;
    measureScreen();
    m_state->clearTileSet();
    m_state->prepareAnimationTiles();
    updateDisplayLink();
    requestRender(false);
    refreshStatusBar();
}

double ContentView::currentBackingScale() const {
    if (QWindow* key = QGuiApplication::focusWindow()) {
        if (const double s = validScale(key->devicePixelRatio()))
            return s;
    }
    if (QWindow* main = window()->windowHandle()) {
        if (const double s = validScale(main->devicePixelRatio()))
            return s;
    }
    for (QWindow* w : QGuiApplication::topLevelWindows()) {
        if (w->screen()) {
            if (const double s = validScale(w->devicePixelRatio()))
                return s;
        }
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        if (const double s = validScale(screen->devicePixelRatio()))
            return s;
    }
    return 1.0;
}

bool ContentView::measureScreen() {
    const double perCentimetre =
        screenPointsPerCentimetre(m_presenter ? m_presenter->screen() : screen());
    if (perCentimetre == m_state->pointsPerCentimetre)
        return false;
    m_state->pointsPerCentimetre = perCentimetre;
    return true;
}

void ContentView::screenChanged() {
    if (!measureScreen())
        return;
    // A pair sized in centimetres takes another number of pixels there.
    const bool sizedPair = m_model.isStereoscopicMode() &&
                           StereoLayouts::isSideBySide(m_model.stereoLayout()) &&
                           (m_model.stereoPairWidth() > 0 || m_model.stereoPairGap() > 0);
    if (sizedPair && m_state->lastProxy)
        viewGeometryChanged(false);
    refreshPresenter();
}

// ---- suspension ----

void ContentView::watchWindow() {
    // The top-level widget, whose events tell when the window is shown, hidden
    // or minimized.
    QWidget* top = window();
    if (top == m_watchedWindow)
        return;
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
    m_watchedWindow = top;
    m_windowUnmapped = false;
    top->installEventFilter(this);
}

void ContentView::updateLifecycleSuspension() {
    const bool suspend = !m_watchedWindow || !m_watchedWindow->isVisible() ||
                         m_watchedWindow->isMinimized() || m_windowUnmapped;
    if (suspend == m_state->isLifecycleSuspended)
        return;
    m_state->isLifecycleSuspended = suspend;
    if (suspend) {
        stopDisplayLink();
        return;
    }
    if (!m_state->lastProxy)
        return;
    // Changes made meanwhile (a randomize, a new patch size, another view mode)
    // may have emptied the tile set.
    m_state->prepareAnimationTiles();
    updateDisplayLink();
    requestRender(true);
}

// ---- display link ----

void ContentView::stopDisplayLink() {
    m_displayLinkAdapter.stop();
}

void ContentView::updateDisplayLink() {
    stopDisplayLink();
    if (!m_state->lastProxy || m_state->isLifecycleSuspended)
        return;
    const auto fps = animationFrameRate(
        AnimationActivity::fromModel(m_model),
        loadFactor(m_loadMonitor->isLowPowerModeEnabled(), m_loadMonitor->thermalState()));
    if (!fps)
        return;
    RenderState* state = m_state.get();
    m_displayLinkAdapter.setCallback([state](double dt) { state->animationTick(dt); });
    m_displayLinkAdapter.start(*fps);
}

// ---- reactions ----

ContentView::Watched ContentView::currentWatched() const {
    Watched w;
    w.randomizeNonce = m_model.randomizeNonce();
    w.isAnimationDriven = isAnimationDriven();
    w.animationMaxFPS = m_model.animationMaxFPS();
    w.isAnimationPaused = m_model.isAnimationPaused();
    w.stereoLayout = m_model.stereoLayout();
    w.trigger = RenderTriggerState::fromModel(m_model);
    return w;
}

void ContentView::scheduleReactions() {
    // One look per event-loop turn, so an action that assigns several settings
    // is seen whole.
    if (m_reactionsQueued)
        return;
    m_reactionsQueued = true;
    QMetaObject::invokeMethod(this, &ContentView::runReactions, Qt::QueuedConnection);
}

void ContentView::runReactions() {
    m_reactionsQueued = false;
    const Watched old = m_watched;
    const Watched now = currentWatched();
    m_watched = now;

    if (old.randomizeNonce != now.randomizeNonce && m_state->lastProxy)
        randomizePattern();
    if (old.isAnimationDriven != now.isAnimationDriven && isCanvasLive()) {
        if (now.isAnimationDriven) {
            if (m_state->tiles.animationTileParams.empty())
                m_state->prepareAnimationTiles();
            updateDisplayLink();
        } else {
            resetRandomSpins();
            updateDisplayLink();
            requestRender(true);
        }
    }
    if (old.animationMaxFPS != now.animationMaxFPS)
        updateDisplayLink();
    if (old.isAnimationPaused != now.isAnimationPaused)
        updateDisplayLink();
    if (!(old.trigger == now.trigger))
        handleRenderTriggerChange(old.trigger, now.trigger);
    if (now.trigger.isStereoscopicMode &&
        (!old.trigger.isStereoscopicMode || old.stereoLayout != now.stereoLayout))
        showModeMessage(tr("ステレオペア: %1").arg(StereoLayouts::label(now.stereoLayout)));
    refreshLayout();
}

void ContentView::randomizePattern() {
    const std::uint64_t previous = m_state->patternSeed;
    setPatternSeed(QRandomGenerator::system()->generate64());
    emit patternRandomized(previous, m_state->patternSeed);
}

void ContentView::setPatternSeed(std::uint64_t seed) {
    m_state->patternSeed = seed;
    refreshStatusBar();
    // Before the canvas first appears the tile set is built there, from this seed.
    if (!m_state->lastProxy)
        return;
    m_state->clearTileSet();
    // While suspended the new seed waits for the render on return.
    if (m_state->isLifecycleSuspended)
        return;
    m_state->prepareAnimationTiles();
    updateDisplayLink();
    requestRender(true);
}

void ContentView::resumeAnimation() {
    if (m_state->tiles.animationTileParams.empty() ||
        m_state->tiles.animationTileVariantIndices.empty())
        m_state->prepareAnimationTiles();
    updateDisplayLink();
}

void ContentView::viewGeometryChanged(bool autostereogramOn) {
    // A new view mode or eye size rebuilds the tile set for the new geometry.
    m_state->clearTileSet();
    if (!isCanvasLive())
        return;
    if (isMotionEnabled() && isAnimationDriven()) {
        resetRandomSpins();
        resumeAnimation(); // restarts the link
    } else {
        if (autostereogramOn)
            m_state->prepareAnimationTiles();
        requestRender(true);
    }
}

void ContentView::handleRenderTriggerChange(const RenderTriggerState& o,
                                            const RenderTriggerState& n) {
    const bool live = isCanvasLive();
    // Phase or rotation will render the change on the next tick, but only when
    // ticks come at all: paused, with the illuminant off, nothing ticks.
    const bool motionRenders = isMotionEnabled() && isAnimationDriven();
    const bool quiet = !isAnimationRunning() && !m_model.isIlluminantMode();

    // The eyes' canvases take the halves' size, or the whole window's.
    const bool pairResized = n.isStereoSideBySide != o.isStereoSideBySide ||
                             (n.isStereoSideBySide && (o.stereoPairWidth != n.stereoPairWidth ||
                                                       o.stereoPairGap != n.stereoPairGap ||
                                                       o.showFusionMarks != n.showFusionMarks));
    if (pairResized && o.isStereoscopicMode && n.isStereoscopicMode)
        viewGeometryChanged(false);

    if (o.isStereoscopicMode != n.isStereoscopicMode) {
        m_state->setRightTexture(nullptr);
        viewGeometryChanged(m_model.isAutostereogramMode());
    }
    if (o.isColorMode != n.isColorMode && live && quiet)
        requestRender(true);
    if (o.stereoPhaseDisparity != n.stereoPhaseDisparity && m_model.isStereoscopicMode() && live &&
        !motionRenders)
        requestRender(true);
    if (o.colorModeBlackLevel != n.colorModeBlackLevel && m_model.isColorMode() && live && quiet)
        requestRender(true);
    if (o.isColorInverted != n.isColorInverted && live)
        requestRender(true);
    // While suspended the tile set is only emptied; the return rebuilds it.
    if (o.sirdsStripColumns != n.sirdsStripColumns && m_model.isAutostereogramMode() &&
        m_state->lastProxy) {
        m_state->clearTileSet();
        if (live) {
            m_state->prepareAnimationTiles();
            requestRender(true);
        }
    }
    if (o.isAutostereogramMode != n.isAutostereogramMode)
        viewGeometryChanged(n.isAutostereogramMode);
    if (o.maxPatchSize != n.maxPatchSize) {
        m_state->maxPatchSize = n.maxPatchSize;
        if (m_state->lastProxy) {
            m_state->tiles.animationTileParams.clear();
            m_state->tiles.animationTileVariantIndices.clear();
        }
        if (live) {
            m_state->prepareAnimationTiles();
            requestRender(true);
        }
    }
}

// ---- overlays ----

void ContentView::setShowStatusDetail(bool on) {
    if (on == m_showStatusDetail)
        return;
    m_showStatusDetail = on;
    refreshStatusBar();
}

void ContentView::showModeMessage(const QString& text, int hideDelayMs) {
    m_toast->showModeMessage(text, hideDelayMs);
}

void ContentView::hideModeMessage() {
    m_toast->hideModeMessage();
}

QString ContentView::statusText() const {
    StatusTextInputs in;
    in.showStatusDetail = m_showStatusDetail;
    in.lastFps = int(std::clamp<std::int64_t>(m_state->lastFps, 0, INT32_MAX));
    // A frame rate only while frames come; the last one would look like a live rate.
    if (isAnimationDriven())
        in.motion = StatusTextInputs::Motion::running;
    else if (m_model.isAnyAnimationEnabled())
        in.motion = StatusTextInputs::Motion::paused;
    else
        in.motion = StatusTextInputs::Motion::still;
    in.patternSeed = m_state->patternSeed;
    in.maxPatchSize = m_state->maxPatchSize;
    in.viewWidth = m_state->viewSize.width();
    in.isIlluminantMode = m_model.isIlluminantMode();
    in.isColorMode = m_model.isColorMode();
    in.isColorInverted = m_model.isColorInverted();
    in.displayBlackLift = m_model.displayBlackLift();
    in.isRotationAnimationEnabled = m_model.isRotationAnimationEnabled();
    in.isPhaseAnimationEnabled = m_model.isPhaseAnimationEnabled();
    in.isBreathingEnabled = m_model.isBreathingEnabled();
    in.isRandomTileSpinEnabled = m_model.isRandomTileSpinEnabled();
    in.isStereoscopicMode = m_model.isStereoscopicMode();
    in.stereoPhaseDisparity = m_model.stereoPhaseDisparity();
    in.stereoLayout = m_model.stereoLayout();
    in.isAutostereogramMode = m_model.isAutostereogramMode();
    in.sirdsStripColumns = m_model.sirdsStripColumns();
    return ::statusText(in);
}

void ContentView::refreshLayout() {
    refreshPresenter();
    refreshStatusBar();
}

void ContentView::refreshPresenter() {
    if (!m_presenter)
        return;
    // Without a frame the presenter draws the canvas black, with the overlays.
    FieldPresenter::Description d;
    d.leftTexture = m_state->leftTexture();
    d.rightTexture = m_state->rightTexture();
    d.frameGeneration = m_state->frameGeneration();
    d.isStereoscopic = m_model.isStereoscopicMode();
    d.stereoLayout = m_model.stereoLayout();
    d.stereoPair = m_state->stereoPairSize();
    d.isColorInverted = m_model.isColorInverted();
    d.displayGamma = m_model.displayGamma();
    d.displayBlackLift = m_model.displayBlackLift();
    if (m_model.isIlluminantMode())
        d.illuminantTint = FieldPresenter::illuminantColor(m_state->illuminantHue);
    m_presenter->updateView(d);
    // The border: one line inside the canvas edge, the text colour at 0.2 opacity.
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.2f);
    m_presenter->setBorderColor(border);
}

void ContentView::refreshStatusBar() {
    if (!m_model.showStatusBar()) {
        m_statusBar->setVisible(false);
        return;
    }
    m_statusBar->setStatus(statusText(), m_showStatusDetail);
    m_statusBar->setVisible(true);
}

QRect ContentView::toastGeometry() const {
    const QSize size = m_toast->sizeHint();
    return {QPoint((width() - size.width()) / 2, kOverlayPadding), size};
}

void ContentView::placeOverlays() {
    m_statusBar->move(QPoint(kOverlayPadding, kOverlayPadding));
    pushOverlays();
}

void ContentView::pushOverlays() {
    if (!m_presenter)
        return;
    const double scale = m_presenter->devicePixelRatio();
    FieldPresenter::Overlay status;
    if (m_statusBar->isVisible())
        status = {m_statusBar->image(scale), m_statusBar->pos(), 1.0};
    m_presenter->setOverlay(FieldPresenter::statusBarOverlay, status);
    FieldPresenter::Overlay toast;
    if (m_toast->isVisible())
        toast = {m_toast->image(scale), toastGeometry().topLeft(), m_toast->opacity()};
    m_presenter->setOverlay(FieldPresenter::toastOverlay, toast);
}
