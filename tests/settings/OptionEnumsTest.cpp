#include "OptionEnums.h"

#include <gtest/gtest.h>

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
