#pragma once

#include "Rational.h"
#include "TileSet.h"

#include <cstdint>
#include <optional>
#include <vector>

class AppModel;

// The animation's rates, shared by the live clock and the frames addressed by time.
namespace animation {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kBreathingRate = 1.2566370614359172; // radians per second: one cycle in 5 s
constexpr std::int64_t kBreathingPeriod = 5;          // seconds
constexpr std::int64_t kIlluminantPeriod = 20;        // seconds per turn of the hue
constexpr double kSpinSpeed = 300.0;                  // degrees per second
constexpr double kSpinEnd = 540.0;                    // one and a half turns
constexpr double kSpinDuration = kSpinEnd / kSpinSpeed;
constexpr std::size_t kMaxSpins = 3;
} // namespace animation

// Which animations run and how fast, as the settings model holds them.
struct AnimationSettings {
    bool rotation = false;
    bool phaseDrift = false;
    bool breathing = false;
    bool spins = false;
    bool illuminant = false;
    double phaseSpeed = 1.0;     // cycles per second
    double rotationSpeed = 30.0; // degrees per second
    double spinInterval = 2.0;   // seconds between spin decisions, before the random part

    static AnimationSettings fromModel(const AppModel& model); // the pause plays no part
    bool any() const { return rotation || phaseDrift || breathing || spins || illuminant; }
    bool operator==(const AnimationSettings&) const = default;
};

// Everything the animation moves, at one time.
struct AnimationState {
    double phase = 0;                 // carrier phase, radians
    double breathingPhase = 0;        // radians
    double illuminantHue = 0;         // [0, 1)
    std::vector<double> orientations; // per parameter set, degrees
    std::vector<TileSpin> spins;      // running spins, at most three
};

// The animation t seconds after it started from the tile set's orientations, the
// given phases, hue 0 and no spin. Computed from t, not accumulated: a phase, a
// breathing phase and an orientation are exact remainders of their periods, so
// two times a whole number of periods apart give the same doubles, and t = 0
// gives the start values themselves. The spins are drawn from a generator of their
// own seeded by patternSeed, with the live clock's rules in continuous time: a
// decision after each interval plus a random 0 to 30 % of it, a random cell, at
// most three at once. With loop, t counts modulo loop and only the spins that end
// within the loop are drawn, so the state at loop is the state at 0.
AnimationState animationStateAt(const AnimationSettings& settings, const TileSet& tiles,
                                std::uint64_t patternSeed, const Rational& t, double startPhase = 0,
                                double startBreathingPhase = 0,
                                const std::optional<Rational>& loop = std::nullopt);

// The shortest duration, at most limit, after which every running periodic
// animation (phase, rotation, breathing, hue) is back at its start and that holds
// a whole number of frames at fps. Spins play no part. Nothing when no periodic
// animation runs or none is short enough.
std::optional<Rational> loopDuration(const AnimationSettings& settings, const Rational& fps,
                                     const Rational& limit);
