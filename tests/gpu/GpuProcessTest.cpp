// Whole processes: the test executable copied into a folder without the shader
// library (or with part of it) and started again, running one of the DISABLED_
// helpers below; MetalManager::shared() then loads what lies beside that copy,
// as in the app.

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
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

struct HelperRun {
    int exitCode = -1;
    QByteArray output;
};

HelperRun runHelper(const QString& helper, const QStringList& shaders, QTemporaryDir& dir) {
    const QString exe = dir.path() + "/test_gpu";
    EXPECT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), exe));
    if (!shaders.isEmpty()) {
        QDir(dir.path()).mkdir("shaders");
        for (const QString& name : shaders) {
            QFile::copy(gputest::builtShaderDirectory() + "/" + name,
                        dir.path() + "/shaders/" + name);
        }
    }
    QProcess process;
    process.start(exe, {"--gtest_also_run_disabled_tests",
                        "--gtest_filter=ProcessHelper.DISABLED_" + helper});
    process.waitForFinished(240000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput()};
}

int countLinesWith(const QByteArray& output, const QByteArray& needle) {
    int count = 0;
    for (const QByteArray& line : output.split('\n')) {
        count += line.contains(needle) ? 1 : 0;
    }
    return count;
}

const QByteArray kLinePrefix = "[Metal] シェーダーコンパイルエラー: ";

RGBAImage makeTestStrip() {
    RGBAImage strip = *makeRGBAImage(36, 20);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 36; ++x) {
            strip.setPixelColor(x, y, QColor(x * 7, y * 12, (x * y) % 256, 255));
        }
    }
    return strip;
}

// (output width, strip columns): odd and even margins, several cell sizes.
const std::vector<std::pair<int, int>> kSirdsCases = {{97, 3}, {98, 2}, {200, 6}};

TEST(WithoutLibrary, ProcessReportsOnceAndEveryGeneratorFallsBack) {
    QTemporaryDir dir;
    const HelperRun run = runHelper("RunsWithoutLibrary", {}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(countLinesWith(run.output, "[Metal]"), 1) << run.output.toStdString();
    EXPECT_TRUE(
        run.output.contains("\n" + kLinePrefix + "default.metallib のロードに失敗しました\n") ||
        run.output.startsWith(kLinePrefix + "default.metallib のロードに失敗しました\n"))
        << run.output.toStdString();
}

TEST(WithoutLibrary, BlitOnlyLibraryIsSilentAndTheCpuAutostereogramMatchesTheKernel) {
    QTemporaryDir dir;
    const HelperRun run =
        runHelper("RunsWithBlitOnly", {"blitVertex.vert", "blitFragment.frag"}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(countLinesWith(run.output, "[Metal]"), 0) << run.output.toStdString();

    // The helper saved its CPU-route autostereograms; the kernel must agree.
    const GpuTextureRef strip = uploadImageToTexture(makeTestStrip());
    for (const auto& [outW, columns] : kSirdsCases) {
        QImage cpuRoute(dir.path() + QString("/sirds-%1.png").arg(outW));
        ASSERT_FALSE(cpuRoute.isNull());
        cpuRoute = cpuRoute.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        SIRDSShiftCache cache;
        auto gpuRoute = readbackTexture(makeAutostereogramGPU(strip, outW, 45, columns, cache));
        ASSERT_TRUE(gpuRoute);
        EXPECT_EQ(*gpuRoute, cpuRoute) << "outW " << outW;
    }
}

TEST(GpuProcess, NoOpenGLEndsTheProcessWithTheDeviceMessage) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "minimal"); // a platform without OpenGL
    process.setProcessEnvironment(environment);
    process.start(
        QCoreApplication::applicationFilePath(),
        {"--gtest_filter=MetalManager.SharedInstanceBuildsEveryPipelineFromTheBuiltLibrary"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(process.readAllStandardError().contains("Metal device not available\n"));
}

TEST(GpuProcess, FirstUseOnAWorkerWhileTheGuiThreadAlsoAsks) {
    QTemporaryDir dir;
    const QStringList all = QDir(gputest::builtShaderDirectory()).entryList(QDir::Files);
    const HelperRun run = runHelper("FirstUseOnAWorker", all, dir);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(countLinesWith(run.output, "[Metal]"), 0) << run.output.toStdString();
}

// --- helpers, run only in the copied process ---

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
        gputest::maxByteDifference(*patch, *synthesizePatchCPU(16, 16, 2, 0, 0, 0.3, 1, 0.96)), 1);
}

std::vector<TileParams> someVariants() {
    return {{0, 3, 0.3, 1}, {45, 2, 0.5, 0.8}, {100, 4, 0.2, 0.6}};
}

TEST(ProcessHelper, DISABLED_RunsWithoutLibrary) {
    MetalManager& manager = MetalManager::shared();
    EXPECT_EQ(manager.computePipelineState(), 0u);
    EXPECT_EQ(manager.sirdsPipelineState(), 0u);
    EXPECT_EQ(manager.blitRenderPipeline(), 0u);
    EXPECT_FALSE(generatePatchGPU(32, 32, 2, 0, 0, 0.3, 1, 0.96));
    EXPECT_FALSE(generatePatchFilter(32, 32, 2, 0, 0, 0.3, 1));

    // Every variant and spin comes from the CPU, each in its own slot.
    const auto variants = someVariants();
    const std::vector<int> indices = {2, 0, 1, 1, 2, 0, 0, 2, 1};
    const std::vector<TileSpin> spins = {{4, 30}};
    const std::vector<double> scales = {1.0, 1.1, 0.9};
    const std::vector<double> hues = {0.1, 0.5, 0.8};
    const RenderCanvasResult result =
        renderCanvasGPU(variants, indices, spins, 16, scales, hues, true, 40, 40, 0.7, 0.85, 0.3,
                        StorageMode::shared, primaryCanvasPool());
    EXPECT_EQ(result.gpuGeneratedCount, 0);
    EXPECT_EQ(result.cpuFallbackCount, 4);
    ASSERT_TRUE(result.texture);

    std::vector<RGBAImage> patches;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const TileParams& t = variants[i];
        patches.push_back(tintPatch(*synthesizePatchCPU(16, 16, t.frequency, t.orientation, 0.7,
                                                        t.sigma, t.contrast, scales[i] * 0.96),
                                    hues[i], 0.3));
    }
    const TileParams& spun = variants[2];
    const std::map<int, RGBAImage> overrides = {
        {4, tintPatch(*synthesizePatchCPU(16, 16, spun.frequency, spun.orientation + 30, 0.7,
                                          spun.sigma, spun.contrast, scales[2] * 0.96),
                      hues[2], 0.3)}};
    auto expected = composeCanvas(40, 40, 16, patches, indices, overrides);
    auto actual = readbackTexture(result.texture);
    ASSERT_TRUE(actual && expected);
    EXPECT_EQ(*actual, *expected);
}

TEST(ProcessHelper, DISABLED_RunsWithBlitOnly) {
    MetalManager& manager = MetalManager::shared();
    EXPECT_NE(manager.blitRenderPipeline(), 0u);
    EXPECT_EQ(manager.sirdsPipelineState(), 0u);
    const GpuTextureRef strip = uploadImageToTexture(makeTestStrip());
    for (const auto& [outW, columns] : kSirdsCases) {
        SIRDSShiftCache cache;
        auto out = readbackTexture(makeAutostereogramGPU(strip, outW, 45, columns, cache));
        ASSERT_TRUE(out);
        EXPECT_TRUE(
            out->save(QCoreApplication::applicationDirPath() + QString("/sirds-%1.png").arg(outW)));
    }
}

} // namespace
