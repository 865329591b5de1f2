// Time per frame of the render pass for each generator and view layout, and of
// the patch synthesis and canvas upload it builds on; and, in the live cases, the
// frames the real main window puts on screen. Prints one table (the live cases a
// second one with their ratios); writes JSON with --benchmark_out=FILE.

#include "AppModel.h"
#include "CanvasTexturePool.h"
#include "ContentView.h"
#include "GpuAutostereogram.h"
#include "GpuGeneration.h"
#include "LumenweaveApp.h"
#include "PatchSynthesis.h"
#include "PreferencesStore.h"
#include "RenderPass.h"
#include "RenderRequest.h"
#include "RenderState.h"
#include "ToolDisplay.h"
#include "VideoFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <sys/resource.h>

namespace {

enum class Layout { single, stereo, autostereogram };

const char* layoutName(Layout layout) {
    switch (layout) {
    case Layout::single:
        return "single";
    case Layout::stereo:
        return "stereo";
    case Layout::autostereogram:
        return "autostereogram";
    }
    return "";
}

// A frame with every animated quantity away from rest: phase, breathing, turned
// orientations, three spins and colour.
RenderSnapshot animatedSnapshot(Layout layout, int canvasW, int canvasH) {
    AppModel model(std::make_shared<MemoryPreferencesStore>());
    model.setIsStereoscopicMode(layout == Layout::stereo);
    model.setIsAutostereogramMode(layout == Layout::autostereogram);
    model.setIsColorMode(true);
    RenderState state(model);
    state.viewSize = QSizeF(canvasW, canvasH);
    state.maxPatchSize = 128;
    state.patternSeed = 1;
    state.phase = 1.1;
    state.breathingPhase = 0.7;
    state.prepareAnimationTiles();
    for (TileParams& params : state.tiles.animationTileParams)
        params.orientation += 23;
    state.randomSpinTiles = {{0, 100}, {5, 250}, {11, 400}};
    return state.takeSnapshot(true);
}

void benchmarkFrame(benchmark::State& bench, AppModel::RenderingMode mode, Layout layout,
                    int canvasW, int canvasH) {
    const RenderSnapshot snapshot = animatedSnapshot(layout, canvasW, canvasH);
    SIRDSShiftCache cache;
    for (auto _ : bench) {
        RenderOutcome outcome = renderFrame(snapshot, mode, 1.0, cache);
        if (!outcome.leftTexture && !outcome.leftImage) {
            bench.SkipWithError("the pass produced no frame");
            break;
        }
        benchmark::DoNotOptimize(outcome);
    }
    // The share of the patch kernel's pixels it recomputed in double precision.
    if (mode == AppModel::RenderingMode::gpu) {
        const ExactPathCount count = lastExactPathCount();
        if (count.pixels > 0)
            bench.counters["double_path_pct"] = 100.0 * double(count.exact) / double(count.pixels);
    }
}

// The patch kernel alone: every patch of a frame (its sets and spins) on a
// canvas of one tile, read back so that the work is done.
void benchmarkPatchKernel(benchmark::State& bench) {
    const RenderSnapshot snapshot = animatedSnapshot(Layout::single, 1600, 1200);
    const CanvasGeometry g = passGeometry(snapshot, 1.0);
    const std::vector<double> multipliers =
        breathingMultipliers(snapshot.breathingPhaseOffsets, snapshot.breathingPhase);
    CanvasTexturePool pool;
    for (auto _ : bench) {
        const RenderCanvasResult result = renderCanvasGPU(
            snapshot.tileParams, snapshot.variantIndices, snapshot.spins, g.P, multipliers,
            snapshot.hues, snapshot.isColorMode, g.P, g.P, snapshot.phase, 0.85,
            snapshot.colorModeBlackLevel, StorageMode::shared, pool);
        if (!readbackTexture(result.texture)) {
            bench.SkipWithError("no canvas");
            break;
        }
    }
    bench.counters["patches"] = double(snapshot.tileParams.size() + snapshot.spins.size());
    const ExactPathCount count = lastExactPathCount();
    if (count.pixels > 0)
        bench.counters["double_path_pct"] = 100.0 * double(count.exact) / double(count.pixels);
}

void benchmarkPatch(benchmark::State& bench) {
    for (auto _ : bench)
        benchmark::DoNotOptimize(synthesizePatchCPU(128, 128, 5.5, 37, 1.1, 0.32, 0.8, 0.96));
}

// The autostereogram's expansion from a GPU-composed strip, by the kernel or by
// the CPU route, to the full width.
void benchmarkExpansion(benchmark::State& bench, bool onGpu, int width, int height) {
    const RenderSnapshot snapshot = animatedSnapshot(Layout::autostereogram, width, height);
    const CanvasGeometry g = passGeometry(snapshot, 1.0);
    const GpuTextureRef stripTexture =
        renderCanvasGPU(
            snapshot.tileParams, snapshot.variantIndices, snapshot.spins, g.P,
            breathingMultipliers(snapshot.breathingPhaseOffsets, snapshot.breathingPhase),
            snapshot.hues, snapshot.isColorMode, g.renderW, g.canvasH, snapshot.phase, 0.85,
            snapshot.colorModeBlackLevel, StorageMode::shared, primaryCanvasPool())
            .texture;
    SIRDSShiftCache cache;
    if (!stripTexture) {
        bench.SkipWithError("no strip");
        return;
    }
    const int columns = int(snapshot.sirdsStripColumns);
    for (auto _ : bench) {
        GpuTextureRef out =
            onGpu ? makeAutostereogramKernel(stripTexture, width, height, columns, cache)
                  : makeAutostereogramCPU(stripTexture, width, height, columns, cache);
        if (!out) {
            bench.SkipWithError("no autostereogram");
            break;
        }
        benchmark::DoNotOptimize(out);
    }
}

void benchmarkUpload(benchmark::State& bench) {
    RGBAImage canvas(3840, 2160, QImage::Format_RGBA8888_Premultiplied);
    canvas.fill(QColor(90, 120, 150));
    const std::optional<RGBAImage> image = canvas;
    for (auto _ : bench) {
        GpuTextureRef texture = uploadImageToTexture(image);
        if (!texture) {
            bench.SkipWithError("no texture");
            break;
        }
        benchmark::DoNotOptimize(texture);
    }
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Video export at 1280 x 720 and 30 fps with rotation and phase drift: frames
// rendered (and encoded, with a format) per second; above 30 is faster than
// real time.
void benchmarkExport(benchmark::State& bench, std::optional<VideoFile::Format> format) {
    RenderRequest request;
    request.seed = 1;
    request.viewWidth = 1280;
    request.viewHeight = 720;
    request.animation.rotation = true;
    request.animation.phaseDrift = true;
    constexpr int kFps = 30;
    constexpr int kFrames = 90;
    QTemporaryDir dir;
    for (auto _ : bench) {
        RequestRenderer renderer(request);
        std::optional<VideoFile> video;
        if (format)
            video.emplace(dir.filePath(QStringLiteral("export-%1").arg(int(*format))), *format);
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = processCpuSeconds();
        for (int k = 0; k < kFrames; ++k) {
            const FrameImage frame = renderer.frameAt(*Rational::make(k, kFps));
            const bool ok =
                frame.failure == FrameImage::Failure::none &&
                (!video ||
                 ((k > 0 || video->open(frame.image.width(), frame.image.height(), kFps, 1)) &&
                  video->writeFrame(frame.image)));
            if (!ok) {
                bench.SkipWithError(video ? qPrintable(video->error()) : "no frame");
                return;
            }
        }
        if (video && !video->finish()) {
            bench.SkipWithError(qPrintable(video->error()));
            return;
        }
        const double seconds = double(clock.nsecsElapsed()) * 1e-9;
        bench.SetIterationTime(seconds);
        bench.counters["fps"] = kFrames / seconds;
        bench.counters["of_real_time"] = kFrames / seconds / kFps;
        // Every thread's time (the GL driver's and the encoder's too): what a
        // frame costs whatever else the machine is doing.
        bench.counters["cpu_ms_per_frame"] = (processCpuSeconds() - cpuBefore) * 1000 / kFrames;
    }
}

// ---- live cases: the real main window at cap 60 and uncapped ----

double liveSeconds = 10;

struct LiveCase {
    AppModel::RenderingMode mode;
    const char* modeName;
    Layout layout;
    int width, height; // canvas, in points (the test display's scale is 1)
    std::string name() const {
        return std::string(modeName) + "/" + layoutName(layout) + "/" + std::to_string(width) +
               "x" + std::to_string(height);
    }
};

struct LiveResult {
    std::string name;
    double deliveredFps = 0; // frames put on screen per second at cap 60
    double uncappedMs = 0;   // per frame, each pass asked for once the last frame is shown
    double passMs = 0;       // one render pass alone
    double presentMs = 0;    // one redraw of a fixed frame
    double cpuMs = 0;        // processor time of the process per uncapped frame
    double presentCpuMs = 0; // processor time of the process per redraw of a fixed frame
};
std::vector<LiveResult> liveResults;

std::string loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "unknown";
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() >= 3 ? (fields[0] + " " + fields[1] + " " + fields[2]).toStdString()
                              : "unknown";
}

void runEventsFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > seconds * 1000)
            return false;
        runEventsFor(0.005);
    }
    return true;
}

