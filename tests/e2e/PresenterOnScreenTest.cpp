// The field, the status bar and the mode toast as they reach the screen, all
// painted by the one native GL window inside the main window: on X11, and under
// Wayland, where that window becomes a subsurface.
#include <QFileInfo>
#include <QSettings>

#include "DesktopSession.h"

#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using namespace e2e;

// The status bar: near the top-left corner of the canvas (below the menu bar,
// if the picture has one), rows holding a run of light pixels (translucent white
// over the field) with black text inside.
std::optional<QRect> findStatusBar(const QImage& shot) {
    int canvasTop = 0;
    while (canvasTop < shot.height() && qGray(shot.pixel(2, canvasTop)) >= 200)
        ++canvasTop;
    QRect box;
    for (int y = canvasTop; y < std::min(shot.height(), canvasTop + 200); ++y) {
        int runStart = -1;
        for (int x = 0; x <= std::min(shot.width(), 480); ++x) {
            const bool light = x < shot.width() && qGray(shot.pixel(x, y)) >= 170;
            if (light && runStart < 0) {
                runStart = x;
            } else if (!light && runStart >= 0) {
                const int length = x - runStart;
                if (runStart >= 8 && runStart <= 48 && length >= 30 && length <= 420)
                    box |= QRect(runStart, y, length, 1);
                runStart = -1;
            }
        }
    }
    int text = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            text += qGray(shot.pixel(x, y)) < 90 ? 1 : 0;
    return box.height() >= 12 && text >= 10 ? std::optional<QRect>(box) : std::nullopt;
}

// Where two pictures of a still field differ.
QRect difference(const QImage& a, const QImage& b) {
    QRect region;
    if (a.size() != b.size())
        return QRect(QPoint(), a.size());
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 16)
                region |= QRect(x, y, 1, 1);
    return region;
}

// The field moves (phase animation) until Space pauses it; from then on
// whatever changes is an overlay. Keys go to a window of the private display
// (the application's, or the compositor's); shoot looks at the screen.
void expectFieldStatusBarAndToast(const QString& window, const std::function<QImage()>& shoot) {
    QImage shot;
    ASSERT_TRUE(waitFor(
        [&] {
            shot = shoot();
            return greySpread(shot) > 10.0 && findStatusBar(shot);
        },
        30000))
        << "the field and the status bar appear";

    // Space: the toast, at the top centre, gone 1.5 s later, over a field
    // that stands still since. A key sent to a window still settling can be
    // lost (the field then still moves), so try again.
    QRect toast;
    QImage withToast;
    for (int attempt = 0; attempt < 4; ++attempt) {
        key(window, QStringLiteral("space"));
        QThread::msleep(500);
        withToast = shoot();
        QThread::msleep(2500);
        shot = shoot();
        toast = difference(withToast, shot);
        if (!toast.isEmpty() && toast.width() < withToast.width() / 2 && toast.top() < 200)
            break;
    }
    EXPECT_GE(toast.width(), 80) << "Space shows the toast";
    EXPECT_LT(toast.width(), withToast.width() / 2);
    EXPECT_LT(toast.top(), 200);
    EXPECT_NEAR(toast.center().x(), withToast.width() / 2, 40);
}

// Frames in a frame log so far.
int loggedFrames(const QString& path) {
    return std::max(0, int(contents(path).count('\n')) - 1);
}

// A Wayland compositor (weston) in a window of the private display, so that
// keys typed there (xdotool) reach its clients; the headless back end has no
// input at all. Its screenshots need the debug protocol.
class Compositor {
public:
    static constexpr const char* kSocket = "lumenweave-test";
    enum class Backend { x11, headless };

    explicit Compositor(Backend backend = Backend::x11) {
        QProcessEnvironment env = displayEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        weston.setProcessEnvironment(env);
        startOwned(
            weston, QStringLiteral("weston"),
            {backend == Backend::x11 ? "--backend=x11-backend.so" : "--backend=headless-backend.so",
             QStringLiteral("--socket=") + kSocket, "--width=1200", "--height=800",
             "--shell=kiosk-shell.so", "--no-config", "--debug"});
        up = waitFor([&] { return QFile::exists(runtime.filePath(kSocket)); }, 20000) &&
             (backend == Backend::headless || waitFor([&] { return !window().isEmpty(); }, 20000));
    }
    ~Compositor() { stop(weston); }

