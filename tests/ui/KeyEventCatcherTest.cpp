#include "KeyEventCatcher.h"
#include "AppModel.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
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

TEST(KeyEventCatcher, SpaceTogglesThePauseAndPostsTheMessageLater) {
    Catcher c;
    EXPECT_TRUE(c.press(Qt::NoModifier));
    EXPECT_TRUE(c.model.isAnimationPaused());
    EXPECT_TRUE(c.messages.isEmpty()); // posted, not called inside the key handler
    QCoreApplication::processEvents();
    EXPECT_EQ(c.messages, QStringList{kPaused});

    EXPECT_TRUE(c.press(Qt::NoModifier));
    QCoreApplication::processEvents();
    EXPECT_FALSE(c.model.isAnimationPaused());
    EXPECT_EQ(c.messages, (QStringList{kPaused, kResumed}));
}

TEST(KeyEventCatcher, ShiftAltAndMetaToggleCtrlAndOtherKeysPassOn) {
    Catcher c;
    EXPECT_TRUE(c.press(Qt::ShiftModifier));
    EXPECT_TRUE(c.model.isAnimationPaused());
    EXPECT_TRUE(c.press(Qt::AltModifier));
    EXPECT_FALSE(c.model.isAnimationPaused());
    EXPECT_TRUE(c.press(Qt::MetaModifier));
    EXPECT_TRUE(c.model.isAnimationPaused());

    EXPECT_FALSE(c.press(Qt::ControlModifier));
    EXPECT_FALSE(c.press(Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(c.press(Qt::NoModifier, Qt::Key_X));
    EXPECT_FALSE(c.press(Qt::ControlModifier, Qt::Key_R));
    EXPECT_TRUE(c.model.isAnimationPaused());
    QCoreApplication::processEvents();
    EXPECT_EQ(c.messages, (QStringList{kPaused, kResumed, kPaused}));
}

TEST(KeyEventCatcher, TakesTheFocusWhenPlacedInAWindow) {
    AppModel model(std::make_shared<MemoryPreferencesStore>());
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit;
    layout->addWidget(edit);
    window.show();
    edit->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    auto* catcher = new KeyEventCatcher(model, {});
    layout->addWidget(catcher); // the layout shows it on the next turn of the event loop
    QCoreApplication::processEvents();
    EXPECT_EQ(window.focusWidget(), catcher);

    // A key press delivered to the window reaches it.
    QTest::keyClick(window.windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(model.isAnimationPaused());
}
