#pragma once

#include "AppModel.h"
#include "Autostereogram.h"
#include "GpuTexture.h"
#include "RGBAImage.h"
#include "RenderPass.h"
#include "TileSet.h"

#include <QObject>
#include <QSizeF>
#include <QThreadPool>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class RenderState;

// The part of a window's render state that a running pass touches from its
// worker. Shared with the passes, so a pass may outlive its window (and the
// settings model) safely.
class RenderChannel {
public:
    explicit RenderChannel(RenderState* owner);

    std::atomic<std::int64_t> renderCount{0};
    // Live copies of the two settings a pass reads when it runs, kept current
    // by the owner on the main thread.
    std::atomic<AppModel::RenderingMode> renderingMode{AppModel::RenderingMode::gpu};
    std::atomic<double> animationRenderScale{1.0};
    // Only one pass runs at a time, so the pass uses it without a lock.
    SIRDSShiftCache sirdsShiftCache;

    // Posts fn to the owner's thread (queued) unless the owner is gone.
    // Returns whether it was posted.
    bool post(std::function<void(RenderState&)> fn);
    // Called by the owner's destructor: nothing is posted afterwards.
    void detach();

private:
    std::mutex m_lock;
    RenderState* m_owner;
};

// The per-window render and animation state, with the scheduler, the frame
// completions, the frame counter and the animation clock. Main thread only,
// except performRender, which runs on a render worker. The main view owns one
// and keeps lastProxy and viewSize up to date; everything here is testable
// without widgets.
class RenderState : public QObject {
    Q_OBJECT
public:
    // Runs one pass somewhere off the main thread.
    using Executor = std::function<void(std::function<void()> pass)>;
    // Monotonic seconds for the frame counter.
    using Clock = std::function<double()>;
    // Pixels per point of the window's screen.
    using BackingScaleProvider = std::function<double()>;
    // Uploads a CPU image as a texture (main thread); null on failure.
    using Uploader = std::function<GpuTextureRef(const std::optional<RGBAImage>&)>;
    // The random source of the animation clock.
    struct RandomSource {
        std::function<std::int64_t(std::int64_t n)> uniformInt;  // [0, n), n > 0
        std::function<double(double a, double b)> uniformDouble; // [a, b), a < b
    };

    explicit RenderState(AppModel& model, QObject* parent = nullptr);
    ~RenderState() override;

    // ---- injection points (defaults in brackets) ----
    void setExecutor(Executor executor);       // [renderThreadPool()]
    void setClock(Clock clock);                // [steady clock]; restarts the counting window
    void setRandomSource(RandomSource source); // [QRandomGenerator::system()]
    void setBackingScaleProvider(BackingScaleProvider provider); // [1.0]
    void setUploader(Uploader uploader);                         // [uploadImageToTexture]
    // The delay of a non-forced pass, on the worker [sleeps 0.06 s].
    void setSettleDelay(std::function<void()> delay);

    // The process-wide pool of render passes, at low thread priority.
    static QThreadPool& renderThreadPool();
    static Executor defaultExecutor();
    static RandomSource systemRandomSource();
    static double steadySeconds();

    AppModel& appModel() const { return m_model; }
    double currentBackingScale() const; // from the provider; 1.0 if not finite and positive

    // ---- pattern and render state (names and initial values of the main view) ----
    double sigma = 0.25;                   // tile set preparation input; never changed
    double phase = 0.0;                    // carrier phase, radians [0, 2pi)
    double maxPatchSize = 128.0;           // the view's copy of the setting
    std::uint64_t patternSeed;             // random 64 bits at creation
    TileSet tiles;                         // per-set and per-cell lists drawn from patternSeed
    std::vector<TileSpin> randomSpinTiles; // running spins, at most 3
    double randomSpinTimeAccum = 0.0;      // seconds towards the next spin; may be negative
    double illuminantHue = 0.0;            // [0, 1)
    double breathingPhase = 0.0;           // radians [0, 2pi)
    // The screen's, for the stereo pair's sizes in centimetres; the view sets it.
    double pointsPerCentimetre = kReferencePointsPerCentimetre;

