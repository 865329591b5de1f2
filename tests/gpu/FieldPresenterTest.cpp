#include "FieldPresenter.h"
#include "GpuGeneration.h"
#include "GpuTestSupport.h"
#include "TestWaits.h"

#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// An 8 x 8 texture whose top half is `top` and bottom half `bottom`.
GpuTextureRef makeTexture(QColor top, QColor bottom) {
    RGBAImage image = *makeRGBAImage(8, 8);
    image.fill(top);
    QPainter(&image).fillRect(0, 4, 8, 4, bottom);
    return uploadImageToTexture(image);
}

class Presenter : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(64, 32);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.drawCount() > 0; }, 5000));
    }

    // Takes d and checks the listed pixels of what the window shows, within 2
    // per channel.
    void expectFrame(const FieldPresenter::Description& d,
                     std::initializer_list<std::pair<QPoint, QColor>> pixels) {
        view.updateView(d);
        const QImage frame = view.grabFrame();
        ASSERT_EQ(frame.size(), QSize(64, 32));
        for (const auto& [at, colour] : pixels) {
            const QColor a = frame.pixelColor(at);
            SCOPED_TRACE(QString("at %1,%2").arg(at.x()).arg(at.y()).toStdString());
            EXPECT_NEAR(a.red(), colour.red(), 2);
            EXPECT_NEAR(a.green(), colour.green(), 2);
            EXPECT_NEAR(a.blue(), colour.blue(), 2);
        }
    }

    // The draws of the presenter's own accord (a late expose from the platform
    // draws too), once every draw asked for so far has been made or kept pending.
    int ownDraws() {
        EXPECT_TRUE(finishTurn());
        return view.ownDrawCount();
    }

    FieldPresenter view;
    const QColor red{200, 40, 20}, blue{10, 60, 220};
    const GpuTextureRef redTexture = makeTexture(red, red), blueTexture = makeTexture(blue, blue);
};

} // namespace

TEST_F(Presenter, LayoutThenDisplayCorrectionThenTintThenOverlays) {
    FieldPresenter::Description d;
    d.leftTexture = makeTexture(red, blue);
    expectFrame(d, {{{2, 2}, red}, {{61, 5}, red}, {{2, 29}, blue}, {{61, 29}, blue}});

    // Entering stereo before the right eye exists shows the left canvas alone.
    d.leftTexture = redTexture;
    d.isStereoscopic = true;
    d.stereoLayout = StereoLayout::cross;
    expectFrame(d, {{{4, 16}, red}, {{60, 16}, red}});

    // Display correction, then the illuminant tint.
    d = {};
    d.leftTexture = makeTexture(QColor(128, 64, 255), QColor(128, 64, 255));
    d.isColorInverted = true;
    expectFrame(d, {{{30, 16}, QColor(127, 191, 0)}});
    d.isColorInverted = false;
    d.displayGamma = 2.2;
    expectFrame(d, {{{30, 16}, QColor(186, 136, 255)}});
    d.displayGamma = 1.0;
    d.displayBlackLift = 0.25;
    expectFrame(d, {{{30, 16}, QColor(160, 112, 255)}});
    d.displayBlackLift = 0.0;
    d.illuminantTint = {0.5, 1.0, 0.25};
    expectFrame(d, {{{30, 16}, QColor(64, 64, 64)}});
    // The tint multiplies the corrected colour: a lifted black still turns red.
    d.leftTexture = makeTexture(Qt::black, Qt::black);
    d.displayBlackLift = 0.25;
    d.illuminantTint = {1.0, 0.5, 0.0};
    expectFrame(d, {{{30, 16}, QColor(64, 32, 0)}});

    // The border and the overlays go over the picture, each faded as asked; no
    // frame, only the black canvas under them.
    d = {};
    view.setBorderColor(QColor(255, 255, 255, 51));
    QImage patch(10, 6, QImage::Format_RGBA8888_Premultiplied);
    patch.fill(QColor(200, 100, 0));
    QPainter(&patch).fillRect(0, 3, 10, 3, QColor(0, 160, 0)); // the lower half
    view.setOverlay(FieldPresenter::statusBarOverlay, {patch, {4, 3}, 1.0});
    view.setOverlay(FieldPresenter::toastOverlay, {patch, {40, 20}, 0.5});
    expectFrame(d, {{{0, 10}, QColor(51, 51, 51)},
                    {{20, 31}, QColor(51, 51, 51)},
                    {{2, 10}, Qt::black},
                    {{4, 3}, QColor(200, 100, 0)},
                    {{13, 8}, QColor(0, 160, 0)},
                    {{14, 8}, Qt::black},
                    {{45, 22}, QColor(100, 50, 0)}});
}

