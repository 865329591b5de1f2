// Starts the real executable under the test's X display and drives it with real
// key events (xdotool), as a user would.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/prctl.h>

namespace {

// A private X server for this test: other GUI tests may run in parallel on the
// shared display, and any of them can take the keyboard focus.
class PrivateDisplay {
public:
    PrivateDisplay() {
        // The server ends with this process, even one killed by a time-out.
        server.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1600x1200x24",
                                              "-nolisten", "tcp", "-noreset"});
        if (server.waitForStarted() && server.waitForReadyRead(20000)) {
            name = QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();
        }
    }
    ~PrivateDisplay() {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished();
        }
    }
    QProcess server;
    QString name;
};

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

// Visible top-level windows of the application, in stacking order.
QStringList appWindows() {
    const QString out =
        run(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--class", "lumenweave"});
    return out.isEmpty() ? QStringList() : out.split('\n');
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

// Spread of the grey levels over the middle of a window's screenshot.
double middleGreySpread(const QString& window) {
    QProcess p;
    p.setProcessEnvironment(displayEnvironment());
    p.start(QStringLiteral("import"), {"-window", window, "png:-"});
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
    QImage image;
    image.loadFromData(p.readAllStandardOutput(), "PNG");
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
    explicit Application(const QString& configHome) {
        QProcessEnvironment env = displayEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QCoreApplication::applicationDirPath() + "/lumenweave", {});
    }
    bool opensItsWindow() {
        if (!process.waitForStarted()) {
            return false;
        }
        waitFor([&] { return process.state() == QProcess::NotRunning || appWindows().size() == 1; },
                30000);
        return process.state() == QProcess::Running && appWindows().size() == 1;
    }
    ~Application() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    QProcess process;
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

} // namespace

TEST(RealApplication, DrawsTheFieldAndKeepsAPanelSettingAcrossRuns) {
    PrivateDisplay display;
    ASSERT_FALSE(display.name.isEmpty()) << "Xvfb starts";
    displayName = display.name;
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const QString settingsFile = config.path() + "/Lumenweave/Lumenweave.conf";

    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow()) << "the main window opens";
        const QString mainWindow = appWindows().first();

        // The field is drawn: the window's middle is far from uniform.
        EXPECT_TRUE(waitFor([&] { return middleGreySpread(mainWindow) > 10.0; }, 30000))
            << "a non-uniform field appears";

        // Ctrl+, opens the panel; its first control is the smallest patch size.
        ASSERT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+comma"), [] {
            return appWindows().size() == 2;
        })) << "the control panel opens";
        QString panel;
        for (const QString& w : appWindows()) {
            if (w != mainWindow) {
                panel = w;
            }
        }
        ASSERT_TRUE(keyUntil(panel, QStringLiteral("space"), [&] {
            return QSettings(settingsFile, QSettings::IniFormat).value("maxPatchSize") ==
                   QVariant(QStringLiteral("64"));
        })) << "choosing a size in the panel writes the preferences at once";

        // A second Ctrl+, raises the same panel rather than opening another.
        key(mainWindow, QStringLiteral("ctrl+comma"));
        QThread::msleep(500);
        EXPECT_EQ(appWindows().size(), 2);

        ASSERT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+q"), [&] {
            return app.process.waitForFinished(50);
        })) << "Ctrl+Q quits";
        EXPECT_EQ(app.process.exitCode(), 0);
    }

    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow());
        // The restored value is written back at start: still the panel's choice.
        EXPECT_EQ(QSettings(settingsFile, QSettings::IniFormat).value("maxPatchSize").toDouble(),
                  64.0);
        const QString mainWindow = appWindows().first();
        EXPECT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+q"),
                             [&] { return app.process.waitForFinished(50); }));
    }
}

TEST(RealApplication, RandomSpinsAloneStillDrawTheField) {
    PrivateDisplay display;
    ASSERT_FALSE(display.name.isEmpty()) << "Xvfb starts";
    displayName = display.name;
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
