// Whole processes: GpuDevice::shared() loads the library beside the
// executable, so a copy of this one, with part of the library, runs a helper.

#include "GpuDevice.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "PatchFilter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(GpuProcess, NoOpenGLEndsTheProcessWithTheDeviceMessage) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "minimal"); // a platform without OpenGL
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=GpuDevice.*"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(process.readAllStandardError().contains("OpenGL 4.3 core context not available\n"));
}

TEST(GpuProcess, WithoutKernelsTheCpuRoutesPassTheKernelChecksAndThreadsEndSilently) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("shaders");
    for (const QString name : {"blitVertex.vert", "blitFragment.frag", "gaborPatch.frag"})
        QFile::copy(gputest::builtShaderDirectory() + "/" + name, dir.path() + "/shaders/" + name);
    QFile::copy(QCoreApplication::applicationFilePath(), dir.path() + "/test_gpu");
    QProcess process;
    process.start(dir.path() + "/test_gpu",
                  {"--gtest_also_run_disabled_tests", "--gtest_filter=ProcessHelper.*"});
    ASSERT_TRUE(process.waitForFinished(240000));
    const QByteArray out = process.readAllStandardOutput();
    EXPECT_TRUE(process.exitCode() == 0 && out.contains("[  PASSED  ] 1 test."))
        << out.toStdString();
    EXPECT_EQ(out.count("[GPU]"), 0) << "a library without kernels is no error";
}

// --- a helper, run only in a process of its own ---

// The same checks as in-process, on the CPU routes. Then a pool thread that used
// the GPU and ends of idleness, as render threads do, and a plain thread with
// objects of its own (the image filter's): neither says a word as it ends.
TEST(ProcessHelper, DISABLED_WithoutKernels) {
    static QStringList messages;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
    EXPECT_EQ(GpuDevice::shared().patchKernel() + GpuDevice::shared().sirdsKernel(), 0u);
    EXPECT_FALSE(generatePatchGPU(32, 32, 2, 0, 0, 0.3, 1, 0.96));
    // Every variant and spin comes from the CPU, each in its own slot.
    gputest::expectCanvasesMatchCpuPatches(false);
    gputest::expectCentredAutostereograms(false);
    QThreadPool pool;
    pool.setExpiryTimeout(50);
    pool.start([] { uploadImageToTexture(pattern(8, 4)); });
    pool.waitForDone();
    std::thread([] {
        uploadImageToTexture(pattern(8, 4));
        EXPECT_TRUE(generatePatchFilter(16, 16, 2, 0, 0, 0.3, 1));
    }).join();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

} // namespace
