#include "RenderTestSupport.h"

#include "RenderPass.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class RenderToolTest : public ::testing::Test {
protected:
    // Runs the built renderer; returns its exit code, keeps its standard error.
    int runTool(QStringList arguments) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/lumenweave-render", arguments);
        if (!process.waitForFinished(120000))
            return -1;
        errorText = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QString output(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    QString errorText;
};

TEST_F(RenderToolTest, WritesTheFieldOfTheCpuDefinition) {
    ASSERT_EQ(runTool({"--seed", "1", "--size", "800x600", "--scale", "2", output("gpu.png")}), 0)
        << errorText.toStdString();
    ASSERT_EQ(runTool({"--seed", "1", "--size", "800x600", "--scale", "2", "--generator", "cpu",
                       output("cpu.png")}),
              0)
        << errorText.toStdString();

    // The same field made here, in this process, on the CPU.
    auto model = makeMemoryModel();
    RenderState state(*model);
    state.patternSeed = 1;
    state.viewSize = QSizeF(800, 600);
    state.setBackingScaleProvider([] { return 2.0; });
    state.prepareAnimationTiles();
    const RenderSnapshot snap = state.takeSnapshot(true);
    const RenderOutcome cpu =
        renderFrame(snap, AppModel::RenderingMode::cpu, 1.0, state.sirdsShiftCache());
    ASSERT_TRUE(cpu.leftImage);

    const QImage fromCpuTool(output("cpu.png"));
    const QImage fromGpuTool(output("gpu.png"));
    ASSERT_EQ(fromGpuTool.size(), QSize(1600, 1200));
    EXPECT_EQ(maxChannelDifference(fromCpuTool, *cpu.leftImage), 0);

    // The GPU generator draws envelopes beyond the radius at which the CPU
    // generator stops (0.96 x breathing multiplier > 1); compare the other cells.
    const std::vector<double> m = breathingMultipliers(snap.breathingPhaseOffsets, 0);
    const int P = 128, cols = 13, rows = 10, H = 1200;
    int compared = 0;
    for (int t = 0; t < cols * rows; ++t) {
        const int v = snap.variantIndices[t];
        if (0.96 * m[v] > 1.0)
            continue;
        const int top = std::max(H - (t / cols + 1) * P, 0);
        const QRect cell((t % cols) * P, top, P, H - (t / cols) * P - top);
        EXPECT_LE(maxChannelDifference(fromGpuTool.copy(cell), cpu.leftImage->copy(cell)), 1)
            << "cell " << t;
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

TEST_F(RenderToolTest, BadOptionsFailWithOneLine) {
    const QList<QStringList> bad = {{"--size", "800by600", output("x.png")},
                                    {"--no-such-option", output("x.png")},
                                    {"--scale", "nan", output("x.png")},
                                    {}};
    for (const QStringList& arguments : bad) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_NE(runTool(arguments), 0);
        EXPECT_EQ(errorText.count('\n'), 1) << errorText.toStdString();
        EXPECT_TRUE(errorText.startsWith("lumenweave-render: "));
    }
    EXPECT_FALSE(QFile::exists(output("x.png")));
}

} // namespace
