#include "StatusText.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

StatusTextInputs detailed() {
    StatusTextInputs in;
    in.showStatusDetail = true;
    return in;
}

QString line(const QString& text, int index) {
    return text.split(QLatin1Char('\n')).value(index);
}

} // namespace

TEST(StatusText, ShortFormPadsToThreeButNeverCuts) {
    StatusTextInputs in;
    in.lastFps = 7;
    EXPECT_EQ(statusText(in), QStringLiteral("  7fps"));
    in.lastFps = 60;
    EXPECT_EQ(statusText(in), QStringLiteral(" 60fps"));
    in.lastFps = 1234;
    EXPECT_EQ(statusText(in), QStringLiteral("1234fps"));
}

TEST(StatusText, DetailedHasFiveLinesWithoutTrailingBreak) {
    StatusTextInputs in = detailed();
    in.maxPatchSize = 128.9;
    in.viewWidth = 800.7;
    in.isRotationAnimationEnabled = true;
    in.isRandomTileSpinEnabled = true;
    const QString text = statusText(in);
    EXPECT_EQ(text.count(QLatin1Char('\n')), 4);
    EXPECT_FALSE(text.endsWith(QLatin1Char('\n')));
    EXPECT_EQ(line(text, 0), QStringLiteral("タイル:128px  幅:800pt"));
    EXPECT_EQ(line(text, 1), QStringLiteral("色:モノクロ"));
    EXPECT_EQ(line(text, 2), QStringLiteral("アニメ: 回転✓ 位相✗ パルス✗ ランダムスピン✓"));
    EXPECT_EQ(line(text, 3), QStringLiteral("立体視:なし"));
    EXPECT_EQ(line(text, 4), QStringLiteral("ビルド:2026-07-27 15:33"));
}

TEST(StatusText, ColourWordAndExtras) {
    StatusTextInputs in = detailed();
    in.isColorMode = true;
    EXPECT_EQ(line(statusText(in), 1), QStringLiteral("色:個別色"));
    in.isIlluminantMode = true; // wins over colour mode
    EXPECT_EQ(line(statusText(in), 1), QStringLiteral("色:全体色"));

    in = detailed();
    in.isColorInverted = true;
    EXPECT_EQ(line(statusText(in), 1), QStringLiteral("色:モノクロ  反転"));

    in = detailed();
    in.displayBlackLift = 0.001; // not above the threshold
    EXPECT_EQ(line(statusText(in), 1), QStringLiteral("色:モノクロ"));
    in.displayBlackLift = 0.002;
    EXPECT_EQ(line(statusText(in), 1), QStringLiteral("色:モノクロ  黒レベル:0%"));
    in.displayBlackLift = 0.25;
    EXPECT_EQ(line(statusText(in), 1), QStringLiteral("色:モノクロ  黒レベル:25%"));
    in.isColorInverted = true;
    EXPECT_EQ(line(statusText(in), 1), QStringLiteral("色:モノクロ  反転  白レベル:25%"));
}

TEST(StatusText, DepthPresetNearestWithTiesToTheShallower) {
    EXPECT_EQ(depthPresetLabel(0.15), QStringLiteral("浅い"));
    // 0.3 - 0.2 is a hair below 0.2 - 0.1 in doubles.
    EXPECT_EQ(depthPresetLabel(0.2), QStringLiteral("普通"));
    EXPECT_EQ(depthPresetLabel(0.5), QStringLiteral("普通"));
    EXPECT_EQ(depthPresetLabel(2.0), QStringLiteral("深い"));
    EXPECT_EQ(depthPresetLabel(-1.0), QStringLiteral("浅い"));

    StatusTextInputs in = detailed();
    in.isStereoscopicMode = true;
    in.isAutostereogramMode = true; // the pair wins
    in.stereoPhaseDisparity = 0.75;
    EXPECT_EQ(line(statusText(in), 3), QStringLiteral("立体視:ステレオペア  深さ:深い"));
}

TEST(StatusText, StripColumnsClampedToTwoThroughSix) {
    StatusTextInputs in = detailed();
    in.isAutostereogramMode = true;
    in.sirdsStripColumns = 9;
    EXPECT_EQ(line(statusText(in), 3), QStringLiteral("立体視:SIRDS  6列"));
    in.sirdsStripColumns = 1;
    EXPECT_EQ(line(statusText(in), 3), QStringLiteral("立体視:SIRDS  2列"));
    in.sirdsStripColumns = 4;
    EXPECT_EQ(line(statusText(in), 3), QStringLiteral("立体視:SIRDS  4列"));
}
