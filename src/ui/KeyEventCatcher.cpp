#include "KeyEventCatcher.h"

#include "AppModel.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>

KeyEventCatcher::KeyEventCatcher(AppModel& model, std::function<void(const QString&)> onMessage,
                                 QWidget* parent)
    : QWidget(parent), m_model(model), m_onMessage(std::move(onMessage)) {
    setObjectName(QStringLiteral("keyEventCatcher"));
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(0, 0);
}

// Shown whenever it is placed in a window (a layout shows a widget it adopts), so
// this is where it makes itself the window's focus widget.
void KeyEventCatcher::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}

bool KeyEventCatcher::isPauseKey(const QKeyEvent& event) {
    // Ctrl plays the part of Command here: Ctrl+Space belongs to someone else.
    return event.key() == Qt::Key_Space && !event.modifiers().testFlag(Qt::ControlModifier);
}

void KeyEventCatcher::keyPressEvent(QKeyEvent* event) {
    if (!isPauseKey(*event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    m_model.setIsAnimationPaused(!m_model.isAnimationPaused());
    const QString message =
        m_model.isAnimationPaused()
            ? QCoreApplication::translate("KeyEventCatcher", "アニメーション: 一時停止",
                                          "space key toast")
            : QCoreApplication::translate("KeyEventCatcher", "アニメーション: 再開",
                                          "space key toast");
    // Shown after this event has been handled, as the toast expects.
    QTimer::singleShot(0, this, [this, message] {
        if (m_onMessage)
            m_onMessage(message);
    });
    event->accept();
}