// Counts the frames put on screen that show a picture not shown before.
class FramesOnScreen : public QObject {
public:
    FramesOnScreen(ContentView& view, FieldPresenter& presenter) {
        connect(&view.renderState(), &RenderState::texturesChanged, this, [this] { fresh = true; });
        connect(&presenter, &FieldPresenter::frameSwapped, this, [this] {
            ++swaps;
            if (!std::exchange(fresh, false))
                return;
            ++frames;
            if (onFrame)
                onFrame();
        });
    }
    // Frames (or, with swaps, every redraw) during seconds of running events;
    // with cpuMs, also the process's processor time per frame (every thread:
    // where the GPU is the CPU, its work too).
    double perSecond(double seconds, const long long FramesOnScreen::*counter,
                     double* cpuMs = nullptr) {
        const long long before = this->*counter;
        const std::clock_t cpuBefore = std::clock();
        QElapsedTimer clock;
        clock.start();
        runEventsFor(seconds);
        const double count = double(this->*counter - before);
        if (cpuMs)
            *cpuMs =
                count > 0 ? double(std::clock() - cpuBefore) * 1000.0 / CLOCKS_PER_SEC / count : 0;
        return count / (double(clock.nsecsElapsed()) * 1e-9);
    }
    long long frames = 0;
    long long swaps = 0;
    std::function<void()> onFrame;

private:
    bool fresh = false;
};

