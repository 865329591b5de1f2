// Starts the real executable on a private X display with a window manager and
// drives it as a user would: keys, the mouse wheel and the window manager's own
// close, through xdotool.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "DesktopSession.h"

#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using namespace e2e;

// Every setting key and its value as the file holds them; groups (the window
// geometry's) are left out.
std::map<std::string, std::string> storedSettings(const QString& file) {
    QSettings settings(file, QSettings::IniFormat);
    std::map<std::string, std::string> values;
    for (const QString& key : settings.childKeys()) {
        values[key.toStdString()] = settings.value(key).toString().toStdString();
    }
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

struct stat linkStat(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
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
        ASSERT_TRUE(app.opensItsWindow()) << "the main window opens: " << app.seen.toStdString();
        const QString mainWindow = appWindows().value(0);
        EXPECT_TRUE(waitFor([&] { return greySpread(screenshot(mainWindow)) > 10.0; }, 30000))
            << "a non-uniform field appears";

        const QString panel = openPanel(mainWindow);
        ASSERT_FALSE(panel.isEmpty()) << "the control panel opens";
        const std::map<std::string, std::string> before = storedSettings(settingsFile);
        ASSERT_EQ(before.at("isStereoscopicMode"), "true");

        // Space in a fresh panel: no control has the focus; it pauses and
        // resumes, and no stored key changes.
        key(panel, QStringLiteral("space"));
        key(panel, QStringLiteral("space"));
        QThread::msleep(300);
        EXPECT_EQ(storedSettings(settingsFile), before) << "Space in a fresh panel";
        // The wheel over every control, none of them focused, in a panel made
        // shorter than its form (it opens showing all of it).
        run(QStringLiteral("xdotool"), {"windowsize", panel, "320", "400"});
        ASSERT_TRUE(waitFor([&] { return windowGeometry(panel).height() == 400; }, 5000));
        QThread::msleep(300);
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
        ASSERT_TRUE(app.opensItsWindow()) << app.seen.toStdString();
        const QString mainWindow = appWindows().value(0);
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
        QFile file(exported);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QImage image = QImage::fromData(bytes, "PNG");
        const QString rendered = config.path() + "/rendered.png";
        QProcess tool;
        tool.setProcessEnvironment(displayEnvironment());
        tool.start(QCoreApplication::applicationDirPath() + "/lumenweave-render",
                   {"--stereo", "--seed", image.text(QStringLiteral("Seed")), "--size",
                    QStringLiteral("%1x%2").arg(image.width()).arg(image.height()), rendered});
        ASSERT_TRUE(tool.waitForFinished(60000) && tool.exitCode() == 0)
            << tool.readAllStandardError().toStdString();
        QFile again(rendered);
        ASSERT_TRUE(again.open(QIODevice::ReadOnly));
        EXPECT_TRUE(again.readAll() == bytes) << "the same bytes as lumenweave-render";

        EXPECT_TRUE(keyUntil(mainWindow, QStringLiteral("ctrl+q"),
                             [&] { return app.process.waitForFinished(50); }));
        EXPECT_TRUE(app.endsCleanly());
    }
}

TEST(RealApplication, HelpNeedsNoDisplay) {
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
        file.write("[General]\nrenderingMode=Metal\ncolorModeBlackLevel=1\nforeign=kept\n"
                   "isRandomTileSpinEnabled=true\n");
    }
    ASSERT_TRUE(QFile::link(dotfile, settingsFile));
    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow());
        // An empty list when a look misses under load: one window for the whole test.
        const QString mainWindow = appWindows().value(0);
        EXPECT_TRUE(waitFor([&] { return greySpread(screenshot(mainWindow)) > 10.0; }, 30000))
            << "random spins alone draw the field too";
        const QString panel = openPanel(mainWindow);
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
    const struct stat before = linkStat(node);
    {
        Application app(config.path());
        ASSERT_TRUE(app.opensItsWindow());
        const QString mainWindow = appWindows().value(0);
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
    EXPECT_EQ(linkStat(node).st_ino, before.st_ino);
    EXPECT_EQ(linkStat(node).st_mode, before.st_mode);
}
