// Whole processes: the test executable copied into a folder with part of the
// shader library (or none) beside it and started again on one DISABLED_ helper
// below, so that MetalManager::shared() loads what lies there, as in the app.

#include "Autostereogram.h"
#include "Canvas.h"
#include "GpuAutostereogram.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "MetalManager.h"
#include "PatchFilter.h"
#include "PatchSynthesis.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

QByteArray runHelper(const QString& helper, const QStringList& shaders, const QTemporaryDir& dir,
                     const QString& platform = {}) {
    const QString exe = dir.path() + "/test_gpu";
    QFile::copy(QCoreApplication::applicationFilePath(), exe);
    if (!shaders.isEmpty()) {
        QDir(dir.path()).mkdir("shaders");
    }
    for (const QString& name : shaders) {
        QFile::copy(gputest::builtShaderDirectory() + "/" + name, dir.path() + "/shaders/" + name);
    }
    QProcess process;
    if (!platform.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", platform);
        process.setProcessEnvironment(environment);
    }
    process.start(exe, {"--gtest_also_run_disabled_tests",
                        "--gtest_filter=ProcessHelper.DISABLED_" + helper});
    process.waitForFinished(240000);
    const bool passed = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return (passed ? "passed\n" : "failed\n") + process.readAllStandardOutput() +
           process.readAllStandardError();
}

RGBAImage testStrip() {
    RGBAImage strip = *makeRGBAImage(36, 20);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 36; ++x) {
            strip.setPixelColor(x, y, QColor(x * 7, y * 12, (x * y) % 256, 255));
        }
    }
    return strip;
}

// (output width, strip columns): odd and even margins, several cell sizes.
const std::pair<int, int> kSirdsCases[] = {{97, 3}, {98, 2}, {200, 6}};

TEST(GpuProcess, NoLibraryPrintsOneLineAndRunsOn) {
    QTemporaryDir dir;
    const QByteArray out = runHelper("RunsWithoutLibrary", {}, dir);
    EXPECT_TRUE(out.startsWith("passed\n")) << out.toStdString();
    EXPECT_EQ(out.count("[Metal]"), 1) << out.toStdString();
    EXPECT_TRUE(out.contains("\n[Metal] シェーダーコンパイルエラー: "
                             "default.metallib のロードに失敗しました\n"));
}

TEST(GpuProcess, NoOpenGLEndsTheProcessWithTheDeviceMessage) {
    QTemporaryDir dir;
    const QByteArray out = runHelper("RunsWithoutLibrary", {}, dir, "minimal");
    EXPECT_TRUE(out.startsWith("failed\n"));
    EXPECT_TRUE(out.contains("\nMetal device not available\n")) << out.toStdString();
}

TEST(GpuProcess, WithoutKernelsEverythingComesFromTheCpuAndMatchesTheKernels) {
    QTemporaryDir dir;
    const QByteArray out =
        runHelper("RunsWithBlitOnly", {"blitVertex.vert", "blitFragment.frag"}, dir);
    EXPECT_TRUE(out.startsWith("passed\n")) << out.toStdString();
    EXPECT_EQ(out.count("[Metal]"), 0) << out.toStdString();

    // The helper saved its CPU-route autostereograms; the kernel must agree.
    const GpuTextureRef strip = uploadImageToTexture(testStrip());
    for (const auto& [outW, columns] : kSirdsCases) {
        const QImage cpuRoute(dir.path() + QString("/sirds-%1.png").arg(outW));
        SIRDSShiftCache cache;
        auto gpuRoute = readbackTexture(makeAutostereogramGPU(strip, outW, 45, columns, cache));
        ASSERT_TRUE(gpuRoute && !cpuRoute.isNull());
        EXPECT_EQ(*gpuRoute, cpuRoute.convertToFormat(QImage::Format_RGBA8888_Premultiplied));
    }
}

