#include "Canvas.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A P x P patch whose pixels name their variant and their own position.
RGBAImage labelledPatch(int variant, int P) {
    RGBAImage image = *makeRGBAImage(P, P);
    for (int y = 0; y < P; ++y)
        for (int x = 0; x < P; ++x) {
            uchar* p = image.scanLine(y) + 4 * x;
            p[0] = static_cast<uchar>(10 + variant);
            p[1] = static_cast<uchar>(x);
            p[2] = static_cast<uchar>(y);
            p[3] = 255;
        }
    return image;
}

RGBAImage solid(int side, QColor colour) {
    RGBAImage image = *makeRGBAImage(side, side);
    image.fill(colour);
    return image;
}

QRgb pixel(const RGBAImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 4 * x;
    return qRgba(p[0], p[1], p[2], p[3]);
}

QRgb labelled(int variant, int x, int y) {
    return qRgba(10 + variant, x, y, 255);
}

} // namespace

TEST(ComposeCanvas, PartialTilesAtTopAndRightOnly) {
    const int P = 32;
    std::vector<RGBAImage> patches;
    std::vector<int> indices;
    for (int t = 0; t < 16; ++t) {
        patches.push_back(labelledPatch(t, P));
        indices.push_back(t);
    }
    auto canvas = composeCanvas(100, 100, P, patches, indices, {});
    ASSERT_TRUE(canvas);
    ASSERT_EQ(canvas->size(), QSize(100, 100));

    // Tile 0 sits bottom-left, upright; tile 3 ends the bottom row.
    EXPECT_EQ(pixel(*canvas, 0, 99), labelled(0, 0, 31));
    EXPECT_EQ(pixel(*canvas, 0, 68), labelled(0, 0, 0));
    EXPECT_EQ(pixel(*canvas, 96, 99), labelled(3, 0, 31));
    // The right column keeps its left 4 columns, the top row its bottom 4 rows.
    EXPECT_EQ(pixel(*canvas, 99, 99), labelled(3, 3, 31));
    EXPECT_EQ(pixel(*canvas, 0, 0), labelled(12, 0, 28));
    EXPECT_EQ(pixel(*canvas, 0, 3), labelled(12, 0, 31));
    EXPECT_EQ(pixel(*canvas, 99, 0), labelled(15, 3, 28));
    // Row 1 starts at tile 4, counted upwards.
    EXPECT_EQ(pixel(*canvas, 33, 67), labelled(5, 1, 31));

    // Every pixel belongs to exactly the cell the bottom-up grid gives it.
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const int up = 99 - y;
            const int t = (up / P) * 4 + x / P;
            ASSERT_EQ(pixel(*canvas, x, y), labelled(t, x % P, P - 1 - up % P)) << x << "," << y;
        }
}

TEST(ComposeCanvas, ExactMultipleHasNoPartialCells) {
    std::vector<RGBAImage> patches{labelledPatch(0, 16), labelledPatch(1, 16)};
    std::vector<int> indices{0, 1, 1, 0, 0, 1};
    auto canvas = composeCanvas(32, 48, 16, patches, indices, {});
    ASSERT_TRUE(canvas);
    EXPECT_EQ(pixel(*canvas, 31, 0), labelled(1, 15, 0)); // tile 5, the top-right
    EXPECT_EQ(pixel(*canvas, 0, 47), labelled(0, 0, 15));
    EXPECT_EQ(pixel(*canvas, 16, 32), labelled(1, 0, 0)); // tile 1
}

TEST(ComposeCanvas, OverridesAndMissingImages) {
    const QColor red(255, 0, 0), blue(0, 0, 255);
    std::vector<RGBAImage> patches{solid(8, red), RGBAImage()};
    // Tile 1: overridden; tile 2: index past the patches; tile 3: beyond the
    // index list but overridden; tile 4: a null patch; tile 5: a negative index.
    std::vector<int> indices{0, 0, 7, 0, 1, -1};
    std::map<int, RGBAImage> overrides{{1, solid(8, blue)}, {3, solid(8, blue)}};
    auto canvas = composeCanvas(48, 8, 8, patches, indices, overrides);
    ASSERT_TRUE(canvas);
    const QRgb transparent = qRgba(0, 0, 0, 0);
    const QRgb expected[6] = {qRgb(255, 0, 0), qRgb(0, 0, 255), transparent,
                              qRgb(0, 0, 255), transparent,     transparent};
    for (int t = 0; t < 6; ++t)
        EXPECT_EQ(pixel(*canvas, 8 * t + 4, 4), expected[t]) << t;

    auto empty = composeCanvas(20, 20, 8, patches, {}, {});
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, *makeRGBAImage(20, 20));
}

TEST(ComposeCanvas, ImagesOfAnotherSizeAreScaledIntoTheCell) {
    // A 2 x 2 image: top row red, bottom row blue; drawn into a 16-pixel cell
    // without smoothing, each quarter is one colour.
    RGBAImage small = *makeRGBAImage(2, 2);
    small.setPixelColor(0, 0, Qt::red);
    small.setPixelColor(1, 0, Qt::red);
    small.setPixelColor(0, 1, Qt::blue);
    small.setPixelColor(1, 1, Qt::blue);
    auto canvas = composeCanvas(16, 16, 16, {small}, {0}, {});
    ASSERT_TRUE(canvas);
    EXPECT_EQ(pixel(*canvas, 2, 2), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*canvas, 13, 7), qRgb(255, 0, 0));
    EXPECT_EQ(pixel(*canvas, 2, 8), qRgb(0, 0, 255));
    EXPECT_EQ(pixel(*canvas, 15, 15), qRgb(0, 0, 255));
}

