#include "RenderTestSupport.h"

#include "GpuGeneration.h"
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

TEST_F(RenderToolTest, WritesTheFieldOfEachGenerator) {
    // The same field made here, in this process.
    auto model = makeMemoryModel();
    RenderState state(*model);
    state.patternSeed = 1;
    state.viewSize = QSizeF(800, 600);
    state.setBackingScaleProvider([] { return 2.0; });
    state.prepareAnimationTiles();
    const RenderSnapshot snap = state.takeSnapshot(true);
    using Mode = AppModel::RenderingMode;
    for (Mode mode : {Mode::cpu, Mode::gpu}) { // the GPU generator is the default
        QStringList arguments{"--seed", "1", "--size", "800x600", "--scale", "2", output("f.png")};
        if (mode == Mode::cpu)
            arguments << "--generator"
                      << "cpu";
        ASSERT_EQ(runTool(arguments), 0) << errorText.toStdString();
        const RenderOutcome frame = renderFrame(snap, mode, 1.0, state.sirdsShiftCache());
        const QImage expected = frame.leftImage
                                    ? *frame.leftImage
                                    : readbackTexture(frame.leftTexture).value_or(QImage());
        ASSERT_EQ(expected.size(), QSize(1600, 1200));
        EXPECT_EQ(maxChannelDifference(QImage(output("f.png")), expected), 0);
    }
}

TEST_F(RenderToolTest, BadOptionsFailWithOneLine) {
    const QList<QStringList> bad = {
        {"--size", "800by600", output("x.png")},       {"--no-such-option", output("x.png")},
        {"--scale", "nan", output("x.png")},           {"--generator", "metal", output("x.png")},
        {"--generator", "coreImage", output("x.png")}, {}};
    for (const QStringList& arguments : bad) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_NE(runTool(arguments), 0);
        EXPECT_EQ(errorText.count('\n'), 1) << errorText.toStdString();
        EXPECT_TRUE(errorText.startsWith("lumenweave-render: "));
    }
    EXPECT_FALSE(QFile::exists(output("x.png")));
}

} // namespace
