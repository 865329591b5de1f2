#pragma once

#include "AppModel.h"
#include "RenderPass.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QCoreApplication;
class QMainWindow;
class QShortcut;
class QUndoStack;

class ContentView;
class ControlPanelView;
class OutputFile;
class VideoExport;

// The application shell: the one settings model, the main window with its menus,
// and the control panel window opened on request. Closing the main window quits,
// as there is no menu bar without it; both windows' geometry is remembered.
class LumenweaveApp : public QObject {
    Q_OBJECT
public:
    // The model is built (and restores the preferences) before any window.
    LumenweaveApp();
    // Tests hand in a model over their own store.
    explicit LumenweaveApp(std::unique_ptr<AppModel> model);
    ~LumenweaveApp() override;

    // Loads Qt's own Japanese texts (standard buttons, dialogs, context menus),
    // so that no English shows. Returns whether the catalogue was found.
    static bool installQtTranslations(QCoreApplication& application);

    AppModel& appModel() { return *m_appModel; }
    QMainWindow* mainWindow() const { return m_mainWindow; }
    ContentView* contentView() const { return m_contentView; }
    // The window hosting the control panel, once it has reported itself.
    QWidget* controlPanelWindow() const { return m_controlPanelWindow; }
    QAction* showSettingsAction() const { return m_showSettingsAction; }
    QAction* randomizeAction() const { return m_randomizeAction; }
    QAction* fullScreenAction() const { return m_fullScreenAction; }
    QAction* statusBarAction() const { return m_statusBarAction; }
    QAction* pauseAction() const { return m_pauseAction; }
    QAction* aboutAction() const { return m_aboutAction; }
    QAction* quitAction() const { return m_quitAction; }
    QAction* exportImageAction() const { return m_exportImageAction; }
    QAction* undoAction() const { return m_undoAction; }
    QAction* redoAction() const { return m_redoAction; }
    QAction* enterSeedAction() const { return m_enterSeedAction; }
    QAction* copySeedAction() const { return m_copySeedAction; }
    QAction* shortcutsAction() const { return m_shortcutsAction; }
    QAction* versionAction() const { return m_versionAction; }
    // ランダマイズ, デフォルトに戻す and seeds typed in, to be taken back.
    QUndoStack* undoStack() const { return m_undoStack; }
    QAction* exportVideoAction() const { return m_exportVideoAction; }
    VideoExport& videoExport() const { return *m_videoExport; }

    // Opens the main window where it was last time, or at its default size.
    void show();
    // "設定...": open, raise or restore the control panel; never a second one.
    void showControlPanel();
    void setFullScreen(bool on);
    // "画像を書き出す...": asks where, then writes the frame shown when asked.
    void exportImage();
    // Starts writing the frame shown now as a PNG to path (see OutputFile),
    // as lumenweave-render would for the same state. The frame is made and
    // written off the main thread, in textures of the export's own; a failure
    // is told in a message box, and exportFinished() follows either way.
    void exportImageTo(const QString& path);
    // "デフォルトに戻す", undoable.
    void resetToDefaults();
    // Shows the field of seed, undoably; nothing when it is shown already.
    void showPatternSeed(std::uint64_t seed);
    // Every shortcut of the application, with what it does, as the shortcut
    // window lists them.
    QList<QPair<QString, QString>> shortcutList() const;

signals:
    void exportFinished(const QString& path, bool written);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMainWindow();
    void buildMenus();
    void openControlPanelWindow();
    void showAbout();
    void showShortcuts();
    void askForSeed();
    void copySeed();
    // Space, sent to any widget of the main window, or to a panel control that
    // would otherwise fire on it, pauses or resumes.
    bool routePauseKey(QObject* receiver, QEvent* event);
    void pushStep(const QString& text, std::function<void()> undo, std::function<void()> redo);
    QRect defaultPanelGeometry(const ControlPanelView& view) const;
    void mainWindowStateChanged();
    void mainWindowClosing();
    void saveMainWindowGeometry();
    void savePanelGeometry(QWidget* panel);
    void followModel();
    // The frame shown now, as the export renders it.
    struct ShownFrame {
        RenderSnapshot snapshot;
        std::uint64_t patternSeed = 0;
        AppModel::RenderingMode renderingMode = AppModel::RenderingMode::gpu;
    };
    ShownFrame shownFrame() const;
    void writeFrame(const ShownFrame& frame, const QString& path);
    // On an export thread: the reason it failed, or nothing.
    static QString renderAndWrite(const ShownFrame& frame, OutputFile& output);
    void exportDone(const std::shared_ptr<OutputFile>& output, const QString& failure);
    void showExportFailure(const QString& path, const QString& reason);

    std::unique_ptr<AppModel> m_appModel;
    QMainWindow* m_mainWindow = nullptr;
    ContentView* m_contentView = nullptr; // owned by the main window
    QPointer<QWidget> m_controlPanelWindow;
    QPointer<QWidget> m_pendingPanelWindow; // opened, not yet reported
    QAction* m_showSettingsAction = nullptr;
    QAction* m_randomizeAction = nullptr;
    QAction* m_fullScreenAction = nullptr;
    QAction* m_statusBarAction = nullptr;
    QAction* m_pauseAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_quitAction = nullptr;
    QAction* m_exportImageAction = nullptr;
    QAction* m_undoAction = nullptr;
    QAction* m_redoAction = nullptr;
    QAction* m_enterSeedAction = nullptr;
    QAction* m_copySeedAction = nullptr;
    QAction* m_shortcutsAction = nullptr;
    QAction* m_versionAction = nullptr;
    QAction* m_exportVideoAction = nullptr;
    VideoExport* m_videoExport = nullptr; // owned by the main window
    QShortcut* m_leaveFullScreen = nullptr;
    QUndoStack* m_undoStack = nullptr;
    QPointer<QWidget> m_shortcutsWindow;
    bool m_fullScreenHinted = false; // the hint for this stay in full screen was shown
    // One export at a time; a quit cancels a write that waits for its reader.
    QThreadPool m_exportPool;
    QList<std::shared_ptr<OutputFile>> m_exports;
};
