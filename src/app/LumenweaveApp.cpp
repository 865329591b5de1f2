#include "LumenweaveApp.h"

#include "BuildInfo.h"
#include "CanvasTexturePool.h"
#include "ContentView.h"
#include "ControlPanelView.h"
#include "FrameImage.h"
#include "KeyEventCatcher.h"
#include "PngFile.h"
#include "SaveDialog.h"
#include "SeedDialog.h"
#include "VideoExport.h"
#include "WindowAccessor.h"
#include "WindowGeometry.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyle>
#include <QTranslator>
#include <QTreeWidget>
#include <QUndoStack>
#include <QVBoxLayout>
#include <chrono>
#include <cstdlib>

namespace {
constexpr int kPanelDefaultWidth = 320;
constexpr int kPanelDefaultHeight = 560;
constexpr int kPanelMinimumWidth = 260;
constexpr int kPanelMinimumHeight = 300;
constexpr int kMainDefaultWidth = 960;
constexpr int kMainDefaultHeight = 640;
// Steps of ランダマイズ, デフォルトに戻す and seeds typed in that can be taken back.
constexpr int kUndoLimit = 100;
// Toasts that tell where something went or how to leave stay a little longer.
constexpr int kNoticeMs = 3000;

// The shell's own keys, in a group of their own so that no setting key is touched.
const QString kMainGeometryKey = QStringLiteral("Window/mainWindowGeometry");
const QString kMainFullScreenKey = QStringLiteral("Window/mainWindowFullScreen");
const QString kMainMaximizedKey = QStringLiteral("Window/mainWindowMaximized");
const QString kPanelGeometryKey = QStringLiteral("Window/controlPanelGeometry");

QList<QRect> availableScreenAreas() {
    QList<QRect> areas;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        areas << primary->availableGeometry();
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen())
            areas << screen->availableGeometry();
    }
    return areas;
}

// A stored geometry brought into the screens present now, or nothing.
std::optional<QRect> restoredGeometry(const PreferencesStore& store, const QString& key) {
    const std::optional<QRect> saved = parseWindowGeometry(store.objectForKey(key));
    if (!saved)
        return std::nullopt;
    const int titleBar = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return fitIntoScreens(*saved, availableScreenAreas(), titleBar);
}

bool storedFlag(const PreferencesStore& store, const QString& key) {
    return readBool(store.objectForKey(key)).value_or(false);
}

QAction* makeAction(const QString& text, QObject* parent, const QList<QKeySequence>& keys = {}) {
    auto* action = new QAction(text, parent);
    action->setShortcuts(keys);
    // The commands work whichever window of the application is active.
    action->setShortcutContext(Qt::ApplicationShortcut);
    return action;
}

// Hands every event of the application to a function first.
class ApplicationEventFilter : public QObject {
public:
    ApplicationEventFilter(std::function<bool(QObject*, QEvent*)> filter, QObject* parent)
        : QObject(parent), m_filter(std::move(filter)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override { return m_filter(watched, event); }

private:
    std::function<bool(QObject*, QEvent*)> m_filter;
};

// A step already taken when it is pushed: the stack's first redo does nothing.
class UndoStep : public QUndoCommand {
public:
    UndoStep(const QString& text, std::function<void()> undo, std::function<void()> redo)
        : QUndoCommand(text), m_undo(std::move(undo)), m_redo(std::move(redo)) {}
    void undo() override { m_undo(); }
    void redo() override {
        if (std::exchange(m_pushed, true))
            m_redo();
    }

private:
    std::function<void()> m_undo;
    std::function<void()> m_redo;
    bool m_pushed = false;
};

// Controls that answer Space themselves, as the desktop's habit is: a switch
// or a segment is chosen, a list opens. Nothing is thrown away by them.
bool usesSpace(QWidget* widget) {
    const auto* button = qobject_cast<QAbstractButton*>(widget);
    return (button && button->isCheckable()) || qobject_cast<QComboBox*>(widget);
}

// The running application's settings, for a process that ends through exit()
// from inside the event loop, where no destructor on the stack runs: Qt ends
// it so when the connection to the X server breaks.
PreferencesStore* storeFlushedAtExit = nullptr;

void flushAtExit() {
    if (storeFlushedAtExit)
        storeFlushedAtExit->flush();
}

} // namespace

LumenweaveApp::LumenweaveApp() : LumenweaveApp(std::make_unique<AppModel>()) {}

