#include "ContentView.h"
#include "PreferencesStore.h"
#include "RenderPass.h"

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace {

class ContentViewEndToEnd : public ::testing::Test {
protected:
    // Shows the view with a fixed seed, waits for the first frame to reach the
    // presenter and for the scheduler to go idle.
    bool showFirstFrame() {
        view.renderState().patternSeed = 0x5eed5eed12345678ull;
        view.resize(800, 600);
        view.show();
        return QTest::qWaitFor(
            [this] {
                return view.presenter()->presenterState().leftTexture &&
                       !view.renderState().isRenderInFlight;
            },
            30000);
    }

    AppModel model{std::make_shared<MemoryPreferencesStore>()};
    SystemLoadMonitor monitor{QStringLiteral("/nonexistent"), false};
    ContentView view{model, nullptr, &monitor};
};

} // namespace

// Largest per-channel difference between the shown frame and the CPU's picture
// of the same snapshot, over the pixels of the cells whose variant `use` accepts.
int worstAgainstCpu(ContentView& view, const std::function<bool(int variant)>& use) {
    const QImage shown = view.presenter()->grabFrame();
    const RenderSnapshot snapshot = view.renderState().takeSnapshot(true);
    SIRDSShiftCache cache;
    const QImage expected = renderFrame(snapshot, AppModel::RenderingMode::cpu, 1.0, cache)
                                .leftImage.value_or(QImage());
    EXPECT_EQ(expected.size(), QSize(800, 600));
    if (shown.size() != expected.size())
        return 256;
    const CanvasGeometry g = passGeometry(snapshot, 1.0);
    int worst = 0;
    // The outermost pixels carry the canvas border.
    for (int y = 1; y + 1 < expected.height(); ++y) {
        for (int x = 1; x + 1 < expected.width(); ++x) {
            // Cells are counted from the bottom-left corner.
            const int cell = ((expected.height() - 1 - y) / g.P) * g.cols + x / g.P;
            if (!use(snapshot.variantIndices.at(size_t(cell))))
                continue;
            const QRgb a = shown.pixel(x, y);
            const QColor b = expected.pixelColor(x, y);
            worst = std::max({worst, std::abs(qRed(a) - b.red()), std::abs(qGreen(a) - b.green()),
                              std::abs(qBlue(a) - b.blue())});
        }
    }
    return worst;
}

TEST_F(ContentViewEndToEnd, ShowsTheFieldTheCpuDefinesForTheSeed) {
    model.setRenderingMode(AppModel::RenderingMode::cpu);
    ASSERT_TRUE(showFirstFrame());
    EXPECT_LE(worstAgainstCpu(view, [](int) { return true; }), 2);
}

TEST_F(ContentViewEndToEnd, GpuFieldMatchesTheCpuWhereTheEnvelopeFitsItsCell) {
    ASSERT_EQ(model.renderingMode(), AppModel::RenderingMode::gpu);
    ASSERT_TRUE(showFirstFrame());
    // The CPU generator caps the envelope at its cell, the GPU kernel does not,
    // so only sets whose breathing keeps the envelope inside agree.
    const RenderSnapshot snapshot = view.renderState().takeSnapshot(true);
    const std::vector<double> m =
        breathingMultipliers(snapshot.breathingPhaseOffsets, snapshot.breathingPhase);
    ASSERT_TRUE(std::any_of(m.begin(), m.end(), [](double v) { return 0.96 * v <= 1.0; }));
    EXPECT_LE(worstAgainstCpu(view, [&](int v) { return 0.96 * m.at(size_t(v)) <= 1.0; }), 2);
}

TEST_F(ContentViewEndToEnd, PhaseAnimationMovesThePictureAndCountsFrames) {
    ASSERT_TRUE(showFirstFrame());
    model.setIsPhaseAnimationEnabled(true);
    QImage previous = view.presenter()->grabFrame();
    int changes = 0;
    QSignalSpy frames(&view.renderState(), &RenderState::texturesChanged);
    for (int i = 0; i < 3; ++i) {
        frames.clear();
        ASSERT_TRUE(frames.wait(10000));
        const QImage next = view.presenter()->grabFrame();
        changes += next != previous;
        previous = next;
    }
    EXPECT_GE(changes, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.renderState().lastFps > 0; }, 10000));
}