// The application's main window with every animation kind on, its canvas at the
// case's size.
class LiveWindow {
public:
    explicit LiveWindow(const LiveCase& c) : app(model(c)) {
        app.show();
        QMainWindow* window = app.mainWindow();
        waitUntil([&] { return view().isVisible() && view().width() > 0; }, 10);
        const QSize frame = window->size() - view().size();
        window->resize(c.width + frame.width(), c.height + frame.height());
        ready = waitUntil(
            [&] {
                return view().size() == QSize(c.width, c.height) &&
                       view().renderState().viewSize == QSizeF(c.width, c.height) &&
                       view().presenter() && view().renderState().lastFps > 0;
            },
            60);
    }
    ~LiveWindow() {
        view().stopDisplayLink();
        RenderState::renderThreadPool().waitForDone();
    }
    ContentView& view() { return *app.contentView(); }
    bool ready = false;

private:
    static std::unique_ptr<AppModel> model(const LiveCase& c) {
        auto m = std::make_unique<AppModel>(std::make_shared<MemoryPreferencesStore>());
        m->setRenderingMode(c.mode);
        m->setIsStereoscopicMode(c.layout == Layout::stereo);
        m->setIsAutostereogramMode(c.layout == Layout::autostereogram);
        m->setIsRotationAnimationEnabled(true);
        m->setIsPhaseAnimationEnabled(true);
        m->setIsBreathingEnabled(true);
        m->setIsRandomTileSpinEnabled(true);
        m->setAnimationMaxFPS(60);
        m->setShowStatusBar(true);
        return m;
    }
    LumenweaveApp app;
};

// The bare present of a layout and size does not depend on the generator, so
// the cases after the first share its figure.
std::map<std::string, std::pair<double, double>> presentBaselines;

