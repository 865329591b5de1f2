// Time per frame of the render pass for each generator and view layout, and of
// the patch synthesis and canvas upload it builds on. Prints one table; writes
// JSON with --benchmark_out=FILE.

#include "AppModel.h"
#include "GpuGeneration.h"
#include "PatchSynthesis.h"
#include "PreferencesStore.h"
#include "RenderPass.h"
#include "RenderState.h"
#include "ToolDisplay.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>

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
}

void benchmarkPatch(benchmark::State& bench) {
    for (auto _ : bench)
        benchmark::DoNotOptimize(synthesizePatchCPU(128, 128, 5.5, 37, 1.1, 0.32, 0.8, 0.96));
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
                benchmark::RegisterBenchmark(name.c_str(), benchmarkFrame, mode, layout, w, h)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
    benchmark::RegisterBenchmark("synthesizePatchCPU/128x128", benchmarkPatch)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("uploadImageToTexture/3840x2160", benchmarkUpload)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

} // namespace

int main(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fputs("lumenweave-bench: no display; run it under xvfb-run -a\n", stderr);
        return 2;
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
