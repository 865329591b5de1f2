#include "RenderTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Three sets over eight cells; passes are held, not run, so renderCount shows
// whether the ticks asked for a frame.
class ClockTest : public ::testing::Test {
protected:
    ClockTest() : model(makeMemoryModel()), state(*model) {
        state.setExecutor([](std::function<void()>) {});
        state.setRandomSource({[this](std::int64_t n) {
                                   EXPECT_EQ(n, 8);
                                   return nextCell;
                               },
                               [this](double a, double b) {
                                   EXPECT_LT(a, b); // an empty range fails the test
                                   return headStartAtLowEnd ? a : b - 1e-9;
                               }});
        state.lastProxy = QSizeF(100, 100);
        state.tiles.animationTileParams = {{5, 4, 0.32, 1}, {90, 4, 0.32, 1}, {0, 4, 0.32, 1}};
        state.tiles.animationTileVariantIndices = {0, 1, 2, 0, 1, 2, 0, 1};
        state.tiles.animationTileRotationDirections = {-1.0, 1.0};
        model->setIsRandomTileSpinEnabled(true);
    }
    void ticks(int n, double dt = 0.1) {
        for (int i = 0; i < n; ++i)
            state.animationTick(dt);
    }
    double orientation(int i) const { return state.tiles.animationTileParams[i].orientation; }

    std::unique_ptr<AppModel> model;
    RenderState state;
    std::int64_t nextCell = 0;
    bool headStartAtLowEnd = true;
};

TEST_F(ClockTest, StepIsClampedAndAnglesWrapAtAnySpeed) {
    model->setIsPhaseAnimationEnabled(true);
    model->setIsRotationAnimationEnabled(true);
    model->setRotationAnimationSpeed(30);
    state.animationTick(0.5);
    EXPECT_DOUBLE_EQ(state.phase, 0.1 * kTwoPi);
    EXPECT_NEAR(orientation(0), 2, 1e-12);
    EXPECT_NEAR(orientation(2), 3, 1e-12) << "no direction: +1";
    state.animationTick(0.00001);
    state.animationTick(std::nan(""));
    EXPECT_NEAR(state.phase, 0.102 * kTwoPi, 1e-12) << "both count as the smallest step";
    state.tiles.animationTileParams[0].orientation = -358;
    state.animationTick(0.1);
    EXPECT_NEAR(orientation(0), -1, 1e-12);
    ticks(300);
    EXPECT_LT(state.phase, kTwoPi);

    // A non-finite step moves nothing (huge speeds from a settings file: SettingsFuzz).
    model->setIsBreathingEnabled(true);
    model->setPhaseAnimationSpeed(INFINITY);
    const double phase = state.phase;
    state.breathingPhase = NAN; // starts again from 0
    ticks(5);
    EXPECT_EQ(state.phase, phase);
    EXPECT_NEAR(state.breathingPhase, 0.5 * 1.2566370614359172, 1e-12);
    // The stereo offset is the disparity's remainder modulo 2, in units of pi.
    for (const auto& [disparity, offset] :
         {std::pair{0.25, 0.25}, {1e308, 0.0}, {-2.5, -0.5}, {INFINITY, 0.0}}) {
        model->setStereoPhaseDisparity(disparity);
        EXPECT_DOUBLE_EQ(state.takeSnapshot(true).stereoPhaseOffset, offset * std::numbers::pi);
    }
}

TEST_F(ClockTest, PauseFreezesAllButTheIlluminant) {
    model->setIsIlluminantMode(true);
    model->setIsBreathingEnabled(true);
    model->setIsAnimationPaused(true);
    state.illuminantHue = 0.999;
    state.randomSpinTiles = {{1, 30}};
    state.randomSpinTimeAccum = 5;
    state.animationTick(0.1);
    EXPECT_NEAR(state.illuminantHue, 0.004, 1e-12);
    EXPECT_EQ(state.breathingPhase, 0.0);
    EXPECT_EQ(state.randomSpinTiles[0].rotDeg, 30);
    EXPECT_EQ(state.randomSpinTimeAccum, 5);
    EXPECT_EQ(state.renderCount(), 1) << "the illuminant still asks for frames";

    // Paused spins, no cells, suspended, not shown yet: no frame asked for.
    model->setIsIlluminantMode(false);
    state.isRenderInFlight = false;
    ticks(3);
    model->setIsAnimationPaused(false);
    model->setIsBreathingEnabled(false);
    state.tiles.animationTileVariantIndices.clear();
    ticks(3);
    model->setIsPhaseAnimationEnabled(true);
    state.isLifecycleSuspended = true;
    ticks(1);
    state.isLifecycleSuspended = false;
    state.lastProxy.reset();
    ticks(1);
    EXPECT_EQ(state.renderCount(), 1);
    state.lastProxy = QSizeF(1, 1);
    ticks(1);
    EXPECT_EQ(state.renderCount(), 2) << "the phase alone asks for a frame";
}

// The frame log's tick_skipped.
TEST_F(ClockTest, OnlyTicksThatFindAPassRunningCountAsSkipped) {
    model->setIsRandomTileSpinEnabled(false);
    model->setIsPhaseAnimationEnabled(true);
    ticks(3); // the first starts a pass, held here
    EXPECT_EQ(state.skippedTickCount, 2);
    state.finishRender(); // the pass ends; the folded request starts another
    ASSERT_TRUE(state.isRenderInFlight);
    state.finishRender();
    ASSERT_FALSE(state.isRenderInFlight);
    ticks(1);
    EXPECT_EQ(state.skippedTickCount, 2);
    EXPECT_EQ(state.renderCount(), 3);
}

TEST_F(ClockTest, SpinsRunTo540AtMostThreeAtOnceNoneTwiceOnACell) {
    model->setRandomSpinInterval(2);
    state.randomSpinTiles = {{3, 0}};
    ticks(17);
    EXPECT_EQ(state.renderCount(), 1) << "a running spin asks for frames, no new spin needed";
    ASSERT_EQ(state.randomSpinTiles.size(), 1u) << "1.7 s is short of the interval";
    EXPECT_NEAR(state.randomSpinTiles[0].rotDeg, 510, 1e-9);
    ticks(1);
    EXPECT_TRUE(state.randomSpinTiles.empty()) << "removed in the tick that reaches 540";

    // A new spin resets the wait to a head start drawn from [-0.3 x interval, 0).
    for (bool lowEnd : {true, false}) {
        headStartAtLowEnd = lowEnd;
        state.randomSpinTiles.clear();
        state.randomSpinTimeAccum = 2.0;
        ticks(1, 0.001);
        ASSERT_EQ(state.randomSpinTiles.size(), 1u);
        EXPECT_NEAR(state.randomSpinTimeAccum, lowEnd ? -0.6 : 0, 1e-8);
    }

    model->setRandomSpinInterval(0.05);
    state.randomSpinTiles = {{0, 0}, {1, 0}, {2, 0}};
    nextCell = 4;
    ticks(1);
    EXPECT_EQ(state.randomSpinTiles.size(), 3u);
    EXPECT_GT(state.randomSpinTimeAccum, 0.05) << "three spinning: the wait keeps growing";
    state.randomSpinTiles = {{4, 0}};
    ticks(1);
    EXPECT_EQ(state.randomSpinTiles.size(), 1u) << "cell 4 is already spinning";
    EXPECT_LT(state.randomSpinTimeAccum, 0) << "the head start was drawn anyway";
    model->setRandomSpinInterval(0); // no head start to draw
    ticks(1);
    EXPECT_EQ(state.randomSpinTimeAccum, 0.0);
}

} // namespace
