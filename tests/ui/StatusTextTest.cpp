#include "StatusText.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

TEST(StatusText, ARateOrWhyThereIsNoneAndInDetailWhatIsOnInSixLines) {
    StatusTextInputs in;
    for (const auto& [fps, text] : {std::pair{7, "  7fps"}, {60, " 60fps"}, {1234, "1234fps"}}) {
        in.lastFps = fps;
        EXPECT_EQ(statusText(in), QLatin1String(text));
    }
    in.motion = StatusTextInputs::Motion::paused;
    EXPECT_EQ(statusText(in), QStringLiteral("一時停止"));
    in.motion = StatusTextInputs::Motion::still;
    EXPECT_EQ(statusText(in), QStringLiteral("静止"));

    StatusTextInputs detailed;
    detailed.showStatusDetail = true;
    detailed.patternSeed = 42;
    const QStringList lines = statusText(detailed).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[4], QStringLiteral("シード:0x000000000000002a"));
    EXPECT_EQ(lines[5], QStringLiteral("ビルド:") + QString::fromLatin1(kBuildStamp));

    using In = StatusTextInputs;
    const struct Row {
        std::function<void(In&)> set;
        int line;
        const char* text;
    } rows[] = {
        {[](In& i) { i.isColorMode = i.isIlluminantMode = true; }, 1, "色:全体色"},
        {[](In& i) { i.displayBlackLift = 0.001; }, 1, "色:モノクロ"}, // not above the threshold
        {[](In& i) { i.displayBlackLift = 0.002; }, 1, "色:モノクロ  黒レベル:0%"},
        {[](In& i) { i.displayBlackLift = 0.25, i.isColorInverted = true; }, 1,
         "色:モノクロ  反転  白レベル:25%"},
        {[](In& i) {
             i.isStereoscopicMode = i.isAutostereogramMode = true; // the pair wins
             i.stereoPhaseDisparity = 0.75;
             i.stereoLayout = StereoLayout::anaglyph;
         },
         3, "立体視:ステレオペア  アナグリフ (赤/シアン)  深さ:深い"},
        {[](In& i) { i.isAutostereogramMode = true, i.sirdsStripColumns = 9; }, 3,
         "立体視:SIRDS  6列"},
        {[](In& i) { i.isAutostereogramMode = true, i.sirdsStripColumns = 1; }, 3,
         "立体視:SIRDS  2列"},
    };
    for (const Row& row : rows) {
        In in = detailed;
        row.set(in);
        EXPECT_EQ(statusText(in).split(QLatin1Char('\n')).value(row.line),
                  QString::fromUtf8(row.text));
    }
}