LumenweaveApp::LumenweaveApp(std::unique_ptr<AppModel> model) : m_appModel(std::move(model)) {
    m_undoStack = new QUndoStack(this);
    m_undoStack->setUndoLimit(kUndoLimit);
    m_exportPool.setMaxThreadCount(1);
    buildMainWindow();
    buildMenus();
    new ApplicationEventFilter(
        [this](QObject* receiver, QEvent* event) { return routePauseKey(receiver, event); }, this);
    connect(m_contentView, &ContentView::patternRandomized, this,
            [this](std::uint64_t previous, std::uint64_t seed) {
                pushStep(
                    tr("ランダマイズ"),
                    [this, previous] { m_contentView->setPatternSeed(previous); },
                    [this, seed] { m_contentView->setPatternSeed(seed); });
            });
    followModel();
    connect(m_appModel.get(), &AppModel::changed, this, &LumenweaveApp::followModel);
    // Settings are written a little after each change; a quit writes what is left.
    // (A quit closes the windows first, which keeps their places.)
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            [this] { m_appModel->preferencesStore().flush(); });
    static const bool flushesAtExit = std::atexit(flushAtExit) == 0;
    if (flushesAtExit)
        storeFlushedAtExit = &m_appModel->preferencesStore();
}

LumenweaveApp::~LumenweaveApp() {
    if (storeFlushedAtExit == &m_appModel->preferencesStore())
        storeFlushedAtExit = nullptr;
    // A frame being made is finished; a write waiting for a reader is not.
    for (const auto& output : std::as_const(m_exports))
        output->cancel();
    m_exportPool.waitForDone();
    delete m_controlPanelWindow;
    delete m_pendingPanelWindow;
    delete m_mainWindow;
}

