#include "ModeToastView.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(ModeToastView, LaterMessageReplacesTextAndRestartsTheHide) {
    ModeToastView toast;
    EXPECT_FALSE(toast.isVisible());

    toast.showModeMessage(QStringLiteral("アニメーション: 一時停止"));
    EXPECT_TRUE(toast.isVisible());
    EXPECT_TRUE(toast.isHidePending());
    const QImage first = toast.image(1.0);
    // The picture itself, not a copy made while it was being painted, which
    // the presenter would upload again.
    EXPECT_EQ(toast.image(1.0).cacheKey(), first.cacheKey());
    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.remainingHideMs() < 1000; }, 5000));
    toast.showModeMessage(QStringLiteral("アニメーション: 再開"));
    EXPECT_EQ(toast.text(), QStringLiteral("アニメーション: 再開"));
    EXPECT_NE(toast.image(1.0), first);
    // The first message's hide no longer counts.
    EXPECT_GT(toast.remainingHideMs(), 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.opacity() == 1.0; }, 2000));

    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.modeChangeMessage().isEmpty(); }, 5000));
    EXPECT_TRUE(toast.isVisible()) << "fading out";
    EXPECT_EQ(toast.text(), QStringLiteral("アニメーション: 再開"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !toast.isVisible(); }, 5000));
    EXPECT_EQ(toast.opacity(), 0.0);
}
