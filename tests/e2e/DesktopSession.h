#pragma once

// A private desktop for end-to-end tests: an X server with a window manager,
// the real executable started on it, and xdotool and ImageMagick to drive and
// look at it as a user would.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/prctl.h>

namespace e2e {

inline QString displayName; // the private display every helper here talks to

inline QProcessEnvironment displayEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), displayName);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

// What the program wrote to standard output; nothing if it did not end in time.
inline QByteArray runRaw(const QString& program, const QStringList& args, int timeoutMs) {
    QProcess p;
    p.setProcessEnvironment(displayEnvironment());
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return p.readAllStandardOutput();
}

inline QString run(const QString& program, const QStringList& args, int timeoutMs = 5000) {
    return QString::fromLocal8Bit(runRaw(program, args, timeoutMs)).trimmed();
}

// A file's bytes; nothing when it cannot be read.
inline QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    // Not too eager: every look is a new client of the X server.
    for (int waited = 0; waited < timeoutMs; waited += 250) {
        if (condition())
            return true;
        QThread::msleep(250);
    }
    return condition();
}

// A child process that ends with this one, even one killed by a time-out.
inline void startOwned(QProcess& process, const QString& program, const QStringList& args) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(program, args);
}

inline void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

// A private X server with a window manager: other GUI tests may run in
// parallel on the shared display, and full screen, frames and the close
// command belong to the window manager.
class PrivateDisplay {
public:
    static constexpr int kWidth = 1600;
    static constexpr int kHeight = 1200;

    PrivateDisplay() {
        startOwned(
            server, QStringLiteral("Xvfb"),
            {"-displayfd", "1", "-screen", "0", "1600x1200x24", "-nolisten", "tcp", "-noreset"});
        if (!server.waitForStarted() || !server.waitForReadyRead(20000))
            return;
        displayName = QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();
        windowManager.setProcessEnvironment(displayEnvironment());
        startOwned(windowManager, QStringLiteral("openbox"), {"--sm-disable"});
        // The desktop can be asked for once the window manager is up.
        if (waitFor([] { return run("xdotool", {"get_desktop"}) == QLatin1String("0"); }, 20000))
            name = displayName;
    }
    ~PrivateDisplay() {
        stop(windowManager);
        stop(server);
    }
    QProcess server;
    QProcess windowManager;
    QString name; // empty unless both are up
};

// Visible top-level windows of the application, in stacking order. Two levels
// below the root (the window manager's frame, then the client): the native
// windows inside a client carry the application's class as well.
inline QStringList appWindows() {
    const QString out = run(QStringLiteral("xdotool"), {"search", "--maxdepth", "2",
                                                        "--onlyvisible", "--class", "lumenweave"});
    return out.isEmpty() ? QStringList() : out.split('\n');
}

inline QString findWindow(const QString& title) {
    for (const QString& w : appWindows())
        if (run(QStringLiteral("xdotool"), {"getwindowname", w}) == title)
            return w;
    return {};
}

// The client area as xdotool reports it: x, y, width, height.
inline QRect windowGeometry(const QString& window) {
    const QStringList lines =
        run(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}).split('\n');
    QHash<QString, int> v;
    for (const QString& line : lines)
        v.insert(line.section('=', 0, 0), line.section('=', 1).toInt());
    return QRect(v.value("X"), v.value("Y"), v.value("WIDTH"), v.value("HEIGHT"));
}

inline QImage screenshot(const QString& window) {
    return QImage::fromData(runRaw(QStringLiteral("import"), {"-window", window, "png:-"}, 10000),
                            "PNG");
}

// Spread of the grey levels over the middle half of a picture: a field, not a
// uniform fill.
inline double greySpread(const QImage& image) {
    double sum = 0, sumSq = 0;
    int n = 0;
    for (int y = image.height() / 4; y < image.height() * 3 / 4; y += 2) {
        for (int x = image.width() / 4; x < image.width() * 3 / 4; x += 2) {
            const double g = qGray(image.pixel(x, y));
            sum += g;
            sumSq += g * g;
            ++n;
        }
    }
    return n == 0 ? 0.0 : std::sqrt(std::max(0.0, sumSq / n - (sum / n) * (sum / n)));
}

class Application {
public:
    // On the private display, or in env when one is given.
    explicit Application(const QString& configHome, QProcessEnvironment env = {},
                         const QStringList& args = {}) {
        if (env.isEmpty())
            env = displayEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process.setProcessEnvironment(env);
        // Standard error is kept for the tests to read, and passed on at the end.
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        startOwned(process, QCoreApplication::applicationDirPath() + "/lumenweave", args);
    }
    QString errorLines() {
        errors += QString::fromUtf8(process.readAllStandardError());
        return errors;
    }
    // One window of the application, seen twice in a row (a look can miss under
    // load), kept in window. On failure, seen says what there was.
    bool opensItsWindow() {
        if (!process.waitForStarted())
            return false;
        int sightings = 0;
        waitFor(
            [&] {
                // A wait is what brings the process's state up to date.
                if (process.waitForFinished(1))
                    return true;
                const QStringList windows = appWindows();
                seen = windows.join(' ');
                sightings = windows.size() == 1 ? sightings + 1 : 0;
                window = windows.value(0);
                return sightings == 2;
            },
            60000);
        if (process.state() != QProcess::Running)
            seen = QStringLiteral("the process ended with %1").arg(process.exitCode());
        return process.state() == QProcess::Running && sightings == 2;
    }
    bool endsCleanly() {
        // The state follows the process only through a wait.
        return (process.state() == QProcess::NotRunning || process.waitForFinished(15000)) &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    ~Application() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        std::fputs(qPrintable(errorLines()), stderr);
    }
    QProcess process;
    QString errors;
    QString seen;
    QString window;
};

inline void key(const QString& window, const QString& keys) {
    // No --sync: it waits without end for a window that cannot take the focus yet.
    run(QStringLiteral("xdotool"), {"windowfocus", window});
    QThread::msleep(100);
    run(QStringLiteral("xdotool"), {"key", "--clearmodifiers", keys});
}

// Key events sent while a window is still settling can be lost; every command
// used here is safe to repeat, so repeat it until its effect shows.
inline bool keyUntil(const QString& window, const QString& keys,
                     const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        key(window, keys);
        if (waitFor(done, 3000))
            return true;
    }
    return false;
}

// Opens the control panel with Ctrl+, and returns its window.
inline QString openPanel(const QString& mainWindow) {
    const QString title = QStringLiteral("Lumenweave 設定");
    keyUntil(mainWindow, QStringLiteral("ctrl+comma"),
             [&] { return !findWindow(title).isEmpty(); });
    return findWindow(title);
}

// A test on a private desktop, with a configuration folder of its own.
class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(display.name.isEmpty()) << "Xvfb and openbox start";
        ASSERT_TRUE(config.isValid() && QDir(config.path()).mkpath(QStringLiteral("Lumenweave")));
    }
    void writeSettings(const QByteArray& general) {
        QFile file(settingsFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\n" + general);
    }
    PrivateDisplay display;
    QTemporaryDir config;
    const QString settingsFile = config.path() + "/Lumenweave/Lumenweave.conf";
};

} // namespace e2e