bool LumenweaveApp::installQtTranslations(QCoreApplication& application) {
    // The interface is Japanese whatever the user's locale, Qt's own texts too.
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    auto* translator = new QTranslator(&application);
    if (!translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

void LumenweaveApp::buildMainWindow() {
    // Every window (and the about box) shows the packaged icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lumenweave.svg")));
    m_mainWindow = new QMainWindow;
    // Set on the window itself: Wayland's client-side title bar draws the
    // window's own title, not the application name the compositor is sent.
    m_mainWindow->setWindowTitle(QStringLiteral("Lumenweave"));
    m_mainWindow->setAttribute(Qt::WA_DeleteOnClose, false);
    m_contentView = new ContentView(*m_appModel);
    m_mainWindow->setCentralWidget(m_contentView);
    m_mainWindow->installEventFilter(this);
}

void LumenweaveApp::buildMenus() {
    m_showSettingsAction =
        makeAction(tr("設定..."), m_mainWindow, {QKeySequence(Qt::CTRL | Qt::Key_Comma)});
    m_showSettingsAction->setMenuRole(QAction::PreferencesRole);
    connect(m_showSettingsAction, &QAction::triggered, this, &LumenweaveApp::showControlPanel);

    m_randomizeAction =
        makeAction(tr("ランダマイズ"), m_mainWindow, {QKeySequence(Qt::CTRL | Qt::Key_R)});
    connect(m_randomizeAction, &QAction::triggered, this,
            [this] { m_appModel->requestRandomize(); });

    m_aboutAction = makeAction(tr("Lumenweave について"), m_mainWindow);
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, &LumenweaveApp::showAbout);
    m_versionAction = makeAction(tr("バージョン情報"), m_mainWindow);
    connect(m_versionAction, &QAction::triggered, this, &LumenweaveApp::showAbout);
    m_shortcutsAction = makeAction(tr("キーボードショートカット"), m_mainWindow);
    connect(m_shortcutsAction, &QAction::triggered, this, &LumenweaveApp::showShortcuts);

    m_undoAction = makeAction(tr("元に戻す"), m_mainWindow, {QKeySequence(Qt::CTRL | Qt::Key_Z)});
    m_redoAction =
        makeAction(tr("やり直す"), m_mainWindow, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    connect(m_undoAction, &QAction::triggered, m_undoStack, &QUndoStack::undo);
    connect(m_redoAction, &QAction::triggered, m_undoStack, &QUndoStack::redo);
    m_undoAction->setEnabled(false);
    m_redoAction->setEnabled(false);
    connect(m_undoStack, &QUndoStack::canUndoChanged, m_undoAction, &QAction::setEnabled);
    connect(m_undoStack, &QUndoStack::canRedoChanged, m_redoAction, &QAction::setEnabled);
    // The step itself in the tooltip; the item keeps its plain name.
    connect(m_undoStack, &QUndoStack::undoTextChanged, m_undoAction, &QAction::setToolTip);
    connect(m_undoStack, &QUndoStack::redoTextChanged, m_redoAction, &QAction::setToolTip);

    m_enterSeedAction = makeAction(tr("シードを入力..."), m_mainWindow);
    connect(m_enterSeedAction, &QAction::triggered, this, &LumenweaveApp::askForSeed);
    m_copySeedAction = makeAction(tr("シードをコピー"), m_mainWindow);
    connect(m_copySeedAction, &QAction::triggered, this, &LumenweaveApp::copySeed);

    m_quitAction = makeAction(tr("終了"), m_mainWindow, {QKeySequence(Qt::CTRL | Qt::Key_Q)});
    m_quitAction->setMenuRole(QAction::QuitRole);
    // The same way out as the window's close button: geometry saved, panel closed.
    connect(m_quitAction, &QAction::triggered, m_mainWindow, &QWidget::close, Qt::QueuedConnection);

    m_exportImageAction =
        makeAction(tr("画像を書き出す..."), m_mainWindow, {QKeySequence(Qt::CTRL | Qt::Key_E)});
    connect(m_exportImageAction, &QAction::triggered, this, &LumenweaveApp::exportImage);

    m_videoExport = new VideoExport(*m_appModel, *m_contentView, m_mainWindow);
    m_exportVideoAction = makeAction(tr("動画を書き出す..."), m_mainWindow,
                                     {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)});
    connect(m_exportVideoAction, &QAction::triggered, m_videoExport, &VideoExport::ask);

    m_fullScreenAction =
        makeAction(tr("フルスクリーン"), m_mainWindow,
                   {QKeySequence(Qt::Key_F11), QKeySequence(Qt::CTRL | Qt::META | Qt::Key_F)});
    m_fullScreenAction->setCheckable(true);
    connect(m_fullScreenAction, &QAction::triggered, this, &LumenweaveApp::setFullScreen);
    m_leaveFullScreen = new QShortcut(QKeySequence(Qt::Key_Escape), m_mainWindow);
    m_leaveFullScreen->setEnabled(false);
    connect(m_leaveFullScreen, &QShortcut::activated, this, [this] { setFullScreen(false); });

    // triggered, not toggled: following the model must not write it back.
    m_statusBarAction = makeAction(tr("ステータスバーを表示"), m_mainWindow);
    m_statusBarAction->setCheckable(true);
    connect(m_statusBarAction, &QAction::triggered, m_appModel.get(), &AppModel::setShowStatusBar);

    // Space pauses from the main window's key catcher only, so it is shown as a
    // hint after the tab and never registered as a shortcut here.
    m_pauseAction = makeAction(tr("一時停止") + QLatin1Char('\t') + tr("スペース"), m_mainWindow);
    m_pauseAction->setCheckable(true);
    connect(m_pauseAction, &QAction::triggered, m_appModel.get(), &AppModel::setIsAnimationPaused);

    QMenu* appMenu = m_mainWindow->menuBar()->addMenu(QStringLiteral("Lumenweave"));
    appMenu->addAction(m_aboutAction);
    appMenu->addSeparator();
    appMenu->addAction(m_showSettingsAction);
    appMenu->addSeparator();
    appMenu->addAction(m_exportImageAction);
    appMenu->addAction(m_exportVideoAction);
    appMenu->addSeparator();
    appMenu->addAction(m_quitAction);

    QMenu* editMenu = m_mainWindow->menuBar()->addMenu(tr("編集"));
    editMenu->setToolTipsVisible(true);
    editMenu->addAction(m_undoAction);
    editMenu->addAction(m_redoAction);

    QMenu* viewMenu = m_mainWindow->menuBar()->addMenu(tr("表示"));
    viewMenu->addAction(m_randomizeAction);
    viewMenu->addAction(m_enterSeedAction);
    viewMenu->addAction(m_copySeedAction);
    viewMenu->addSeparator();
    viewMenu->addAction(m_fullScreenAction);
    viewMenu->addAction(m_statusBarAction);
    viewMenu->addAction(m_pauseAction);

    QMenu* helpMenu = m_mainWindow->menuBar()->addMenu(tr("ヘルプ"));
    helpMenu->addAction(m_shortcutsAction);
    helpMenu->addAction(m_versionAction);

    // The menu bar is hidden in full screen, and a hidden menu's shortcuts are
    // dead; on the window itself they keep working.
    m_mainWindow->addActions({m_showSettingsAction, m_randomizeAction, m_quitAction,
                              m_exportImageAction, m_exportVideoAction, m_fullScreenAction,
                              m_undoAction, m_redoAction});
}

void LumenweaveApp::followModel() {
    m_statusBarAction->setChecked(m_appModel->showStatusBar());
    m_pauseAction->setChecked(m_appModel->isAnimationPaused());
}

void LumenweaveApp::show() {
    const PreferencesStore& store = m_appModel->preferencesStore();
    if (const std::optional<QRect> saved = restoredGeometry(store, kMainGeometryKey)) {
        m_mainWindow->setGeometry(*saved);
    } else {
        QScreen* screen = m_mainWindow->screen();
        const QRect area = screen ? screen->availableGeometry() : QRect();
        m_mainWindow->setGeometry(
            defaultWindowGeometry(QSize(kMainDefaultWidth, kMainDefaultHeight), area));
    }
    Qt::WindowStates state = Qt::WindowNoState;
    if (storedFlag(store, kMainMaximizedKey))
        state |= Qt::WindowMaximized;
    if (storedFlag(store, kMainFullScreenKey))
        state |= Qt::WindowFullScreen;
    m_mainWindow->setWindowState(state);
    mainWindowStateChanged();
    m_mainWindow->show();
}

void LumenweaveApp::setFullScreen(bool on) {
    const Qt::WindowStates state = m_mainWindow->windowState();
    m_mainWindow->setWindowState(on ? state | Qt::WindowFullScreen : state & ~Qt::WindowFullScreen);
    mainWindowStateChanged();
}

void LumenweaveApp::mainWindowStateChanged() {
    const bool fullScreen = m_mainWindow->windowState().testFlag(Qt::WindowFullScreen);
    // Nothing but the field in full screen.
    m_mainWindow->menuBar()->setVisible(!fullScreen);
    m_fullScreenAction->setChecked(fullScreen);
    m_leaveFullScreen->setEnabled(fullScreen);
    // Without a menu bar the way out is told once on the way in, a start in
    // full screen included.
    if (fullScreen && !m_fullScreenHinted)
        m_contentView->showModeMessage(tr("Esc または F11 でフルスクリーンを終了します"),
                                       kNoticeMs);
    m_fullScreenHinted = fullScreen;
}

bool LumenweaveApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_mainWindow) {
        if (event->type() == QEvent::WindowStateChange)
            mainWindowStateChanged();
        else if (event->type() == QEvent::Close)
            mainWindowClosing();
    } else if (event->type() == QEvent::Close && watched->objectName() == "control-panel") {
        savePanelGeometry(static_cast<QWidget*>(watched));
        // What was changed in the panel goes to the disk as it closes.
        m_appModel->preferencesStore().flushSoon();
    }
    return QObject::eventFilter(watched, event);
}

