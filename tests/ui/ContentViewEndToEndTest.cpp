#include "ContentView.h"
#include "GpuGeneration.h"
#include "GpuTexture.h"
#include "OptionEnums.h"
#include "PreferencesStore.h"
#include "RenderPass.h"
#include "TestWaits.h"

#include <QFile>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <numbers>

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
    int worst = 0;
    for (int y = 1; y + 1 < expected.height(); ++y) {
        for (int x = 1; x + 1 < expected.width(); ++x) {
            const QRgb a = shown.pixel(x, y);
            const QColor b = expected.pixelColor(x, y);
            worst = std::max({worst, std::abs(qRed(a) - b.red()), std::abs(qGreen(a) - b.green()),
                              std::abs(qBlue(a) - b.blue())});
        }
    }
    EXPECT_LE(worst, 2);

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

namespace {

// Darkest and brightest red of a frame texture (255, 0 without one).
std::pair<int, int> redRange(const GpuTextureRef& texture) {
    int lo = 255, hi = 0;
    if (const std::optional<RGBAImage> image = readbackTexture(texture))
        for (int y = 0; y < image->height(); ++y)
            for (int x = 0; x < image->width(); ++x) {
                lo = std::min(lo, qRed(image->pixel(x, y)));
                hi = std::max(hi, qRed(image->pixel(x, y)));
            }
    return {lo, hi};
}

} // namespace

// Finite numbers as large as a double holds are valid settings: they must not
// turn the field white, and choosing a preset must bring back the normal speed.
TEST(RunawaySettings, HugeStoredSpeedsAnimateANormalFieldUntilNormalSpeedIsPicked) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Lumenweave.conf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nphaseAnimationSpeed=1e308\nrotationAnimationSpeed=-1e308\n"
               "stereoPhaseDisparity=1e308\nisPhaseAnimationEnabled=true\n"
               "isRotationAnimationEnabled=true\nisStereoscopicMode=true\n");
    file.close();

    AppModel model(std::make_shared<FilePreferencesStore>(path));
    ASSERT_EQ(model.phaseAnimationSpeed(), 1e308) << "the store keeps any finite number";
    ASSERT_EQ(model.stereoPhaseDisparity(), 1e308);
    SystemLoadMonitor monitor{QStringLiteral("/nonexistent"), false};
    ContentView view{model, nullptr, &monitor};
    RenderState& state = view.renderState();
    state.patternSeed = 1; // contrasts 0.98 and 0.83
    view.resize(240, 120);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    QSignalSpy frames(&state, &RenderState::texturesChanged);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() >= 4; }, 30000));
    const std::optional<RGBAImage> earlier = readbackTexture(state.leftTexture());
    ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() >= 8; }, 30000));
    for (const GpuTextureRef& eye : {state.leftTexture(), state.rightTexture()}) {
        const auto [lo, hi] = redRange(eye);
        EXPECT_LT(lo, 60) << "a Gabor field, not a uniform one";
        EXPECT_GT(hi, 195);
    }
    // Rotation steps adding up to a half turn show the same field (the phase stands
    // still: its step overflows), so later frames count too.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return readbackTexture(state.leftTexture()) != earlier; }, 30000))
        << "the field moves";

    // The normal preset, as the panel applies it.
    AnimationSpeeds::apply(AnimationSpeed::normal, model);
    const double phase = state.phase;
    state.animationTick(0.05);
    EXPECT_NEAR(
        std::remainder(state.phase - phase - 0.05 * 2 * std::numbers::pi, 2 * std::numbers::pi), 0,
        1e-9)
        << "one cycle a second from the next tick on";
}
