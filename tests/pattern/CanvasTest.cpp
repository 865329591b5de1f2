#include "Canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// A P x P patch whose pixels name their variant and their own position.
RGBAImage labelled(int variant, int P) {
    RGBAImage image = *makeRGBAImage(P, P);
    for (int y = 0; y < P; ++y)
        for (int x = 0; x < P; ++x)
            image.setPixel(x, y, qRgba(10 + variant, x, y, 255));
    return image;
}

} // namespace

TEST(ComposeCanvas, BottomLeftGridOverridesAndBounds) {
    // The grid from the bottom left, each patch upright, partial cells cut at the
    // top: the GPU canvas draws the same, byte for byte (RenderCanvas, GpuAgreement).

    // An image of another size is drawn into the cell without smoothing.
    const RGBAImage scaled = *composeCanvas(16, 16, 16, {labelled(0, 8)}, {0}, {});
    EXPECT_EQ(scaled.pixel(5, 9), qRgba(10, 2, 4, 255));

    // A live image lies just past the end, as after a shrink, so reading one
    // slot too far shows up in the canvas.
    std::vector<RGBAImage> patches{labelled(0, 8), RGBAImage(), labelled(7, 8)};
    const RGBAImage pastTheEnd = patches.back();
    patches.pop_back();
    // Tile 1 overridden; 2 the first index past the patches; 3 beyond the index
    // list but overridden; 4 a null patch; 5 a negative index.
    const std::vector<int> indices{0, 0, 2, 0, 1, -1};
    const std::map<int, RGBAImage> overrides{{1, labelled(5, 8)}, {3, labelled(6, 8)}};
    const RGBAImage canvas = *composeCanvas(48, 8, 8, patches, indices, overrides);
    const int red[6] = {10, 15, 0, 16, 0, 0};
    for (int t = 0; t < 6; ++t)
        EXPECT_EQ(canvas.pixel(8 * t + 1, 0), red[t] ? qRgba(red[t], 1, 0, 255) : 0u) << t;

    EXPECT_EQ(*composeCanvas(20, 20, 8, patches, {}, {}), *makeRGBAImage(20, 20));

    // Absurd sizes stay bounded.
    patches = {labelled(0, 16)};
    const RGBAImage tiny = *composeCanvas(NAN, -5, 16, patches, {0}, {});
    EXPECT_EQ(tiny.size(), QSize(1, 1));
    EXPECT_EQ(tiny.pixel(0, 0), qRgba(10, 0, 15, 255)); // the cell's bottom-left pixel
    EXPECT_EQ(composeCanvas(1e308, 2, 16, patches, {0}, {})->size(), QSize(kMaxImageSide, 2));
    for (double P : {0.0, -1e308, double(NAN), 1e308, double(INFINITY)})
        EXPECT_EQ(composeCanvas(40, 30, P, patches, {0, 0, 0}, {})->size(), QSize(40, 30)) << P;
}

TEST(TintPatch, BlackLevelThenHue) {
    RGBAImage patch = *makeRGBAImage(4, 1);
    const int greys[4] = {127, 100, 215, 255};
    for (int x = 0; x < 4; ++x)
        patch.setPixel(x, 0, qRgba(greys[x], greys[x], greys[x], 255));

    // No grey step: the background takes the tint scaled by 127/255.
    EXPECT_EQ(tintPatch(patch, 0, 0).pixel(0, 0), qRgb(117, 10, 10));
    EXPECT_EQ(tintPatch(patch, 0, 0.001).pixel(0, 0), qRgb(117, 10, 10));
    // Level 1: the background goes black before the multiply, highlights stay.
    EXPECT_EQ(tintPatch(patch, 0, 1).pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(tintPatch(patch, 0, 1).pixel(3, 0), qRgb(236, 19, 19));
    // Level 0.5 (g = 0.25): 2gb below mid-grey, 1 - 2(1 - g)(1 - b) above;
    // hue 0.1 is (0.925, 0.585, 0.075).
    EXPECT_EQ(tintPatch(patch, 0.1, 0.5).pixel(1, 0), qRgb(46, 29, 4));    // 100 -> 50
    EXPECT_EQ(tintPatch(patch, 0.1, 0.5).pixel(2, 0), qRgb(180, 114, 15)); // 215 -> 195
    // Hues wrap, over several turns too.
    EXPECT_EQ(tintPatch(patch, -0.9, 0.5), tintPatch(patch, 0.1, 0.5));
    EXPECT_EQ(tintPatch(patch, 7.1, 0.5), tintPatch(patch, 0.1, 0.5));
    // A transparent pixel shows the fill colours alone: g = 0.25 is 64.
    EXPECT_EQ(tintPatch(*makeRGBAImage(1, 1), 0, 0).pixel(0, 0), qRgb(236, 19, 19));
    EXPECT_EQ(tintPatch(*makeRGBAImage(1, 1), 0, 0.5).pixel(0, 0), qRgb(59, 5, 5));
    EXPECT_TRUE(tintPatch(RGBAImage(), 0.3, 0.5).isNull());
}

TEST(ErrorImage, FillAndCross) {
    // Line coverage summed across a row: each line adds its horizontal width.
    const auto coverage = [](const RGBAImage& image, int y) {
        double sum = 0;
        for (int x = 0; x < image.width(); ++x)
            sum += (qRed(image.pixel(x, y)) - 51) / 204.0;
        return sum;
    };
    EXPECT_NEAR(coverage(*makeErrorImage(10, 400), 100), 2 * 1.0, 0.15); // 0.5 raised to 1
    const RGBAImage square = *makeErrorImage(200, 200);
    EXPECT_NEAR(coverage(square, 50), 2 * 10 * std::sqrt(2.0), 0.6);
    EXPECT_EQ(square.pixel(100, 3), qRgb(51, 0, 0));
    EXPECT_EQ(square.pixel(100, 100), qRgb(255, 102, 102));
    EXPECT_EQ(makeErrorImage(NAN, -1)->size(), QSize(1, 1));
}
