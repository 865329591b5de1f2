// Starts the real executable on a private X display with a window manager and
// drives it as a user would: keys, the mouse wheel and the window manager's own
// close, through xdotool.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QString displayName;

QProcessEnvironment displayEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), displayName);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

QString run(const QString& program, const QStringList& args, int timeoutMs = 5000) {
    QProcess p;
    p.setProcessEnvironment(displayEnvironment());
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    // Not too eager: every look is a new client of the X server.
    for (int waited = 0; waited < timeoutMs; waited += 250) {
        if (condition()) {
            return true;
        }
        QThread::msleep(250);
    }
    return condition();
}

// A child process that ends with this one, even one killed by a time-out.
void startOwned(QProcess& process, const QString& program, const QStringList& args) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(program, args);
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
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
        if (!server.waitForStarted() || !server.waitForReadyRead(20000)) {
            return;
        }
        displayName = QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();
        windowManager.setProcessEnvironment(displayEnvironment());
        startOwned(windowManager, QStringLiteral("openbox"), {"--sm-disable"});
        // The desktop can be asked for once the window manager is up.
        if (waitFor([] { return run("xdotool", {"get_desktop"}) == QLatin1String("0"); }, 20000)) {
            name = displayName;
        }
    }
    ~PrivateDisplay() {
        stop(windowManager);
        stop(server);
    }
    QProcess server;
    QProcess windowManager;
    QString name; // empty unless both are up
};

// Visible top-level windows of the application, in stacking order.
QStringList appWindows() {
    const QString out =
        run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--class", "lumenweave"});
    return out.isEmpty() ? QStringList() : out.split('\n');
}

QString windowName(const QString& window) {
    return run(QStringLiteral("xdotool"), {"getwindowname", window});
}

QString findWindow(const QString& title) {
    for (const QString& w : appWindows()) {
        if (windowName(w) == title) {
            return w;
        }
    }
    return {};
}

// The client area as xdotool reports it: x, y, width, height.
QRect windowGeometry(const QString& window) {
    const QStringList lines =
        run(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}).split('\n');
    QHash<QString, int> v;
    for (const QString& line : lines) {
        v.insert(line.section('=', 0, 0), line.section('=', 1).toInt());
    }
    return QRect(v.value("X"), v.value("Y"), v.value("WIDTH"), v.value("HEIGHT"));
}

QImage screenshot(const QString& window) {
    QProcess p;
    p.setProcessEnvironment(displayEnvironment());
    p.start(QStringLiteral("import"), {"-window", window, "png:-"});
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
    QImage image;
    image.loadFromData(p.readAllStandardOutput(), "PNG");
    return image;
}

// Spread of the grey levels over the middle of a window's screenshot.
double middleGreySpread(const QString& window) {
    const QImage image = screenshot(window);
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

// Every setting key and its value as the file holds them; groups (the window
// geometry's) are left out.
QMap<QString, QString> storedSettings(const QString& file) {
    QSettings settings(file, QSettings::IniFormat);
    QMap<QString, QString> values;
    for (const QString& key : settings.childKeys()) {
        values.insert(key, settings.value(key).toString());
    }
    return values;
}

class Application {
public:
    explicit Application(const QString& configHome) {
        QProcessEnvironment env = displayEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process.setProcessEnvironment(env);
        // Standard error is kept for the tests to read, and passed on at the end.
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        process.start(QCoreApplication::applicationDirPath() + "/lumenweave", {});
    }
    QString errorLines() {
        errors += QString::fromUtf8(process.readAllStandardError());
        return errors;
    }
    bool opensItsWindow() {
        if (!process.waitForStarted()) {
            return false;
        }
        waitFor([&] { return process.state() == QProcess::NotRunning || appWindows().size() == 1; },
                30000);
        return process.state() == QProcess::Running && appWindows().size() == 1;
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
};

void key(const QString& window, const QString& keys) {
    // No --sync: it waits without end for a window that cannot take the focus yet.
    run(QStringLiteral("xdotool"), {"windowfocus", window});
    QThread::msleep(100);
    run(QStringLiteral("xdotool"), {"key", "--clearmodifiers", keys});
}

// Key events sent while a window is still settling can be lost; every command
// used here is safe to repeat, so repeat it until its effect shows.
bool keyUntil(const QString& window, const QString& keys, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        key(window, keys);
        if (waitFor(done, 3000)) {
            return true;
        }
    }
    return false;
}

// Rolls the wheel (button 5 down, 4 up) at points a few pixels apart through
// the panel's control column, so that it passes over every kind of control:
// each must leave the wheel to the form, which scrolls under the pointer.
void sweepWheel(const QString& panel, const QString& button) {
    const QRect g = windowGeometry(panel);
    QStringList chain;
    for (int x : {g.width() - 30, g.width() - 70, g.width() - 130}) {
        for (int y = 20; y < g.height() - 10; y += 9) {
            chain << QStringList{
                "mousemove", "--window", panel, QString::number(x), QString::number(y), "click",
                button,      "sleep",    "0.02"};
        }
    }
    run(QStringLiteral("xdotool"), chain, 60000);
}

// Opens the control panel with Ctrl+, and returns its window.
QString openPanel(const QString& mainWindow) {
    const QString title = QStringLiteral("Lumenweave 設定");
    keyUntil(mainWindow, QStringLiteral("ctrl+comma"),
             [&] { return !findWindow(title).isEmpty(); });
    return findWindow(title);
}

struct stat statOf(const QString& path, bool followLink) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    followLink ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    return st;
}

} // namespace

