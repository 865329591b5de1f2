#include "LumenweaveApp.h"
#include "BuildInfo.h"
#include "ContentView.h"
#include "PillowImage.h"
#include "SeedDialog.h"
#include "TerminationSignals.h"
#include "VideoExport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QList<QWidget*> panelWindows() {
    QList<QWidget*> panels;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("control-panel"))
            panels.append(w);
    return panels;
}

// Lets queued work (the panel's window report, deferred deletes) run.
void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

class LumenweaveAppTest : public ::testing::Test {
protected:
    void TearDown() override { settle(); }
};

} // namespace

TEST_F(LumenweaveAppTest, MenusInJapaneseOnePanelOnRequestAndStepsTakenBack) {
    EXPECT_TRUE(LumenweaveApp::installQtTranslations(*qApp)) << "Qt's Japanese catalogue";
    EXPECT_EQ(QCoreApplication::translate("QScrollBar", "Scroll here"),
              QStringLiteral("ここにスクロール"));

    LumenweaveApp app(std::make_unique<AppModel>(std::make_shared<MemoryPreferencesStore>()));
    const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    // Wayland's client-side title bar draws the window's own title and icon.
    EXPECT_EQ(app.mainWindow()->windowTitle(), QStringLiteral("Lumenweave"));
    EXPECT_FALSE(app.mainWindow()->windowIcon().pixmap(64, 64).isNull()) << "the packaged icon";
    for (QAction* menu : app.mainWindow()->menuBar()->actions()) {
        QStringList texts{menu->text()};
        for (QAction* item : menu->menu()->actions())
            texts << item->text().section(QLatin1Char('\t'), 0, 0);
        for (QString text : texts)
            EXPECT_FALSE(text.remove(QStringLiteral("Lumenweave")).contains(latin))
                << text.toStdString();
    }

    // The shortcut window lists every key the menus answer, and Space and Esc.
    QStringList keys;
    for (const auto& [key, what] : app.shortcutList())
        keys << key;
    EXPECT_TRUE(keys.first() == QStringLiteral("スペース") && keys.last() == QStringLiteral("Esc"));
    for (QAction* item : app.mainWindow()->findChildren<QAction*>())
        for (const QKeySequence& key : item->shortcuts())
            EXPECT_TRUE(keys.join(' ').contains(key.toString())) << item->text().toStdString();

    app.versionAction()->trigger();
    auto* about = app.mainWindow()->findChild<QMessageBox*>(QStringLiteral("aboutBox"));
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->text().contains(QStringLiteral("バージョン ") + kVersion));
    EXPECT_TRUE(about->text().contains(QStringLiteral("ビルド ") + kBuildStamp));
    EXPECT_FALSE(about->iconPixmap().isNull());
    for (QAbstractButton* button : about->buttons())
        EXPECT_FALSE(button->text().contains(latin)) << button->text().toStdString();
    about->close();

    // The main window was never shown, so its canvas has never appeared: a
    // randomize changes the nonce alone.
    const std::uint64_t seed = app.contentView()->renderState().patternSeed;
    const QUuid nonce = app.appModel().randomizeNonce();
    app.randomizeAction()->trigger();
    settle();
    EXPECT_NE(app.appModel().randomizeNonce(), nonce);
    EXPECT_EQ(app.contentView()->renderState().patternSeed, seed);

    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    EXPECT_TRUE(panelWindows().isEmpty()) << "the panel opens only on request";

    // Never opened: one panel at its default size.
    app.showSettingsAction()->trigger();
    ASSERT_EQ(panelWindows().size(), 1);
    QWidget* first = panelWindows().first();
    settle();
    EXPECT_EQ(app.controlPanelWindow(), first);
    // Within the screen, beside the main window, the whole form shown.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first));
    EXPECT_TRUE(first->screen()->availableGeometry().contains(first->frameGeometry()));
    EXPECT_FALSE(first->frameGeometry().intersects(app.mainWindow()->frameGeometry()));
    EXPECT_EQ(first->width(), 320);
    EXPECT_FALSE(first->findChild<QScrollArea*>()->verticalScrollBar()->isVisible());

    // Minimized: restored, no second panel.
    first->setWindowState(first->windowState() | Qt::WindowMinimized);
    ASSERT_TRUE(first->isMinimized());
    app.showSettingsAction()->trigger();
    settle();
    EXPECT_FALSE(first->isMinimized());
    EXPECT_EQ(panelWindows().size(), 1);

    // Closed: a fresh panel replaces it.
    first->close();
    settle();
    // Twice before the fresh panel reports: the second raises it.
    app.showSettingsAction()->trigger();
    app.showSettingsAction()->trigger();
    settle();
    ASSERT_NE(app.controlPanelWindow(), nullptr);
    EXPECT_TRUE(app.controlPanelWindow()->isVisible());
    EXPECT_EQ(panelWindows().size(), 1) << "the closed panel is released";

    ContentView* view = app.contentView();

    // Twenty-five randomizes, taken back one by one to the first field.
    QList<std::uint64_t> seeds{view->patternSeed()};
    for (int i = 0; i < 25; ++i) {
        app.randomizeAction()->trigger();
        settle();
        seeds << view->patternSeed();
    }
    EXPECT_EQ(QSet<std::uint64_t>(seeds.begin(), seeds.end()).size(), 26);
    for (int i = 24; i >= 0; --i) {
        app.undoAction()->trigger();
        ASSERT_EQ(view->patternSeed(), seeds[i]) << i;
    }
    app.redoAction()->trigger();
    EXPECT_EQ(view->patternSeed(), seeds[1]);

    // The panel's reset, taken back whole and done again.
    AppModel& model = app.appModel();
    model.setDisplayGamma(1.7);
    model.setIsAutostereogramMode(true);
    QTest::mouseClick(
        app.controlPanelWindow()->findChild<QAbstractButton*>(QStringLiteral("resetButton")),
        Qt::LeftButton);
    ASSERT_EQ(model.displayGamma(), 1.0);
    app.undoAction()->trigger();
    EXPECT_EQ(model.displayGamma(), 1.7);
    EXPECT_TRUE(model.isAutostereogramMode());
    app.redoAction()->trigger();
    EXPECT_EQ(model.displayGamma(), 1.0);

    // A seed typed in: told what is wrong until it is one, then shown, copied, taken back.
    const std::uint64_t before = view->patternSeed();
    app.enterSeedAction()->trigger();
    auto* dialog = app.mainWindow()->findChild<SeedDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("seedEdit"));
    auto* message = dialog->findChild<QLabel*>(QStringLiteral("seedMessage"));
    auto* accept = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    edit->setText(QStringLiteral("0x12 "));
    EXPECT_FALSE(accept->isEnabled());
    EXPECT_TRUE(message->text().contains(QStringLiteral("シードではありません")));
    edit->setText(QStringLiteral("0x1234ABCD"));
    ASSERT_TRUE(accept->isEnabled());
    accept->click();
    EXPECT_EQ(view->patternSeed(), 0x1234abcdu);
    app.copySeedAction()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("0x000000001234abcd"));
    app.undoAction()->trigger();
    EXPECT_EQ(view->patternSeed(), before);
}

