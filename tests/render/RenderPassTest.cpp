#include "RenderTestSupport.h"

#include "GpuGeneration.h"
#include "RenderPass.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using Mode = AppModel::RenderingMode;
using Kind = RenderOutcome::Kind;

TEST(PassGeometry, RenderScaleShrinksThePass) {
    auto model = makeMemoryModel();
    RenderState state(*model);
    state.setBackingScaleProvider([] { return 2.0; });
    state.viewSize = QSizeF(800, 600);
    state.prepareAnimationTiles();
    const CanvasGeometry g = passGeometry(state.takeSnapshot(true), 0.5);
    EXPECT_EQ(g.renderW, 800);
    EXPECT_EQ(g.P, 128);
    EXPECT_EQ(g.tileCount(), 35);

    EXPECT_EQ(passScale(2, 1.7), 2.0);
    EXPECT_EQ(passScale(2, 0.2), 0.8);
    EXPECT_EQ(passScale(2, std::nan("")), 2.0);
}

// Each eye 64 x 32 at P = 16: four columns, two rows. The generator paints set
// i (frequency i + 1) in red (i + 1) x 50 and records each call; it fails set
// failFrequency - 1, at failPhase only when that is set.
TEST(CpuPath, FailedSetsBreathingAndSpins) {
    RenderSnapshot snap;
    snap.viewWidth = 128;
    snap.viewHeight = 32;
    snap.maxPatchSize = 16;
    snap.isStereoscopicMode = true;
    snap.tileParams = {{0, 1, 0.32, 1}, {10, 2, 0.32, 1}, {20, 3, 0.32, 1}};
    snap.variantIndices = {0, 1, 2, 0, 1, 2, 0, 1};
    snap.phase = 0.5;
    snap.stereoPhaseOffset = 1.0;
    SIRDSShiftCache cache;
    std::vector<std::array<double, 4>> calls; // frequency, orientation, phase, radius scale
    double failFrequency = 2, failPhase = -1; // both eyes lose set 1
    const PatchGenerator generator = [&](bool, bool, double w, double, double frequency,
                                         double orientation, double phase, double, double,
                                         double radiusScale) {
        calls.push_back({frequency, orientation, phase, radiusScale});
        std::optional<RGBAImage> image;
        if (frequency != failFrequency || (failPhase >= 0 && phase != failPhase)) {
            image = makeRGBAImage(int(w), int(w));
            image->fill(QColor(int(frequency) * 50, 0, 0));
        }
        return image;
    };
    const auto render = [&] { return renderFrame(snap, Mode::cpu, 1.0, cache, generator); };

    RenderOutcome out = render();
    ASSERT_TRUE(out.leftImage && out.rightImage);
    for (const RGBAImage& eye : {*out.leftImage, *out.rightImage}) { // bottom row: sets 0, 1, 2
        EXPECT_EQ(qRed(eye.pixel(8, 24)), 50);
        EXPECT_EQ(eye.pixel(24, 24), 0u) << "cells of the failed set stay transparent";
        EXPECT_EQ(qRed(eye.pixel(40, 24)), 150) << "set 2 stays on its own cells";
    }
    failPhase = 1.5; // only the right eye (phase 0.5 + 1.0) loses it
    out = render();
    EXPECT_TRUE(out.leftImage);
    EXPECT_FALSE(out.rightImage) << "the right eye made fewer patches";

    // Breathing and spins as the GPU path draws them: GpuAgreement. Here what
    // no tile set holds: a set without an offset, a spin on no cell.
    failFrequency = failPhase = -1;
    calls.clear();
    snap.isStereoscopicMode = false;
    snap.breathingPhase = 0.3;
    snap.breathingPhaseOffsets = {0.0, 1.0};
    snap.spins = {{99, 10}};
    render();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_DOUBLE_EQ(calls[2][3], 0.96 * (1 + 0.3 * std::sin(0.3)));

    snap.tileParams.resize(1);
    failFrequency = 1;
    EXPECT_EQ(render().kind, Kind::cpuFailure);
    snap.tileParams.clear();
    EXPECT_EQ(renderFrame(snap, Mode::gpu, 1.0, cache).kind, Kind::none);
}

