// Bessel function J0 of real and complex argument, and the sums P, Q of
// Hankel's large-argument expansion (DLMF 10.17.3-10.17.4).
//
// Three methods meet at |z| = 8 and |z| = 25: the power series below 8, where
// its terms stay moderate; Miller's backward recurrence from 8 to 25; the
// asymptotic expansion from 25 on, where its terms fall below 1e-20 before
// they start to grow.
#pragma once

#include <array>
#include <cmath>
#include <complex>

#include "../core/numeric.hpp"
#include "six_sum.hpp"

namespace nia::spectral {

using core::complex_exp;
using core::principal_sqrt;
using core::quotient;

namespace detail {

constexpr std::array<double, 82> make_reciprocal_table() {
    std::array<double, 82> t{};
    t[0] = 0.0;
    for (int k = 1; k < 82; ++k) t[k] = 1.0 / k;
    return t;
}

}  // namespace detail

// Entry 0 is 0, entry k is 1/k: the series reads 1..79, hankel_pq 1..40.
inline constexpr std::array<double, 82> reciprocal_table = detail::make_reciprocal_table();

// Below this squared modulus two terms of the series are exact to rounding.
inline constexpr double j0_tiny_sq = 1e-12;
// Squared switch radii: series below 8, recurrence below 25, expansion above.
inline constexpr double j0_series_sq = 64.0;
inline constexpr double j0_recurrence_sq = 625.0;
// The series stops once a term's squared modulus is this small against the
// largest term so far (terms below 1e-19 relative to the peak).
inline constexpr double j0_series_stop = 1e-38;
inline constexpr int j0_series_terms = 79;
// Miller's recurrence starts from this tiny value and rescales whenever a value
// passes the threshold, so that no intermediate overflows.
inline constexpr double j0_miller_seed = 1e-280;
inline constexpr double j0_miller_big = 1e250;
inline constexpr double j0_miller_rescale = 1e-250;
// Hankel's expansion stops when a term's squared modulus falls below this.
inline constexpr double hankel_pq_stop = 1e-40;
inline constexpr int hankel_pq_terms = 40;

namespace detail {

// Products on the series and recurrence paths, whose arguments are finite
// (|z| < 25): in real arithmetic, without the special-value handling of the
// complex product.
inline double product(double a, double b) noexcept { return a * b; }
inline complex product(complex a, complex b) noexcept {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

inline double divide(double a, double b) noexcept { return a / b; }
inline complex divide(complex a, complex b) noexcept { return quotient(a, b); }

}  // namespace detail

// P and Q of Hankel's expansion for order nu, mu = 4 nu^2:
// P = 1 - t2 + t4 - ..., Q = t1 - t3 + ..., t_k = prod_{j<=k} (mu - (2j-1)^2) / (8 j z).
// The sum stops before the terms start to grow (the series is asymptotic).
template <class T>
inline void hankel_pq(T z, double mu, T& p, T& q) noexcept {
    p = T(1.0);
    q = T(0.0);
    T t(1.0);
    const T inv = detail::divide(T(1.0), z);
    double previous = HUGE_VAL;
    for (int k = 1; k <= hankel_pq_terms; ++k) {
        const double odd = 2.0 * k - 1.0;
        t = t * ((mu - odd * odd) * 0.125 * reciprocal_table[k]) * inv;
        const double s = std::norm(t);
        if (s >= previous) break;
        if (k & 1) {
            if (((k - 1) / 2) % 2 == 0) q += t;
            else q -= t;
        } else {
            if (k % 4 == 2) p -= t;
            else p += t;
        }
        if (s < hankel_pq_stop) break;
        previous = s;
    }
}

namespace detail {

inline double squared(double x) noexcept { return x * x; }
inline double squared(complex z) noexcept { return std::norm(z); }

inline double max_part(double x) noexcept { return std::fabs(x); }
inline double max_part(complex z) noexcept {
    return std::fmax(std::fabs(z.real()), std::fabs(z.imag()));
}

// Power series sum_j (-z^2/4)^j / (j!)^2 (DLMF 10.2.2).
template <class T>
inline T j0_series(T z) noexcept {
    const T w = -product(z, z) * 0.25;
    T term(1.0);
    T sum(1.0);
    double peak = 1.0;
    for (int j = 1; j <= j0_series_terms; ++j) {
        const double r = reciprocal_table[j];
        term = product(term, w) * (r * r);
        sum += term;
        const double s = squared(term);
        if (s > peak) peak = s;
        if (s <= j0_series_stop * peak) break;
    }
    return sum;
}

inline double normalise(double j, double total) noexcept { return j / total; }
inline complex normalise(complex j, complex total) noexcept {
    return j * quotient(complex(1.0, 0.0), total);
}

// Miller's backward recurrence J_{k-1} = (2k/z) J_k - J_{k+1} from a start
// order well above |z|, normalised by J0 + 2 (J2 + J4 + ...) = 1 (DLMF 10.12.4).
template <class T>
inline T j0_recurrence(T z, double q) noexcept {
    const int n = 2 * static_cast<int>(0.75 * std::sqrt(q) + 16.0);
    const T r = divide(T(2.0), z);
    T j_next(0.0);          // J_{k+1}
    T j_k(j0_miller_seed);  // J_k
    T s(0.0);
    T j_0(0.0);
    for (int k = n; k >= 1; --k) {
        if ((k & 1) == 0) s += 2.0 * j_k;
        T j_prev = product(static_cast<double>(k) * r, j_k) - j_next;
        if (k == 1) j_0 = j_prev;
        if (max_part(j_prev) > j0_miller_big) {
            j_prev *= j0_miller_rescale;
            j_k *= j0_miller_rescale;
            s *= j0_miller_rescale;
            j_0 *= j0_miller_rescale;
        }
        j_next = j_k;
        j_k = j_prev;
    }
    return normalise(j_0, j_0 + s);
}

inline double j0_asymptotic(double x) noexcept {
    double p, q;
    hankel_pq(x, 0.0, p, q);
    return std::sqrt((1.0 / pi) / x) * ((p + q) * std::cos(x) + (p - q) * std::sin(x));
}

inline complex j0_asymptotic(complex z) noexcept {
    complex p, q;
    hankel_pq(z, 0.0, p, q);
    const complex f = principal_sqrt(quotient(complex(1.0, 0.0), pi * z));
    const double ch = std::cosh(z.imag()), sh = std::sinh(z.imag());
    const double c = std::cos(z.real()), s = std::sin(z.real());
    const complex cos_z(c * ch, -s * sh);
    const complex sin_z(s * ch, c * sh);
    return f * ((p + q) * cos_z + (p - q) * sin_z);
}

// J0 of a real argument x >= 0 (not tiny), in real arithmetic.
inline double j0_real(double x) noexcept {
    const double q = x * x;
    if (q < j0_series_sq) return j0_series(x);
    if (q < j0_recurrence_sq) return j0_recurrence(x, q);
    return j0_asymptotic(x);
}

}  // namespace detail

// Below this modulus Hankel's expansion is not used for the scaled Hankel
// function: from |z| = 25 on its terms fall below 1e-20 before they grow (the
// switch radius of J0 above).
inline constexpr double hankel_asymptotic_min = 25.0;

// The Hankel function of the second kind of order 0 or 1 without its phase,
// H_order^(2)(w) e^{i w}, for |w| >= hankel_asymptotic_min and -pi < arg w <= 0
// (the lower half-plane, where the far range needs it), by Hankel's expansion
// (DLMF 10.17.4): sqrt(2 / (pi w)) e^{i (order pi/2 + pi/4)} (P - i Q), P and Q
// of hankel_pq with mu = 4 order^2. The factor e^{-i w} that is left out is
// the caller's: it is formed there from the exact product k rho.
inline complex hankel2_scaled(int order, complex w) noexcept {
    complex p, q;
    hankel_pq(w, order == 0 ? 0.0 : 4.0, p, q);
    const complex amplitude = principal_sqrt(quotient(complex(2.0 / pi, 0.0), w));
    // e^{i pi/4} and e^{3 i pi/4}
    constexpr double h = 0.7071067811865476;
    const complex turn = order == 0 ? complex(h, h) : complex(-h, h);
    return amplitude * turn * (p - complex(0.0, 1.0) * q);
}

// J0(z) for complex z. A real argument (zero imaginary part) is evaluated in
// real arithmetic; a complex one with Re z < 0 is reflected, J0 being even.
inline complex bessel_j0(complex z) noexcept {
    const double re = z.real(), im = z.imag();
    const double q = re * re + im * im;
    if (q < j0_tiny_sq) {
        return complex(1.0 - (re * re - im * im) / 4.0, -(re * im) / 2.0);
    }
    if (im == 0.0) {
        return complex(detail::j0_real(std::fabs(re)), 0.0);
    }
    if (re < 0.0) z = -z;
    if (q < j0_series_sq) return detail::j0_series(z);
    if (q < j0_recurrence_sq) return detail::j0_recurrence(z, q);
    return detail::j0_asymptotic(z);
}

}  // namespace nia::spectral
