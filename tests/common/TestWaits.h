#pragma once

#include <QCoreApplication>
#include <QTest>
#include <memory>

// Handles everything posted to this thread's event loop before the call (a draw
// or a reaction queued for the end of the current turn) and what the window
// system delivered meanwhile. After it, a queued change has happened or was never
// asked for: the wait before checking that something did not happen.
[[nodiscard]] inline bool finishTurn(int timeoutMs = 5000) {
    auto reached = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [reached] { *reached = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([&] { return *reached; }, timeoutMs);
}