    // ---- geometry ----
    std::optional<QSizeF> lastProxy; // canvas size as last seen (points); none until it appears
    QSizeF viewSize{0, 0};           // canvas size last accepted for rendering (points)

    // ---- scheduler ----
    bool isRenderInFlight = false;       // a pass started and its finishRender has not run
    bool pendingRenderRequested = false; // a request arrived while a pass was in flight
    bool pendingRenderForce = false;     // one of those requests was forced
    bool isLifecycleSuspended = false;   // requests and ticks are dropped meanwhile

    // ---- frame counter ----
    std::int64_t frameCount = 0;       // frames since lastFpsUpdate
    std::int64_t lastFps = 0;          // frames of the last completed window of >= 1 s
    double lastFpsUpdate;              // clock seconds at the start of the current window
    double lastPassSeconds = 0;        // pixel work of the pass behind the installed frame
    std::int64_t skippedTickCount = 0; // ticks that found a pass still running

    std::int64_t renderCount() const { return m_channel->renderCount.load(); }
    SIRDSShiftCache& sirdsShiftCache() { return m_channel->sirdsShiftCache; }

    GpuTextureRef leftTexture() const { return m_leftTexture; }
    GpuTextureRef rightTexture() const { return m_rightTexture; }
    // Grows with every frame installed: a ring may hand back the very texture
    // object shown, with new content.
    std::uint64_t frameGeneration() const { return m_frameGeneration; }
    // Installs a new frame and emits texturesChanged().
    void setTextures(GpuTextureRef left, GpuTextureRef right);
    // The same, only when right differs from what is held.
    void setRightTexture(GpuTextureRef right);

    // ---- tile set ----
    TileSetInputs tileSetInputs() const;   // seed, viewSize, backing scale and the settings
    StereoPairSize stereoPairSize() const; // the pair's settings in points
    void prepareAnimationTiles();          // keeps an existing tile set
    void clearTileSet();                   // empties params, variant indices and hues

    // ---- scheduler ----
    void requestRender(bool force);
    void finishRender();
    RenderSnapshot takeSnapshot(bool force) const; // with the current renderCount

    // Runs on the worker: delay, staleness check, renderFrame, then the
    // completion and finishRender posted in that order.
    static void performRender(const RenderSnapshot& snapshot,
                              const std::shared_ptr<RenderChannel>& channel,
                              const std::function<void()>& settleDelay);

    // ---- frame completion (stale generations are ignored) ----
    void completeGPUCanvas(std::int64_t renderCount, GpuTextureRef left, bool isStereo,
                           GpuTextureRef right, int renderW, int canvasH);
    void completeGPUAutostereogram(std::int64_t renderCount, GpuTextureRef image, int renderW,
                                   int canvasH);
    void completeCPUFailure(std::int64_t renderCount, int renderW, int canvasH);
    void completeCPUCanvas(std::int64_t renderCount, std::optional<RGBAImage> sirds,
                           std::optional<RGBAImage> left, bool isStereo,
                           std::optional<RGBAImage> right, int renderW, int canvasH);
    void complete(RenderOutcome outcome); // the completion the outcome calls for
    void countFrame();

    // ---- animation clock ----
    void animationTick(double dt);

signals:
    void texturesChanged();      // leftTexture or rightTexture changed
    void lastFpsChanged();       // lastFps was recomputed
    void illuminantHueChanged(); // the clock moved the illuminant hue
    void renderFinished();       // finishRender ran (a pass ended)

private:
    void showErrorFrame(int renderW, int canvasH);

    AppModel& m_model;
    std::shared_ptr<RenderChannel> m_channel;
    GpuTextureRef m_leftTexture;
    GpuTextureRef m_rightTexture;
    std::uint64_t m_frameGeneration = 0;
    Executor m_executor;
    Clock m_clock;
    RandomSource m_random;
    BackingScaleProvider m_backingScale;
    Uploader m_uploader;
    std::function<void()> m_settleDelay;
};
