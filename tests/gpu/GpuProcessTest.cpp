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
    process.start(QCoreApplication::applicationFilePath(),
                  {"--gtest_filter=GpuDevice.MissingFolderIsAMissingLibrary"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
    EXPECT_TRUE(process.readAllStandardError().contains("OpenGL 4.3 core context not available\n"));
}

// Runs one of the helpers below in `program`, expects it to pass, gives back its output.
QByteArray runHelper(const char* helper,
                     const QString& program = QCoreApplication::applicationFilePath()) {
    QProcess process;
    process.start(program, {"--gtest_also_run_disabled_tests",
                            QStringLiteral("--gtest_filter=ProcessHelper.DISABLED_") + helper});
    const bool finished = process.waitForFinished(240000);
    const QByteArray out = process.readAllStandardOutput();
    EXPECT_TRUE(finished && process.exitCode() == 0 && out.contains("[  PASSED  ] 1 test."))
        << out.toStdString();
    return out;
}

TEST(GpuProcess, WithoutKernelsTheCpuRoutesPassTheKernelChecks) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("shaders");
    for (const QString name : {"blitVertex.vert", "blitFragment.frag"})
        QFile::copy(gputest::builtShaderDirectory() + "/" + name, dir.path() + "/shaders/" + name);
    QFile::copy(QCoreApplication::applicationFilePath(), dir.path() + "/test_gpu");
    EXPECT_EQ(runHelper("RunsWithBlitOnly", dir.path() + "/test_gpu").count("[GPU]"), 0)
        << "a library without kernels is no error";
}

TEST(GpuProcess, ThreadsThatUsedTheGpuEndWithoutAWord) {
    runHelper("ThreadsEndSilently");
}

// --- helpers, run only in a process of their own ---

// A pool thread that used the GPU and then ends of idleness, as render threads
// do; then a plain thread with objects of its own (the image filter's).
TEST(ProcessHelper, DISABLED_ThreadsEndSilently) {
    static QStringList messages;
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
    QThreadPool pool;
    pool.setExpiryTimeout(50);
    pool.start([] { uploadImageToTexture(gputest::pattern(8, 4)); });
    pool.waitForDone();
    std::thread([] {
        uploadImageToTexture(gputest::pattern(8, 4));
        generatePatchFilter(16, 16, 2, 0, 0, 0.3, 1);
    }).join();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

// The same checks as in-process, on the CPU routes.

TEST(ProcessHelper, DISABLED_RunsWithBlitOnly) {
    EXPECT_EQ(GpuDevice::shared().patchKernel() + GpuDevice::shared().sirdsKernel(), 0u);
    EXPECT_FALSE(generatePatchGPU(32, 32, 2, 0, 0, 0.3, 1, 0.96));
    // Every variant and spin comes from the CPU, each in its own slot.
    gputest::expectCanvasesMatchCpuPatches(false);
    gputest::expectCentredAutostereograms(false);
}

} // namespace
