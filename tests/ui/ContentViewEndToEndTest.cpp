#include "../render/RenderTestSupport.h"
#include "ContentView.h"
#include "GpuGeneration.h"
#include "GpuTexture.h"
#include "RenderPass.h"
#include "TestWaits.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QTest>
#include <gtest/gtest.h>

// The frame the presenter shows against the CPU's picture of the same snapshot,
// inside the canvas border.
TEST(ContentViewEndToEnd, ShowsTheFieldTheCpuDefinesForTheSeed) {
    AppModel model{std::make_shared<MemoryPreferencesStore>()};
    model.setRenderingMode(AppModel::RenderingMode::cpu);
    SystemLoadMonitor monitor{QStringLiteral("/nonexistent"), false};
    ContentView view{model, nullptr, &monitor};
    view.renderState().patternSeed = 0x5eed5eed12345678ull;
    view.resize(800, 600);
    view.show();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return view.presenter()->presenterState().leftTexture &&
                   !view.renderState().isRenderInFlight;
        },
        30000));

    const QImage shown = view.presenter()->grabFrame();
    SIRDSShiftCache cache;
    const QImage expected =
        renderFrame(view.renderState().takeSnapshot(true), AppModel::RenderingMode::cpu, 1.0, cache)
            .leftImage.value_or(QImage());
    ASSERT_EQ(expected.size(), QSize(800, 600));
    ASSERT_EQ(shown.size(), expected.size());
    const QRect inside = shown.rect().adjusted(1, 1, -1, -1);
    EXPECT_LE(maxChannelDifference(shown.copy(inside), expected.copy(inside)), 2);

    // Animated on the GPU, the rings' textures come round again: each pass that
    // overwrites one waits for the frames that read it.
    FieldPresenter* presenter = view.presenter();
    const long long unwaited = GpuTexture::unwaitedFenceCount();
    model.setRenderingMode(AppModel::RenderingMode::gpu);
    model.setIsPhaseAnimationEnabled(true);
    const int draws = presenter->ownDrawCount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter->ownDrawCount() >= draws + 8; }, 60000));
    model.setIsAnimationPaused(true);
    EXPECT_EQ(GpuTexture::unwaitedFenceCount(), unwaited);

    // And a frame on screen fences what it reads: work of another context that
    // has not waited for its latest draw counts.
    ASSERT_TRUE(finishTurn()); // the pause's still picture
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !view.renderState().isRenderInFlight &&
                   presenter->presenterState().leftTexture == view.renderState().leftTexture();
        },
        30000));
    QOffscreenSurface surface;
    surface.setFormat(QOpenGLContext::globalShareContext()->format());
    surface.create();
    QOpenGLContext other;
    other.setShareContext(QOpenGLContext::globalShareContext());
    ASSERT_TRUE(other.create() && other.makeCurrent(&surface));
    const GpuTextureRef onScreen = presenter->presenterState().leftTexture;
    onScreen->waitOnGpu();
    const int before = presenter->ownDrawCount();
    model.setDisplayGamma(1.5); // drawn again, not rendered
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter->ownDrawCount() > before; }, 5000));
    ASSERT_EQ(presenter->presenterState().leftTexture, onScreen);
    ASSERT_TRUE(other.makeCurrent(&surface));
    onScreen->fenceWork();
    other.doneCurrent();
    EXPECT_EQ(GpuTexture::unwaitedFenceCount(), unwaited + 1);
}
