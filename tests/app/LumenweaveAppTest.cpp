#include "LumenweaveApp.h"
#include "ContentView.h"

#include <QApplication>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

std::unique_ptr<AppModel> memoryModel() {
    return std::make_unique<AppModel>(std::make_shared<MemoryPreferencesStore>());
}

QList<QWidget*> panelWindows() {
    QList<QWidget*> panels;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("control-panel")) {
            panels.append(w);
        }
    }
    return panels;
}

int visiblePanelCount() {
    int n = 0;
    for (QWidget* w : panelWindows()) {
        n += w->isVisible() ? 1 : 0;
    }
    return n;
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

TEST_F(LumenweaveAppTest, SettingsCommandOpensRaisesRestoresAndReopensOnePanel) {
    LumenweaveApp app(memoryModel());
    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    EXPECT_TRUE(panelWindows().isEmpty()) << "the panel opens only on request";

    // Never opened: one panel at its default size, reported one turn later.
    app.showSettingsAction()->trigger();
    ASSERT_EQ(panelWindows().size(), 1);
    QWidget* first = panelWindows().first();
    EXPECT_EQ(app.controlPanelWindow(), nullptr);
    settle();
    EXPECT_EQ(app.controlPanelWindow(), first);
    EXPECT_EQ(first->size(), QSize(320, 560));
    EXPECT_EQ(first->minimumSize(), QSize(260, 300));

    // Behind the main window: brought forward, no second panel.
    app.mainWindow()->raise();
    app.mainWindow()->activateWindow();
    app.showSettingsAction()->trigger();
    settle();
    EXPECT_EQ(panelWindows().size(), 1);
    EXPECT_TRUE(first->isVisible());

    // Minimized: restored.
    first->setWindowState(first->windowState() | Qt::WindowMinimized);
    ASSERT_TRUE(first->isMinimized());
    app.showSettingsAction()->trigger();
    settle();
    EXPECT_FALSE(first->isMinimized());
    EXPECT_EQ(panelWindows().size(), 1);

    // Closed: a fresh panel replaces it.
    first->close();
    settle();
    EXPECT_EQ(visiblePanelCount(), 0);
    // Twice before the fresh panel reports: the second raises it.
    app.showSettingsAction()->trigger();
    app.showSettingsAction()->trigger();
    settle();
    EXPECT_EQ(visiblePanelCount(), 1);
    ASSERT_NE(app.controlPanelWindow(), nullptr);
    EXPECT_TRUE(app.controlPanelWindow()->isVisible());
    EXPECT_EQ(panelWindows().size(), 1) << "the closed panel is released";
}

TEST_F(LumenweaveAppTest, RepeatedSettingsCommandBeforeTheReportOpensOnePanel) {
    LumenweaveApp app(memoryModel());
    app.show();
    app.showSettingsAction()->trigger();
    app.showSettingsAction()->trigger();
    settle();
    EXPECT_EQ(panelWindows().size(), 1);
}

TEST_F(LumenweaveAppTest, RandomizeShortcutWorksFromEitherWindow) {
    LumenweaveApp app(memoryModel());
    app.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    QSignalSpy nonce(&app.appModel(), &AppModel::randomizeNonceChanged);

    app.mainWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app.mainWindow()));
    QTest::keyClick(app.mainWindow(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(nonce.count(), 1);

    app.showControlPanel();
    settle();
    QWidget* panel = app.controlPanelWindow();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(nonce.count(), 2);
}

TEST_F(LumenweaveAppTest, RandomizeBeforeTheCanvasAppearsChangesOnlyTheNonce) {
    LumenweaveApp app(memoryModel());
    // The main window is not shown, so its canvas has never appeared.
    const std::uint64_t seed = app.contentView()->renderState().patternSeed;
    const QUuid before = app.appModel().randomizeNonce();
    app.randomizeAction()->trigger();
    settle();
    EXPECT_NE(app.appModel().randomizeNonce(), before);
    EXPECT_EQ(app.contentView()->renderState().patternSeed, seed);
}

TEST_F(LumenweaveAppTest, SpacePausesFromTheMainWindowOnly) {
    LumenweaveApp app(memoryModel());
    app.show();
    QWidget* main = app.mainWindow();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));

    // Delivered like a real key press: to the window's focus widget.
    QTest::keyClick(main->windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(app.appModel().isAnimationPaused());
    QTest::keyClick(main->windowHandle(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_TRUE(app.appModel().isAnimationPaused()) << "Ctrl+Space is passed on";

    app.showControlPanel();
    settle();
    QWidget* panel = app.controlPanelWindow();
    ASSERT_NE(panel, nullptr);
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel->windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(app.appModel().isAnimationPaused()) << "the panel has no pause key";
}
