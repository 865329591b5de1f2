#include "StatusText.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

StatusTextInputs detailed() {
    StatusTextInputs in;
    in.showStatusDetail = true;
    return in;
}

QString line(const StatusTextInputs& in, int index) {
    return statusText(in).split(QLatin1Char('\n')).value(index);
}

} // namespace

TEST(StatusText, ShortFormPadsToThreeButNeverCutsAndShowsNoStaleRate) {
    StatusTextInputs in;
    for (const auto& [fps, text] : {std::pair{7, "  7fps"}, {60, " 60fps"}, {1234, "1234fps"}}) {
        in.lastFps = fps;
        EXPECT_EQ(statusText(in), QLatin1String(text));
    }
    in.motion = StatusTextInputs::Motion::paused;
    EXPECT_EQ(statusText(in), QStringLiteral("一時停止"));
    in.motion = StatusTextInputs::Motion::still;
    EXPECT_EQ(statusText(in), QStringLiteral("静止"));
}

TEST(StatusText, DetailedHasSixLinesWithoutTrailingBreak) {
    StatusTextInputs in = detailed();
    in.maxPatchSize = 128.9;
    in.viewWidth = 800.7;
    in.isRotationAnimationEnabled = true;
    in.isRandomTileSpinEnabled = true;
    in.patternSeed = 42;
    EXPECT_EQ(statusText(in), QStringLiteral("タイル:128px  幅:800pt\n"
                                             "色:モノクロ\n"
                                             "アニメ: 回転✓ 位相✗ パルス✗ ランダムスピン✓\n"
                                             "立体視:なし\n"
                                             "シード:0x000000000000002a\n"
                                             "ビルド:") +
                                  QString::fromLatin1(kBuildStamp));
}

TEST(StatusText, ColourWordAndExtras) {
    StatusTextInputs in = detailed();
    in.isColorMode = true;
    EXPECT_EQ(line(in, 1), QStringLiteral("色:個別色"));
    in.isIlluminantMode = true; // wins over colour mode
    EXPECT_EQ(line(in, 1), QStringLiteral("色:全体色"));

    in = detailed();
    in.displayBlackLift = 0.001; // not above the threshold
    EXPECT_EQ(line(in, 1), QStringLiteral("色:モノクロ"));
    in.displayBlackLift = 0.002;
    EXPECT_EQ(line(in, 1), QStringLiteral("色:モノクロ  黒レベル:0%"));
    in.displayBlackLift = 0.25;
    EXPECT_EQ(line(in, 1), QStringLiteral("色:モノクロ  黒レベル:25%"));
    in.isColorInverted = true;
    EXPECT_EQ(line(in, 1), QStringLiteral("色:モノクロ  反転  白レベル:25%"));
}

TEST(StatusText, DepthLine) {
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
    in.stereoLayout = StereoLayout::anaglyph;
    EXPECT_EQ(line(in, 3),
              QStringLiteral("立体視:ステレオペア  アナグリフ (赤/シアン)  深さ:深い"));

    // Strip columns are shown clamped to 2 through 6.
    in.isStereoscopicMode = false;
    for (const auto& [columns, text] : {std::pair{9, "6列"}, {1, "2列"}, {4, "4列"}}) {
        in.sirdsStripColumns = columns;
        EXPECT_EQ(line(in, 3), QStringLiteral("立体視:SIRDS  ") + QString::fromUtf8(text));
    }
}
