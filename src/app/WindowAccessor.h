#pragma once

#include <QWidget>
#include <functional>

// An invisible widget that tells its owner which top-level window it ended up
// in, one event-loop turn after it was made.
class WindowAccessor : public QWidget {
    Q_OBJECT
public:
    using Callback = std::function<void(QWidget* window)>;
    explicit WindowAccessor(Callback callback, QWidget* parent = nullptr);

private:
    Callback callback;
};
