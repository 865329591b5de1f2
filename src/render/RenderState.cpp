#include "RenderState.h"

#include "AnimationState.h"
#include "Canvas.h"
#include "GpuGeneration.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace {

using namespace animation;

constexpr double kMaxStep = 0.1;
constexpr double kMinStep = 0.001;

// value + step modulo period (the sign of fmod's). The step is reduced first, so
// a runaway speed from the settings file cannot overflow the sum; a non-finite
// step moves nothing and a non-finite value starts again from 0, so the picture
// recovers as soon as the speed is sane.
double advanceModulo(double value, double step, double period) {
    if (!std::isfinite(value))
        value = 0;
    if (!std::isfinite(step))
        return value;
    return std::fmod(value + std::fmod(step, period), period);
}

} // namespace

RenderChannel::RenderChannel(RenderState* owner) : m_owner(owner) {}

bool RenderChannel::post(std::function<void(RenderState&)> fn) {
    std::lock_guard guard(m_lock);
    if (!m_owner)
        return false;
    RenderState* owner = m_owner;
    // Queued on the owner: if it is destroyed first, Qt discards the call.
    QMetaObject::invokeMethod(
        owner, [owner, fn = std::move(fn)] { fn(*owner); }, Qt::QueuedConnection);
    return true;
}

void RenderChannel::detach() {
    std::lock_guard guard(m_lock);
    m_owner = nullptr;
}

RenderState::RenderState(AppModel& model, QObject* parent)
    : QObject(parent), patternSeed(QRandomGenerator::system()->generate64()), m_model(model),
      m_channel(std::make_shared<RenderChannel>(this)), m_executor(defaultExecutor()),
      m_clock(&RenderState::steadySeconds), m_random(systemRandomSource()),
      m_backingScale([] { return 1.0; }), m_uploader(&uploadImageToTexture),
      m_settleDelay([] { QThread::usleep(60000); }) {
    lastFpsUpdate = m_clock();
    const auto copyLiveSettings = [this] {
        m_channel->renderingMode = m_model.renderingMode();
        m_channel->animationRenderScale = m_model.animationRenderScale();
    };
    copyLiveSettings();
    connect(&m_model, &AppModel::renderingModeChanged, this, copyLiveSettings);
    connect(&m_model, &AppModel::animationRenderScaleChanged, this, copyLiveSettings);
}

RenderState::~RenderState() {
    m_channel->detach();
}

void RenderState::setExecutor(Executor executor) {
    m_executor = std::move(executor);
}

void RenderState::setClock(Clock clock) {
    m_clock = std::move(clock);
    lastFpsUpdate = m_clock();
}

void RenderState::setRandomSource(RandomSource source) {
    m_random = std::move(source);
}

void RenderState::setBackingScaleProvider(BackingScaleProvider provider) {
    m_backingScale = std::move(provider);
}

void RenderState::setUploader(Uploader uploader) {
    m_uploader = std::move(uploader);
}

void RenderState::setSettleDelay(std::function<void()> delay) {
    m_settleDelay = std::move(delay);
}

QThreadPool& RenderState::renderThreadPool() {
    // Process-wide and never released, like the GPU objects its passes use.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setThreadPriority(QThread::LowPriority);
        // A pass still running at exit, as one nearly always is while animating,
        // would go on in the GL driver while the process unloads it.
        qAddPostRoutine([] { renderThreadPool().waitForDone(); });
        return p;
    }();
    return *pool;
}

RenderState::Executor RenderState::defaultExecutor() {
    return [](std::function<void()> pass) { renderThreadPool().start(std::move(pass)); };
}

RenderState::RandomSource RenderState::systemRandomSource() {
    RandomSource source;
    source.uniformInt = [](std::int64_t n) {
        return n > 0 ? QRandomGenerator::system()->bounded(qint64(n)) : 0;
    };
    source.uniformDouble = [](double a, double b) {
        const double x = a + (b - a) * QRandomGenerator::system()->generateDouble();
        // Rounding can land on b itself; the range is half-open.
        return x < b ? x : a;
    };
    return source;
}

