// Complex square root, quotient and exponential for the inner loops (the
// spectral kernel, J0, K0).
//
// Each takes a short path in plain double arithmetic where its operands are
// finite and moderate (where that path cannot overflow, underflow or lose
// precision beyond the last bit), and hands every other case (zeros,
// infinities, NaN, extreme magnitudes) to the standard complex functions, so
// that the special values behave exactly as the standard type specifies.
#pragma once

#include <cmath>
#include <complex>

namespace nia::special {

namespace detail {

// Magnitudes whose squares and products stay well inside double range.
inline constexpr double moderate_high = 1e150;
inline constexpr double moderate_low = 1e-150;

// Both parts below moderate_high and at least one above moderate_low; false
// when either part is NaN.
inline bool moderate(double x, double y) noexcept {
    const double ax = std::fabs(x), ay = std::fabs(y);
    return ax < moderate_high && ay < moderate_high && (ax > moderate_low || ay > moderate_low);
}

}  // namespace detail

// Principal square root: real part >= 0, imaginary part with the sign of the
// argument's imaginary part (signed zero included).
inline std::complex<double> principal_sqrt(std::complex<double> w) noexcept {
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
inline std::complex<double> quotient(std::complex<double> a, std::complex<double> b) noexcept {
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
inline std::complex<double> complex_exp(std::complex<double> e) noexcept {
    const double x = e.real(), y = e.imag();
    if (x > -700.0 && x < 700.0 && std::fabs(y) < 1e9) {
        const double m = std::exp(x);
        return {m * std::cos(y), m * std::sin(y)};
    }
    return std::exp(e);
}

}  // namespace nia::special
