#include "ContentView.h"
#include "GpuGeneration.h"
#include "PreferencesStore.h"
#include "TestWaits.h"

#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QList<bool> none{};
const QList<bool> forced{true};

// A shown view whose passes are dropped unrun, so that each reaction's render
// requests can be read one change at a time.
class ContentViewReactions : public ::testing::Test {
protected:
    AppModel model{std::make_shared<MemoryPreferencesStore>()};
    SystemLoadMonitor monitor{QStringLiteral("/nonexistent"), false};
    ContentView view{model, nullptr, &monitor};
    QSignalSpy requests{&view, &ContentView::renderRequested};

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

    QList<bool> reactionTo(const std::function<void()>& change) {
        change();
        return settle();
    }

    bool suspendedBy(bool hide) {
        hide ? view.hide() : view.show();
        return QTest::qWaitFor([&] { return state().isLifecycleSuspended == hide; }, 5000);
    }

    void showGrey(bool stereo) {
        QImage grey(4, 4, QImage::Format_RGBA8888_Premultiplied);
        grey.fill(Qt::gray);
        state().setTextures(uploadImageToTexture(grey),
                            stereo ? uploadImageToTexture(grey) : nullptr);
    }

    RenderState& state() { return view.renderState(); }
    DisplayLink* link() { return view.displayLinkAdapter().link(); }
    size_t cells() { return state().tiles.animationTileVariantIndices.size(); }
};

} // namespace

TEST(ContentView, FirstFrameComesWhateverAnimationsAreOn) {
    for (int kinds = 0; kinds < 64; ++kinds) {
        SCOPED_TRACE("rotation, phase, breathing, spin, illuminant, paused: " +
                     std::to_string(kinds));
        // As restored at start: on before the view exists.
        AppModel model{std::make_shared<MemoryPreferencesStore>()};
        model.setIsRotationAnimationEnabled(kinds & 1);
        model.setIsPhaseAnimationEnabled(kinds & 2);
        model.setIsBreathingEnabled(kinds & 4);
        model.setIsRandomTileSpinEnabled(kinds & 8);
        model.setIsIlluminantMode(kinds & 16);
        model.setIsAnimationPaused(kinds & 32);
        SystemLoadMonitor monitor{QStringLiteral("/nonexistent"), false};
        ContentView view{model, nullptr, &monitor};
        view.renderState().setExecutor([](std::function<void()>) {});
        model.setMaxPatchSize(64);
        QTest::qWait(0);
        ASSERT_EQ(view.renderState().renderCount(), 0) << "nothing before the canvas appears";
        view.resize(200, 150);
        view.show();
        // The appearance or the first tick asks for it.
        EXPECT_TRUE(QTest::qWaitFor([&] { return view.renderState().renderCount() > 0; }, 5000));
    }
}

TEST_F(ContentViewReactions, TileSetRowsRebuildForTheNewGeometry) {
    auto before = cells();
    EXPECT_EQ(reactionTo([&] { model.setMaxPatchSize(64); }), forced);
    EXPECT_GT(cells(), before);

    EXPECT_EQ(reactionTo([&] { model.setIsAutostereogramMode(true); }), forced);
    before = cells();
    EXPECT_EQ(reactionTo([&] { model.setSirdsStripColumns(6); }), forced);
    EXPECT_GT(cells(), before);

    // Stereo on switches the autostereogram off in the same assignment: both
    // rows and the inversion row run, once each.
    model.setIsStereoscopicMode(true);
    model.setIsColorInverted(true);
    EXPECT_EQ(settle(), (QList<bool>{true, true, true}));

    // The layouts: the eyes take the halves or the whole window (a new tile set
    // for the next pass); a swap or another full-window layout only draws again.
    // The toast names the layout.
    const auto rebuilt = [&] {
        state().prepareAnimationTiles();
        return cells();
    };
    before = rebuilt();
    EXPECT_EQ(reactionTo([&] { model.setStereoLayout(StereoLayout::anaglyph); }), forced);
    EXPECT_GT(rebuilt(), before);
    EXPECT_EQ(view.modeChangeMessage(), QStringLiteral("ステレオペア: アナグリフ (赤/シアン)"));
    EXPECT_EQ(reactionTo([&] { model.setStereoLayout(StereoLayout::interleaved); }), none);
    EXPECT_EQ(reactionTo([&] { model.setStereoLayout(StereoLayout::parallel); }), forced);
    EXPECT_EQ(reactionTo([&] { model.setStereoLayout(StereoLayout::cross); }), none);
    before = rebuilt();
    EXPECT_EQ(reactionTo([&] { model.setStereoPairWidth(2.0); }), forced);
    EXPECT_LT(rebuilt(), before);
    EXPECT_EQ(reactionTo([&] { model.setShowFusionMarks(true); }), forced);
    EXPECT_EQ(view.presenter()->presenterState().stereoPair, state().stereoPairSize());

    // Leaving stereo drops the right eye at once, here and in the presenter.
    showGrey(true);
    EXPECT_EQ(reactionTo([&] { model.setIsStereoscopicMode(false); }), forced);
    EXPECT_FALSE(state().rightTexture());
    EXPECT_TRUE(state().leftTexture());
    EXPECT_FALSE(view.presenter()->presenterState().rightTexture);
    EXPECT_FALSE(view.presenter()->presenterState().isStereoscopic);
}