TEST(ComposeCanvas, AbsurdSizesStayBounded) {
    std::vector<RGBAImage> patches{solid(16, Qt::green)};
    auto tiny = composeCanvas(std::nan(""), -5, 16, patches, {0}, {});
    ASSERT_TRUE(tiny);
    EXPECT_EQ(tiny->size(), QSize(1, 1));
    EXPECT_EQ(pixel(*tiny, 0, 0), qRgb(0, 255, 0)); // the cell's bottom-left pixel

    auto wide = composeCanvas(1e308, 2, 16, patches, {0}, {});
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->size(), QSize(kMaxImageSide, 2));

    for (double P : {0.0, -1e308, std::nan(""), 1e308, double(INFINITY)}) {
        auto canvas = composeCanvas(40, 30, P, patches, {0, 0, 0}, {});
        ASSERT_TRUE(canvas) << P;
        EXPECT_EQ(canvas->size(), QSize(40, 30));
    }
}

TEST(HueToTint, ValuesAndWrapping) {
    const auto near = [](TintColor a, TintColor b) {
        return std::abs(a.r - b.r) < 1e-12 && std::abs(a.g - b.g) < 1e-12 &&
               std::abs(a.b - b.b) < 1e-12;
    };
    EXPECT_TRUE(near(hueToTint(0), {0.925, 0.075, 0.075}));
    EXPECT_TRUE(near(hueToTint(1.0 / 3), {0.075, 0.925, 0.075}));
    EXPECT_TRUE(near(hueToTint(1.0 / 12), {0.925, 0.5, 0.075})); // green on its ramp
    EXPECT_TRUE(near(hueToTint(-0.25), hueToTint(0.75)));
    EXPECT_TRUE(near(hueToTint(1.25), hueToTint(0.25)));
    EXPECT_TRUE(near(hueToTint(1.0), hueToTint(0.0)));
    // Far outside one turn the colour is still a colour.
    EXPECT_TRUE(near(hueToTint(7.25), hueToTint(0.25)));
    EXPECT_TRUE(near(hueToTint(-3.6), hueToTint(0.4)));
    for (double hue = -5; hue < 5; hue += 0.01) {
        const TintColor c = hueToTint(hue);
        for (double v : {c.r, c.g, c.b})
            ASSERT_TRUE(v >= 0 && v <= 1) << hue;
    }
}

TEST(TintPatch, BlackLevelThenHue) {
    RGBAImage patch = *makeRGBAImage(4, 1);
    const int greys[4] = {127, 100, 215, 255};
    for (int x = 0; x < 4; ++x)
        patch.setPixel(x, 0, qRgba(greys[x], greys[x], greys[x], 255));

    // No grey step: the background takes the tint scaled by 127/255.
    for (double level : {0.0, 0.001}) {
        const RGBAImage plain = tintPatch(patch, 0, level);
        EXPECT_EQ(pixel(plain, 0, 0), qRgb(117, 10, 10)) << level; // 127 x (0.925, 0.075)
    }

    // Level 1: the background goes black before the multiply, highlights stay.
    const RGBAImage black = tintPatch(patch, 0, 1);
    EXPECT_EQ(pixel(black, 0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(pixel(black, 3, 0), qRgb(236, 19, 19));

    // Level 0.5 (g = 0.25): dark side 2gb, bright side 1 - 2(1 - g)(1 - b);
    // hue 0.1 is (0.925, 0.585, 0.075).
    const RGBAImage half = tintPatch(patch, 0.1, 0.5);
    EXPECT_EQ(pixel(half, 1, 0), qRgb(46, 29, 4));           // 100 -> 50
    EXPECT_EQ(pixel(half, 2, 0), qRgb(180, 114, 15));        // 215 -> 195
    EXPECT_EQ(patch.pixel(1, 0), qRgba(100, 100, 100, 255)); // input untouched

    EXPECT_TRUE(tintPatch(RGBAImage(), 0.3, 0.5).isNull());
}

TEST(ErrorImage, FillAndCross) {
    // Red coverage summed across a row: each line adds its horizontal width.
    const auto coverage = [](const RGBAImage& image, int y) {
        double sum = 0;
        for (int x = 0; x < image.width(); ++x)
            sum += (image.constScanLine(y)[4 * x] - 51) / 204.0;
        return sum;
    };
    auto narrow = makeErrorImage(10, 400); // 10 x 0.05 = 0.5, raised to 1
    ASSERT_TRUE(narrow);
    EXPECT_NEAR(coverage(*narrow, 100), 2 * 1.0, 0.15);

    auto square = makeErrorImage(200, 200); // width 10: 10 x sqrt 2 across a row
    ASSERT_TRUE(square);
    EXPECT_NEAR(coverage(*square, 50), 2 * 10 * std::sqrt(2.0), 0.6);
    EXPECT_EQ(pixel(*square, 100, 3), qRgb(51, 0, 0));
    EXPECT_EQ(pixel(*square, 100, 100), qRgb(255, 102, 102));
    EXPECT_EQ(pixel(*square, 0, 199), qRgb(255, 102, 102));

    auto degenerate = makeErrorImage(std::nan(""), -1);
    ASSERT_TRUE(degenerate);
    EXPECT_EQ(degenerate->size(), QSize(1, 1));
}
