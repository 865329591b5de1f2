#include "ModeToastView.h"
#include "StatusBarView.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(ModeToastView, LaterMessageReplacesTextAndRestartsTheHide) {
    QWidget host;
    host.resize(400, 300);
    ModeToastView toast(&host);
    host.show();
    EXPECT_TRUE(toast.isHidden());

    toast.showModeMessage(QStringLiteral("アニメーション: 一時停止"));
    EXPECT_TRUE(toast.isVisible());
    EXPECT_TRUE(toast.isHidePending());
    QTest::qWait(1000);
    toast.showModeMessage(QStringLiteral("アニメーション: 再開"));
    EXPECT_EQ(toast.text(), QStringLiteral("アニメーション: 再開"));
    // The first message's hide no longer counts.
    EXPECT_GT(toast.remainingHideMs(), 1000);
    QTRY_COMPARE_WITH_TIMEOUT(toast.opacity(), 1.0, 2000);

    QTRY_VERIFY_WITH_TIMEOUT(toast.modeChangeMessage().isEmpty(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(toast.isHidden(), 5000);
    EXPECT_EQ(toast.opacity(), 0.0);
}

TEST(StatusBarView, TapTogglesAndWidthIsBounded) {
    QWidget host;
    host.resize(800, 600);
    StatusBarView bar(&host);
    host.show();
    QSignalSpy taps(&bar, &StatusBarView::tapped);
    bar.setStatus(QStringLiteral(" 60fps"), false);
    EXPECT_LE(bar.width(), StatusBarView::kShortMaxWidth);
    QTest::mouseClick(&bar, Qt::LeftButton);
    EXPECT_EQ(taps.count(), 1);

    bar.setStatus(QString(300, QLatin1Char('x')), false);
    EXPECT_EQ(bar.width(), StatusBarView::kShortMaxWidth);
    const int oneLine = bar.height();
    bar.setStatus(QString(300, QLatin1Char('x')) + QStringLiteral("\na\nb\nc\nd"), true);
    EXPECT_EQ(bar.width(), StatusBarView::kDetailedMaxWidth);
    EXPECT_GT(bar.height(), 4 * (oneLine - 2 * StatusBarView::kTextPadding));
}
