#include "ContentView.h"
#include "GpuGeneration.h"
#include "PreferencesStore.h"

#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const QList<bool> none{};
const QList<bool> forced{true};

// A shown view whose passes are dropped unrun, so that each reaction's render
// requests can be read one change at a time.
class ContentViewReactions : public ::testing::Test {
protected:
    void SetUp() override {
        view.renderState().setExecutor([](std::function<void()>) {});
        view.resize(400, 300);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        ASSERT_EQ(settle(), forced); // the appearance
    }

    // Lets the queued reaction check run; returns the force flags asked for since.
    QList<bool> settle() {
        QTest::qWait(0);
        QList<bool> forces;
        for (const QList<QVariant>& call : requests)
            forces << call.at(0).toBool();
        requests.clear();
        return forces;
    }

    bool suspendedBy(bool hide) {
        hide ? view.hide() : view.show();
        return QTest::qWaitFor([&] { return state().isLifecycleSuspended == hide; }, 5000);
    }

    RenderState& state() { return view.renderState(); }
    DisplayLink* link() { return view.displayLinkAdapter().link(); }

    AppModel model{std::make_shared<MemoryPreferencesStore>()};
    SystemLoadMonitor monitor{QStringLiteral("/nonexistent"), false};
    ContentView view{model, nullptr, &monitor};
    QSignalSpy requests{&view, &ContentView::renderRequested};
};

} // namespace

TEST(ContentView, NothingBeforeTheCanvasAppears) {
    AppModel model(std::make_shared<MemoryPreferencesStore>());
    SystemLoadMonitor monitor(QStringLiteral("/nonexistent"), false);
    ContentView view(model, nullptr, &monitor);
    QSignalSpy requests(&view, &ContentView::renderRequested);
    const auto seed = view.renderState().patternSeed;
    model.requestRandomize();
    model.setIsColorInverted(true);
    QTest::qWait(0);
    EXPECT_EQ(view.renderState().patternSeed, seed);
    EXPECT_EQ(requests.count(), 0);
    EXPECT_EQ(view.presenter(), nullptr);
}

TEST_F(ContentViewReactions, TriggerRowsRenderOnlyOnAChangeThatApplies) {
    EXPECT_EQ(state().viewSize, QSizeF(400, 300));
    model.setIsColorMode(true);
    EXPECT_EQ(settle(), forced);
    model.setIsColorMode(true);
    EXPECT_EQ(settle(), none);
    model.setStereoPhaseDisparity(0.5); // stereo off
    model.setSirdsStripColumns(5);      // autostereogram off
    EXPECT_EQ(settle(), none);
    model.setIsColorInverted(true);
    EXPECT_EQ(settle(), forced);
    // Display-only settings reach the presenter without a render.
    model.setDisplayGamma(1.8);
    model.setDisplayBlackLift(0.1);
    model.setIsCrossEyedStereo(true);
    EXPECT_EQ(settle(), none);

    // The model pins the black level, so its row is driven directly.
    RenderTriggerState before = RenderTriggerState::fromModel(model);
    RenderTriggerState after = before;
    after.colorModeBlackLevel = 0.5;
    view.handleRenderTriggerChange(before, after);
    EXPECT_EQ(settle(), forced);
    model.setIsColorMode(false);
    settle();
    view.handleRenderTriggerChange(before, after);
    EXPECT_EQ(settle(), none);
}

TEST_F(ContentViewReactions, TileSetRowsRebuildForTheNewGeometry) {
    auto cells = state().tiles.animationTileVariantIndices.size();
    model.setMaxPatchSize(64);
    EXPECT_EQ(settle(), forced);
    EXPECT_EQ(state().maxPatchSize, 64.0);
    EXPECT_GT(state().tiles.animationTileVariantIndices.size(), cells);

    model.setIsAutostereogramMode(true);
    EXPECT_EQ(settle(), forced);
    cells = state().tiles.animationTileVariantIndices.size();
    model.setSirdsStripColumns(6);
    EXPECT_EQ(settle(), forced);
    EXPECT_GT(state().tiles.animationTileVariantIndices.size(), cells);

    // Stereo on switches the autostereogram off in the same assignment: both
    // rows and the inversion row run, once each.
    model.setIsStereoscopicMode(true);
    model.setIsColorInverted(true);
    EXPECT_EQ(settle(), (QList<bool>{true, true, true}));
    EXPECT_EQ(view.renderTriggerState(), RenderTriggerState::fromModel(model));
}

TEST_F(ContentViewReactions, LeavingStereoDropsTheRightEyeAtOnce) {
    model.setIsStereoscopicMode(true);
    settle();
    QImage image(4, 4, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::gray);
    state().setTextures(uploadImageToTexture(image), uploadImageToTexture(image));
    ASSERT_NE(view.presenter(), nullptr);

    model.setIsStereoscopicMode(false);
    EXPECT_EQ(settle(), forced);
    EXPECT_FALSE(state().rightTexture());
    EXPECT_TRUE(state().leftTexture());
    EXPECT_FALSE(view.presenter()->coordinator().rightTexture);
    EXPECT_FALSE(view.presenter()->coordinator().isStereoscopic);
}

