#include "ContentView.h"
#include "GpuGeneration.h"
#include "PreferencesStore.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A view whose passes are only counted, never run, so the reactions can be
// watched one by one.
class ContentViewReactions : public ::testing::Test {
protected:
    void SetUp() override {
        model.setRenderingMode(AppModel::RenderingMode::cpu);
        view.renderState().setExecutor([this](std::function<void()>) { ++passes; });
        view.resize(400, 300);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        settle();
    }

    // Lets the queued reaction check run, then forgets what was asked so far.
    QList<bool> settle() {
        QTest::qWait(0);
        QCoreApplication::processEvents();
        QList<bool> forces;
        for (const QList<QVariant>& call : requests)
            forces << call.at(0).toBool();
        requests.clear();
        return forces;
    }

    RenderState& state() { return view.renderState(); }

    std::shared_ptr<MemoryPreferencesStore> store = std::make_shared<MemoryPreferencesStore>();
    AppModel model{store};
    SystemLoadMonitor monitor{QStringLiteral("/nonexistent"), false};
    ContentView view{model, nullptr, &monitor};
    QSignalSpy requests{&view, &ContentView::renderRequested};
    int passes = 0;
};

const QList<bool> none{};
const QList<bool> forced{true};

} // namespace

TEST(ContentView, AppearanceRendersOnceAndNoncePrecedingItDoesNothing) {
    AppModel model(std::make_shared<MemoryPreferencesStore>());
    SystemLoadMonitor monitor(QStringLiteral("/nonexistent"), false);
    ContentView view(model, nullptr, &monitor);
    QSignalSpy requests(&view, &ContentView::renderRequested);
    view.renderState().setExecutor([](std::function<void()>) {});
    const auto seed = view.renderState().patternSeed;
    model.requestRandomize();
    QTest::qWait(0);
    EXPECT_EQ(view.renderState().patternSeed, seed);
    EXPECT_EQ(requests.count(), 0);

    view.resize(320, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QTest::qWait(0);
    ASSERT_EQ(requests.count(), 1);
    EXPECT_TRUE(requests.at(0).at(0).toBool());
    EXPECT_EQ(view.renderState().viewSize, QSizeF(320, 200));
    EXPECT_FALSE(view.renderState().tiles.animationTileParams.empty());
    EXPECT_EQ(view.presenter(), nullptr); // black until a frame exists
}

TEST_F(ContentViewReactions, EachTriggerRowRendersOnlyWhenItApplies) {
    model.setIsColorMode(true);
    EXPECT_EQ(settle(), forced);
    model.setIsColorMode(true); // no change
    EXPECT_EQ(settle(), none);
    // The model pins the black level, so an attempt changes nothing to react to.
    model.setColorModeBlackLevel(0.5);
    EXPECT_EQ(settle(), none);

    model.setStereoPhaseDisparity(0.5); // stereo off
    EXPECT_EQ(settle(), none);
    model.setSirdsStripColumns(5); // autostereogram off
    EXPECT_EQ(settle(), none);

    model.setIsColorInverted(true);
    EXPECT_EQ(settle(), forced);

    // Display-only settings reach the presenter without a render.
    model.setDisplayGamma(1.8);
    model.setDisplayBlackLift(0.1);
    model.setIsCrossEyedStereo(true);
    EXPECT_EQ(settle(), none);
}

TEST_F(ContentViewReactions, BlackLevelRowNeedsColourModeAndAStillPicture) {
    RenderTriggerState before = RenderTriggerState::fromModel(model);
    RenderTriggerState after = before;
    after.colorModeBlackLevel = 0.5;
    view.handleRenderTriggerChange(before, after);
    EXPECT_EQ(settle(), none); // colour mode off
    model.setIsColorMode(true);
    settle();
    view.handleRenderTriggerChange(before, after);
    EXPECT_EQ(settle(), forced);
    view.handleRenderTriggerChange(after, after);
    EXPECT_EQ(settle(), none);
}

TEST_F(ContentViewReactions, ViewModeChangeWhilePausedRendersAtOnce) {
    model.setIsPhaseAnimationEnabled(true);
    settle();
    model.setIsStereoscopicMode(true); // ticks will render it
    EXPECT_EQ(settle(), none);
    EXPECT_TRUE(state().tiles.animationTileParams.size() > 0);

    // Paused with the illuminant off nothing ticks, so the new mode must render now.
    model.setIsAnimationPaused(true);
    settle();
    model.setIsStereoscopicMode(false);
    EXPECT_EQ(settle(), forced);
    model.setIsAutostereogramMode(true);
    EXPECT_EQ(settle(), forced);
}

TEST_F(ContentViewReactions, PatchSizeRebuildsTheTileSetAndRenders) {
    const auto cells = state().tiles.animationTileVariantIndices.size();
    model.setMaxPatchSize(64);
    EXPECT_EQ(settle(), forced);
    EXPECT_EQ(state().maxPatchSize, 64.0);
    EXPECT_GT(state().tiles.animationTileVariantIndices.size(), cells);
}

TEST_F(ContentViewReactions, StripColumnsRebuildOnlyInAutostereogramMode) {
    model.setIsAutostereogramMode(true);
    EXPECT_EQ(settle(), forced);
    const auto cells = state().tiles.animationTileVariantIndices.size();
    model.setSirdsStripColumns(6);
    EXPECT_EQ(settle(), forced);
    EXPECT_GT(state().tiles.animationTileVariantIndices.size(), cells);
}

TEST_F(ContentViewReactions, StereoDisparityWaitsForMotionOnlyWhileItTicks) {
    model.setIsStereoscopicMode(true);
    EXPECT_EQ(settle(), forced);
    model.setStereoPhaseDisparity(0.75);
    EXPECT_EQ(settle(), forced);

    model.setIsPhaseAnimationEnabled(true);
    settle();
    model.setStereoPhaseDisparity(0.1); // the next tick renders it
    EXPECT_EQ(settle(), none);

    // Paused, nothing ticks: the change must be rendered now.
    model.setIsAnimationPaused(true);
    settle();
    model.setStereoPhaseDisparity(0.3);
    EXPECT_EQ(settle(), forced);
}

TEST_F(ContentViewReactions, LeavingStereoDropsTheRightEyeAtOnce) {
    model.setIsStereoscopicMode(true);
    settle();
    QImage image(4, 4, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::gray);
    state().setTextures(uploadImageToTexture(image), uploadImageToTexture(image));
    ASSERT_TRUE(state().rightTexture());
    ASSERT_NE(view.presenter(), nullptr);

    model.setIsStereoscopicMode(false);
    EXPECT_EQ(settle(), forced);
    EXPECT_FALSE(state().rightTexture());
    EXPECT_TRUE(state().leftTexture());
    EXPECT_FALSE(view.presenter()->coordinator().rightTexture);
    EXPECT_FALSE(view.presenter()->coordinator().isStereoscopic);
}

TEST_F(ContentViewReactions, SeveralChangesInOneTurnAreSeenOnce) {
    model.setIsAutostereogramMode(true);
    settle();
    // Stereo on switches the autostereogram off in the same assignment.
    model.setIsStereoscopicMode(true);
    model.setIsColorInverted(true);
    ASSERT_FALSE(model.isAutostereogramMode());
    EXPECT_EQ(settle(), (QList<bool>{true, true, true}));
    EXPECT_EQ(view.renderTriggerState(), RenderTriggerState::fromModel(model));
}

TEST_F(ContentViewReactions, AnimationDrivesTheLinkAndItsEndRendersTheStillPicture) {
    model.setAnimationMaxFPS(60);
    settle();
    ASSERT_EQ(view.displayLinkAdapter().link(), nullptr);

    model.setIsPhaseAnimationEnabled(true);
    EXPECT_EQ(settle(), none); // ticks render
    ASSERT_NE(view.displayLinkAdapter().link(), nullptr);
    EXPECT_EQ(view.displayLinkAdapter().link()->range().maximum, 60.0f);

    // Inversion is a render trigger even while animating; colour mode is not.
    model.setIsColorInverted(true);
    EXPECT_EQ(settle(), forced);
    model.setIsColorMode(true);
    EXPECT_EQ(settle(), none);

    monitor.setActivePowerProfile(QStringLiteral("power-saver"));
    EXPECT_EQ(view.displayLinkAdapter().link()->range().maximum, 30.0f);
    monitor.setActivePowerProfile(QStringLiteral("balanced"));

    state().randomSpinTiles = {{3, 100.0}};
    state().randomSpinTimeAccum = 1.5;
    model.setIsAnimationPaused(true);
    EXPECT_EQ(settle(), forced);
    EXPECT_EQ(view.displayLinkAdapter().link(), nullptr);
    EXPECT_TRUE(state().randomSpinTiles.empty());
    EXPECT_EQ(state().randomSpinTimeAccum, 0.0);

    // The illuminant drift ignores the pause.
    model.setIsIlluminantMode(true);
    EXPECT_EQ(settle(), none);
    ASSERT_NE(view.displayLinkAdapter().link(), nullptr);
    EXPECT_EQ(view.displayLinkAdapter().link()->range().maximum, 30.0f);
}

TEST_F(ContentViewReactions, ResizeBurstAppliesOnceAfterTheLastChange) {
    for (int i = 1; i <= 5; ++i) {
        view.resize(400 + 10 * i, 300 + 5 * i);
        QTest::qWait(20);
    }
    EXPECT_TRUE(view.isResizePending());
    EXPECT_EQ(settle(), none);
    EXPECT_EQ(state().viewSize, QSizeF(400, 300));
    QTRY_VERIFY_WITH_TIMEOUT(!view.isResizePending(), 5000);
    EXPECT_EQ(settle(), (QList<bool>{false}));
    EXPECT_EQ(state().viewSize, QSizeF(450, 325));

    // Back and forth to the accepted size: nothing to render.
    view.resize(300, 200);
    QTest::qWait(20);
    view.resize(450, 325);
    QTRY_VERIFY_WITH_TIMEOUT(!view.isResizePending(), 5000);
    EXPECT_EQ(settle(), none);
}

TEST_F(ContentViewReactions, RandomizeReplacesTheSeedAndRenders) {
    const auto seed = state().patternSeed;
    const auto tiles = state().tiles.animationTileParams;
    model.requestRandomize();
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(state().patternSeed, seed);
    EXPECT_NE(state().tiles.animationTileParams, tiles);
}

TEST_F(ContentViewReactions, HiddenWindowIsSuspendedAndRendersOnReturn) {
    model.setIsPhaseAnimationEnabled(true);
    settle();
    view.hide();
    QTRY_VERIFY_WITH_TIMEOUT(state().isLifecycleSuspended, 5000);
    EXPECT_EQ(view.displayLinkAdapter().link(), nullptr);
    model.setIsColorInverted(true);
    EXPECT_EQ(settle(), none);
    // A new patch size is not lost meanwhile: the tile set is rebuilt on return.
    const auto cells = state().tiles.animationTileVariantIndices.size();
    model.setMaxPatchSize(64);
    EXPECT_EQ(settle(), none);

    view.show();
    QTRY_VERIFY_WITH_TIMEOUT(!state().isLifecycleSuspended, 5000);
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(view.displayLinkAdapter().link(), nullptr);
    EXPECT_GT(state().tiles.animationTileVariantIndices.size(), cells);
}

TEST_F(ContentViewReactions, RandomizeWhileHiddenIsKeptForTheReturn) {
    view.hide();
    QTRY_VERIFY_WITH_TIMEOUT(state().isLifecycleSuspended, 5000);
    const auto seed = state().patternSeed;
    const auto tiles = state().tiles.animationTileParams;
    model.requestRandomize();
    EXPECT_EQ(settle(), none);
    EXPECT_NE(state().patternSeed, seed);
    view.show();
    QTRY_VERIFY_WITH_TIMEOUT(!state().isLifecycleSuspended, 5000);
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(state().tiles.animationTileParams, tiles);
}

TEST_F(ContentViewReactions, StatusBarFollowsTheSettingAndTapToggles) {
    EXPECT_TRUE(view.statusBar()->isHidden());
    model.setShowStatusBar(true);
    settle();
    ASSERT_TRUE(view.statusBar()->isVisible());
    EXPECT_EQ(view.statusBar()->pos(), QPoint(16, 16));
    EXPECT_EQ(view.statusBar()->text(), QStringLiteral("  0fps"));
    QTest::mouseClick(view.statusBar(), Qt::LeftButton);
    EXPECT_TRUE(view.showStatusDetail());
    EXPECT_TRUE(view.statusBar()->text().startsWith(QStringLiteral("タイル:128px  幅:400pt\n")));

    view.showModeMessage(QStringLiteral("アニメーション: 一時停止"));
    EXPECT_EQ(view.modeChangeMessage(), QStringLiteral("アニメーション: 一時停止"));
    EXPECT_EQ(view.toast()->y(), 16);
    EXPECT_NEAR(view.toast()->geometry().center().x(), view.width() / 2, 1);
}