void LumenweaveApp::saveMainWindowGeometry() {
    PreferencesStore& store = m_appModel->preferencesStore();
    const Qt::WindowStates state = m_mainWindow->windowState();
    // The geometry to come back to; full screen and maximized are flags over it.
    store.setObject(kMainGeometryKey, formatWindowGeometry(m_mainWindow->normalGeometry()));
    store.setBool(kMainFullScreenKey, state.testFlag(Qt::WindowFullScreen));
    store.setBool(kMainMaximizedKey, state.testFlag(Qt::WindowMaximized));
}

void LumenweaveApp::savePanelGeometry(QWidget* panel) {
    m_appModel->preferencesStore().setObject(kPanelGeometryKey,
                                             formatWindowGeometry(panel->geometry()));
}

void LumenweaveApp::mainWindowClosing() {
    saveMainWindowGeometry();
    // Without the main window there is no menu: the panel goes with it, and
    // with the last window closed the application quits.
    for (QWidget* panel : {m_pendingPanelWindow.data(), m_controlPanelWindow.data()}) {
        if (panel && panel->isVisible())
            panel->close();
    }
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
    window->setWindowTitle(tr("Lumenweave 設定"));
    window->setMinimumSize(kPanelMinimumWidth, kPanelMinimumHeight);

    auto* view = new ControlPanelView(*m_appModel, window, [this] { resetToDefaults(); });
    if (const auto saved = restoredGeometry(m_appModel->preferencesStore(), kPanelGeometryKey))
        window->setGeometry(*saved);
    else
        window->setGeometry(defaultPanelGeometry(*view));
    window->installEventFilter(this);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    // The panel is the whole window, so that the height asked for is the form's.
    layout->setSpacing(0);
    layout->addWidget(view);
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

QRect LumenweaveApp::defaultPanelGeometry(const ControlPanelView& view) const {
    QScreen* screen = m_mainWindow->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    const int titleBar = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    // As tall as the whole form at the panel's width, where the screen has room.
    const QSize wanted(kPanelDefaultWidth,
                       std::max(kPanelMinimumHeight, view.wholeFormHeight(kPanelDefaultWidth)));
    return besideWindow(wanted, m_mainWindow->frameGeometry(), area, titleBar);
}

bool LumenweaveApp::routePauseKey(QObject* receiver, QEvent* event) {
    if (event->type() != QEvent::KeyPress ||
        !KeyEventCatcher::isPauseKey(*static_cast<QKeyEvent*>(event)))
        return false;
    auto* widget = qobject_cast<QWidget*>(receiver);
    QWidget* catcher = m_contentView->keyCatcher();
    // An open menu or list keeps its keys; the catcher takes its own.
    if (!widget || widget == catcher || QApplication::activePopupWidget())
        return false;
    const QWidget* top = widget->window();
    if (top == m_mainWindow) {
        // A menu bar left in keyboard mode (Escape out of a menu) would open the
        // menu again on Space; with the focus back on the catcher it lets go.
        catcher->setFocus(Qt::OtherFocusReason);
    } else if (top->objectName() != QLatin1String("control-panel") || usesSpace(widget)) {
        return false;
    }
    QCoreApplication::sendEvent(catcher, event);
    return true;
}

void LumenweaveApp::pushStep(const QString& text, std::function<void()> undo,
                             std::function<void()> redo) {
    m_undoStack->push(new UndoStep(text, std::move(undo), std::move(redo)));
}

void LumenweaveApp::resetToDefaults() {
    const QVariantList before = m_appModel->resettableValues();
    m_appModel->resetToDefaults();
    if (m_appModel->resettableValues() == before)
        return; // nothing to take back
    pushStep(
        tr("デフォルトに戻す"), [this, before] { m_appModel->restoreResettableValues(before); },
        [this] { m_appModel->resetToDefaults(); });
}

void LumenweaveApp::showPatternSeed(std::uint64_t seed) {
    const std::uint64_t before = m_contentView->patternSeed();
    if (seed == before)
        return;
    m_contentView->setPatternSeed(seed);
    pushStep(
        tr("シードを入力"), [this, before] { m_contentView->setPatternSeed(before); },
        [this, seed] { m_contentView->setPatternSeed(seed); });
}

void LumenweaveApp::askForSeed() {
    auto* dialog = new SeedDialog(m_contentView->patternSeed(), m_mainWindow);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &SeedDialog::seedChosen, this, &LumenweaveApp::showPatternSeed);
    dialog->open();
}