TEST(RealApplication, SafePanelInputFullScreenAndWindowsThatQuitAndComeBack) {
    PrivateDisplay display;
    ASSERT_FALSE(display.name.isEmpty()) << "Xvfb and openbox start";
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const QString settingsFile = config.path() + "/Lumenweave/Lumenweave.conf";
    {
        // A stereo pair shows the depth presets in the panel as well.
        QSettings seed(settingsFile, QSettings::IniFormat);
        seed.setValue(QStringLiteral("isStereoscopicMode"), true);
    }

    QRect placed;
    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow()) << "the main window opens";
        const QString mainWindow = appWindows().first();
        EXPECT_TRUE(waitFor([&] { return middleGreySpread(mainWindow) > 10.0; }, 30000))
            << "a non-uniform field appears";

        ASSERT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+comma"), [] {
            return !findWindow(QStringLiteral("Lumenweave 設定")).isEmpty();
        })) << "the control panel opens";
        const QString panel = findWindow(QStringLiteral("Lumenweave 設定"));
        const QMap<QString, QString> before = storedSettings(settingsFile);
        ASSERT_EQ(before.value("isStereoscopicMode"), QStringLiteral("true"));

        // Space in a fresh panel: no control has the focus, nothing changes.
        key(panel, QStringLiteral("space"));
        key(panel, QStringLiteral("space"));
        // The wheel over every control, none of them focused.
        const QImage unscrolled = screenshot(panel);
        sweepWheel(panel, QStringLiteral("5"));
        QThread::msleep(300);
        EXPECT_NE(screenshot(panel), unscrolled) << "the wheel reached the panel and scrolled it";
        sweepWheel(panel, QStringLiteral("4"));
        QThread::msleep(300);
        EXPECT_EQ(storedSettings(settingsFile), before) << "no stored key changed";

        // F11 covers the whole screen; F11 again gives the window back as it was.
        placed = windowGeometry(mainWindow);
        const QRect screen(0, 0, PrivateDisplay::kWidth, PrivateDisplay::kHeight);
        EXPECT_TRUE(keyUntil(mainWindow, QStringLiteral("F11"), [&] {
            return windowGeometry(mainWindow) == screen;
        })) << "full screen";
        EXPECT_TRUE(keyUntil(mainWindow, QStringLiteral("F11"), [&] {
            return windowGeometry(mainWindow) == placed;
        })) << "back from full screen";

        // Somewhere else, at another size, to be found there next time.
        run(QStringLiteral("xdotool"), {"windowmove", mainWindow, "123", "77"});
        run(QStringLiteral("xdotool"), {"windowsize", mainWindow, "700", "500"});
        ASSERT_TRUE(
            waitFor([&] { return windowGeometry(mainWindow).size() == QSize(700, 500); }, 5000));
        QThread::msleep(300);
        placed = windowGeometry(mainWindow);

        // The window manager's close (Alt+F4) on the main window quits, panel and all.
        key(mainWindow, QStringLiteral("alt+F4"));
        EXPECT_TRUE(app.endsCleanly()) << "the process ends with status 0";
        EXPECT_TRUE(appWindows().isEmpty());
        EXPECT_EQ(storedSettings(settingsFile), before) << "window geometry is kept apart";
    }

    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow());
        const QString mainWindow = appWindows().first();
        EXPECT_EQ(windowGeometry(mainWindow), placed) << "the geometry survives a restart";
        EXPECT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+q"),
                             [&] { return app.process.waitForFinished(50); }));
        EXPECT_TRUE(app.endsCleanly());
    }
}

