// Whole processes: MetalManager::shared() loads the library beside the
// executable, so a copy of this one, with part of the library, runs a helper.

#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "MetalManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

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

TEST(GpuProcess, WithoutKernelsTheCpuRoutesPassTheKernelChecks) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("shaders");
    for (const QString name : {"blitVertex.vert", "blitFragment.frag"})
        QFile::copy(gputest::builtShaderDirectory() + "/" + name, dir.path() + "/shaders/" + name);
    QFile::copy(QCoreApplication::applicationFilePath(), dir.path() + "/test_gpu");
    QProcess process;
    process.start(dir.path() + "/test_gpu",
                  {"--gtest_also_run_disabled_tests",
                   "--gtest_filter=ProcessHelper.DISABLED_RunsWithBlitOnly"});
    ASSERT_TRUE(process.waitForFinished(240000));
    const QByteArray out = process.readAllStandardOutput();
    EXPECT_TRUE(process.exitCode() == 0 && out.contains("[  PASSED  ] 1 test."))
        << out.toStdString();
    EXPECT_EQ(out.count("[Metal]"), 0) << "a library without kernels is no error";
}

// --- helper, run only in the copied process: the same checks on the CPU routes ---

TEST(ProcessHelper, DISABLED_RunsWithBlitOnly) {
    EXPECT_EQ(MetalManager::shared().computePipelineState() +
                  MetalManager::shared().sirdsPipelineState(),
              0u);
    EXPECT_FALSE(generatePatchGPU(32, 32, 2, 0, 0, 0.3, 1, 0.96));
    // Every variant and spin comes from the CPU, each in its own slot.
    gputest::expectCanvasesMatchCpuPatches(false);
    gputest::expectCentredAutostereograms();
}

} // namespace
