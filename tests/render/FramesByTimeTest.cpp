#include "AnimationState.h"
#include "RenderOptions.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TileSet tilesOf(std::uint64_t seed) {
    TileSet tiles;
    prepareAnimationTiles(tiles, {.patternSeed = seed, .viewWidth = 800, .viewHeight = 600});
    return tiles;
}

void expectSameState(const AnimationState& a, const AnimationState& b) {
    // Bit for bit: the same doubles make the same bytes.
    EXPECT_EQ(a.phase, b.phase);
    EXPECT_EQ(a.breathingPhase, b.breathingPhase);
    EXPECT_EQ(a.illuminantHue, b.illuminantHue);
    EXPECT_EQ(a.orientations, b.orientations);
    EXPECT_EQ(a.spins, b.spins);
}

TEST(FramesByTime, LoopsCloseExactlyAndMoveInBetween) {
    const TileSet tiles = tilesOf(5);
    const auto& directions = tiles.animationTileRotationDirections;
    ASSERT_NE(std::count(directions.begin(), directions.end(), -1.0), 0) << "a set turns backwards";

    const AnimationSettings rotation{.rotation = true}; // 30 degrees a second: 12 s
    const AnimationSettings phase{.phaseDrift = true, .phaseSpeed = 0.3}; // 10/3 s
    // 36 s, 10/3 s, breathing 5 s, illuminant 20 s
    const AnimationSettings allButSpins{.rotation = true,
                                        .phaseDrift = true,
                                        .breathing = true,
                                        .illuminant = true,
                                        .phaseSpeed = 0.3,
                                        .rotationSpeed = 10};
    const struct {
        AnimationSettings settings;
        Rational fps;
        Rational loop;
    } cases[] = {{rotation, 30, 12},
                 // 400/3 s, where doubles would miss the start
                 {{.rotation = true, .rotationSpeed = 2.7}, 30, *Rational::make(400, 3)},
                 {phase, 30, *Rational::make(10, 3)},
                 {phase, 25, 10},
                 {allButSpins, 30, 180},
                 {{.rotation = true, .spins = true, .spinInterval = 0.7}, 30, 12}};
    for (const auto& c : cases) {
        const auto loop = loopDuration(c.settings, c.fps, Rational(600));
        ASSERT_TRUE(loop);
        EXPECT_EQ(*loop, c.loop) << loop->toDouble();
        // Exact from t alone; the loop itself only matters to the spins.
        const auto at = [&](const Rational& t) {
            return animationStateAt(c.settings, tiles, 5, t, 1.1, 0.4,
                                    c.settings.spins ? loop : std::nullopt);
        };
        const AnimationState start = at(0);
        expectSameState(at(*loop), start);
        expectSameState(at(*Rational::multiply(*loop, 3)), start);
        const AnimationState middle = at(*Rational::divide(*loop, 2));
        EXPECT_TRUE(middle.phase != start.phase || middle.orientations != start.orientations);
        if (c.settings.spins) {
            // Spins run inside the loop and have all ended by its end.
            bool spun = false;
            for (int k = 0; k < 360; ++k)
                spun = spun || !at(*Rational::make(k, 30)).spins.empty();
            EXPECT_TRUE(spun);
            EXPECT_TRUE(at(*Rational::make(359, 30)).spins.empty());
        }
    }
    // Known values: a quarter turn of phase; a backwards set (at most 165 degrees to
    // start) half a turn on is in [0, 360), as the frame at t = 0 is.
    const AnimationState quarter = animationStateAt(phase, tiles, 5, Rational(0), 0, 0);
    EXPECT_EQ(animationStateAt(phase, tiles, 5, *Rational::make(5, 6), 0, 0).phase,
              6.283185307179586 * 0.25);
    EXPECT_EQ(quarter.phase, 0);
    const std::size_t back =
        std::find(directions.begin(), directions.end(), -1.0) - directions.begin();
    const double base = tiles.animationTileParams[back].orientation;
    EXPECT_EQ(animationStateAt(rotation, tiles, 5, Rational(6)).orientations[back], base + 180);

    // Nothing periodic runs, or it comes round only after ten minutes.
    EXPECT_FALSE(loopDuration({.spins = true}, 30, 600));
    EXPECT_FALSE(loopDuration({.rotation = true, .rotationSpeed = 0.1}, 30, 600));
}

TEST(FramesByTime, ALoopsFrameAfterTheLastIsItsFirst) {
    RenderRequest request;
    request.seed = 11;
    request.viewWidth = 96;
    request.viewHeight = 64;
    request.maxPatchSize = 32;
    request.phase = 0.7;
    AnimationSettings& a = request.animation;
    for (int kind = 0; kind < 3; ++kind) {
        a = AnimationSettings();
        a.rotation = kind != 1;
        a.phaseDrift = kind != 0;
        a.phaseSpeed = 0.3;
        a.breathing = a.illuminant = kind == 2;
        const auto loop = loopDuration(a, 30, 600);
        ASSERT_TRUE(loop);
        RequestRenderer renderer(request);
        const FrameImage first = renderer.frameAt(0);
        ASSERT_EQ(first.failure, FrameImage::Failure::none);
        EXPECT_EQ(maxChannelDifference(renderer.frameAt(*loop).image, first.image), 0) << kind;
        EXPECT_GT(maxChannelDifference(renderer.frameAt(*Rational::make(1, 30)).image, first.image),
                  0);
    }
}

