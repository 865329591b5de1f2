#include "WindowAccessor.h"

#include <QPointer>
#include <QTimer>

WindowAccessor::WindowAccessor(Callback callback, QWidget* parent)
    : QWidget(parent), callback(std::move(callback)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(0, 0);
    // The window is only settled once the embedding has returned; report it later.
    QTimer::singleShot(0, this, [self = QPointer<WindowAccessor>(this)] {
        if (self && self->callback) {
            self->callback(self->window());
        }
    });
}
