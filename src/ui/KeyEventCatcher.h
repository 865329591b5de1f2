#pragma once

#include <QWidget>
#include <functional>

class AppModel;
class QKeyEvent;

// An invisible widget in the main window that takes the keyboard focus whenever
// it is placed in a window. Space (alone or with Shift, Alt or Meta) pauses or
// resumes all animation and posts a message saying which; Ctrl+Space and every
// other key are passed on, so menu shortcuts keep working.
class KeyEventCatcher : public QWidget {
    Q_OBJECT
public:
    KeyEventCatcher(AppModel& model, std::function<void(const QString&)> onMessage,
                    QWidget* parent = nullptr);

    // Space, alone or with Shift, Alt or Meta.
    static bool isPauseKey(const QKeyEvent& event);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    AppModel& m_model;
    std::function<void(const QString&)> m_onMessage;
};
