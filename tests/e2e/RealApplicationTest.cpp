// Starts the real executable on a private X display with a window manager and
// drives it as a user would: keys, the mouse wheel and the window manager's own
// close, through xdotool.
#include <QSettings>

#include "DesktopSession.h"

#include <map>

namespace {

using namespace e2e;

// Every setting key and its value as the file holds them; groups (the window
// geometry's) are left out.
std::map<std::string, std::string> storedSettings(const QString& file) {
    QSettings settings(file, QSettings::IniFormat);
    std::map<std::string, std::string> values;
    for (const QString& key : settings.childKeys())
        values[key.toStdString()] = settings.value(key).toString().toStdString();
    return values;
}

// Rolls the wheel (button 5 down, 4 up) at points a few pixels apart through
// the panel's control column, so that it passes over every kind of control:
// each must leave the wheel to the form, which scrolls under the pointer.
void sweepWheel(const QString& panel, const QString& button) {
    const QRect g = windowGeometry(panel);
    QStringList chain;
    for (int x : {g.width() - 30, g.width() - 70, g.width() - 130}) {
        for (int y = 20; y < g.height() - 10; y += 9) {
            // xdotool's click waits 100 ms unless told otherwise.
            chain << QStringList{
                "mousemove", "--window", panel, QString::number(x), QString::number(y), "click",
                "--delay",   "20",       button};
        }
    }
    run(QStringLiteral("xdotool"), chain, 60000);
}

using RealApplication = Desktop;

} // namespace

TEST_F(RealApplication, SafePanelInputFullScreenAndWindowsThatQuitAndComeBack) {
    writeSettings("isStereoscopicMode=true\n"); // the depth presets in the panel as well
    QRect placed;
    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow()) << "the main window opens: " << app.seen.toStdString();
        const QString mainWindow = app.window;
        const QString panel = openPanel(mainWindow);
        ASSERT_FALSE(panel.isEmpty()) << "the control panel opens";
        const std::map<std::string, std::string> before = storedSettings(settingsFile);
        ASSERT_EQ(before.at("isStereoscopicMode"), "true");

        // Space in a fresh panel (no control has the focus: it pauses and
        // resumes), then the wheel over every control, none of them focused, in
        // a panel made shorter than its form (it opens showing all of it): no
        // stored key changes.
        key(panel, QStringLiteral("space"));
        key(panel, QStringLiteral("space"));
        run(QStringLiteral("xdotool"), {"windowsize", panel, "320", "400"});
        ASSERT_TRUE(waitFor([&] { return windowGeometry(panel).height() == 400; }, 5000));
        QThread::msleep(300);
        const QImage unscrolled = screenshot(panel);
        sweepWheel(panel, QStringLiteral("5"));
        QThread::msleep(300);
        EXPECT_NE(screenshot(panel), unscrolled) << "the wheel reached the panel and scrolled it";
        sweepWheel(panel, QStringLiteral("4"));
        QThread::msleep(300);
        EXPECT_EQ(storedSettings(settingsFile), before) << "Space and the wheel in the panel";

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
        ASSERT_TRUE(app.opensItsWindow()) << app.seen.toStdString();
        const QString mainWindow = app.window;
        EXPECT_EQ(windowGeometry(mainWindow), placed) << "the geometry survives a restart";
        EXPECT_TRUE(waitFor([&] { return greySpread(screenshot(mainWindow)) > 10.0; }, 30000));

        // Ctrl+E, a file name typed into the save dialog, Return: the frame shown
        // is written, byte for byte what lumenweave-render makes of its seed and size.
        const QString exported = config.path() + "/exported.png";
        ASSERT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+e"), [] {
            return !findWindow(QStringLiteral("画像を書き出す")).isEmpty();
        })) << "the save dialog opens";
        const QString dialog = findWindow(QStringLiteral("画像を書き出す"));
        key(dialog, QStringLiteral("ctrl+a"));
        run(QStringLiteral("xdotool"), {"type", "--delay", "20", exported});
        key(dialog, QStringLiteral("Return"));
        ASSERT_TRUE(waitFor([&] { return QFile::exists(exported); }, 30000)) << "written";
        const QByteArray bytes = contents(exported);
        const QImage image = QImage::fromData(bytes, "PNG");
        ASSERT_FALSE(image.isNull());
        const QString rendered = config.path() + "/rendered.png";
        run(QCoreApplication::applicationDirPath() + "/lumenweave-render",
            {"--stereo", "--seed", image.text(QStringLiteral("Seed")), "--size",
             QStringLiteral("%1x%2").arg(image.width()).arg(image.height()), rendered},
            60000);
        EXPECT_TRUE(contents(rendered) == bytes) << "the same bytes as lumenweave-render";

        EXPECT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+q"),
                             [&] { return app.process.waitForFinished(50); }));
        EXPECT_TRUE(app.endsCleanly());
    }
}

TEST(RealApplicationWithoutDisplay, AnswersHelp) {
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    app.setProcessEnvironment(env);
    app.start(QCoreApplication::applicationDirPath() + "/lumenweave", {"--help"});
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitCode(), 0);
    const QString help = QString::fromUtf8(app.readAllStandardOutput());
    EXPECT_TRUE(help.startsWith(QStringLiteral("使い方: lumenweave"))) << help.toStdString();
    EXPECT_TRUE(help.contains(QStringLiteral("--frame-log <ファイル>")));
}