void benchmarkLive(benchmark::State& bench, LiveCase c) {
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    if (screen.width() < c.width + 20 || screen.height() < c.height + 80) {
        bench.SkipWithError("the screen is smaller than the window; run scripts/bench.sh");
        return;
    }
    for (auto _ : bench) {
        QElapsedTimer total;
        total.start();
        LiveWindow live(c);
        ContentView& view = live.view();
        RenderState& state = view.renderState();
        QPointer<FieldPresenter> presenter = view.presenter();
        if (!live.ready || !presenter) {
            bench.SkipWithError("the window showed no frames");
            return;
        }
        FramesOnScreen counter(view, *presenter);
        LiveResult r;
        r.name = c.name();

        // Delivered at cap 60: the display link drives, as in use.
        runEventsFor(2);
        r.deliveredFps = counter.perSecond(liveSeconds, &FramesOnScreen::frames);

        // Uncapped: the next pass is asked for as soon as a frame is on screen.
        view.stopDisplayLink();
        waitUntil([&] { return !state.isRenderInFlight; }, 30);
        runEventsFor(0.2);
        counter.onFrame = [&] { state.animationTick(1.0 / 60.0); };
        state.animationTick(1.0 / 60.0);
        r.uncappedMs = 1000.0 / counter.perSecond(liveSeconds, &FramesOnScreen::frames, &r.cpuMs);
        counter.onFrame = {};
        waitUntil([&] { return !state.isRenderInFlight; }, 30);

        // The pass alone, on this window's last snapshot.
        {
            const RenderSnapshot snapshot = state.takeSnapshot(true);
            SIRDSShiftCache cache;
            QElapsedTimer clock;
            clock.start();
            long long passes = 0;
            while (clock.elapsed() < liveSeconds * 1000 || passes == 0) {
                RenderOutcome outcome =
                    renderFrame(snapshot, c.mode, view.appModel().animationRenderScale(), cache);
                benchmark::DoNotOptimize(outcome);
                ++passes;
            }
            r.passMs = double(clock.nsecsElapsed()) * 1e-6 / double(passes);
        }

        // The bare present: the presenter redrawing the frame it has, as fast as it can.
        const std::string layoutKey = r.name.substr(r.name.find('/') + 1);
        if (auto known = presentBaselines.find(layoutKey); known != presentBaselines.end()) {
            std::tie(r.presentMs, r.presentCpuMs) = known->second;
        } else {
            runEventsFor(0.2);
            auto connection = QObject::connect(presenter, &FieldPresenter::frameSwapped, presenter,
                                               [&] { presenter->setNeedsDisplay(); });
            presenter->setNeedsDisplay();
            r.presentMs =
                1000.0 / counter.perSecond(liveSeconds, &FramesOnScreen::swaps, &r.presentCpuMs);
            QObject::disconnect(connection);
            presentBaselines[layoutKey] = {r.presentMs, r.presentCpuMs};
        }

        const double ideal = std::min(60.0, 1000.0 / (r.passMs + r.presentMs));
        bench.counters["fps_cap60"] = r.deliveredFps;
        bench.counters["uncapped_ms"] = r.uncappedMs;
        bench.counters["pass_ms"] = r.passMs;
        bench.counters["present_ms"] = r.presentMs;
        bench.counters["fps_of_ideal"] = r.deliveredFps / ideal;
        bench.counters["uncapped_of_sum"] = r.uncappedMs / (r.passMs + r.presentMs);
        bench.counters["cpu_ms"] = r.cpuMs;
        bench.counters["present_cpu_ms"] = r.presentCpuMs;
        liveResults.push_back(r);
        bench.SetIterationTime(double(total.nsecsElapsed()) * 1e-9);
    }
}

void printLiveTable(const std::string& loadBefore) {
    if (liveResults.empty())
        return;
    std::printf("\nFrames on screen, %g s per figure; load average before %s, after %s\n",
                liveSeconds, loadBefore.c_str(), loadAverage().c_str());
    std::printf("%-34s %8s %8s %8s %8s %8s %9s %9s %8s\n", "case", "fps@60", "ideal", "uncap ms",
                "pass ms", "pres ms", "fps/ideal", "uncap/sum", "cpu ms");
    for (const LiveResult& r : liveResults) {
        const double sum = r.passMs + r.presentMs;
        const double ideal = std::min(60.0, 1000.0 / sum);
        std::printf("%-34s %8.1f %8.1f %8.1f %8.1f %8.1f %9.2f %9.2f %8.1f %8.1f\n", r.name.c_str(),
                    r.deliveredFps, ideal, r.uncappedMs, r.passMs, r.presentMs,
                    r.deliveredFps / ideal, r.uncappedMs / sum, r.cpuMs, r.presentCpuMs);
    }
    std::printf("ideal = min(60, 1000 / (pass + present)); targets: fps/ideal >= 0.9 and "
                "uncap/sum <= 1.2 (gpu, single and stereo); cpu ms, pres cpu: processor time "
                "of the process (not the display server's) per uncapped frame and per bare "
                "present\n");
}

