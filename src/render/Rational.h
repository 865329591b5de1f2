#pragma once

#include <cstdint>
#include <optional>

// An exact fraction of 128-bit integers, always in lowest terms with a positive
// denominator, so equal values are equal fields and convert to the same double.
// Times, speeds and periods of the animation are held this way so that a loop's
// end lands exactly on its start. Every operation that would overflow answers
// nothing; callers then fall back to doubles.
class Rational {
public:
    using Int = __int128;

    constexpr Rational() = default;
    constexpr Rational(std::int64_t whole) : m_num(whole) {} // NOLINT: a whole number is exact
    static std::optional<Rational> make(Int numerator, Int denominator);
    // The shortest decimal that reads back as v (0.1 is 1/10, not 3602879701896397/2^55),
    // as a person typed it; nothing for a non-finite or out-of-range value.
    static std::optional<Rational> fromDouble(double v);

    Int numerator() const { return m_num; }
    Int denominator() const { return m_den; }
    double toDouble() const;
    bool isZero() const { return m_num == 0; }
    bool isNegative() const { return m_num < 0; }

    friend bool operator==(const Rational&, const Rational&) = default;

    static std::optional<Rational> add(const Rational& a, const Rational& b);
    static std::optional<Rational> multiply(const Rational& a, const Rational& b);
    static std::optional<Rational> divide(const Rational& a, const Rational& b);
    // a - m * floor(a / m) for m > 0: in [0, m), with the sign of neither operand.
    static std::optional<Rational> modulo(const Rational& a, const Rational& m);
    // The smallest positive common multiple of two positive values.
    static std::optional<Rational> lcm(const Rational& a, const Rational& b);
    // a < b, exactly.
    static std::optional<bool> less(const Rational& a, const Rational& b);

private:
    Int m_num = 0;
    Int m_den = 1;
};
