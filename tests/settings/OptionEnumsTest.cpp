#include "OptionEnums.h"
#include "AppModel.h"

#include <gtest/gtest.h>

TEST(OptionEnums, RawValuesMatchExactlyOnly) {
    EXPECT_EQ(FrameRateOptions::fromRawValue(QStringLiteral("fps30")), FrameRateOption::fps30);
    for (const char* bad : {"FPS30", "", "30", "fps 30"})
        EXPECT_FALSE(FrameRateOptions::fromRawValue(QString::fromLatin1(bad))) << bad;
    EXPECT_EQ(RenderScaleOptions::fromRawValue(QStringLiteral("threeQuarter")),
              RenderScaleOption::threeQuarter);
    EXPECT_FALSE(RenderScaleOptions::fromRawValue(QStringLiteral("threequarter")));
    EXPECT_EQ(AnimationSpeeds::fromRawValue(QStringLiteral("fast")), AnimationSpeed::fast);
    EXPECT_EQ(AppModel::renderingModeFromRawValue(QStringLiteral("Core Image")),
              AppModel::RenderingMode::imageFilter);
    EXPECT_FALSE(AppModel::renderingModeFromRawValue(QStringLiteral("metal")));
}

TEST(OptionEnums, NearestOptionKeepsTheEarlierCaseOnTies) {
    EXPECT_EQ(FrameRateOptions::nearestOption(45.0), FrameRateOption::fps30);
    EXPECT_EQ(FrameRateOptions::nearestOption(22.5), FrameRateOption::fps15);
    EXPECT_EQ(FrameRateOptions::nearestOption(46.0), FrameRateOption::fps60);
    EXPECT_EQ(RenderScaleOptions::nearestOption(0.625), RenderScaleOption::half);
    EXPECT_EQ(RenderScaleOptions::nearestOption(0.63), RenderScaleOption::threeQuarter);
    // Sum of distances: 1.5 from slow, 21 from normal, 80 from fast.
    EXPECT_EQ(AnimationSpeeds::nearestOption(2.0, 10.0), AnimationSpeed::slow);
    EXPECT_EQ(AnimationSpeeds::nearestOption(0.5, 90.0), AnimationSpeed::fast);
}

TEST(OptionEnums, ApplyAssignsThePresetValues) {
    AppModel m(std::make_shared<MemoryPreferencesStore>());
    AnimationSpeeds::apply(AnimationSpeed::fast, m);
    FrameRateOptions::apply(FrameRateOption::fps60, m);
    RenderScaleOptions::apply(RenderScaleOption::half, m);
    EXPECT_EQ(m.phaseAnimationSpeed(), 2.0);
    EXPECT_EQ(m.rotationAnimationSpeed(), 90.0);
    EXPECT_EQ(m.animationMaxFPS(), 60.0);
    EXPECT_EQ(m.animationRenderScale(), 0.5);
    EXPECT_EQ(AnimationSpeeds::label(AnimationSpeed::slow), QStringLiteral("遅い"));
    EXPECT_EQ(FrameRateOptions::label(FrameRateOption::fps15), QStringLiteral("15fps"));
}