void LumenweaveApp::copySeed() {
    const QString text = seedText(m_contentView->patternSeed());
    QGuiApplication::clipboard()->setText(text);
    m_contentView->showModeMessage(tr("シードをコピーしました: %1").arg(text), kNoticeMs);
}

QList<QPair<QString, QString>> LumenweaveApp::shortcutList() const {
    QList<QPair<QString, QString>> list;
    list.append({tr("スペース"), tr("一時停止・再開")});
    for (const QAction* menu : m_mainWindow->menuBar()->actions()) {
        if (!menu->menu())
            continue;
        for (const QAction* item : menu->menu()->actions()) {
            if (item->shortcuts().isEmpty())
                continue;
            QStringList keys;
            for (const QKeySequence& key : item->shortcuts())
                keys << key.toString(QKeySequence::NativeText);
            QString what = item->text().section(QLatin1Char('\t'), 0, 0);
            what.remove(QStringLiteral("..."));
            list.append({keys.join(QStringLiteral(" / ")), what});
        }
    }
    list.append(
        {m_leaveFullScreen->key().toString(QKeySequence::NativeText), tr("フルスクリーンを終了")});
    return list;
}

void LumenweaveApp::showShortcuts() {
    if (m_shortcutsWindow) {
        m_shortcutsWindow->raise();
        m_shortcutsWindow->activateWindow();
        return;
    }
    auto* window = new QDialog(m_mainWindow);
    window->setObjectName(QStringLiteral("shortcutsWindow"));
    window->setWindowTitle(tr("キーボードショートカット"));
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* table = new QTreeWidget;
    table->setRootIsDecorated(false);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setFocusPolicy(Qt::NoFocus); // a list to read, nothing to pick
    table->setHeaderLabels({tr("キー"), tr("操作")});
    for (const auto& [keys, what] : shortcutList())
        table->addTopLevelItem(new QTreeWidgetItem(QStringList{keys, what}));
    table->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(table);
    layout->addWidget(buttons);
    window->resize(440, 420);
    m_shortcutsWindow = window;
    window->show();
}

