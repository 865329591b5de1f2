// Whole processes: MetalManager::shared() loads the library beside the
// executable, so a copy of this one, with part of the library, runs a helper.

#include "Autostereogram.h"
#include "Canvas.h"
#include "GpuAutostereogram.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "MetalManager.h"
#include "PatchSynthesis.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

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

TEST(GpuProcess, NoOpenGLEndsTheProcessWithTheDeviceMessage) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "minimal"); // a platform without OpenGL
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(),
                  {"--gtest_filter=MetalManager.MissingFolderIsAMissingLibrary"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(process.readAllStandardError().contains("Metal device not available\n"));
}

TEST(GpuProcess, WithoutKernelsEverythingComesFromTheCpuAndMatchesTheKernels) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("shaders");
    for (const QString name : {"blitVertex.vert", "blitFragment.frag"}) {
        QFile::copy(gputest::builtShaderDirectory() + "/" + name, dir.path() + "/shaders/" + name);
    }
    QFile::copy(QCoreApplication::applicationFilePath(), dir.path() + "/test_gpu");
    QProcess process;
    process.start(dir.path() + "/test_gpu",
                  {"--gtest_also_run_disabled_tests",
                   "--gtest_filter=ProcessHelper.DISABLED_RunsWithBlitOnly"});
    ASSERT_TRUE(process.waitForFinished(240000));
    const QByteArray out = process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 0) << out.toStdString();
    EXPECT_EQ(out.count("[Metal]"), 0) << "a library without kernels is no error";

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

// --- helpers, run only in the copied process ---

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

} // namespace