// The same state through the GPU path and the CPU path, every cell compared:
// the breathing multipliers of seed 7 take some envelopes past the tile
// (0.96 x m > 1), which both generators clamp alike.
TEST(GpuAgreement, StereoColourSingleAndAutostereogramFrames) {
    auto model = makeMemoryModel();
    RenderState state(*model);
    state.patternSeed = 7;
    state.viewSize = QSizeF(150, 70);
    state.maxPatchSize = 32;
    state.phase = 0.7;
    state.breathingPhase = 0.2;
    state.randomSpinTiles = {{1, 100}, {6, 400}, {12, 20}};
    const auto prepare = [&] { // turned orientations
        state.clearTileSet();
        state.prepareAnimationTiles();
        for (TileParams& p : state.tiles.animationTileParams)
            p.orientation += 37;
        const std::vector<double> m =
            breathingMultipliers(state.tiles.breathingPhaseOffsets, state.breathingPhase);
        EXPECT_GT(0.96 * std::ranges::max(m), 1.1);
    };
    const auto render = [&](Mode mode) {
        return renderFrame(state.takeSnapshot(true), mode, 1.0, state.sirdsShiftCache());
    };
    const auto read = [](const GpuTextureRef& t) { return readbackTexture(t).value_or(QImage()); };

    prepare();
    for (int variant : {1, 2, 0}) { // stereo, colour, single
        SCOPED_TRACE(variant);
        model->setIsStereoscopicMode(variant == 1);
        model->setIsColorMode(variant == 2);
        const RenderOutcome gpu = render(Mode::gpu), cpu = render(Mode::cpu);
        ASSERT_EQ(gpu.kind, Kind::gpuCanvas);
        ASSERT_EQ(cpu.kind, Kind::cpuCanvas);
        ASSERT_TRUE(cpu.leftImage);
        EXPECT_EQ(cpu.leftImage->size(), QSize(variant == 1 ? 75 : 150, 70));
        EXPECT_LE(maxChannelDifference(read(gpu.leftTexture), *cpu.leftImage), 1);
        ASSERT_EQ(bool(gpu.rightTexture), variant == 1);
        ASSERT_EQ(bool(cpu.rightImage), variant == 1);
        if (variant != 1)
            continue;
        const QImage left = read(gpu.leftTexture), right = read(gpu.rightTexture);
        EXPECT_LE(maxChannelDifference(right, *cpu.rightImage), 1);
        EXPECT_GT(maxChannelDifference(*cpu.leftImage, *cpu.rightImage), 1)
            << "the right eye sees a shifted phase";
        // The presenter still shows this frame while the next is made: each
        // eye's next canvas must go to a texture of its own.
        state.phase += 1;
        render(Mode::gpu);
        state.phase -= 1;
        EXPECT_EQ(read(gpu.leftTexture), left);
        EXPECT_EQ(read(gpu.rightTexture), right);
    }

    model->setIsAutostereogramMode(true);
    model->setSirdsStripColumns(2);
    prepare();
    const RenderOutcome gpu = render(Mode::gpu), cpu = render(Mode::cpu);
    ASSERT_EQ(gpu.kind, Kind::gpuAutostereogram);
    ASSERT_TRUE(cpu.leftImage && cpu.sirdsImage);
    ASSERT_EQ(cpu.leftImage->size(), QSize(64, 70)); // two 32-pixel columns
    const QImage gpuImage = read(gpu.leftTexture);
    EXPECT_EQ(maxChannelDifference(cpu.sirdsImage->copy(0, 0, 64, 70), *cpu.leftImage), 0)
        << "the CPU variant starts with the strip at the left edge";
    EXPECT_LE(maxChannelDifference(gpuImage.copy((150 - 64) / 2, 0, 64, 70), *cpu.leftImage), 1)
        << "the GPU variant centres it";
    EXPECT_GT(maxChannelDifference(gpuImage, *cpu.sirdsImage), 1);
}

} // namespace