    // Its window on the private display.
    QString window() const {
        return run(QStringLiteral("xdotool"),
                   {"search", "--onlyvisible", "--class", "Weston Compositor"})
            .section('\n', 0, 0);
    }
    // The environment of a client of this compositor.
    QProcessEnvironment clientEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), kSocket);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        return env;
    }
    // What the compositor shows, as weston-screenshooter saves it.
    QImage screenshot() const {
        QTemporaryDir dir;
        QProcess shooter;
        shooter.setProcessEnvironment(clientEnvironment());
        shooter.setWorkingDirectory(dir.path());
        shooter.start(QStringLiteral("weston-screenshooter"), {});
        if (!shooter.waitForFinished(10000)) {
            shooter.kill();
            shooter.waitForFinished();
        }
        const QStringList shots = QDir(dir.path()).entryList({"*.png"}, QDir::Files);
        return shots.isEmpty() ? QImage() : QImage(dir.filePath(shots.first()));
    }

    QTemporaryDir runtime; // private, as the compositor wants it
    QProcess weston;
    bool up = false;
};

using PresenterOnScreen = Desktop;

} // namespace

TEST_F(PresenterOnScreen, FieldStatusBarToastAFrameLogAndSettingsThroughALinkOnX11) {
    // A dotfile manager's link: the values go into the file it leads to, which
    // keeps what other programs wrote.
    const QString dotfile = config.path() + "/dotfile.conf";
    writeSettings("showStatusBar=true\nisPhaseAnimationEnabled=true\nrenderingMode=Metal\n"
                  "colorModeBlackLevel=1\nforeign=kept\n");
    ASSERT_TRUE(QFile::rename(settingsFile, dotfile) && QFile::link(dotfile, settingsFile));
    // With the field moving: one line per frame put on screen, monotonic present
    // times, and each interval the difference of two of them.
    const QString logFile = config.path() + "/frames.csv";
    {
        Application app(config.path(), {}, {"--frame-log", logFile});
        ASSERT_TRUE(app.opensItsWindow()) << "the main window opens";
        expectFieldStatusBarAndToast(app.window, [&] { return screenshot(app.window); });
        const QString panel = openPanel(app.window);
        ASSERT_FALSE(panel.isEmpty());
        key(panel, QStringLiteral("Tab")); // to the first control, the smallest patch size
        EXPECT_TRUE(keyUntil(panel, QStringLiteral("space"), [&] {
            return QSettings(dotfile, QSettings::IniFormat).value("maxPatchSize") ==
                   QVariant(QStringLiteral("64"));
        }));
        ASSERT_TRUE(keyUntil(app.window, QStringLiteral("ctrl+q"),
                             [&] { return app.process.waitForFinished(50); }));
        EXPECT_TRUE(app.endsCleanly());
    }
    EXPECT_TRUE(QFileInfo(settingsFile).isSymLink());
    QSettings written(dotfile, QSettings::IniFormat);
    EXPECT_EQ(written.status(), QSettings::NoError);
    EXPECT_EQ(written.value("foreign"), QVariant(QStringLiteral("kept")));

    const QByteArray text = contents(logFile);
    const QList<QByteArray> lines = text.trimmed().split('\n');
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], "present_s,pass_ms,interval_ms,tick_skipped");
    double previous = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].split(',');
        ASSERT_EQ(f.size(), 4) << lines[i].constData();
        const double present = f[0].toDouble();
        EXPECT_GE(f[1].toDouble(), 0.0);
        if (i > 1) {
            EXPECT_GT(present, previous);
            EXPECT_NEAR(f[2].toDouble(), (present - previous) * 1000.0, 0.01);
        } else {
            EXPECT_TRUE(f[2].isEmpty());
        }
        EXPECT_TRUE(f[3] == "0" || f[3] == "1");
        previous = present;
    }

    // The log now exists and is left alone: one line, and no window.
    Application refused(config.path(), {}, {"--frame-log", logFile});
    ASSERT_TRUE(refused.process.waitForFinished(30000));
    EXPECT_EQ(refused.process.exitCode(), 1);
    EXPECT_EQ(refused.errorLines().count(QStringLiteral("lumenweave: ")), 1);
    EXPECT_EQ(QFileInfo(logFile).size(), text.size());
}

