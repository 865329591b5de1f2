#include "RenderTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

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
                                   EXPECT_LT(a, b);
                                   return headStartAtLowEnd ? a : b - 1e-9;
                               }});
        state.lastProxy = QSizeF(100, 100);
        state.tiles.animationTileParams = {{5, 4, 0.32, 1}, {90, 4, 0.32, 1}, {0, 4, 0.32, 1}};
        state.tiles.animationTileVariantIndices = {0, 1, 2, 0, 1, 2, 0, 1};
        state.tiles.animationTileRotationDirections = {-1.0, 1.0};
    }
    bool requested() const { return state.renderCount() > 0; }
    void ticks(int n, double dt = 0.1) {
        for (int i = 0; i < n; ++i)
            state.animationTick(dt);
    }

    std::unique_ptr<AppModel> model;
    RenderState state;
    std::int64_t nextCell = 0;
    bool headStartAtLowEnd = true;
};

TEST_F(ClockTest, StepIsClampedAndAnglesWrap) {
    model->setIsPhaseAnimationEnabled(true);
    model->setIsRotationAnimationEnabled(true);
    model->setRotationAnimationSpeed(30);
    state.animationTick(0.5);
    EXPECT_DOUBLE_EQ(state.phase, 0.1 * kTwoPi);
    EXPECT_NEAR(state.tiles.animationTileParams[0].orientation, 2, 1e-12);
    EXPECT_NEAR(state.tiles.animationTileParams[2].orientation, 3, 1e-12) << "no direction: +1";
    for (double tiny : {0.00001, std::nan("")}) {
        state.phase = 0;
        state.animationTick(tiny);
        EXPECT_DOUBLE_EQ(state.phase, 0.001 * kTwoPi);
    }
    state.tiles.animationTileParams[0].orientation = -358;
    state.animationTick(0.1);
    EXPECT_NEAR(state.tiles.animationTileParams[0].orientation, -1, 1e-12);
    ticks(300);
    EXPECT_LT(state.phase, kTwoPi);
    for (const TileParams& p : state.tiles.animationTileParams) {
        EXPECT_GT(p.orientation, -360);
        EXPECT_LT(p.orientation, 360);
    }
    EXPECT_TRUE(requested());
}

TEST_F(ClockTest, PauseFreezesAllButTheIlluminant) {
    model->setIsIlluminantMode(true);
    model->setIsBreathingEnabled(true);
    model->setIsRandomTileSpinEnabled(true);
    model->setIsAnimationPaused(true);
    state.illuminantHue = 0.999;
    state.randomSpinTiles = {{1, 30}};
    state.randomSpinTimeAccum = 5;
    state.animationTick(0.1);
    EXPECT_NEAR(state.illuminantHue, 0.004, 1e-12);
    EXPECT_EQ(state.breathingPhase, 0.0);
    EXPECT_EQ(state.randomSpinTiles[0].rotDeg, 30);
    EXPECT_EQ(state.randomSpinTimeAccum, 5);
    EXPECT_TRUE(requested()) << "the illuminant still asks for frames";

    model->setIsIlluminantMode(false);
    state.isRenderInFlight = false;
    const auto before = state.renderCount();
    ticks(3);
    EXPECT_EQ(state.renderCount(), before) << "paused spins ask for nothing";

    model->setIsAnimationPaused(false);
    model->setIsBreathingEnabled(false);
    state.tiles.animationTileVariantIndices.clear();
    ticks(3);
    EXPECT_EQ(state.renderCount(), before) << "no cells, no spin step";

    model->setIsPhaseAnimationEnabled(true);
    state.isLifecycleSuspended = true;
    ticks(1);
    state.isLifecycleSuspended = false;
    state.lastProxy.reset();
    ticks(1);
    EXPECT_EQ(state.renderCount(), before) << "suspended, or not shown yet";
}

TEST_F(ClockTest, SpinsEndAt540AndStartAfterIntervalPlusHeadStart) {
    model->setIsRandomTileSpinEnabled(true);
    model->setRandomSpinInterval(2);
    state.randomSpinTiles = {{3, 0}};
    ticks(17);
    ASSERT_EQ(state.randomSpinTiles.size(), 1u);
    EXPECT_NEAR(state.randomSpinTiles[0].rotDeg, 510, 1e-9);
    ticks(1);
    EXPECT_TRUE(state.randomSpinTiles.empty()) << "removed in the tick that reaches 540";

    for (bool lowEnd : {true, false}) {
        headStartAtLowEnd = lowEnd;
        state.randomSpinTimeAccum = 2.0; // a decision on the next tick
        ticks(1, 0.001);
        ASSERT_EQ(state.randomSpinTiles.size(), 1u);
        state.randomSpinTiles.clear();
        double waited = 0;
        for (; state.randomSpinTiles.empty() && waited < 5; waited += 0.01)
            ticks(1, 0.01);
        EXPECT_GT(waited, lowEnd ? 2.59 : 2.0);
        EXPECT_LE(waited, 2.6 + 0.011);
    }
}

TEST_F(ClockTest, AtMostThreeSpinsAndNoneTwiceOnACell) {
    model->setIsRandomTileSpinEnabled(true);
    model->setRandomSpinInterval(0.05);
    state.randomSpinTiles = {{0, 0}, {1, 0}, {2, 0}};
    nextCell = 4;
    ticks(3);
    EXPECT_EQ(state.randomSpinTiles.size(), 3u);
    EXPECT_GT(state.randomSpinTimeAccum, 0.05) << "the accumulator keeps growing";

    state.randomSpinTiles = {{4, 0}};
    ticks(1);
    EXPECT_EQ(state.randomSpinTiles.size(), 1u) << "cell 4 is already spinning";
    EXPECT_LT(state.randomSpinTimeAccum, 0) << "the head start was drawn anyway";

    model->setRandomSpinInterval(0);
    if (model->randomSpinInterval() <= 0) {
        ticks(1); // the random source fails the test on an empty range
        EXPECT_EQ(state.randomSpinTimeAccum, 0.0);
    }
}

} // namespace