TEST_F(ContentViewReactions, AnimationDrivesTheLinkAndItsEndRendersTheStillPicture) {
    // Still, each trigger row renders on a change that applies.
    EXPECT_EQ(reactionTo([&] { model.setIsColorMode(true); }), forced);
    model.setStereoPhaseDisparity(0.5); // stereo off
    model.setSirdsStripColumns(5);      // autostereogram off
    EXPECT_EQ(settle(), none);
    EXPECT_EQ(reactionTo([&] { model.setIsColorInverted(true); }), forced);
    // Display-only settings reach the presenter without a render.
    model.setDisplayGamma(1.8);
    model.setDisplayBlackLift(0.1);
    model.setStereoLayout(StereoLayout::cross);
    EXPECT_EQ(settle(), none);

    reactionTo([&] { model.setAnimationMaxFPS(60); });
    ASSERT_EQ(link(), nullptr);
    EXPECT_EQ(view.statusText(), QStringLiteral("静止")) << "no rate without frames";
    EXPECT_EQ(reactionTo([&] { model.setIsPhaseAnimationEnabled(true); }), none); // ticks render
    ASSERT_NE(link(), nullptr);
    EXPECT_EQ(view.statusText(), QStringLiteral("  0fps"));
    EXPECT_EQ(link()->range().maximum, 60.0f);
    EXPECT_EQ(reactionTo([&] { model.setIsStereoscopicMode(true); }), none);
    EXPECT_EQ(reactionTo([&] { model.setStereoPhaseDisparity(0.1); }), none);

    // Inversion is a render trigger even while animating; colour mode is not.
    EXPECT_EQ(reactionTo([&] { model.setIsColorInverted(false); }), forced);
    EXPECT_EQ(reactionTo([&] { model.setIsColorMode(false); }), none);
    monitor.setActivePowerProfile(QStringLiteral("power-saver"));
    EXPECT_EQ(link()->range().maximum, 30.0f);

    state().randomSpinTiles = {{3, 100.0}};
    state().randomSpinTimeAccum = 1.5;
    EXPECT_EQ(reactionTo([&] { model.setIsAnimationPaused(true); }), forced);
    EXPECT_EQ(link(), nullptr);
    EXPECT_EQ(view.statusText(), QStringLiteral("一時停止"));
    EXPECT_TRUE(state().randomSpinTiles.empty());
    EXPECT_EQ(state().randomSpinTimeAccum, 0.0);
    // Paused with the illuminant off nothing ticks, so changes render now.
    EXPECT_EQ(reactionTo([&] { model.setStereoPhaseDisparity(0.3); }), forced);

    // The illuminant drift ignores the pause; low power takes it to the floor.
    EXPECT_EQ(reactionTo([&] { model.setIsIlluminantMode(true); }), none);
    ASSERT_NE(link(), nullptr);
    EXPECT_EQ(link()->range().maximum, 15.0f);
}

TEST_F(ContentViewReactions, ResizeBurstAppliesOnceAndAHiddenWindowCatchesUpOnReturn) {
    // The next size follows as soon as the canvas has seen the last one.
    auto resizeTo = [&](int w, int h) {
        view.resize(w, h);
        return QTest::qWaitFor([&] { return state().lastProxy == QSizeF(w, h); }, 5000);
    };
    auto applied = [&] { return QTest::qWaitFor([&] { return !view.isResizePending(); }, 5000); };
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(resizeTo(400 + 10 * i, 300 + 5 * i));
    EXPECT_TRUE(view.isResizePending());
    EXPECT_EQ(settle(), none);
    EXPECT_EQ(state().viewSize, QSizeF(400, 300));
    ASSERT_TRUE(applied());
    EXPECT_EQ(settle(), (QList<bool>{false}));
    EXPECT_EQ(state().viewSize, QSizeF(450, 325));

    // Away and back to the accepted size: nothing to render.
    ASSERT_TRUE(resizeTo(300, 200));
    ASSERT_TRUE(resizeTo(450, 325));
    ASSERT_TRUE(applied());
    EXPECT_EQ(settle(), none);

    // The first presenter keeps the platform window (no flash, no lost focus).
    const QPointer<QWindow> platformWindow = view.windowHandle();
    showGrey(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.presenter()->drawCount() > 0; }, 5000));
    EXPECT_FALSE(platformWindow.isNull());

    // A randomize renders a new seed, also when asked while hidden.
    auto seed = state().patternSeed;
    EXPECT_EQ(reactionTo([&] { model.requestRandomize(); }), forced);
    EXPECT_NE(state().patternSeed, seed);

    ASSERT_TRUE(suspendedBy(true));
    seed = state().patternSeed;
    const auto tiles = state().tiles.animationTileParams;
    EXPECT_EQ(reactionTo([&] { model.requestRandomize(); }), none);
    EXPECT_NE(state().patternSeed, seed);
    ASSERT_TRUE(suspendedBy(false));
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(state().tiles.animationTileParams, tiles);
    reactionTo([&] { model.setIsPhaseAnimationEnabled(true); });
    view.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return state().isLifecycleSuspended; }, 5000));
    view.showNormal();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !state().isLifecycleSuspended; }, 5000));
    settle();
    ASSERT_TRUE(suspendedBy(true));
    EXPECT_EQ(link(), nullptr);
    const auto before = cells();
    model.setIsColorInverted(true);
    model.setMaxPatchSize(64);
    EXPECT_EQ(settle(), none);
    ASSERT_TRUE(suspendedBy(false));
    EXPECT_EQ(settle(), forced);
    EXPECT_NE(link(), nullptr);
    EXPECT_GT(cells(), before);
}