void LumenweaveApp::showAbout() {
    // Not QMessageBox::about: its button says "OK", which Qt's catalogue leaves as is.
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, tr("Lumenweave について"),
                        tr("Lumenweave\nバージョン %1\nビルド "
                           "%2\n\nガボールパッチの場を描き、動かし、立体視で見せます。")
                            .arg(QString::fromLatin1(kVersion), QString::fromLatin1(kBuildStamp)),
                        QMessageBox::Close, m_mainWindow);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

LumenweaveApp::ShownFrame LumenweaveApp::shownFrame() const {
    const RenderState& state = m_contentView->renderState();
    return {state.takeSnapshot(true), state.patternSeed, m_appModel->renderingMode()};
}

void LumenweaveApp::exportImage() {
    // The frame of the moment the command was given, not of when a file is chosen.
    const ShownFrame frame = shownFrame();
    // The desktop's pictures folder (XDG_PICTURES_DIR).
    auto* dialog = saveDialog(
        m_mainWindow, QStringLiteral("exportDialog"), tr("画像を書き出す"),
        QStandardPaths::PicturesLocation, tr("PNG 画像 (*.png)"), QStringLiteral("png"),
        QStringLiteral("lumenweave-%1.png").arg(frame.patternSeed, 16, 16, QLatin1Char('0')));
    connect(dialog, &QFileDialog::fileSelected, this,
            [this, frame](const QString& path) { writeFrame(frame, path); });
    dialog->open();
}

void LumenweaveApp::exportImageTo(const QString& path) {
    writeFrame(shownFrame(), path);
}

void LumenweaveApp::writeFrame(const ShownFrame& frame, const QString& path) {
    // A FIFO no one reads is given up after a while, with a message.
    auto output = std::make_shared<OutputFile>(path, std::chrono::seconds(10));
    m_exports.append(output);
    m_exportPool.start([this, frame, output] {
        const QString failure = renderAndWrite(frame, *output);
        QMetaObject::invokeMethod(
            this, [this, output, failure] { exportDone(output, failure); }, Qt::QueuedConnection);
    });
}

QString LumenweaveApp::renderAndWrite(const ShownFrame& frame, OutputFile& output) {
    // Textures of its own: the window's rings are never handed out here.
    CanvasPools pools;
    const CanvasPools::Use use(pools);
    SIRDSShiftCache cache;
    // At full pixel resolution, whatever the animation's render scale.
    const FrameImage image =
        renderFrameImage(frame.snapshot, frame.patternSeed, frame.renderingMode, 1.0, cache);
    if (image.failure == FrameImage::Failure::noTileSet)
        return tr("まだ何も表示していません。");
    if (image.failure != FrameImage::Failure::none)
        return tr("絵を作れませんでした。");
    if (const auto failure = savePng(image.image, output))
        return failure->reason();
    return {};
}

void LumenweaveApp::exportDone(const std::shared_ptr<OutputFile>& output, const QString& failure) {
    m_exports.removeOne(output);
    if (failure.isEmpty())
        m_contentView->showModeMessage(
            tr("書き出しました: %1").arg(QFileInfo(output->path()).fileName()), kNoticeMs);
    else
        showExportFailure(output->path(), failure);
    emit exportFinished(output->path(), failure.isEmpty());
}

void LumenweaveApp::showExportFailure(const QString& path, const QString& reason) {
    auto* box = new QMessageBox(
        QMessageBox::Warning, tr("画像を書き出せませんでした"),
        tr("「%1」に画像を書き出せませんでした。").arg(QDir::toNativeSeparators(path)),
        QMessageBox::Close, m_mainWindow);
    box->setObjectName(QStringLiteral("exportFailureBox"));
    box->setInformativeText(reason);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