TEST(FramesByTime, SpinsFollowTheClocksRulesFromTheSeed) {
    const TileSet tiles = tilesOf(9);
    AnimationSettings s{.spins = true};
    const auto spinsAt = [&](double t, std::uint64_t seed = 9) {
        return animationStateAt(s, tiles, seed, *Rational::fromDouble(t)).spins;
    };
    // The first decision comes when the accumulator reaches the interval.
    EXPECT_TRUE(spinsAt(1.99).empty());
    const auto first = spinsAt(2.0);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].rotDeg, 0);
    const auto later = spinsAt(2.9);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].tileIdx, first[0].tileIdx);
    EXPECT_NEAR(later[0].rotDeg, 270, 1e-9);
    EXPECT_TRUE(spinsAt(3.8).empty()) << "a spin ends at 540 degrees";

    // Short intervals: never more than three, never one cell twice; seeds differ.
    s.spinInterval = 0.2;
    std::set<int> cells, otherCells;
    for (int k = 0; k < 400; ++k) {
        const auto spins = spinsAt(k * 0.05);
        EXPECT_LE(spins.size(), 3u);
        std::set<int> running;
        for (const TileSpin& spin : spins) {
            EXPECT_TRUE(running.insert(spin.tileIdx).second);
            EXPECT_GE(spin.rotDeg, 0);
            EXPECT_LT(spin.rotDeg, 540);
            cells.insert(spin.tileIdx);
        }
        for (const TileSpin& spin : spinsAt(k * 0.05, 10))
            otherCells.insert(spin.tileIdx);
    }
    EXPECT_GT(cells.size(), 5u);
    EXPECT_NE(cells, otherCells);
}

TEST(FramesByTime, OptionsRefuseWhatCannotBeMadeWithOneLine) {
    const QList<QStringList> bad = {{"--size", "800by600", "out.png"},
                                    {"--no-such-option", "out.png"},
                                    {"--scale", "nan", "out.png"},
                                    {"--scale", " 2", "out.png"},
                                    {"--phase", "1e999", "out.png"},
                                    {"--generator", "metal", "out.png"},
                                    {"--columns", "2.5", "out.png"},
                                    {"--render-scale", "0.1", "out.png"},
                                    {"--seed", "+5", "out.png"},
                                    {"--seed", "-1", "out.png"},
                                    {"--seed", "0x1ffffffffffffffff", "out.png"},
                                    {"--stereo", "--autostereogram", "out.png"},
                                    {"--stereo-layout", "anaglyph", "--autostereogram", "out.png"},
                                    {"--pair-width", "6", "out.png"},
                                    {"--stereo-layout", "interleaved", "--gap", "1", "out.png"},
                                    {"--time", "-1", "out.png"},
                                    {"--rotation=1", "out.png"},
                                    {"out.png", "--seed"},
                                    {"--duration", "2", "out.avi"},
                                    {"--fps", "1000", "--duration", "1", "out.mkv"},
                                    {"--duration", "-1", "out.mkv"},
                                    {"--duration", "1.01", "out.mkv"},
                                    {"out.mkv"},
                                    {"--frames", "out.png"},
                                    {"--duration", "1", "out.png"},
                                    {"--loop", "out.mkv"},
                                    {"--loop", "--rotation", "--rotation-speed", "0.1", "out.mkv"},
                                    {"--loop", "--rotation", "--duration", "1", "out.mkv"}};
    for (const QStringList& arguments : bad) {
        const ParsedRenderOptions p = parseRenderOptions(arguments);
        EXPECT_FALSE(p.error.isEmpty()) << arguments.join(' ').toStdString();
        EXPECT_FALSE(p.error.contains('\n'));
    }

    // The ends of the ranges, the speed words and a loop's chosen length.
    const ParsedRenderOptions ok =
        parseRenderOptions({"--seed=0xFFFFFFFFFFFFFFFF", "--speed", "遅い", "--phase-drift",
                            "--loop", "--fps", "29.97", "out.webm"});
    ASSERT_TRUE(ok.error.isEmpty()) << ok.error.toStdString();
    EXPECT_EQ(ok.options.request.seed, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(ok.options.request.animation.phaseSpeed, 0.5);
    EXPECT_EQ(ok.options.kind, RenderOptions::Output::video);
    EXPECT_EQ(ok.options.duration, Rational(100)) << "2 s holds no whole number of frames";
    EXPECT_EQ(ok.options.frameCount(), 2997);
    EXPECT_TRUE(parseRenderOptions({"--help"}).options.help);

    // A layout names the stereo pair; a pair in centimetres at 96 points an inch.
    const RenderRequest pair =
        parseRenderOptions({"--stereo-layout", "交差", "--pair-width", "2.54", "--gap=0.5",
                            "--fusion-marks", "out.png"})
            .options.request;
    EXPECT_TRUE(pair.isStereoscopicMode);
    EXPECT_EQ(pair.stereoLayout, StereoLayout::cross);
    EXPECT_EQ(pair.stereoPair, (StereoPairSize{96, 0.5 * 96 / 2.54, true}));
}

} // namespace