TEST_F(PresenterOnScreen, TheFrameLogNeverHoldsUpTheWindowOrTheQuit) {
#ifdef __SANITIZE_ADDRESS__
    // The leak check at the end of a sanitized process takes seconds of its own.
    constexpr int kQuitMs = 15000;
#else
    constexpr int kQuitMs = 2000;
#endif
    writeSettings("isPhaseAnimationEnabled=true\n"); // lines keep coming
    const auto quitsOnSigterm = [](Application& app) {
        app.process.terminate();
        return app.process.waitForFinished(kQuitMs) &&
               app.process.exitStatus() == QProcess::NormalExit && app.process.exitCode() == 0;
    };
    // A FIFO no one reads, then one whose reader stops once the pipe is full:
    // the window comes, and SIGTERM ends the application.
    const QString fifo = config.path() + "/frames.fifo";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const bool stalled : {false, true}) {
        const int reader =
            stalled ? ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK) : -1;
        ::fcntl(reader, F_SETPIPE_SZ, 4096); // full after a few seconds of frames
        Application app(config.path(), {}, {"--frame-log", fifo});
        ASSERT_TRUE(app.opensItsWindow()) << app.seen.toStdString();
        int queued = 0;
        EXPECT_TRUE(
            !stalled ||
            waitFor([&] { return ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= 4000; },
                    30000))
            << queued << " bytes in the pipe";
        EXPECT_TRUE(quitsOnSigterm(app)) << "stalled: " << stalled;
        ::close(reader);
    }

    // Devices in place of files: the frame log on a full one, the settings
    // linked to a null one (to keep them from being saved). Each is said once
    // on standard error, and the application goes on; the node stays as it was.
    const QString full = config.path() + "/full", null = config.path() + "/null";
    if (::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0600, makedev(1, 7)) != 0 ||
        ::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        GTEST_SKIP() << "no right to make a device node";
    ASSERT_TRUE(QFile::remove(settingsFile) && QFile::link(null, settingsFile));
    const auto node = [&] {
        struct stat st {};
        ::stat(QFile::encodeName(null).constData(), &st);
        return std::pair(st.st_ino, st.st_mode);
    };
    const auto before = node();
    Application app(config.path(), {}, {"--frame-log", full});
    ASSERT_TRUE(app.opensItsWindow()) << app.seen.toStdString();
    EXPECT_TRUE(waitFor([&] { return app.errorLines().contains("フレームログ"); }, 30000));
    const QString panel = openPanel(app.window);
    ASSERT_FALSE(panel.isEmpty());
    key(panel, QStringLiteral("Tab"));
    key(panel, QStringLiteral("space")); // a change to write
    QThread::msleep(500);
    EXPECT_TRUE(quitsOnSigterm(app));
    EXPECT_EQ(app.errorLines().count(QStringLiteral("フレームログ")), 1)
        << app.errors.toStdString();
    const QStringList lines = app.errors.split(QLatin1Char('\n')).filter(QStringLiteral("[設定]"));
    ASSERT_EQ(lines.size(), 1) << app.errors.toStdString();
    EXPECT_TRUE(lines.first().contains(QStringLiteral("設定は保存されません")));
    EXPECT_TRUE(QFileInfo(settingsFile).isSymLink());
    EXPECT_EQ(node(), before);
}

TEST_F(PresenterOnScreen, FieldStatusBarAndToastUnderWayland) {
    Compositor compositor;
    ASSERT_TRUE(compositor.up) << "weston starts";
    // Many passes, on whichever pool threads: each thread's GPU context needs a
    // surface of its own under EGL.
    writeSettings("showStatusBar=true\nisPhaseAnimationEnabled=true\n"
                  "isRotationAnimationEnabled=true\nisRandomTileSpinEnabled=true\n"
                  "animationMaxFPS=60\n");
    {
        Application app(config.path(), compositor.clientEnvironment());
        ASSERT_TRUE(app.process.waitForStarted());
        expectFieldStatusBarAndToast(compositor.window(), [&] { return compositor.screenshot(); });
        EXPECT_EQ(app.process.state(), QProcess::Running);
    }

    // No input device at all.
    Compositor headless(Compositor::Backend::headless);
    ASSERT_TRUE(headless.up) << "headless weston starts";
    const QString log = config.path() + "/frames.csv";
    Application app(config.path(), headless.clientEnvironment(), {"--frame-log", log});
    EXPECT_TRUE(waitFor([&] { return loggedFrames(log) >= 60; }, 30000))
        << "frames keep coming without input, " << loggedFrames(log) << " so far";
}
