#include "WindowGeometry.h"

#include <gtest/gtest.h>

TEST(WindowGeometry, StoredTextIsReadStrictly) {
    EXPECT_EQ(parseWindowGeometry(formatWindowGeometry(QRect(-20, 30, 800, 600))),
              QRect(-20, 30, 800, 600));
    for (const char* bad : {"", "1 2 3", "1 2 3 4 5", "1 2 0 4", "1 2 3 -4", "1 2 3.5 4", "a b c d",
                            "1  2 3 4", "1 2 3 99999999999", "-2147483648 0 800 600"})
        EXPECT_FALSE(parseWindowGeometry(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(parseWindowGeometry(QVariant(42)));
}

TEST(WindowGeometry, TheMainWindowAndThePanelArePlacedWithinTheScreens) {
    // A 960 x 640 window at device-pixel-ratio 2 on a 1920 x 1200 screen.
    const QRect small(0, 0, 960, 600);
    const QRect fitted = defaultWindowGeometry(QSize(960, 640), small);
    EXPECT_TRUE(small.contains(fitted));
    EXPECT_LT(fitted.height(), 600) << "room for the frame";
    EXPECT_NEAR(double(fitted.width()) / fitted.height(), 1.5, 0.01);

    const QRect large(100, 50, 1920, 1080);
    EXPECT_EQ(defaultWindowGeometry(QSize(960, 640), large), QRect(580, 270, 960, 640));

    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    // Inside a screen: as it was.
    EXPECT_EQ(fitIntoScreens(QRect(2000, 100, 800, 600), screens, 30), QRect(2000, 100, 800, 600));
    // On a monitor since disconnected: brought onto the primary screen, below
    // the room for a title bar.
    const QRect lost = fitIntoScreens(QRect(5000, -3000, 800, 600), screens, 30);
    EXPECT_TRUE(screens[0].contains(lost));
    EXPECT_GE(lost.top(), 30);
    EXPECT_EQ(lost.size(), QSize(800, 600));
    // Hanging off the second screen's right edge: moved in, not elsewhere.
    EXPECT_EQ(fitIntoScreens(QRect(3000, 200, 400, 300), screens, 30), QRect(2800, 200, 400, 300));
    // Larger than any screen: shrunk to fit.
    const QRect huge = fitIntoScreens(QRect(0, 0, 5000, 4000), screens, 30);
    EXPECT_EQ(huge, QRect(0, 30, 1920, 1050));

    // Room on the right: there, level with the main window's client area, as tall as asked.
    EXPECT_EQ(besideWindow(QSize(320, 806), QRect(480, 120, 960, 640), screens[0], 30),
              QRect(1448, 150, 320, 806));
    // Lower down: moved up to keep a title bar's height free below it.
    EXPECT_EQ(besideWindow(QSize(320, 806), QRect(480, 220, 960, 640), screens[0], 30).bottom(),
              1049);
    // None on the right: on the left.
    EXPECT_EQ(besideWindow(QSize(320, 806), QRect(900, 100, 960, 640), screens[0], 30).left(), 572);
    // 2560 x 1440 at scale 2, panels taking the top 27 points: neither side has
    // room, and the form is taller than the screen.
    const QRect scaled(0, 27, 1280, 693);
    const QRect panel = besideWindow(QSize(320, 806), QRect(160, 60, 960, 640), scaled, 30);
    EXPECT_EQ(panel, QRect(960, 57, 320, 633));
}
