#include "GaborMTKView.h"
#include "GpuGeneration.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// A texture whose top half is `top` and bottom half `bottom`.
GpuTextureRef makeTexture(QColor top, QColor bottom, int w = 8, int h = 8) {
    QImage image(w, h, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y, y < h / 2 ? top : bottom);
    return uploadImageToTexture(image);
}

GpuTextureRef solid(QColor c) {
    return makeTexture(c, c);
}

void expectNear(QRgb actual, int r, int g, int b, const char* where) {
    SCOPED_TRACE(where);
    EXPECT_NEAR(qRed(actual), r, 2);
    EXPECT_NEAR(qGreen(actual), g, 2);
    EXPECT_NEAR(qBlue(actual), b, 2);
}

int corrected(int v, double gamma, double lift) {
    const double c = std::pow(v / 255.0, 1.0 / gamma);
    return int(std::lround(255.0 * (lift + (1 - lift) * c)));
}

class Presenter : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(64, 32);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    QImage show(const GaborMTKView::Description& d) {
        view.updateView(d);
        return view.grabFramebuffer();
    }

    GaborMTKView view;
    const QColor red{200, 40, 20};
    const QColor blue{10, 60, 220};
};

} // namespace

TEST_F(Presenter, MonoFillsTheViewWithTexelRowZeroAtTheTop) {
    GaborMTKView::Description d;
    d.leftTexture = makeTexture(red, blue);
    const QImage frame = show(d);
    ASSERT_EQ(frame.size(), QSize(64, 32));
    expectNear(frame.pixel(2, 2), 200, 40, 20, "top left");
    expectNear(frame.pixel(61, 5), 200, 40, 20, "top right");
    expectNear(frame.pixel(2, 29), 10, 60, 220, "bottom left");
    expectNear(frame.pixel(61, 29), 10, 60, 220, "bottom right");
}

TEST_F(Presenter, StereoHalvesSwapForCrossEyedViewing) {
    GaborMTKView::Description d;
    d.leftTexture = solid(red);
    d.rightTexture = solid(blue);
    d.isStereoscopic = true;
    QImage frame = show(d);
    expectNear(frame.pixel(4, 16), 200, 40, 20, "parallel, left half");
    expectNear(frame.pixel(60, 16), 10, 60, 220, "parallel, right half");

    d.isCrossEyed = true;
    frame = show(d);
    expectNear(frame.pixel(4, 16), 10, 60, 220, "cross-eyed, left half");
    expectNear(frame.pixel(60, 16), 200, 40, 20, "cross-eyed, right half");

    // Entering stereo before the right eye exists shows the left canvas alone.
    d.rightTexture = nullptr;
    frame = show(d);
    expectNear(frame.pixel(4, 16), 200, 40, 20, "no right eye, left");
    expectNear(frame.pixel(60, 16), 200, 40, 20, "no right eye, right");
}

TEST(PresenterGeometry, OddWidthsSplitIntoFractionalHalves) {
    const auto halves = GaborMTKView::stereoViewports(1001, 600);
    EXPECT_EQ(halves[0], (GaborMTKView::Viewport{0.0f, 0.0f, 500.5f, 600.0f}));
    EXPECT_EQ(halves[1], (GaborMTKView::Viewport{500.5f, 0.0f, 500.5f, 600.0f}));
}

TEST_F(Presenter, DisplayCorrectionThenIlluminantTint) {
    GaborMTKView::Description d;
    d.leftTexture = solid(QColor(128, 64, 255));
    d.isColorInverted = true;
    QImage frame = show(d);
    expectNear(frame.pixel(30, 16), 127, 191, 0, "inverted");
    EXPECT_EQ(view.coordinator().inversionFlag(), 1.0f);

    d.isColorInverted = false;
    d.displayGamma = 2.2;
    frame = show(d);
    EXPECT_EQ(view.coordinator().inversionFlag(), 0.0f);
    expectNear(frame.pixel(30, 16), corrected(128, 2.2, 0), corrected(64, 2.2, 0), 255, "gamma");

    d.displayGamma = 1.0;
    d.displayBlackLift = 0.25;
    frame = show(d);
    expectNear(frame.pixel(30, 16), corrected(128, 1, 0.25), corrected(64, 1, 0.25), 255,
               "black lift");

    // The tint multiplies the corrected colour: a lifted black still turns red.
    d.leftTexture = solid(QColor(0, 0, 0));
    d.illuminantTint = {1.0, 0.5, 0.0};
    frame = show(d);
    expectNear(frame.pixel(30, 16), 64, 32, 0, "lift then tint");
}

TEST_F(Presenter, IdenticalUpdatesDrawOnceAndEqualContentStillCounts) {
    GaborMTKView::Description d;
    d.leftTexture = solid(red);
    view.updateView(d);
    QSignalSpy drawn(&view, &GaborMTKView::frameDrawn);
    ASSERT_TRUE(drawn.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!view.coordinator().isDrawInFlight, 5000);
    const int draws = view.drawCount();

    view.updateView(d);
    view.updateView(d);
    QTest::qWait(100);
    EXPECT_EQ(view.drawCount(), draws);

    d.leftTexture = solid(red); // same texels, another texture
    view.updateView(d);
    QTRY_COMPARE_WITH_TIMEOUT(view.drawCount(), draws + 1, 5000);

    GaborMTKView::Coordinator c; // values compare exactly
    d.displayGamma = 1.0 + 1e-15;
    EXPECT_TRUE(c.update(d));
    EXPECT_FALSE(c.update(d));
}

TEST_F(Presenter, TextureArrivingMidFrameIsDrawnWhenTheFrameCompletes) {
    GaborMTKView::Description first;
    first.leftTexture = solid(red);
    GaborMTKView::Description second;
    second.leftTexture = solid(blue);
    bool handedOver = false;
    // The second texture arrives while the first frame is still on the GPU.
    QObject::connect(&view, &GaborMTKView::frameDrawn, &view, [&] {
        if (handedOver)
            return;
        handedOver = true;
        EXPECT_TRUE(view.coordinator().isDrawInFlight);
        view.updateView(second);
        EXPECT_TRUE(view.isDisplayPending());
    });
    view.updateView(first);
    QTRY_VERIFY_WITH_TIMEOUT(handedOver, 5000);
    const int draws = view.drawCount();
    QTRY_VERIFY_WITH_TIMEOUT(view.drawCount() > draws, 5000);
    EXPECT_FALSE(view.isDisplayPending());
    EXPECT_EQ(view.coordinator().leftTexture, second.leftTexture);
    expectNear(view.grabFramebuffer().pixel(30, 16), 10, 60, 220, "second texture");
}
