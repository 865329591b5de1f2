#include "KeyEventCatcher.h"
#include "AppModel.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>

namespace {

struct Catcher {
    AppModel model{std::make_shared<MemoryPreferencesStore>()};
    QStringList messages;
    KeyEventCatcher catcher{model, [this](const QString& m) { messages << m; }};

    bool press(Qt::KeyboardModifiers modifiers, int key = Qt::Key_Space) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, key == Qt::Key_Space ? " " : "x");
        QCoreApplication::sendEvent(&catcher, &event);
        return event.isAccepted();
    }
};

const QString kPaused = QStringLiteral("アニメーション: 一時停止");
const QString kResumed = QStringLiteral("アニメーション: 再開");

} // namespace

// Taking the focus in the main window is covered by the application test.
TEST(KeyEventCatcher, SpaceWithoutCtrlTogglesThePauseAndPostsTheMessageLater) {
    Catcher c;
    EXPECT_TRUE(c.press(Qt::NoModifier));
    EXPECT_TRUE(c.model.isAnimationPaused());
    EXPECT_TRUE(c.messages.isEmpty()); // posted, not called inside the key handler
    QCoreApplication::processEvents();
    EXPECT_EQ(c.messages, QStringList{kPaused});

    for (Qt::KeyboardModifiers modifiers : {Qt::ShiftModifier, Qt::AltModifier, Qt::MetaModifier})
        EXPECT_TRUE(c.press(modifiers));
    EXPECT_FALSE(c.press(Qt::ControlModifier));
    EXPECT_FALSE(c.press(Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(c.press(Qt::NoModifier, Qt::Key_X));
    EXPECT_FALSE(c.press(Qt::ControlModifier, Qt::Key_R));
    EXPECT_FALSE(c.model.isAnimationPaused());
    QCoreApplication::processEvents();
    EXPECT_EQ(c.messages, (QStringList{kPaused, kResumed, kPaused, kResumed}));
}
