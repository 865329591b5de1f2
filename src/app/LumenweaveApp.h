#pragma once

#include "AppModel.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

class QAction;
class QMainWindow;

class ContentView;

// The application shell: the one settings model, the main window with its menus,
// and the control panel window opened on request.
class LumenweaveApp : public QObject {
    Q_OBJECT
public:
    // The model is built (and restores the preferences) before any window.
    LumenweaveApp();
    // Tests hand in a model over their own store.
    explicit LumenweaveApp(std::unique_ptr<AppModel> model);
    ~LumenweaveApp() override;

    AppModel& appModel() { return *m_appModel; }
    QMainWindow* mainWindow() const { return m_mainWindow; }
    ContentView* contentView() const { return m_contentView; }
    // The window hosting the control panel, once it has reported itself.
    QWidget* controlPanelWindow() const { return m_controlPanelWindow; }
    QAction* showSettingsAction() const { return m_showSettingsAction; }
    QAction* randomizeAction() const { return m_randomizeAction; }

    // Opens the main window.
    void show();
    // "設定...": open, raise or restore the control panel; never a second one.
    void showControlPanel();

private:
    void buildMainWindow();
    void openControlPanelWindow();
    void showAbout();

    std::unique_ptr<AppModel> m_appModel;
    QMainWindow* m_mainWindow = nullptr;
    ContentView* m_contentView = nullptr; // owned by the main window
    QPointer<QWidget> m_controlPanelWindow;
    QPointer<QWidget> m_pendingPanelWindow; // opened, not yet reported
    QAction* m_showSettingsAction = nullptr;
    QAction* m_randomizeAction = nullptr;
};
