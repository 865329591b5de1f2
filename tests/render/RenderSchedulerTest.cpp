#include "RenderTestSupport.h"

#include "Canvas.h"
#include "GpuGeneration.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// Passes are held, not run, until the test runs them.
TEST(Scheduler, RequestsFoldIntoOneForcedReplayAndStalePassesInstallNothing) {
    auto model = makeMemoryModel();
    RenderState state(*model);
    std::vector<std::function<void()>> passes;
    int settleDelays = 0;
    model->setRenderingMode(AppModel::RenderingMode::cpu);
    state.setExecutor([&](std::function<void()> pass) { passes.push_back(pass); });
    state.setSettleDelay([&] { ++settleDelays; });
    state.viewSize = QSizeF(64, 48);
    state.lastProxy = state.viewSize;
    const auto runPass = [&](std::size_t i) { // on this thread, then deliver what it posted
        passes.at(i)();
        QCoreApplication::processEvents();
    };

    state.isLifecycleSuspended = true;
    state.requestRender(true);
    EXPECT_TRUE(passes.empty()) << "a suspended view drops requests";
    state.isLifecycleSuspended = false;

    state.requestRender(false);
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_FALSE(state.tiles.animationTileParams.empty()) << "the request prepares the tile set";
    state.requestRender(false);
    state.requestRender(true);
    state.requestRender(false);
    EXPECT_EQ(state.renderCount(), 1) << "folded requests start nothing";

    model->setAnimationRenderScale(0.5); // read by the pass when it runs
    runPass(0);
    EXPECT_EQ(settleDelays, 1) << "the first request was not forced";
    ASSERT_EQ(passes.size(), 2u) << "finishRender replays the pending request";
    EXPECT_EQ(state.renderCount(), 2);
    ASSERT_NE(state.leftTexture(), nullptr);
    EXPECT_EQ(state.leftTexture()->width(), 32);
    runPass(1);
    EXPECT_EQ(settleDelays, 1) << "the replayed pass is forced";
    EXPECT_EQ(passes.size(), 2u);

    const GpuTextureRef shown = state.leftTexture();
    state.requestRender(true);
    state.finishRender(); // as if that pass had ended without a frame
    state.requestRender(true);
    ASSERT_EQ(passes.size(), 4u);
    runPass(2); // generation 3 of 4
    EXPECT_EQ(state.leftTexture(), shown);
    EXPECT_FALSE(state.isRenderInFlight);

    // The real pool, end to end.
    state.setExecutor(RenderState::defaultExecutor());
    QSignalSpy textures(&state, &RenderState::texturesChanged);
    state.requestRender(true);
    ASSERT_TRUE(textures.wait(30000));
    ASSERT_NE(state.leftTexture(), nullptr);
    EXPECT_EQ(state.leftTexture()->height(), 24) << "render scale 0.5";

    // The window closes while its pass runs: the pass posts nothing.
    std::function<void()> pass;
    auto closing = std::make_unique<RenderState>(*model);
    closing->setExecutor([&pass](std::function<void()> p) { pass = std::move(p); });
    closing->viewSize = QSizeF(32, 32);
    closing->requestRender(true);
    ASSERT_TRUE(pass);
    closing.reset();
    pass();
    QCoreApplication::processEvents();
}

// The uploader records which image it got.
TEST(Completion, InstallsCurrentFramesCountsOnlySuccessesAndSecondsOfFrames) {
    auto model = makeMemoryModel();
    RenderState state(*model);
    std::vector<QSize> uploaded;
    double now = 100.0;
    state.setClock([&now] { return now; });
    state.setExecutor([](std::function<void()>) {});
    state.setUploader([&](const std::optional<RGBAImage>& image) {
        uploaded.push_back(image ? image->size() : QSize());
        return uploadImageToTexture(image);
    });
    state.requestRender(true); // generation 1
    const auto texture = [] { return GpuTexture::create(8, 8, StorageMode::gpuPrivate); };

    const GpuTextureRef left = texture(), right = texture();
    state.completeGPUCanvas(1, left, false, right, 8, 8);
    EXPECT_EQ(state.rightTexture(), nullptr) << "no right eye outside stereo";
    state.completeGPUCanvas(1, left, true, right, 8, 8);
    EXPECT_EQ(state.rightTexture(), right);
    // The same texture objects again are a new frame all the same: rings hand them back.
    QSignalSpy installed(&state, &RenderState::texturesChanged);
    const std::uint64_t generation = state.frameGeneration();
    state.completeGPUCanvas(1, left, true, right, 8, 8);
    EXPECT_EQ(installed.size(), 1);
    EXPECT_GT(state.frameGeneration(), generation);

    state.completeGPUCanvas(0, texture(), false, nullptr, 8, 8);
    state.completeGPUAutostereogram(2, texture(), 8, 8);
    state.completeCPUFailure(0, 8, 8);
    state.completeCPUCanvas(5, makeRGBAImage(4, 4), makeRGBAImage(4, 4), false, {}, 4, 4);
    EXPECT_EQ(state.leftTexture(), left) << "stale completions change nothing";
    EXPECT_TRUE(uploaded.empty());

    // The autostereogram is shown in place of the left image.
    state.completeCPUCanvas(1, makeRGBAImage(40, 10), makeRGBAImage(20, 10), false, {}, 20, 10);
    state.completeCPUCanvas(1, {}, makeRGBAImage(20, 10), true, makeRGBAImage(21, 10), 20, 10);
    EXPECT_NE(state.rightTexture(), nullptr);
    EXPECT_EQ(state.frameCount, 5);

    // Failures show the error frame, mono and uncounted.
    state.completeCPUFailure(1, 30, 20);
    EXPECT_EQ(state.rightTexture(), nullptr);
    const std::optional<RGBAImage> shown = readbackTexture(state.leftTexture());
    ASSERT_TRUE(shown);
    EXPECT_EQ(maxChannelDifference(*shown, *makeErrorImage(30, 20)), 0);
    state.completeGPUCanvas(1, nullptr, false, nullptr, 12, 10);
    state.completeGPUAutostereogram(1, nullptr, 14, 10);
    state.completeCPUCanvas(1, {}, {}, true, makeRGBAImage(4, 4), 16, 10);
    EXPECT_EQ(uploaded, (std::vector<QSize>{
                            {40, 10}, {20, 10}, {21, 10}, {30, 20}, {12, 10}, {14, 10}, {16, 10}}));
    EXPECT_EQ(state.frameCount, 5);

    // The rate counts the frames of windows of at least one second.
    state.frameCount = 0;
    QSignalSpy changed(&state, &RenderState::lastFpsChanged);
    for (double t : {100.0, 100.4, 100.8, 101.2}) {
        EXPECT_EQ(state.lastFps, 0);
        now = t;
        state.countFrame();
    }
    EXPECT_EQ(state.lastFps, 4);
    EXPECT_EQ(state.frameCount, 0);
    EXPECT_EQ(changed.count(), 1);
    // Slower than one frame a second: each frame closes a window of its own.
    now = 103.5;
    state.countFrame();
    EXPECT_EQ(state.lastFps, 1);
}

} // namespace
