#include "Rational.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

using Int = Rational::Int;

Int absolute(Int v) {
    return v < 0 ? -v : v;
}

Int gcd(Int a, Int b) {
    a = absolute(a);
    b = absolute(b);
    while (b != 0) {
        const Int r = a % b;
        a = b;
        b = r;
    }
    return a;
}

std::optional<Int> times(Int a, Int b) {
    Int r;
    if (__builtin_mul_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

std::optional<Int> plus(Int a, Int b) {
    Int r;
    if (__builtin_add_overflow(a, b, &r))
        return std::nullopt;
    return r;
}

// floor(a / b) remainder for b > 0: in [0, b).
Int floorRemainder(Int a, Int b) {
    const Int r = a % b;
    return r < 0 ? r + b : r;
}

// The most negative value has no magnitude of its own; it is kept out.
constexpr Int kLimit = ~(Int(1) << 127);

} // namespace

std::optional<Rational> Rational::make(Int numerator, Int denominator) {
    if (denominator == 0 || numerator < -kLimit || denominator < -kLimit)
        return std::nullopt;
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    const Int g = gcd(numerator, denominator);
    Rational r;
    r.m_num = numerator / g;
    r.m_den = denominator / g;
    return r;
}

std::optional<Rational> Rational::fromDouble(double v) {
    if (!std::isfinite(v))
        return std::nullopt;
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    if (ec != std::errc())
        return std::nullopt;
    *end = '\0';
    // Digits, an optional point, an optional exponent: "-0.25", "1e-05", "12345".
    const char* p = text;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    Int mantissa = 0;
    int exponent = 0;
    bool seenPoint = false;
    for (; *p != '\0' && *p != 'e'; ++p) {
        if (*p == '.') {
            seenPoint = true;
            continue;
        }
        const auto digit = times(mantissa, 10);
        if (!digit)
            return std::nullopt;
        mantissa = *digit + (*p - '0');
        if (seenPoint)
            --exponent;
    }
    if (*p == 'e')
        exponent += std::atoi(p + 1);
    Int scale = 1;
    for (int i = 0; i < std::abs(exponent); ++i) {
        const auto next = times(scale, 10);
        if (!next)
            return std::nullopt;
        scale = *next;
    }
    const Int signedMantissa = negative ? -mantissa : mantissa;
    if (exponent >= 0) {
        const auto whole = times(signedMantissa, scale);
        return whole ? make(*whole, 1) : std::nullopt;
    }
    return make(signedMantissa, scale);
}

double Rational::toDouble() const {
    return double(m_num) / double(m_den);
}

std::optional<Rational> Rational::add(const Rational& a, const Rational& b) {
    const Int g = gcd(a.m_den, b.m_den);
    const auto left = times(a.m_num, b.m_den / g);
    const auto right = times(b.m_num, a.m_den / g);
    const auto den = times(a.m_den / g, b.m_den);
    if (!left || !right || !den)
        return std::nullopt;
    const auto num = plus(*left, *right);
    return num ? make(*num, *den) : std::nullopt;
}

std::optional<Rational> Rational::multiply(const Rational& a, const Rational& b) {
    // Cancelled crosswise first, so the products stay as small as they can
    // (a denominator is never 0, so neither divisor is).
    const Int g1 = gcd(a.m_num, b.m_den);
    const Int g2 = gcd(b.m_num, a.m_den);
    const auto num = times(a.m_num / g1, b.m_num / g2);
    const auto den = times(a.m_den / g2, b.m_den / g1);
    if (!num || !den)
        return std::nullopt;
    return make(*num, *den);
}

std::optional<Rational> Rational::divide(const Rational& a, const Rational& b) {
    if (b.m_num == 0)
        return std::nullopt;
    const auto inverse = make(b.m_den, b.m_num);
    return inverse ? multiply(a, *inverse) : std::nullopt;
}

std::optional<Rational> Rational::modulo(const Rational& a, const Rational& m) {
    if (m.m_num <= 0)
        return std::nullopt;
    // a/m = (a.n m.d) / (a.d m.n); its floored remainder over a.d m.d is the answer.
    const auto x = times(a.m_num, m.m_den);
    const auto y = times(a.m_den, m.m_num);
    const auto den = times(a.m_den, m.m_den);
    if (!x || !y || !den)
        return std::nullopt;
    return make(floorRemainder(*x, *y), *den);
}

std::optional<Rational> Rational::lcm(const Rational& a, const Rational& b) {
    if (a.m_num <= 0 || b.m_num <= 0)
        return std::nullopt;
    // lcm(p/q, r/s) = lcm(p, r) / gcd(q, s) for fractions in lowest terms.
    const auto num = times(a.m_num / gcd(a.m_num, b.m_num), b.m_num);
    return num ? make(*num, gcd(a.m_den, b.m_den)) : std::nullopt;
}

std::optional<bool> Rational::less(const Rational& a, const Rational& b) {
    const auto left = times(a.m_num, b.m_den);
    const auto right = times(b.m_num, a.m_den);
    if (!left || !right)
        return std::nullopt;
    return *left < *right;
}