void registerLive() {
    // Beside the video export's figures.
    const LiveCase exportSize{AppModel::RenderingMode::gpu, "gpu", Layout::single, 1280, 720};
    benchmark::RegisterBenchmark(("live/" + exportSize.name()).c_str(), benchmarkLive, exportSize)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
    const std::pair<int, int> sizes[] = {{1600, 1200}, {3840, 2160}};
    const std::pair<AppModel::RenderingMode, const char*> modes[] = {
        {AppModel::RenderingMode::gpu, "gpu"}, {AppModel::RenderingMode::cpu, "cpu"}};
    for (const auto& [w, h] : sizes)
        for (const auto& [mode, modeName] : modes)
            for (Layout layout : {Layout::single, Layout::stereo, Layout::autostereogram}) {
                const LiveCase c{mode, modeName, layout, w, h};
                benchmark::RegisterBenchmark(("live/" + c.name()).c_str(), benchmarkLive, c)
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kSecond);
            }
}

void registerAll() {
    const std::pair<AppModel::RenderingMode, const char*> modes[] = {
        {AppModel::RenderingMode::cpu, "cpu"},
        {AppModel::RenderingMode::imageFilter, "filter"},
        {AppModel::RenderingMode::gpu, "gpu"}};
    const std::pair<int, int> sizes[] = {{1600, 1200}, {3840, 2160}};
    for (const auto& [mode, modeName] : modes)
        for (Layout layout : {Layout::single, Layout::stereo, Layout::autostereogram})
            for (const auto& [w, h] : sizes) {
                const std::string name = std::string("frame/") + modeName + "/" +
                                         layoutName(layout) + "/" + std::to_string(w) + "x" +
                                         std::to_string(h);
                // CPU time of the whole process: on a software rasterizer the
                // GPU's work is the CPU's, which a busy machine barely changes.
                benchmark::RegisterBenchmark(name.c_str(), benchmarkFrame, mode, layout, w, h)
                    ->Unit(benchmark::kMillisecond)
                    ->MeasureProcessCPUTime()
                    ->UseRealTime();
            }
    benchmark::RegisterBenchmark("patchKernel/gpu/128x128", benchmarkPatchKernel)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
    benchmark::RegisterBenchmark("synthesizePatchCPU/128x128", benchmarkPatch)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    for (const auto& [w, h] : sizes)
        for (const bool onGpu : {true, false}) {
            const std::string name = std::string("sirdsExpand/") + (onGpu ? "gpu/" : "cpu/") +
                                     std::to_string(w) + "x" + std::to_string(h);
            benchmark::RegisterBenchmark(name.c_str(), benchmarkExpansion, onGpu, w, h)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    benchmark::RegisterBenchmark("uploadImageToTexture/3840x2160", benchmarkUpload)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    const std::pair<std::optional<VideoFile::Format>, const char*> exports[] = {
        {std::nullopt, "render-only"},
        {VideoFile::Format::ffv1Matroska, "ffv1"},
        {VideoFile::Format::h264Mp4, "h264"}};
    for (const auto& [format, name] : exports)
        benchmark::RegisterBenchmark((std::string("export/") + name + "/1280x720@30").c_str(),
                                     benchmarkExport, format)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    registerLive();
}

// Takes --live-seconds=N (the length of each live figure) out of the arguments.
bool takeLiveSeconds(int& argc, char** argv) {
    const std::string prefix = "--live-seconds=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(prefix, 0) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        char* end = nullptr;
        liveSeconds = std::strtod(arg.c_str() + prefix.size(), &end);
        if (*end != '\0' || !(liveSeconds >= 0.5 && liveSeconds <= 600)) {
            std::fprintf(stderr, "lumenweave-bench: --live-seconds needs 0.5 to 600, not '%s'\n",
                         arg.c_str() + prefix.size());
            return false;
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs("lumenweave-bench: no display; run it under xvfb-run -a\n", stderr);
        return 2;
    }
    if (!takeLiveSeconds(argc, argv))
        return 1;
    // The live windows' application keeps nothing of the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerAll();
    const std::string loadBefore = loadAverage();
    benchmark::AddCustomContext("load_average_before", loadBefore);
    benchmark::RunSpecifiedBenchmarks();
    printLiveTable(loadBefore);
    benchmark::Shutdown();
    return 0;
}