TEST(GpuProcess, FirstUseOnAWorkerWhileTheGuiThreadAlsoAsks) {
    QTemporaryDir dir;
    const QByteArray out = runHelper(
        "FirstUseOnAWorker", QDir(gputest::builtShaderDirectory()).entryList(QDir::Files), dir);
    EXPECT_TRUE(out.startsWith("passed\n")) << out.toStdString();
}

// --- helpers, run only in the copied process ---

TEST(ProcessHelper, DISABLED_RunsWithoutLibrary) {
    EXPECT_EQ(MetalManager::shared().blitRenderPipeline(), 0u);
    EXPECT_FALSE(generatePatchGPU(32, 32, 2, 0, 0, 0.3, 1, 0.96));
    EXPECT_FALSE(generatePatchFilter(32, 32, 2, 0, 0, 0.3, 1));
}

TEST(ProcessHelper, DISABLED_RunsWithBlitOnly) {
    EXPECT_EQ(MetalManager::shared().computePipelineState(), 0u);
    EXPECT_FALSE(generatePatchGPU(32, 32, 2, 0, 0, 0.3, 1, 0.96));

    // Every variant and spin comes from the CPU, each in its own slot.
    const std::vector<TileParams> variants = {
        {0, 3, 0.3, 1}, {45, 2, 0.5, 0.8}, {100, 4, 0.2, 0.6}};
    const std::vector<int> indices = {2, 0, 1, 1, 2, 0, 0, 2, 1};
    const std::vector<double> scales = {1.0, 1.1, 0.9}, hues = {0.1, 0.5, 0.8};
    const RenderCanvasResult result =
        renderCanvasGPU(variants, indices, {{4, 30}}, 16, scales, hues, true, 40, 40, 0.7, 0.85,
                        0.3, StorageMode::shared, primaryCanvasPool());
    EXPECT_EQ(result.gpuGeneratedCount, 0);
    EXPECT_EQ(result.cpuFallbackCount, 4);
    auto cpuPatch = [&](std::size_t v, double orientation) {
        const TileParams& t = variants[v];
        return tintPatch(*synthesizePatchCPU(16, 16, t.frequency, orientation, 0.7, t.sigma,
                                             t.contrast, scales[v] * 0.96),
                         hues[v], 0.3);
    };
    const std::vector<RGBAImage> patches = {cpuPatch(0, 0), cpuPatch(1, 45), cpuPatch(2, 100)};
    auto expected = composeCanvas(40, 40, 16, patches, indices, {{4, cpuPatch(2, 130)}});
    auto actual = readbackTexture(result.texture);
    ASSERT_TRUE(actual && expected);
    EXPECT_EQ(*actual, *expected);

    const GpuTextureRef strip = uploadImageToTexture(testStrip());
    for (const auto& [outW, columns] : kSirdsCases) {
        SIRDSShiftCache cache;
        auto out = readbackTexture(makeAutostereogramGPU(strip, outW, 45, columns, cache));
        ASSERT_TRUE(out);
        EXPECT_TRUE(
            out->save(QCoreApplication::applicationDirPath() + QString("/sirds-%1.png").arg(outW)));
    }
}

TEST(ProcessHelper, DISABLED_FirstUseOnAWorker) {
    std::atomic<bool> done = false;
    GpuTextureRef canvas;
    std::thread worker([&] {
        canvas = renderCanvasGPU({{0, 2, 0.3, 1}}, {0}, {}, 16, {}, {}, false, 16, 16, 0, 0.85, 0,
                                 StorageMode::shared, primaryCanvasPool())
                     .texture;
        done = true;
    });
    // The GUI thread asks too, and keeps its event loop turning meanwhile.
    EXPECT_NE(MetalManager::shared().computePipelineState(), 0u);
    while (!done) {
        QCoreApplication::processEvents();
    }
    worker.join();
    auto patch = readbackTexture(canvas);
    ASSERT_TRUE(patch);
    EXPECT_LE(
        gputest::compareBytes(*patch, *synthesizePatchCPU(16, 16, 2, 0, 0, 0.3, 1, 0.96)).largest,
        1);
}

} // namespace
