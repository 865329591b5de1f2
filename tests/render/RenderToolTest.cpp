#include "RenderTestSupport.h"

#include "GpuGeneration.h"
#include "PillowImage.h"
#include "RenderPass.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Standard output of an FFmpeg program (the independent reader of our videos).
QString ffmpegOutput(const char* program, const QStringList& arguments) {
    QProcess process;
    process.start(QString::fromLatin1(program), QStringList{"-v", "error"} + arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return QStringLiteral("%1 failed: %2")
            .arg(program, QString::fromUtf8(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// "width,height,rate,frames" of the first video stream, every frame decoded.
QString probe(const QString& file) {
    return ffmpegOutput("ffprobe", {"-count_frames", "-select_streams", "v:0", "-show_entries",
                                    "stream=width,height,r_frame_rate,nb_read_frames", "-of",
                                    "csv=p=0", file});
}

// The md5 of each frame's RGB bytes as FFmpeg decodes them.
QStringList frameMd5s(const QStringList& input) {
    QStringList md5s;
    for (const QString& line :
         ffmpegOutput("ffmpeg", input + QStringList{"-pix_fmt", "rgb24", "-f", "framemd5", "-"})
             .split('\n'))
        if (!line.startsWith('#'))
            md5s << line.section(',', 5).trimmed();
    return md5s;
}

class RenderToolTest : public ::testing::Test {
protected:
    // Runs the built renderer; returns its exit code, keeps its standard error.
    int runTool(QStringList arguments, rlim_t fileSizeLimit = RLIM_INFINITY,
                bool withDisplay = true) {
        QProcess process;
        process.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        if (!withDisplay)
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                env.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/lumenweave-render", arguments);
        if (!process.waitForFinished(120000))
            return -1;
        errorText = QString::fromUtf8(process.readAllStandardError());
        standardOutput = process.readAllStandardOutput();
        outputText = QString::fromUtf8(standardOutput);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // Runs it expecting exit code `code` and one line of standard error that says `why`.
    void failsWithOneLine(const QStringList& arguments, const char* why, int code = 1,
                          rlim_t fileSizeLimit = RLIM_INFINITY, bool withDisplay = true) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_EQ(runTool(arguments, fileSizeLimit, withDisplay), code);
        EXPECT_EQ(errorText.count('\n'), 1) << errorText.toStdString();
        EXPECT_TRUE(errorText.contains(QString::fromUtf8(why))) << errorText.toStdString();
    }
    QString output(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QByteArray bytes(const char* name) const {
        QFile file(output(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void write(const char* name, const QByteArray& text) const {
        QFile file(output(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    QTemporaryDir dir;
    QString errorText;
    QString outputText;
    QByteArray standardOutput;
};

mode_t fileType(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

TEST_F(RenderToolTest, FullWindowLayoutsAreMadeOfTheEyesRenderedAlone) {
    // Each eye of the interleaved rows (and so of the anaglyph, made from the
    // same eyes) is the single view at the window's size: the left eye at the
    // phase, the right at the phase plus the disparity (0.25 pi).
    const QStringList common{"--seed", "9", "--size", "90x61", "--color"};
    ASSERT_EQ(runTool(common + QStringList{output("left.png")}), 0) << errorText.toStdString();
    ASSERT_EQ(runTool(common + QStringList{"--phase", "0.7853981633974483", output("right.png")}),
              0);
    ASSERT_EQ(runTool(common + QStringList{"--stereo-layout", "interleaved", output("pair.png")}),
              0);
    const QImage left(output("left.png")), right(output("right.png")), pair(output("pair.png"));
    ASSERT_EQ(pair.size(), QSize(90, 61));
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 90; ++x)
            ASSERT_EQ(pair.pixel(x, y), (y % 2 ? right : left).pixel(x, y)) << x << "," << y;
}

// The field of each generator; without a display the renderer helps, refuses and
// draws the GPU generator's bytes on the CPU, alone and in a batch.
TEST_F(RenderToolTest, WritesTheFieldOfEachGeneratorAndWithoutADisplayTheGpusBytesFromTheCpu) {
    EXPECT_EQ(runTool({"--help"}, RLIM_INFINITY, false), 0);
    EXPECT_TRUE(outputText.contains("使い方: lumenweave-render")) << outputText.toStdString();
    // Each option's checks are the parser's (FramesByTime); here the tool says so.
    failsWithOneLine({"--no-such-option", output("x.png")}, "lumenweave-render: ", 1, RLIM_INFINITY,
                     false);
    failsWithOneLine({}, "lumenweave-render: ", 1, RLIM_INFINITY, false);
    EXPECT_FALSE(QFile::exists(output("x.png")));
    EXPECT_EQ(runTool({"--generator", "filter", output("f.png")}, RLIM_INFINITY, false), 2);

    write("batch.jsonl",
          QStringLiteral(R"({"output": "%1", "seed": 1, "size": "800x600", "scale": 2}
{"output": "bad.png", "seed": 2
{"output": "bad.png", "no-such-option": true}

{"output": "%2", "seed": 5, "size": "200x150", "patch-size": 40, "autostereogram": true, "color": true, "time": 1.5, "rotation": true, "breathing": true}
{"output": "bad.png", "generator": "filter"}
{"output": "bad.png", "seed": 18446744073709551615}
)")
              .arg(output("a.png"), output("b.png"))
              .toUtf8());
    EXPECT_EQ(runTool({"--batch", output("batch.jsonl")}, RLIM_INFINITY, false), 1);
    const QStringList lines = errorText.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << errorText.toStdString();
    for (int i = 0; i < 4; ++i) // what cannot be read first, in line order
        EXPECT_TRUE(lines[i].startsWith(
            QStringLiteral("lumenweave-render: %1 行目: ").arg(QList{2, 3, 7, 6}[i])))
            << lines[i].toStdString();
    EXPECT_FALSE(QFile::exists(output("bad.png")));
    const QStringList b = QStringLiteral("--seed 5 --size 200x150 --patch-size 40 --autostereogram "
                                         "--color --time 1.5 --rotation --breathing")
                              .split(' ');
    ASSERT_EQ(runTool(b + QStringList{"--verbose", output("alone.png")}, RLIM_INFINITY, false), 0);
    EXPECT_EQ(errorText.count('\n'), 1) << errorText.toStdString();

    // The GPU's pictures, byte for byte; each generator's is the field this
    // process makes of the same settings.
    auto model = makeMemoryModel();
    RenderState state(*model);
    state.patternSeed = 1;
    state.viewSize = QSizeF(800, 600);
    state.setBackingScaleProvider([] { return 2.0; });
    state.prepareAnimationTiles();
    using Mode = AppModel::RenderingMode;
    for (Mode mode : {Mode::cpu, Mode::gpu}) {
        const char* name = mode == Mode::gpu ? "gpu-a.png" : "cpu-a.png";
        ASSERT_EQ(runTool({"--seed", "1", "--size", "800x600", "--scale", "2", "--generator",
                           mode == Mode::gpu ? "gpu" : "cpu", output(name)}),
                  0);
        EXPECT_TRUE(errorText.isEmpty()) << "the route is named only when asked";
        const RenderOutcome frame =
            renderFrame(state.takeSnapshot(true), mode, 1.0, state.sirdsShiftCache());
        const QImage expected = frame.leftImage
                                    ? *frame.leftImage
                                    : readbackTexture(frame.leftTexture).value_or(QImage());
        ASSERT_EQ(expected.size(), QSize(1600, 1200));
        const QImage written(output(name));
        EXPECT_EQ(maxChannelDifference(written, expected), 0);
        EXPECT_EQ(written.text(QStringLiteral("Seed")), QStringLiteral("0x0000000000000001"));
    }
    ASSERT_EQ(runTool(b + QStringList{output("gpu-b.png")}), 0) << errorText.toStdString();
    EXPECT_TRUE(!bytes("a.png").isEmpty() && bytes("a.png") == bytes("gpu-a.png"));
    EXPECT_TRUE(!bytes("b.png").isEmpty() && bytes("b.png") == bytes("gpu-b.png"));
    EXPECT_TRUE(bytes("alone.png") == bytes("gpu-b.png"));

    // An entry that fails only while it is made fails the batch too.
    write("batch.jsonl", R"({"output": "bad.png", "generator": "filter"})");
    EXPECT_EQ(runTool({"--batch", output("batch.jsonl")}, RLIM_INFINITY, false), 1);
    EXPECT_TRUE(errorText.startsWith("lumenweave-render: 1 行目: ")) << errorText.toStdString();

    // Interrupted, a batch starts no more entries and leaves no temporary file.
    QByteArray many;
    for (int i = 0; i < 1000; ++i)
        many +=
            QStringLiteral("{\"output\": \"i%1.png\", \"size\": \"400x300\"}\n").arg(i).toUtf8();
    write("many.jsonl", many);
    QProcess batch;
    batch.setWorkingDirectory(dir.path());
    batch.start(QCoreApplication::applicationDirPath() + "/lumenweave-render",
                {"--batch", "many.jsonl"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(output("i0.png")); }, 60000));
    ::kill(pid_t(batch.processId()), SIGINT);
    ASSERT_TRUE(batch.waitForFinished(60000));
    EXPECT_EQ(batch.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(batch.exitCode(), 1);
    EXPECT_EQ(batch.readAllStandardError().count("中止しました"), 1);
    const QStringList left = QDir(dir.path()).entryList({"i*", ".i*"}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(left.size() < 1000 && left.filter(QRegularExpression("^i\\d+\\.png$")) == left)
        << left.join(' ').toStdString();
}

TEST_F(RenderToolTest, VideosHoldTheFramesOfTheirTimes) {
    const QStringList field = {"--seed",  "3",      "--rotation", "--phase-drift",
                               "--color", "--size", "64x48"};
    const QStringList clip = field + QStringList{"--fps", "10", "--duration", "0.3"};
    for (const char* name : {"v.mkv", "v.mp4", "v.webm"}) {
        ASSERT_EQ(runTool(clip + QStringList{output(name)}), 0) << errorText.toStdString();
        EXPECT_EQ(probe(output(name)), "64,48,10/1,3") << name;
    }
    ASSERT_EQ(runTool(clip + QStringList{"--frames", output("s.png")}), 0);

    // FFV1 is lossless: each frame is, byte for byte, the picture --time k/fps draws.
    for (int k = 0; k < 3; ++k)
        ASSERT_EQ(
            runTool(field + QStringList{"--time", QStringLiteral("%1/10").arg(k),
                                        output(qPrintable(QStringLiteral("t%1.png").arg(k)))}),
            0);
    const QStringList expected = frameMd5s({"-i", output("t%d.png")});
    ASSERT_EQ(expected.size(), 3) << expected.join(' ').toStdString();
    EXPECT_EQ(frameMd5s({"-i", output("v.mkv")}), expected);
    EXPECT_EQ(frameMd5s({"-i", output("s-%04d.png")}), expected);

    // A loop says how long it chose; it holds that many frames.
    ASSERT_EQ(runTool({"--rotation", "--loop", "--fps", "10", "--size", "32x32", output("l.mkv")}),
              0);
    EXPECT_TRUE(errorText.contains("ループの長さ 12 秒（120 フレーム")) << errorText.toStdString();
    EXPECT_EQ(probe(output("l.mkv")), "32,32,10/1,120");
}

TEST_F(RenderToolTest, AFailedVideoLeavesNothingAndSaysWhyInOneLine) {
    const QStringList clip = {"--rotation", "--size", "320x240", "--fps", "10", "--duration", "1"};
    // Stopped part way, as by a full disk: the old file stays byte for byte.
    write("old.mkv", "old");
    failsWithOneLine(clip + QStringList{output("old.mkv")}, "上限", 1, 8192);
    EXPECT_EQ(bytes("old.mkv"), "old");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.mkv"});

    // A full disk and a read-only folder: a small tmpfs, which only root mounts.
    const QString disk = output("disk");
    QDir().mkpath(disk);
    if (geteuid() != 0 ||
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", disk}) != 0)
        GTEST_SKIP() << "a full disk and a read-only folder need a tmpfs, which only root mounts";
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {disk}); });
    failsWithOneLine(clip + QStringList{output("disk/v.mkv")}, "ディスクの空き");
    EXPECT_TRUE(QDir(disk).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    ASSERT_EQ(QProcess::execute("mount", {"-o", "remount,ro", disk}), 0);
    failsWithOneLine(clip + QStringList{output("disk/v.mp4")}, "読み取り専用");
}

TEST_F(RenderToolTest, ReplacesOnlyFilesAndStreamsToFifosDevicesAndPipes) {
    const QStringList small{"--size", "64x64", "--generator", "cpu"};
    // Never a picture smaller than asked for: the one line names the limit.
    failsWithOneLine({"--size", "16384x16384", "--scale", "8", output("x.png")},
                     qPrintable(QString::number(kMaxImageSide)));
    EXPECT_FALSE(QFile::exists(output("x.png")));

    const QByteArray before(300, 'x');
    write("old.png", before);
    // The file-size limit stops the new PNG part way, as a full disk would.
    failsWithOneLine(QStringList(small) << output("old.png"), "", 1, 1024);
    EXPECT_TRUE(bytes("old.png") == before) << "the old file is left byte for byte";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"old.png"}); // no leftovers

    // Standard output, here a pipe.
    ASSERT_EQ(runTool(QStringList(small) << "-"), 0) << errorText.toStdString();
    EXPECT_EQ(pillowSize(standardOutput), "64x64");

    // A FIFO is written to, and stays a FIFO.
    const QString fifo = output("fifo.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess reader;
    reader.start("cat", {fifo});
    ASSERT_TRUE(reader.waitForStarted());
    ASSERT_EQ(runTool(QStringList(small) << fifo), 0) << errorText.toStdString();
    ASSERT_TRUE(reader.waitForFinished(30000));
    EXPECT_EQ(pillowSize(reader.readAllStandardOutput()), "64x64");
    EXPECT_EQ(fileType(fifo), mode_t(S_IFIFO));

    // Through a symlink the file it leads to is replaced; the link stays.
    ASSERT_TRUE(QFile::link(output("old.png"), output("link.png")));
    ASSERT_EQ(runTool(QStringList(small) << output("link.png")), 0) << errorText.toStdString();
    EXPECT_EQ(fileType(output("link.png")), mode_t(S_IFLNK));
    EXPECT_EQ(QImage(output("old.png")).size(), QSize(64, 64));

    // A folder is refused in one line, before any work.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    failsWithOneLine(QStringList(small) << output("folder.png"), "");
    EXPECT_EQ(fileType(output("folder.png")), mode_t(S_IFDIR));

    // Character devices: copies of /dev/null and /dev/full, made here.
    const QString null = output("null.png"), full = output("full.png");
    if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0600, makedev(1, 3)) != 0 ||
        ::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0600, makedev(1, 7)) != 0)
        GTEST_SKIP() << "no right to make device nodes here";
    EXPECT_EQ(runTool(QStringList(small) << null), 0) << errorText.toStdString();
    failsWithOneLine(QStringList(small) << full, std::strerror(ENOSPC));
    for (const QString& device : {null, full})
        EXPECT_EQ(fileType(device), mode_t(S_IFCHR)) << device.toStdString();
}

} // namespace