TEST_F(ContentViewReactions, MotionDefersToTicksOnlyWhileTicksCome) {
    model.setIsStereoscopicMode(true);
    model.setIsPhaseAnimationEnabled(true);
    settle();
    model.setStereoPhaseDisparity(0.1);
    EXPECT_EQ(settle(), none);
    model.setIsStereoscopicMode(false);
    EXPECT_EQ(settle(), none);

    // Paused with the illuminant off nothing ticks, so changes render now.
    model.setIsAnimationPaused(true);
    settle();
    model.setIsStereoscopicMode(true);
    EXPECT_EQ(settle(), forced);
    model.setStereoPhaseDisparity(0.3);
    EXPECT_EQ(settle(), forced);
}

TEST_F(ContentViewReactions, AnimationDrivesTheLinkAndItsEndRendersTheStillPicture) {
    model.setAnimationMaxFPS(60);
    settle();
    ASSERT_EQ(link(), nullptr);
    model.setIsPhaseAnimationEnabled(true);
    EXPECT_EQ(settle(), none); // ticks render
    ASSERT_NE(link(), nullptr);
    EXPECT_EQ(link()->range().maximum, 60.0f);

    // Inversion is a render trigger even while animating; colour mode is not.
    model.setIsColorInverted(true);
    EXPECT_EQ(settle(), forced);
    model.setIsColorMode(true);
    EXPECT_EQ(settle(), none);

    monitor.setActivePowerProfile(QStringLiteral("power-saver"));
    EXPECT_EQ(link()->range().maximum, 30.0f);

    state().randomSpinTiles = {{3, 100.0}};
    state().randomSpinTimeAccum = 1.5;
    model.setIsAnimationPaused(true);
    EXPECT_EQ(settle(), forced);
    EXPECT_EQ(link(), nullptr);
    EXPECT_TRUE(state().randomSpinTiles.empty());
    EXPECT_EQ(state().randomSpinTimeAccum, 0.0);

    // The illuminant drift ignores the pause; low power takes it to the floor.
    model.setIsIlluminantMode(true);
    EXPECT_EQ(settle(), none);
    ASSERT_NE(link(), nullptr);
    EXPECT_EQ(link()->range().maximum, 15.0f);
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

    // Away and back to the accepted size: nothing to render.
    view.resize(300, 200);
    QTest::qWait(20);
    view.resize(450, 325);
    QTRY_VERIFY_WITH_TIMEOUT(!view.isResizePending(), 5000);
    EXPECT_EQ(settle(), none);
}

TEST_F(ContentViewReactions, RandomizeRendersANewSeedEvenWhenAskedWhileHidden) {
    auto seed = state().patternSeed;
    model.requestRandomize();
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(state().patternSeed, seed);

    ASSERT_TRUE(suspendedBy(true));
    seed = state().patternSeed;
    const auto tiles = state().tiles.animationTileParams;
    model.requestRandomize();
    EXPECT_EQ(settle(), none);
    EXPECT_NE(state().patternSeed, seed);
    ASSERT_TRUE(suspendedBy(false));
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(state().tiles.animationTileParams, tiles);
}

TEST_F(ContentViewReactions, HiddenWindowIsSuspendedAndCatchesUpOnReturn) {
    // The first presenter keeps the platform window (no flash, no lost focus).
    const QPointer<QWindow> platformWindow = view.windowHandle();
    QImage image(4, 4, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::gray);
    state().setTextures(uploadImageToTexture(image), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.presenter()->drawCount() > 0; }, 5000));
    EXPECT_FALSE(platformWindow.isNull());
    model.setIsPhaseAnimationEnabled(true);
    settle();
    view.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return state().isLifecycleSuspended; }, 5000));
    view.showNormal();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !state().isLifecycleSuspended; }, 5000));
    settle();
    ASSERT_TRUE(suspendedBy(true));
    EXPECT_EQ(link(), nullptr);
    const auto cells = state().tiles.animationTileVariantIndices.size();
    model.setIsColorInverted(true);
    model.setMaxPatchSize(64);
    EXPECT_EQ(settle(), none);

    ASSERT_TRUE(suspendedBy(false));
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(link(), nullptr);
    EXPECT_GT(state().tiles.animationTileVariantIndices.size(), cells);
}

TEST_F(ContentViewReactions, OverlaysFollowTheSettingsAndTaps) {
    EXPECT_TRUE(view.statusBar()->isHidden());
    model.setShowStatusBar(true);
    settle();
    ASSERT_TRUE(view.statusBar()->isVisible());
    EXPECT_EQ(view.statusBar()->pos(), QPoint(16, 16));
    EXPECT_EQ(view.statusBar()->text(), QStringLiteral("  0fps"));
    QTest::mouseClick(view.statusBar(), Qt::LeftButton);
    EXPECT_TRUE(view.statusBar()->text().startsWith(QStringLiteral("タイル:128px  幅:400pt\n")));

    view.showModeMessage(QStringLiteral("アニメーション: 一時停止"));
    EXPECT_EQ(view.modeChangeMessage(), QStringLiteral("アニメーション: 一時停止"));
    EXPECT_EQ(view.toast()->y(), 16);
    EXPECT_NEAR(view.toast()->geometry().center().x(), view.width() / 2, 1);
}