double RenderState::steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double RenderState::currentBackingScale() const {
    const double scale = m_backingScale ? m_backingScale() : 1.0;
    return std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

void RenderState::setTextures(GpuTextureRef left, GpuTextureRef right) {
    // A new frame even in the texture objects shown now: rings hand them out again.
    ++m_frameGeneration;
    m_leftTexture = std::move(left);
    m_rightTexture = std::move(right);
    emit texturesChanged();
}

void RenderState::setRightTexture(GpuTextureRef right) {
    if (right != m_rightTexture)
        setTextures(m_leftTexture, std::move(right));
}

TileSetInputs RenderState::tileSetInputs() const {
    TileSetInputs inputs;
    inputs.patternSeed = patternSeed;
    inputs.viewWidth = viewSize.width();
    inputs.viewHeight = viewSize.height();
    inputs.backingScale = currentBackingScale();
    inputs.maxPatchSize = maxPatchSize;
    inputs.sigma = sigma;
    inputs.isAutostereogramMode = m_model.isAutostereogramMode();
    inputs.isStereoscopicMode = m_model.isStereoscopicMode();
    inputs.sirdsStripColumns = m_model.sirdsStripColumns();
    inputs.stereoLayout = m_model.stereoLayout();
    inputs.stereoPair = stereoPairSize();
    return inputs;
}

StereoPairSize RenderState::stereoPairSize() const {
    return {m_model.stereoPairWidth() * pointsPerCentimetre,
            m_model.stereoPairGap() * pointsPerCentimetre, m_model.showFusionMarks()};
}

void RenderState::prepareAnimationTiles() {
    ::prepareAnimationTiles(tiles, tileSetInputs());
}

void RenderState::clearTileSet() {
    tiles.clear();
}

RenderSnapshot RenderState::takeSnapshot(bool force) const {
    RenderSnapshot s;
    s.force = force;
    s.renderCount = renderCount();
    s.backingScale = currentBackingScale();
    s.viewWidth = viewSize.width();
    s.viewHeight = viewSize.height();
    s.isAutostereogramMode = m_model.isAutostereogramMode();
    s.maxPatchSize = maxPatchSize;
    s.sirdsStripColumns = std::clamp<std::int64_t>(m_model.sirdsStripColumns(), 2, 6);
    s.isStereoscopicMode = m_model.isStereoscopicMode();
    s.breathingPhaseOffsets = tiles.breathingPhaseOffsets;
    s.breathingPhase = breathingPhase;
    s.phase = phase;
    s.tileParams = tiles.animationTileParams;
    s.variantIndices = tiles.animationTileVariantIndices;
    s.spins = randomSpinTiles;
    s.hues = tiles.animationTileHues;
    s.isColorMode = m_model.isColorMode();
    s.colorModeBlackLevel = m_model.colorModeBlackLevel();
    s.stereoPhaseOffset = stereoPhaseOffset(m_model.stereoPhaseDisparity());
    s.stereoLayout = m_model.stereoLayout();
    s.stereoPair = stereoPairSize();
    return s;
}

void RenderState::requestRender(bool force) {
    if (isLifecycleSuspended)
        return;
    if (isRenderInFlight) {
        pendingRenderRequested = true;
        pendingRenderForce = pendingRenderForce || force;
        return;
    }
    isRenderInFlight = true;
    m_channel->renderCount.fetch_add(1);
    if (tiles.animationTileParams.empty())
        prepareAnimationTiles();
    m_executor([snapshot = takeSnapshot(force), channel = m_channel, delay = m_settleDelay] {
        performRender(snapshot, channel, delay);
    });
}

void RenderState::finishRender() {
    isRenderInFlight = false;
    if (pendingRenderRequested) {
        const bool force = pendingRenderForce;
        pendingRenderRequested = false;
        pendingRenderForce = false;
        requestRender(force);
    }
    emit renderFinished();
}

void RenderState::performRender(const RenderSnapshot& snapshot,
                                const std::shared_ptr<RenderChannel>& channel,
                                const std::function<void()>& settleDelay) {
    if (!snapshot.force && settleDelay)
        settleDelay();
    if (snapshot.renderCount == channel->renderCount.load()) {
        std::optional<RenderOutcome> outcome;
        try {
            const double start = steadySeconds();
            outcome = renderFrame(snapshot, channel->renderingMode.load(),
                                  channel->animationRenderScale.load(), channel->sirdsShiftCache);
            outcome->passSeconds = steadySeconds() - start;
        } catch (const std::exception&) {
            // Out of memory in a pass: no frame, but the scheduler must go on.
        }
        if (outcome && outcome->kind != RenderOutcome::Kind::none)
            channel->post([o = std::move(*outcome)](RenderState& state) { state.complete(o); });
    }
    channel->post([](RenderState& state) { state.finishRender(); });
}

void RenderState::showErrorFrame(int renderW, int canvasH) {
    setTextures(m_uploader(makeErrorImage(renderW, canvasH)), nullptr);
}

void RenderState::completeGPUCanvas(std::int64_t count, GpuTextureRef left, bool isStereo,
                                    GpuTextureRef right, int renderW, int canvasH) {
    if (count != renderCount())
        return;
    if (!left) {
        showErrorFrame(renderW, canvasH);
        return;
    }
    setTextures(std::move(left), isStereo ? std::move(right) : nullptr);
    countFrame();
}

void RenderState::completeGPUAutostereogram(std::int64_t count, GpuTextureRef image, int renderW,
                                            int canvasH) {
    if (count != renderCount())
        return;
    if (!image) {
        showErrorFrame(renderW, canvasH);
        return;
    }
    setTextures(std::move(image), nullptr);
    countFrame();
}

void RenderState::completeCPUFailure(std::int64_t count, int renderW, int canvasH) {
    if (count != renderCount())
        return;
    showErrorFrame(renderW, canvasH);
}

void RenderState::completeCPUCanvas(std::int64_t count, std::optional<RGBAImage> sirds,
                                    std::optional<RGBAImage> left, bool isStereo,
                                    std::optional<RGBAImage> right, int renderW, int canvasH) {
    if (count != renderCount())
        return;
    const std::optional<RGBAImage>& shown = sirds ? sirds : left;
    if (!shown) {
        showErrorFrame(renderW, canvasH);
        return;
    }
    GpuTextureRef leftTexture = m_uploader(shown);
    GpuTextureRef rightTexture = isStereo && right ? m_uploader(right) : nullptr;
    setTextures(std::move(leftTexture), std::move(rightTexture));
    countFrame();
}

void RenderState::complete(RenderOutcome o) {
    if (o.renderCount == renderCount())
        lastPassSeconds = o.passSeconds;
    switch (o.kind) {
    case RenderOutcome::Kind::none:
        return;
    case RenderOutcome::Kind::gpuCanvas:
        completeGPUCanvas(o.renderCount, std::move(o.leftTexture), o.isStereoscopicMode,
                          std::move(o.rightTexture), o.renderW, o.canvasH);
        return;
    case RenderOutcome::Kind::gpuAutostereogram:
        completeGPUAutostereogram(o.renderCount, std::move(o.leftTexture), o.renderW, o.canvasH);
        return;
    case RenderOutcome::Kind::cpuFailure:
        completeCPUFailure(o.renderCount, o.renderW, o.canvasH);
        return;
    case RenderOutcome::Kind::cpuCanvas:
        completeCPUCanvas(o.renderCount, std::move(o.sirdsImage), std::move(o.leftImage),
                          o.isStereoscopicMode, std::move(o.rightImage), o.renderW, o.canvasH);
        return;
    }
}

void RenderState::countFrame() {
    ++frameCount;
    const double now = m_clock();
    if (now - lastFpsUpdate >= 1.0) {
        lastFps = frameCount;
        frameCount = 0;
        lastFpsUpdate = now;
        emit lastFpsChanged();
    }
}

void RenderState::animationTick(double dt) {
    if (isLifecycleSuspended || !lastProxy)
        return;
    // A NaN interval counts as the smallest step.
    const double d = dt > kMaxStep ? kMaxStep : (dt >= kMinStep ? dt : kMinStep);
    const bool paused = m_model.isAnimationPaused();
    bool changed = false;

    if (m_model.isIlluminantMode()) {
        illuminantHue = advanceModulo(illuminantHue, d / double(kIlluminantPeriod), 1.0);
        changed = true;
        emit illuminantHueChanged();
    }
    if (m_model.isBreathingEnabled() && !paused) {
        breathingPhase = advanceModulo(breathingPhase, d * kBreathingRate, kTwoPi);
        changed = true;
    }
    if (m_model.isPhaseAnimationEnabled() && !paused) {
        phase = advanceModulo(phase, d * (m_model.phaseAnimationSpeed() * kTwoPi), kTwoPi);
        changed = true;
    }
    if (m_model.isRotationAnimationEnabled() && !paused) {
        const auto& directions = tiles.animationTileRotationDirections;
        const double speed = m_model.rotationAnimationSpeed();
        for (std::size_t i = 0; i < tiles.animationTileParams.size(); ++i) {
            const double r = i < directions.size() ? directions[i] : 1.0;
            double& orientation = tiles.animationTileParams[i].orientation;
            orientation = advanceModulo(orientation, d * r * speed, 360.0);
        }
        changed = true;
    }
    bool spinStepRan = false;
    const auto& cells = tiles.animationTileVariantIndices;
    if (m_model.isRandomTileSpinEnabled() && !paused && !cells.empty()) {
        spinStepRan = true;
        for (TileSpin& spin : randomSpinTiles)
            spin.rotDeg += d * kSpinSpeed;
        std::erase_if(randomSpinTiles, [](const TileSpin& s) { return s.rotDeg >= kSpinEnd; });
        randomSpinTimeAccum += d;
        const double interval = m_model.randomSpinInterval();
        if (randomSpinTimeAccum >= interval && randomSpinTiles.size() < kMaxSpins) {
            // A random head start of up to 30 % of the interval; none when the
            // range would be empty.
            const double headStart = -0.3 * interval;
            randomSpinTimeAccum = headStart < 0 ? m_random.uniformDouble(headStart, 0.0) : 0.0;
            const auto c = static_cast<int>(m_random.uniformInt(std::int64_t(cells.size())));
            const bool running = std::any_of(randomSpinTiles.begin(), randomSpinTiles.end(),
                                             [c](const TileSpin& s) { return s.tileIdx == c; });
            if (!running)
                randomSpinTiles.push_back(TileSpin{c, 0.0});
        }
    }
    if (changed || spinStepRan) {
        if (isRenderInFlight)
            ++skippedTickCount;
        requestRender(true);
    }
}