TEST_F(LumenweaveAppTest, SpacePausesWhateverTheMenuBarOrAPanelButtonDidBefore) {
    auto store = std::make_shared<MemoryPreferencesStore>();
    LumenweaveApp app(std::make_unique<AppModel>(store));
    app.show();
    QMainWindow* main = app.mainWindow();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    const AppModel& model = app.appModel();

    // Delivered like a real key press: to the window's focus widget.
    QTest::keyClick(main->windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(model.isAnimationPaused());
    QTest::keyClick(main->windowHandle(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_TRUE(model.isAnimationPaused()) << "Ctrl+Space is passed on";

    // Escape out of the View menu leaves the menu bar in keyboard mode, where
    // Space would open the menu again.
    auto* viewMenu = qobject_cast<QMenu*>(app.pauseAction()->associatedObjects().value(0));
    ASSERT_NE(viewMenu, nullptr);
    main->menuBar()->setActiveAction(viewMenu->menuAction());
    ASSERT_TRUE(QTest::qWaitFor([&] { return viewMenu->isVisible(); }, 5000));
    QTest::keyClick(viewMenu, Qt::Key_Escape);
    ASSERT_FALSE(viewMenu->isVisible());
    QTest::keyClick(main->windowHandle(), Qt::Key_Space);
    EXPECT_FALSE(model.isAnimationPaused()) << "resumed";
    EXPECT_FALSE(viewMenu->isVisible()) << "no menu opened";

    // Full screen hides the menu bar, whose shortcuts still work; Esc leaves it.
    QSignalSpy nonce(&model, &AppModel::randomizeNonceChanged);
    QTest::keyClick(main->windowHandle(), Qt::Key_F11);
    EXPECT_TRUE(main->isFullScreen() && app.fullScreenAction()->isChecked());
    EXPECT_FALSE(main->menuBar()->isVisible());
    EXPECT_EQ(app.contentView()->modeChangeMessage(),
              QStringLiteral("Esc または F11 でフルスクリーンを終了します"));
    QTest::keyClick(main->windowHandle(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(nonce.count(), 1);
    QTest::keyClick(main->windowHandle(), Qt::Key_Escape);
    EXPECT_FALSE(main->isFullScreen() || app.fullScreenAction()->isChecked());
    EXPECT_TRUE(main->menuBar()->isVisible());
    QTest::keyClick(main->windowHandle(), Qt::Key_F, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_TRUE(main->isFullScreen());
    QTest::keyClick(main->windowHandle(), Qt::Key_F11);

    // In the panel: a button clicked keeps the focus, yet Space pauses rather
    // than pressing it again (ランダマイズ once threw the field away).
    app.showControlPanel();
    settle();
    QWidget* panel = app.controlPanelWindow();
    ASSERT_NE(panel, nullptr);
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    auto* randomize = panel->findChild<QAbstractButton*>(QStringLiteral("randomizeButton"));
    QTest::mouseClick(randomize, Qt::LeftButton);
    ASSERT_EQ(nonce.count(), 2);
    const QHash<QString, QVariant> before = store->values();
    QTest::keyClick(panel->windowHandle(), Qt::Key_Space);
    EXPECT_EQ(nonce.count(), 2) << "not pressed again";
    EXPECT_TRUE(model.isAnimationPaused());
    EXPECT_EQ(store->values(), before) << "no setting changed";
    QTest::keyClick(panel, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(nonce.count(), 3) << "Ctrl+R from the panel";
}

TEST_F(LumenweaveAppTest, WindowGeometryIsRememberedApartFromTheSettings) {
    auto store = std::make_shared<MemoryPreferencesStore>();
    const auto stored = [&](const char* key) {
        return store->values().value(QStringLiteral("Window/") + QLatin1String(key));
    };
    // Full screen or maximized: the window manager makes the window cover the
    // screen (done here from outside), while the geometry to come back to stays.
    const auto quitIn = [&](LumenweaveApp& app, Qt::WindowState state) {
        QMainWindow* main = app.mainWindow();
        main->setWindowState(state);
        const QRect screen = main->screen()->geometry();
        const QString id = QString::number(main->winId());
        QProcess::execute("xdotool", {"windowmove", id, "0", "0"});
        QProcess::execute("xdotool", {"windowsize", id, QString::number(screen.width()),
                                      QString::number(screen.height())});
        ASSERT_TRUE(QTest::qWaitFor([&] { return main->geometry() == screen; }, 5000));
        ASSERT_TRUE(main->windowState().testFlag(state));
        main->close();
        settle();
    };
    // Saved on a monitor that is gone: it comes back on this screen.
    store->put(QStringLiteral("Window/mainWindowGeometry"), QStringLiteral("9000 9000 700 500"));
    {
        LumenweaveApp app(std::make_unique<AppModel>(store));
        app.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
        EXPECT_EQ(app.mainWindow()->size(), QSize(700, 500));
        const QRect screen = app.mainWindow()->screen()->availableGeometry();
        EXPECT_TRUE(screen.contains(app.mainWindow()->geometry()));
        app.mainWindow()->setGeometry(110, 120, 700, 500);
        app.showControlPanel();
        settle();
        app.controlPanelWindow()->setGeometry(900, 130, 300, 400);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return app.controlPanelWindow()->geometry() == QRect(900, 130, 300, 400); },
            5000));
        quitIn(app, Qt::WindowFullScreen);
    }
    EXPECT_EQ(stored("mainWindowGeometry"), QVariant(QStringLiteral("110 120 700 500")));
    EXPECT_EQ(stored("controlPanelGeometry"), QVariant(QStringLiteral("900 130 300 400")));
    EXPECT_EQ(stored("mainWindowFullScreen"), QVariant(true));

    // The next start puts both windows back, in full screen, and leaving it
    // gives the window as it was.
    {
        LumenweaveApp app(std::make_unique<AppModel>(store));
        app.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
        EXPECT_TRUE(app.mainWindow()->isFullScreen());
        EXPECT_TRUE(app.contentView()->modeChangeMessage().startsWith(QStringLiteral("Esc")));
        app.showControlPanel();
        settle();
        EXPECT_EQ(app.controlPanelWindow()->geometry(), QRect(900, 130, 300, 400));
        app.setFullScreen(false);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return app.mainWindow()->geometry() == QRect(110, 120, 700, 500); }, 5000));
        quitIn(app, Qt::WindowMaximized);
    }
    EXPECT_EQ(stored("mainWindowGeometry"), QVariant(QStringLiteral("110 120 700 500")));
    EXPECT_EQ(stored("mainWindowFullScreen"), QVariant(false));
    EXPECT_EQ(stored("mainWindowMaximized"), QVariant(true));
}

TEST_F(LumenweaveAppTest, TerminationSignalQuitsAndWritesTheSettings) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Lumenweave.conf");
    auto store = std::make_shared<FilePreferencesStore>(path);
    // A second signal while the quit writes ends nothing.
    QObject context;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &context, [] { std::raise(SIGTERM); });
    LumenweaveApp app(std::make_unique<AppModel>(store));
    quitOnTerminationSignals();
    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    app.mainWindow()->setGeometry(140, 150, 640, 480);

    // What was changed goes to the disk as the panel closes: no event is
    // processed here, so the store's own timer cannot have written it.
    app.showControlPanel();
    settle();
    store->flush();
    app.appModel().setIsColorMode(true);
    app.controlPanelWindow()->close();
    for (int i = 0; i < 500 && store->hasPendingChanges(); ++i)
        QThread::msleep(10);
    EXPECT_EQ(FilePreferencesStore(path).objectForKey("isColorMode"), QVariant("true"));

    app.appModel().setIsColorInverted(true);
    ASSERT_TRUE(store->hasPendingChanges());
    // A broken pipe is no reason to end; SIGUSR1 quits like SIGTERM.
    QTimer::singleShot(0, [] {
        std::raise(SIGPIPE);
        std::raise(SIGUSR1);
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    const FilePreferencesStore written(path);
    EXPECT_EQ(written.objectForKey("isColorInverted"), QVariant("true"));
    // No window was closed, yet its place is kept.
    EXPECT_EQ(written.objectForKey("Window/mainWindowGeometry"), QVariant("140 150 640 480"));
}

TEST_F(LumenweaveAppTest, PictureAndVideoExportsWriteTheShownFieldOrSayWhyNot) {
    QTemporaryDir dir;
    auto store = std::make_shared<MemoryPreferencesStore>();
    store->put("showStatusBar", "false");
    LumenweaveApp app(std::make_unique<AppModel>(store));
    AppModel& model = app.appModel();
    const auto failureBox = [&] {
        return app.mainWindow()->findChild<QMessageBox*>(QStringLiteral("exportFailureBox"));
    };
    // Made and written off the main thread: the result comes later.
    const auto exported = [&](const QString& path) {
        QSignalSpy finished(&app, &LumenweaveApp::exportFinished);
        app.exportImageTo(path);
        return finished.wait(60000) && finished.first().at(1).toBool();
    };

    // Nothing shown yet: nothing written, and the reason in a message box.
    EXPECT_FALSE(exported(dir.filePath(QStringLiteral("early.png"))));
    ASSERT_NE(failureBox(), nullptr);
    delete failureBox();

    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    RenderState& state = app.contentView()->renderState();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(state.leftTexture()); }, 30000));
    const QString path = dir.filePath(QStringLiteral("field.png"));
    const GpuTextureRef shown = state.leftTexture();
    ASSERT_TRUE(exported(path));
    EXPECT_EQ(app.contentView()->modeChangeMessage(), QStringLiteral("書き出しました: field.png"));
    EXPECT_EQ(QImage(path).size(), (state.viewSize * state.currentBackingScale()).toSize())
        << "full pixel resolution";
    EXPECT_EQ(failureBox(), nullptr);
    // The export took no texture from the window's rings: the next frame does
    // not go into the one on screen.
    const std::uint64_t generation = state.frameGeneration();
    app.randomizeAction()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.frameGeneration() > generation; }, 30000));
    EXPECT_NE(state.leftTexture(), shown);

    // A video of the shown field, made while the window goes on animating:
    // lumenweave-render writes the same file for the same seed, size and settings.
    model.setIsRotationAnimationEnabled(true);
    VideoExport& video = app.videoExport();
    QSignalSpy videoDone(&video, &VideoExport::finished);
    QSignalSpy frames(&state, &RenderState::texturesChanged);
    const auto exportTo = [&](const QString& path, double seconds, bool cancel = false) {
        videoDone.clear();
        VideoExport::Choice choice;
        choice.seconds = seconds;
        choice.fps = 10;
        if (!video.start(choice, path))
            return false;
        if (cancel)
            video.cancel();
        return QTest::qWaitFor([&] { return !videoDone.isEmpty(); }, 120000) &&
               videoDone[0][0].toBool();
    };
    const RenderRequest request = video.requestOfTheShownField();
    ASSERT_TRUE(exportTo(dir.filePath(QStringLiteral("field.mkv")), 1));
    EXPECT_GT(frames.count(), 0) << "the window went on animating";
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + "/lumenweave-render",
               {"--seed", QString::number(request.seed), "--size",
                QStringLiteral("%1x%2").arg(request.viewWidth).arg(request.viewHeight), "--scale",
                QString::number(request.backingScale), "--rotation", "--duration", "1", "--fps",
                "10", dir.filePath(QStringLiteral("tool.mkv"))});
    ASSERT_TRUE(tool.waitForFinished(120000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    QFile app1(dir.filePath(QStringLiteral("field.mkv"))),
        tool1(dir.filePath(QStringLiteral("tool.mkv")));
    ASSERT_TRUE(app1.open(QIODevice::ReadOnly) && tool1.open(QIODevice::ReadOnly));
    EXPECT_TRUE(app1.readAll() == tool1.readAll());
    // Cancelled: no file and no message; a folder that is not there: said, no file.
    EXPECT_FALSE(exportTo(dir.filePath(QStringLiteral("cancelled.mkv")), 60, true));
    EXPECT_FALSE(exportTo(dir.filePath(QStringLiteral("gone/field.mkv")), 1));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"field.mkv", "field.png", "tool.mkv"}));
    const auto boxes =
        app.mainWindow()->findChildren<QMessageBox*>(QStringLiteral("videoFailureBox"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->informativeText(), QStringLiteral("保存先のフォルダがありません。"));
    model.setIsRotationAnimationEnabled(false);

    // A stereo pair is written as it is shown (inside the window's border, once
    // the toast has gone): crossed halves 2 cm wide, a gap, the marks.
    model.setIsStereoscopicMode(true);
    model.setStereoLayout(StereoLayout::cross);
    model.setStereoPairWidth(2.0);
    model.setStereoPairGap(0.5);
    model.setShowFusionMarks(true);
    const auto* toast = app.contentView()->findChild<ModeToastView*>();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return state.rightTexture() && !state.isRenderInFlight && !toast->isVisible(); },
        30000));
    ASSERT_TRUE(exported(path));
    const QImage frame = app.contentView()->presenter()->grabFrame();
    const QRect inside = frame.rect().adjusted(1, 1, -1, -1);
    EXPECT_EQ(QImage(path).convertToFormat(frame.format()).copy(inside), frame.copy(inside));

    // A FIFO is written to as a stream while the interface goes on: this
    // thread is its only reader, and its pipe holds a small part of the file.
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo.png")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    QFile reader;
    ASSERT_TRUE(reader.open(::open(fifo.constData(), O_RDONLY | O_NONBLOCK), QIODevice::ReadOnly,
                            QFileDevice::AutoCloseHandle));
    ASSERT_EQ(::fcntl(reader.handle(), F_SETPIPE_SZ, 4096), 4096);
    QSignalSpy finished(&app, &LumenweaveApp::exportFinished);
    app.exportImageTo(QFile::decodeName(fifo));
    QByteArray streamed;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            streamed += reader.readAll();
            return !finished.isEmpty();
        },
        60000));
    EXPECT_TRUE(finished.first().at(1).toBool());
    EXPECT_EQ(pillowSize(streamed + reader.readAll()),
              QStringLiteral("%1x%2").arg(QImage(path).width()).arg(QImage(path).height()));

    // Where it cannot go: the writer's reason in the box (what each failure
    // leaves on disk is the writer's, checked with the renderer).
    EXPECT_FALSE(exported(dir.filePath(QStringLiteral("gone/field.png"))));
    ASSERT_NE(failureBox(), nullptr);
    EXPECT_EQ(failureBox()->informativeText(), QStringLiteral("保存先のフォルダがありません。"));

    // The dialog opens in the desktop's pictures folder, made if need be.
    const QString pictures = dir.filePath(QStringLiteral("写真"));
    QFile dirs(dir.filePath(QStringLiteral("user-dirs.dirs")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"" + pictures.toUtf8() + "\"\n");
    dirs.close();
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    app.exportImageAction()->trigger();
    qputenv("XDG_CONFIG_HOME", configHome);
    auto* dialog = app.mainWindow()->findChild<QFileDialog*>(QStringLiteral("exportDialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->directory().absolutePath(), pictures);
    EXPECT_TRUE(QFileInfo(pictures).isDir());
    dialog->reject();
}