// Where the overlays show on screen is checked end to end; here, what a click
// on or beside the bar does, that hiding it gives the field back, and where
// Space goes.
TEST_F(ContentViewReactions, OnlyATapOnTheStatusBarTogglesItsDetailAndSpaceAlwaysPauses) {
    showGrey(false);
    auto grey = [&](QPoint at) { return qGray(view.presenter()->grabFrame().pixel(at)); };
    const int field = grey({200, 200});
    EXPECT_FALSE(view.statusBar()->isVisible());
    reactionTo([&] { model.setShowStatusBar(true); });
    ASSERT_TRUE(view.statusBar()->isVisible());
    const QRect bar = view.statusBar()->geometry();
    EXPECT_GT(grey({bar.left() + 3, bar.center().y()}), 200);

    QTest::mouseClick(view.presenter(), Qt::LeftButton, {}, bar.center());
    EXPECT_TRUE(view.statusBar()->text().startsWith(QStringLiteral("タイル:128px  幅:400pt\n")));
    QTest::mouseClick(view.presenter(), Qt::LeftButton, {}, {300, 250});
    EXPECT_TRUE(view.statusBar()->isDetailed());
    reactionTo([&] { model.setShowStatusBar(false); });
    EXPECT_EQ(grey({bar.left() + 3, bar.center().y()}), field);

    // Space reaches the key catcher from the host as the window's focus widget,
    // and from the GL window itself.
    view.presenterHost()->setFocus();
    QTest::keyClick(view.windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(model.isAnimationPaused());
    // Space without Ctrl, whatever else is held.
    QTest::keyClick(view.presenter(), Qt::Key_Space, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_FALSE(model.isAnimationPaused());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return view.modeChangeMessage() == QStringLiteral("アニメーション: 再開"); }, 5000));
}

TEST_F(ContentViewReactions, TheIlluminantTintGoesOutWithTheFrameItsTickAskedFor) {
    showGrey(false);
    reactionTo([&] { model.setIsIlluminantMode(true); });
    const FieldPresenter* presenter = view.presenter();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !presenter->presenterState().isDrawInFlight && !presenter->isDisplayPending();
        },
        5000));
    ASSERT_TRUE(finishTurn());
    const auto shownTint = presenter->presenterState().illuminantTint;
    const int draws = presenter->ownDrawCount();
    state().animationTick(0.05); // passes are dropped here, so no frame follows
    ASSERT_TRUE(finishTurn());
    EXPECT_EQ(presenter->presenterState().illuminantTint, shownTint);
    EXPECT_EQ(presenter->ownDrawCount(), draws);
    const auto tint = FieldPresenter::illuminantColor(state().illuminantHue);
    ASSERT_NE(tint, shownTint);
    showGrey(false);
    EXPECT_EQ(presenter->presenterState().illuminantTint, tint);
    EXPECT_TRUE(QTest::qWaitFor([&] { return presenter->ownDrawCount() > draws; }, 5000));
}

TEST(ModeToastView, LaterMessageReplacesTextAndRestartsTheHide) {
    ModeToastView toast;
    EXPECT_FALSE(toast.isVisible());

    toast.showModeMessage(QStringLiteral("アニメーション: 一時停止"));
    EXPECT_TRUE(toast.isVisible());
    const QImage first = toast.image(1.0);
    // The picture itself, not a copy made while it was being painted, which
    // the presenter would upload again.
    EXPECT_EQ(toast.image(1.0).cacheKey(), first.cacheKey());
    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.remainingHideMs() < 1000; }, 5000));
    toast.showModeMessage(QStringLiteral("アニメーション: 再開"));
    EXPECT_EQ(toast.text(), QStringLiteral("アニメーション: 再開"));
    EXPECT_NE(toast.image(1.0), first);
    // The first message's hide no longer counts.
    EXPECT_GT(toast.remainingHideMs(), 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.opacity() == 1.0; }, 2000));

    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.modeChangeMessage().isEmpty(); }, 5000));
    EXPECT_TRUE(toast.isVisible()) << "fading out";
    EXPECT_EQ(toast.text(), QStringLiteral("アニメーション: 再開"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !toast.isVisible(); }, 5000));
    EXPECT_EQ(toast.opacity(), 0.0);
}
