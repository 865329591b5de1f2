#include "AnimationState.h"

#include "AppModel.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace animation;

// The spins' own stream: the tile set's generator starts from the seed itself.
constexpr std::uint64_t kSpinStream = 0x5350494e5354524dULL;
// Below this the spin schedule of a long time would cost too much to replay.
constexpr double kMinSpinInterval = 0.01;
constexpr double kTwoMinus53 = 1.0 / 9007199254740992.0;
constexpr std::uint64_t kTwo53 = 1ULL << 53;

// x in [0, period): x itself when it already is.
double wrap(double x, double period) {
    if (!std::isfinite(x))
        return 0;
    if (x >= 0 && x < period)
        return x;
    const double r = std::fmod(x, period);
    const double w = r < 0 ? r + period : r;
    return w < period ? w : 0;
}

std::optional<Rational> product(const std::optional<Rational>& a,
                                const std::optional<Rational>& b) {
    return a && b ? Rational::multiply(*a, *b) : std::nullopt;
}

// (value + rate × t) modulo period, exactly where the numbers allow; the rate's
// decimal is taken as written.
double advanced(double value, double rate, const Rational& t, double period) {
    const auto exactPeriod = Rational::fromDouble(period);
    const auto moved = product(Rational::fromDouble(rate), t);
    const auto start = Rational::fromDouble(value);
    const auto sum = moved && start ? Rational::add(*start, *moved) : std::nullopt;
    const auto rest = sum && exactPeriod ? Rational::modulo(*sum, *exactPeriod) : std::nullopt;
    if (rest)
        return rest->toDouble();
    return wrap(value + std::fmod(rate * t.toDouble(), period), period);
}

// A start value plus whole turns' fractions: the start itself when the turns are whole.
double advancedFrom(double start, double turnsPerSecond, const Rational& t) {
    const auto turns = product(Rational::fromDouble(turnsPerSecond), t);
    const auto fraction = turns ? Rational::modulo(*turns, Rational(1)) : std::nullopt;
    const double f = fraction ? fraction->toDouble() : wrap(turnsPerSecond * t.toDouble(), 1.0);
    return wrap(start + kTwoPi * f, kTwoPi);
}

struct SpinStart {
    int tileIdx;
    double start; // seconds
};

// The spins running at time t (seconds), in the order they started, by the
// live clock's rules.
std::vector<SpinStart> spinsRunningAt(double interval, std::size_t cellCount,
                                      std::uint64_t patternSeed, double t,
                                      std::optional<double> loop) {
    std::vector<SpinStart> active;
    if (cellCount == 0)
        return active;
    if (!std::isfinite(interval) || interval < kMinSpinInterval)
        interval = std::isfinite(interval) ? kMinSpinInterval : 2.0;
    SplitMix64 random(patternSeed ^ kSpinStream);
    const auto endOf = [](const SpinStart& s) { return s.start + kSpinDuration; };
    // The accumulator starts at 0 and reaches the interval first at t = interval.
    double decision = interval;
    while (decision <= t && !(loop && decision + kSpinDuration > *loop)) {
        // What ended by a decision at or before t has ended by t too.
        std::erase_if(active, [&](const SpinStart& s) { return !(decision < endOf(s)); });
        if (active.size() >= kMaxSpins) {
            // The decision waits for the first spin to end.
            decision = endOf(active.front());
            continue;
        }
        const double headStart = -0.3 * interval;
        const double u = double(random.below(kTwo53)) * kTwoMinus53;
        double accumulator = headStart + (0.0 - headStart) * u;
        if (!(accumulator < 0))
            accumulator = headStart;
        const int cell = static_cast<int>(random.below(cellCount));
        if (std::none_of(active.begin(), active.end(),
                         [cell](const SpinStart& s) { return s.tileIdx == cell; }))
            active.push_back(SpinStart{cell, decision});
        decision += interval - accumulator;
    }
    std::erase_if(active, [&](const SpinStart& s) { return !(t < endOf(s)); });
    return active;
}

} // namespace