TEST_F(Presenter, EveryStereoLayoutIsItsCpuDefinitionOverTheWholeFrame) {
    // An odd width, tall enough for the marks; the device's pixels per point.
    view.resize(97, 70);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.grabFrame().size() == QSize(97, 70); }, 5000));
    const double scale = view.devicePixelRatio();
    const int W = int(std::lround(97 * scale)), H = int(std::lround(70 * scale));
    // Inverted: the display correction goes over every part of the frame (halves,
    // surround, marks, the anaglyph's mix), and inverting is exact on the CPU.
    const struct {
        StereoLayout layout;
        StereoPairSize pair;
        bool inverted = false;
    } cases[] = {{StereoLayout::parallel, {}},
                 {StereoLayout::cross, {30, 7, true}},
                 {StereoLayout::parallel, {0, 3, true}, true},
                 {StereoLayout::anaglyph, {}},
                 {StereoLayout::anaglyph, {}, true},
                 {StereoLayout::interleaved, {}}};
    for (const auto& [layout, pair, inverted] : cases) {
        SCOPED_TRACE(StereoLayouts::rawValue(layout).toStdString() + " " +
                     std::to_string(pair.halfWidth) + (inverted ? " inverted" : ""));
        const PairPlacement p = placePair(W, H, scale, pair);
        const QSize eye =
            StereoLayouts::isSideBySide(layout) ? QSize(p.halfWidth, p.halfHeight) : QSize(W, H);
        const RGBAImage left = pattern(eye.width(), eye.height(), 1);
        const RGBAImage right = pattern(eye.width(), eye.height(), 4);
        view.updateView({.leftTexture = uploadImageToTexture(left),
                         .rightTexture = uploadImageToTexture(right),
                         .isStereoscopic = true,
                         .stereoLayout = layout,
                         .stereoPair = pair,
                         .isColorInverted = inverted});
        const RGBAImage shown =
            view.grabFrame().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        RGBAImage expected = *composeStereoFrame(layout, left, right, W, H, p);
        if (inverted)
            expected.invertPixels();
        // The anaglyph's sums are rounded in single precision on the GPU.
        EXPECT_LE(maxChannelDifference(shown, expected), layout == StereoLayout::anaglyph ? 1 : 0);
    }
}

TEST_F(Presenter, ASingleCanvasShowsItsTexelsInEitherTexelOrder) {
    // Cells of 24 cut at the top and right, a spin; shown plain (copied to the
    // window) and corrected (shaded), the canvas composed by the processor gives
    // the pixels of the one copied on the GPU, and plain only, its own texels.
    const double scale = view.devicePixelRatio();
    const int W = int(std::lround(64 * scale)), H = int(std::lround(32 * scale));
    const std::vector<TileParams> sets = {{0, 3, 0.3, 1}, {45, 2, 0.5, 0.8}};
    CanvasTexturePool pool;
    for (const double gamma : {1.0, 1.8}) {
        FieldPresenter::Description d;
        d.displayGamma = gamma;
        std::vector<QImage> frames;
        for (const CanvasTiles delivery : {CanvasTiles::copied, CanvasTiles::composedByProcessor}) {
            d.leftTexture =
                renderCanvasGPU(sets, {1, 0, 0, 1, 1, 0, 0, 1, 1}, {{2, 40}}, 24, {1, 1}, {}, false,
                                W, H, 1.3, 0.85, 0, StorageMode::gpuPrivate, pool, delivery)
                    .texture;
            ASSERT_TRUE(d.leftTexture);
            view.updateView(d);
            frames.push_back(
                view.grabFrame().convertToFormat(QImage::Format_RGBA8888_Premultiplied));
            // Corrected, the pixels are not the texels.
            EXPECT_EQ(maxChannelDifference(frames.back(), *readbackTexture(d.leftTexture)) == 0,
                      gamma == 1.0);
        }
        EXPECT_EQ(frames[0], frames[1]) << gamma;
    }
}

TEST_F(Presenter, DrawsOncePerChangeAndPicksUpATextureArrivingMidFrame) {
    FieldPresenter::Description d;
    d.leftTexture = redTexture;
    view.updateView(d);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.ownDrawCount() > 0; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.presenterState().isDrawInFlight; }, 5000));
    const int draws = ownDraws();
    view.updateView(d);
    view.updateView(d);
    EXPECT_EQ(ownDraws(), draws);
    EXPECT_FALSE(view.isDisplayPending());

    // A new texture and a new overlay in the same turn make one draw.
    QImage patch(4, 4, QImage::Format_RGBA8888_Premultiplied);
    patch.fill(Qt::white);
    d.leftTexture = blueTexture;
    view.updateView(d);
    view.setOverlay(FieldPresenter::toastOverlay, {patch, {1, 1}, 1.0});
    EXPECT_EQ(ownDraws(), draws + 1);
    EXPECT_FALSE(view.isDisplayPending());

    // The same texels in another texture are a change; the red texture then
    // arrives while that frame is still on the GPU.
    FieldPresenter::Description second;
    second.leftTexture = redTexture;
    bool handedOver = false;
    QObject::connect(&view, &FieldPresenter::frameDrawn, &view, [&] {
        if (view.ownDrawCount() == draws + 2 && !std::exchange(handedOver, true)) {
            EXPECT_TRUE(view.presenterState().isDrawInFlight);
            view.updateView(second);
            EXPECT_TRUE(view.isDisplayPending());
        }
    });
    d.leftTexture = makeTexture(blue, blue);
    view.updateView(d);
    ASSERT_TRUE(QTest::qWaitFor([&] { return handedOver; }, 5000));
    // The pending draw may have been made already by the time this looks.
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.ownDrawCount() >= draws + 3; }, 5000));
    EXPECT_EQ(ownDraws(), draws + 3);
    EXPECT_FALSE(view.isDisplayPending());
    EXPECT_EQ(view.presenterState().leftTexture, redTexture);
    expectFrame(second, {{{30, 16}, red}});

    FieldPresenter::PresenterState c; // values compare exactly
    d.displayGamma = 1.0 + 1e-15;
    EXPECT_TRUE(c.update(d));
    EXPECT_FALSE(c.update(d));
    ++d.frameGeneration; // a new frame in the same texture objects
    EXPECT_TRUE(c.update(d));
}
