// What every layer of the numeric core shares: the complex type, pi, the unit
// roundoff of binary64, and the complex square root, quotient and exponential
// of the inner loops (the spectral kernel, J0, K0).
//
// Each function takes a short path in plain double arithmetic where its
// operands are finite and moderate (where that path cannot overflow, underflow
// or lose precision beyond the last bit), and hands every other case (zeros,
// infinities, NaN, extreme magnitudes) to the standard complex functions, so
// that the special values behave exactly as the standard type specifies.
#pragma once

#include <cmath>
#include <complex>

namespace nia::core {

using complex = std::complex<double>;

// pi, the double nearest.
inline constexpr double pi = 3.141592653589793;
// 2^-52: the spacing of doubles at 1, the relative accuracy aimed at.
inline constexpr double unit_roundoff = 0x1p-52;

namespace detail {

// Magnitudes whose squares and products stay well inside double range.
inline constexpr double moderate_high = 1e150;
inline constexpr double moderate_low = 1e-150;
// The short path of complex_exp: below exp_magnitude_limit e^x is normal and
// finite; below exp_phase_limit the phase is moderate (the inner loops stay
// far below it), larger ones go to the standard function.
inline constexpr double exp_magnitude_limit = 700.0;
inline constexpr double exp_phase_limit = 1e9;

// Both parts below moderate_high and at least one above moderate_low; false
// when either part is NaN.
inline bool moderate(double x, double y) noexcept {
    const double ax = std::fabs(x), ay = std::fabs(y);
    return ax < moderate_high && ay < moderate_high && (ax > moderate_low || ay > moderate_low);
}

}  // namespace detail

// Principal square root: real part >= 0, imaginary part with the sign of the
// argument's imaginary part (signed zero included).
inline complex principal_sqrt(complex w) noexcept {
    const double x = w.real(), y = w.imag();
    if (!detail::moderate(x, y)) return std::sqrt(w);
    const double r = std::sqrt(x * x + y * y);
    if (x >= 0.0) {
        const double t = std::sqrt(0.5 * (r + x));
        return {t, y / (2.0 * t)};
    }
    const double t = std::sqrt(0.5 * (r - x));
    return {std::fabs(y) / (2.0 * t), std::copysign(t, y)};
}

// Quotient a / b.
inline complex quotient(complex a, complex b) noexcept {
    const double c = b.real(), d = b.imag();
    if (detail::moderate(c, d) && detail::moderate(a.real(), a.imag())) {
        const double inv = 1.0 / (c * c + d * d);
        const double re = (a.real() * c + a.imag() * d) * inv;
        const double im = (a.imag() * c - a.real() * d) * inv;
        if (std::isfinite(re) && std::isfinite(im)) return {re, im};
    }
    return a / b;
}

// exp(x + iy) = e^x (cos y + i sin y).
inline complex complex_exp(complex e) noexcept {
    const double x = e.real(), y = e.imag();
    if (x > -detail::exp_magnitude_limit && x < detail::exp_magnitude_limit &&
        std::fabs(y) < detail::exp_phase_limit) {
        const double m = std::exp(x);
        return {m * std::cos(y), m * std::sin(y)};
    }
    return std::exp(e);
}

// exp(x + iy) - 1 without the cancellation near zero: e^x cos y - 1 as
// expm1(x) cos y - 2 sin^2(y/2).
inline complex complex_expm1(complex e) noexcept {
    const double x = e.real(), y = e.imag();
    if (x > -detail::exp_magnitude_limit && x < detail::exp_magnitude_limit &&
        std::fabs(y) < detail::exp_phase_limit) {
        const double h = std::sin(0.5 * y);
        return {std::expm1(x) * std::cos(y) - 2.0 * h * h, std::exp(x) * std::sin(y)};
    }
    return std::exp(e) - 1.0;
}

// Double-double arithmetic: a value hi + lo with |lo| <= ulp(hi)/2, for the
// few quantities whose rounding would otherwise be magnified (the phase
// k rho of a wave at a million wavelengths, where one ulp of the product is
// already 1e-8 radian). Error-free transformations of Knuth (two_sum) and of
// the fused multiply-add (two_product); products keep about 100 bits.
struct double_double {
    double hi;
    double lo;
};

// a + b = s + e exactly.
inline double_double two_sum(double a, double b) noexcept {
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return {s, e};
}

// a b = p + e exactly (barring underflow).
inline double_double two_product(double a, double b) noexcept {
    const double p = a * b;
    return {p, std::fma(a, b, -p)};
}

inline double_double operator+(double_double x, double_double y) noexcept {
    const double_double s = two_sum(x.hi, y.hi);
    return two_sum(s.hi, s.lo + (x.lo + y.lo));
}

inline double_double operator-(double_double x) noexcept { return {-x.hi, -x.lo}; }

inline double_double operator-(double_double x, double_double y) noexcept { return x + (-y); }

inline double_double operator*(double_double x, double_double y) noexcept {
    const double_double p = two_product(x.hi, y.hi);
    return two_sum(p.hi, p.lo + (x.hi * y.lo + x.lo * y.hi));
}

// exp(-i (hi + lo)) for a phase held as a double-double: the standard cosine
// and sine reduce the double hi exactly, and lo (below an ulp of hi) turns the
// result by a small angle.
inline complex unit_phase(double_double x) noexcept {
    const complex big(std::cos(x.hi), -std::sin(x.hi));
    const complex small(std::cos(x.lo), -std::sin(x.lo));
    return big * small;
}

}  // namespace nia::core