TEST(RealApplication, RandomSpinsAloneStillDrawTheField) {
    PrivateDisplay display;
    ASSERT_FALSE(display.name.isEmpty()) << "Xvfb and openbox start";
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    ASSERT_TRUE(QDir(config.path()).mkpath(QStringLiteral("Lumenweave")));
    QFile file(config.path() + "/Lumenweave/Lumenweave.conf");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nisRandomTileSpinEnabled=true\n");
    file.close();

    Application app(config.path());
    ASSERT_TRUE(app.opensItsWindow());
    EXPECT_TRUE(waitFor([&] { return middleGreySpread(appWindows().first()) > 10.0; }, 30000))
        << "a non-uniform field appears";
}

TEST(RealApplication, SettingsFollowASymlinkOnlyToARegularFile) {
    PrivateDisplay display;
    ASSERT_FALSE(display.name.isEmpty()) << "Xvfb and openbox start";
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    ASSERT_TRUE(QDir(config.path()).mkpath(QStringLiteral("Lumenweave")));
    const QString settingsFile = config.path() + "/Lumenweave/Lumenweave.conf";

    // A dotfile manager's link: the values go into the file it leads to, and a
    // kill -9 after they were written leaves that file whole.
    const QString dotfile = config.path() + "/dotfile.conf";
    {
        QFile file(dotfile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nrenderingMode=Metal\ncolorModeBlackLevel=1\nforeign=kept\n");
    }
    ASSERT_TRUE(QFile::link(dotfile, settingsFile));
    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow());
        const QString panel = openPanel(appWindows().first());
        ASSERT_FALSE(panel.isEmpty());
        key(panel, QStringLiteral("Tab")); // to the first control, the smallest patch size
        EXPECT_TRUE(keyUntil(panel, QStringLiteral("space"), [&] {
            return QSettings(dotfile, QSettings::IniFormat).value("maxPatchSize") ==
                   QVariant(QStringLiteral("64"));
        }));
        app.process.kill();
        app.process.waitForFinished();
    }
    EXPECT_TRUE(QFileInfo(settingsFile).isSymLink());
    QSettings written(dotfile, QSettings::IniFormat);
    EXPECT_EQ(written.status(), QSettings::NoError);
    EXPECT_EQ(written.value("foreign"), QVariant(QStringLiteral("kept")));

    // Linked to a device node, as to /dev/null to keep settings from being saved.
    const QString node = config.path() + "/null";
    if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        GTEST_SKIP() << "no right to make a device node";
    ASSERT_TRUE(QFile::remove(settingsFile));
    ASSERT_TRUE(QFile::link(node, settingsFile));
    const struct stat before = statOf(node, false);
    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow());
        const QString mainWindow = appWindows().first();
        const QString panel = openPanel(mainWindow);
        ASSERT_FALSE(panel.isEmpty());
        key(panel, QStringLiteral("Tab"));
        key(panel, QStringLiteral("space"));
        QThread::msleep(500);
        ASSERT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+q"),
                             [&] { return app.process.waitForFinished(50); }));
        EXPECT_EQ(app.process.exitCode(), 0);
        const QStringList lines =
            app.errorLines().split(QLatin1Char('\n')).filter(QStringLiteral("[設定]"));
        ASSERT_EQ(lines.size(), 1) << app.errors.toStdString();
        EXPECT_TRUE(lines.first().contains(QStringLiteral("設定は保存されません")));
    }
    EXPECT_TRUE(QFileInfo(settingsFile).isSymLink());
    EXPECT_EQ(statOf(node, false).st_ino, before.st_ino);
    EXPECT_EQ(statOf(node, false).st_mode, before.st_mode);
}
