#include "RenderTestSupport.h"

#include "GpuGeneration.h"
#include "RenderPass.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

class RenderToolTest : public ::testing::Test {
protected:
    // Runs the built renderer; returns its exit code, keeps its standard error.
    int runTool(QStringList arguments, rlim_t fileSizeLimit = RLIM_INFINITY) {
        QProcess process;
        process.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
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
    QImage written[2];
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
        written[mode == Mode::gpu] = QImage(output("f.png"));
        EXPECT_EQ(maxChannelDifference(written[mode == Mode::gpu], expected), 0);
        EXPECT_EQ(written[mode == Mode::gpu].text(QStringLiteral("Seed")),
                  QStringLiteral("0x0000000000000001"));
    }
    // One seed, one stimulus: every cell of the two generators' frames agrees.
    EXPECT_LE(maxChannelDifference(written[0], written[1]), 1);
}

TEST_F(RenderToolTest, BadOptionsFailWithOneLine) {
    const QList<QStringList> bad = {{"--size", "800by600"},
                                    {"--no-such-option"},
                                    {"--scale", "nan"},
                                    {"--scale", " 2"},
                                    {"--phase", "1e999"},
                                    {"--generator", "metal"},
                                    {"--generator", "coreImage"},
                                    {"--columns", "2.5"},
                                    {"--columns", "7"},
                                    {"--render-scale", "1000"},
                                    {"--render-scale", "0.1"},
                                    {"--seed", "+5"},
                                    {"--seed", " 5"},
                                    {"--seed", "-1"},
                                    {"--seed", "0x"},
                                    {"--seed", "18446744073709551616"},
                                    {"--seed", "0x1ffffffffffffffff"}};
    for (QStringList arguments : bad) {
        arguments << output("x.png");
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_NE(runTool(arguments), 0);
        EXPECT_EQ(errorText.count('\n'), 1) << errorText.toStdString();
        EXPECT_TRUE(errorText.startsWith("lumenweave-render: "));
    }
    EXPECT_NE(runTool({}), 0);
    EXPECT_FALSE(QFile::exists(output("x.png")));

    // The ends of the seed's range are well formed.
    for (const char* seed : {"18446744073709551615", "0xFFFFFFFFFFFFFFFF", "0"})
        EXPECT_EQ(runTool({"--seed", seed, "--size", "8x8", "--generator", "cpu", output("x.png")}),
                  0)
            << seed << errorText.toStdString();
}

TEST_F(RenderToolTest, AFailedWriteLeavesTheOldFileWhole) {
    QFile old(output("old.png"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    const QByteArray before(300, 'x');
    old.write(before);
    old.close();
    // The file-size limit stops the new PNG part way, as a full disk would.
    EXPECT_NE(runTool({"--size", "128x128", "--generator", "cpu", output("old.png")}, 1024), 0);
    EXPECT_EQ(errorText.count('\n'), 1) << errorText.toStdString();
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_TRUE(old.readAll() == before) << "the old file is left byte for byte";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.png"}); // no leftovers
}

} // namespace