AnimationSettings AnimationSettings::fromModel(const AppModel& model) {
    AnimationSettings s;
    s.rotation = model.isRotationAnimationEnabled();
    s.phaseDrift = model.isPhaseAnimationEnabled();
    s.breathing = model.isBreathingEnabled();
    s.spins = model.isRandomTileSpinEnabled();
    s.illuminant = model.isIlluminantMode();
    s.phaseSpeed = model.phaseAnimationSpeed();
    s.rotationSpeed = model.rotationAnimationSpeed();
    s.spinInterval = model.randomSpinInterval();
    return s;
}

AnimationState animationStateAt(const AnimationSettings& settings, const TileSet& tiles,
                                std::uint64_t patternSeed, const Rational& time, double startPhase,
                                double startBreathingPhase, const std::optional<Rational>& loop) {
    Rational t = time;
    if (loop && !loop->isZero() && !loop->isNegative())
        t = Rational::modulo(time, *loop).value_or(time);

    AnimationState state;
    state.phase =
        settings.phaseDrift ? advancedFrom(startPhase, settings.phaseSpeed, t) : startPhase;
    state.breathingPhase =
        settings.breathing ? advancedFrom(startBreathingPhase, 1.0 / double(kBreathingPeriod), t)
                           : startBreathingPhase;
    state.illuminantHue =
        settings.illuminant ? advanced(0.0, 1.0 / double(kIlluminantPeriod), t, 1.0) : 0.0;

    const auto& params = tiles.animationTileParams;
    const auto& directions = tiles.animationTileRotationDirections;
    state.orientations.reserve(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        const double base = params[i].orientation;
        if (!settings.rotation) {
            state.orientations.push_back(base);
            continue;
        }
        const double r = i < directions.size() ? directions[i] : 1.0;
        state.orientations.push_back(advanced(base, r * settings.rotationSpeed, t, 360.0));
    }

    if (settings.spins) {
        const double now = t.toDouble();
        const std::optional<double> loopSeconds =
            loop ? std::optional<double>(loop->toDouble()) : std::nullopt;
        for (const SpinStart& s :
             spinsRunningAt(settings.spinInterval, tiles.animationTileVariantIndices.size(),
                            patternSeed, now, loopSeconds))
            state.spins.push_back(TileSpin{s.tileIdx, kSpinSpeed * (now - s.start)});
    }
    return state;
}

std::optional<Rational> loopDuration(const AnimationSettings& settings, const Rational& fps,
                                     const Rational& limit) {
    if (fps.isZero() || fps.isNegative())
        return std::nullopt;
    // Each running animation's period: one turn over its rate.
    std::vector<std::optional<Rational>> periods;
    const auto periodOf = [](double turnsPerSecond) -> std::optional<Rational> {
        const auto rate = Rational::fromDouble(std::fabs(turnsPerSecond));
        return rate ? Rational::divide(Rational(1), *rate) : std::nullopt;
    };
    if (settings.phaseDrift && settings.phaseSpeed != 0)
        periods.push_back(periodOf(settings.phaseSpeed));
    if (settings.rotation && settings.rotationSpeed != 0) {
        const auto degrees = Rational::fromDouble(std::fabs(settings.rotationSpeed));
        periods.push_back(degrees ? Rational::divide(Rational(360), *degrees) : std::nullopt);
    }
    if (settings.breathing)
        periods.push_back(Rational(kBreathingPeriod));
    if (settings.illuminant)
        periods.push_back(Rational(kIlluminantPeriod));
    if (periods.empty())
        return std::nullopt;
    // A whole number of frames: a multiple of the frame interval too.
    std::optional<Rational> loop = Rational::divide(Rational(1), fps);
    for (const auto& period : periods) {
        if (!period || !loop)
            return std::nullopt;
        loop = Rational::lcm(*loop, *period);
    }
    if (!loop || Rational::less(limit, *loop).value_or(true))
        return std::nullopt;
    return loop;
}
