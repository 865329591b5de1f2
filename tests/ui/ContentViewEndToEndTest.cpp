#include "ContentView.h"
#include "PreferencesStore.h"
#include "RenderPass.h"

#include <QTest>
#include <algorithm>
#include <cstdlib>
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
}
