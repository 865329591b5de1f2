#include "LumenweaveApp.h"

#include "ContentView.h"
#include "ControlPanelView.h"
#include "WindowAccessor.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QVBoxLayout>

namespace {
constexpr int kPanelDefaultWidth = 320;
constexpr int kPanelDefaultHeight = 560;
constexpr int kPanelMinimumWidth = 260;
constexpr int kPanelMinimumHeight = 300;
constexpr int kMainDefaultWidth = 960;
constexpr int kMainDefaultHeight = 640;
} // namespace

LumenweaveApp::LumenweaveApp() : LumenweaveApp(std::make_unique<AppModel>()) {}

LumenweaveApp::LumenweaveApp(std::unique_ptr<AppModel> model) : m_appModel(std::move(model)) {
    buildMainWindow();
}

LumenweaveApp::~LumenweaveApp() {
    delete m_controlPanelWindow;
    delete m_pendingPanelWindow;
    delete m_mainWindow;
}

void LumenweaveApp::buildMainWindow() {
    m_mainWindow = new QMainWindow;
    m_mainWindow->setAttribute(Qt::WA_DeleteOnClose, false);
    m_contentView = new ContentView(*m_appModel);
    m_mainWindow->setCentralWidget(m_contentView);
    m_mainWindow->resize(kMainDefaultWidth, kMainDefaultHeight);

    // Both commands work whichever window of the application is active.
    m_showSettingsAction = new QAction(tr("設定..."), m_mainWindow);
    m_showSettingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_showSettingsAction->setShortcutContext(Qt::ApplicationShortcut);
    m_showSettingsAction->setMenuRole(QAction::PreferencesRole);
    connect(m_showSettingsAction, &QAction::triggered, this, &LumenweaveApp::showControlPanel);

    m_randomizeAction = new QAction(tr("ランダマイズ"), m_mainWindow);
    m_randomizeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_randomizeAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_randomizeAction, &QAction::triggered, this,
            [this] { m_appModel->requestRandomize(); });

    auto* aboutAction = new QAction(tr("Lumenweave について"), m_mainWindow);
    aboutAction->setMenuRole(QAction::AboutRole);
    connect(aboutAction, &QAction::triggered, this, &LumenweaveApp::showAbout);

    auto* quitAction = new QAction(tr("終了"), m_mainWindow);
    quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setShortcutContext(Qt::ApplicationShortcut);
    quitAction->setMenuRole(QAction::QuitRole);
    connect(quitAction, &QAction::triggered, qApp, &QApplication::quit, Qt::QueuedConnection);

    QMenu* appMenu = m_mainWindow->menuBar()->addMenu(QStringLiteral("Lumenweave"));
    appMenu->addAction(aboutAction);
    appMenu->addSeparator();
    appMenu->addAction(m_showSettingsAction);
    appMenu->addSeparator();
    appMenu->addAction(quitAction);

    QMenu* viewMenu = m_mainWindow->menuBar()->addMenu(tr("表示"));
    viewMenu->addAction(m_randomizeAction);
}

void LumenweaveApp::show() {
    m_mainWindow->show();
}

void LumenweaveApp::showControlPanel() {
    // A panel opened a moment ago has not reported its window yet; it is the
    // newest panel, even when an earlier, closed one has reported.
    QWidget* window =
        m_pendingPanelWindow ? m_pendingPanelWindow.data() : m_controlPanelWindow.data();
    if (!window) {
        openControlPanelWindow();
        return;
    }
    if (!window->isVisible() && !window->isMinimized()) {
        // It was closed: a fresh one shows the current settings.
        openControlPanelWindow();
        return;
    }
    if (window->isMinimized()) {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
    }
    window->raise();
    window->activateWindow();
}

void LumenweaveApp::openControlPanelWindow() {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(QStringLiteral("control-panel"));
    window->setMinimumSize(kPanelMinimumWidth, kPanelMinimumHeight);
    window->resize(kPanelDefaultWidth, kPanelDefaultHeight);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ControlPanelView(*m_appModel, window));
    layout->addWidget(new WindowAccessor(
        [this, closedWindow = QPointer<QWidget>(m_controlPanelWindow)](QWidget* reported) {
            if (m_pendingPanelWindow == reported) {
                m_pendingPanelWindow = nullptr;
            }
            m_controlPanelWindow = reported;
            if (closedWindow && closedWindow != reported) {
                closedWindow->deleteLater();
            }
        },
        window));

    m_pendingPanelWindow = window;
    window->show();
    window->raise();
    window->activateWindow();
}

void LumenweaveApp::showAbout() {
    QMessageBox::about(m_mainWindow, tr("Lumenweave について"),
                       tr("Lumenweave\n\nガボールパッチの場を描き、動かし、立体視で見せます。"));
}
