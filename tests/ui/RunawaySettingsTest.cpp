#include "ContentView.h"
#include "GpuGeneration.h"
#include "OptionEnums.h"
#include "PreferencesStore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

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
    EXPECT_TRUE(std::isfinite(state.phase));
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
