// Bessel function J1 of real and complex argument, with J0 from the same pass,
// and the entire function J1(z)/z.
//
// The methods and switch radii are J0's (bessel_j0.hpp): the power series
// below |z| = 8, Miller's backward recurrence from 8 to 25, Hankel's
// expansion from 25 on. The series of J0 and of 2 J1(z)/z share their terms,
// the recurrence that ends in J0 passes through J1 one step before, and the
// expansion shares its square root, cosine and sine, so one pass gives both
// orders; the J0 it gives is bit for bit bessel_j0's.
#pragma once

#include <cmath>
#include <complex>

#include "../core/numeric.hpp"
#include "bessel_j0.hpp"

namespace nia::spectral {

// J0(z) and J1(z) of one argument.
struct j01_values {
    complex j0;  // bit for bit bessel_j0(z)
    complex j1;
};

// 4 nu^2 of order one, the mu of Hankel's expansion for J1.
inline constexpr double j1_hankel_mu = 4.0;

namespace detail {

// Power series of J0 and of 2 J1(z)/z from the same terms (DLMF 10.2.2):
// s0 = sum_j (-z^2/4)^j / (j!)^2 and s1 = sum_j (-z^2/4)^j / (j! (j+1)!), the
// j-th term of s1 being that of s0 over j + 1. The terms stop where J0's do;
// those of s1 are then smaller still against its own largest term (at most
// (j+1)^2 times smaller than s0's largest, for j <= 5 below |z| = 8).
template <class T>
inline void j01_series(T z, T& s0, T& s1) noexcept {
    const T w = -product(z, z) * 0.25;
    T term(1.0);
    T sum(1.0);
    T sum1(1.0);
    double peak = 1.0;
    for (int j = 1; j <= j0_series_terms; ++j) {
        const double r = reciprocal_table[j];
        term = product(term, w) * (r * r);
        sum += term;
        sum1 += term * reciprocal_table[j + 1];
        const double s = squared(term);
        if (s > peak) peak = s;
        if (s <= j0_series_stop * peak) break;
    }
    s0 = sum;
    s1 = sum1;
}

// j_0 and j_1 over the normalising total, as j0_recurrence's normalise does
// for j_0.
inline void normalise_pair(double j_0, double j_1, double total, double& j0, double& j1) noexcept {
    j0 = j_0 / total;
    j1 = j_1 / total;
}
inline void normalise_pair(complex j_0, complex j_1, complex total, complex& j0,
                           complex& j1) noexcept {
    const complex inv = quotient(complex(1.0, 0.0), total);
    j0 = j_0 * inv;
    j1 = j_1 * inv;
}

// Miller's recurrence as j0_recurrence: the last step leaves J0 in j_0 and J1
// in j_next, both normalised by the same J0 + 2 (J2 + J4 + ...).
template <class T>
inline void j01_recurrence(T z, double q, T& j0, T& j1) noexcept {
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
    normalise_pair(j_0, j_next, j_0 + s, j0, j1);
}

// Hankel's expansion for both orders (DLMF 10.17.3), in real arithmetic:
// J0 = sqrt(1/(pi x)) ((P0 + Q0) cos x + (P0 - Q0) sin x) and
// J1 = sqrt(1/(pi x)) ((P1 + Q1) sin x - (P1 - Q1) cos x), the cosine and
// sine of x - pi/4 and x - 3pi/4 written out.
inline void j01_asymptotic(double x, double& j0, double& j1) noexcept {
    double p, q, p1, q1;
    hankel_pq(x, 0.0, p, q);
    hankel_pq(x, j1_hankel_mu, p1, q1);
    const double f = std::sqrt((1.0 / pi) / x);
    const double c = std::cos(x), s = std::sin(x);
    j0 = f * ((p + q) * c + (p - q) * s);
    j1 = f * ((p1 + q1) * s - (p1 - q1) * c);
}

inline void j01_asymptotic(complex z, complex& j0, complex& j1) noexcept {
    complex p, q, p1, q1;
    hankel_pq(z, 0.0, p, q);
    hankel_pq(z, j1_hankel_mu, p1, q1);
    const complex f = principal_sqrt(quotient(complex(1.0, 0.0), pi * z));
    const double ch = std::cosh(z.imag()), sh = std::sinh(z.imag());
    const double c = std::cos(z.real()), s = std::sin(z.real());
    const complex cos_z(c * ch, -s * sh);
    const complex sin_z(s * ch, c * sh);
    j0 = f * ((p + q) * cos_z + (p - q) * sin_z);
    j1 = f * ((p1 + q1) * sin_z - (p1 - q1) * cos_z);
}

// J0 and J1 of a real argument x >= 0 (not tiny), in real arithmetic.
inline void j01_real(double x, double& j0, double& j1) noexcept {
    const double q = x * x;
    if (q < j0_series_sq) {
        double s1;
        j01_series(x, j0, s1);
        j1 = 0.5 * x * s1;
    } else if (q < j0_recurrence_sq) {
        j01_recurrence(x, q, j0, j1);
    } else {
        j01_asymptotic(x, j0, j1);
    }
}

}  // namespace detail

// J0(z) and J1(z) for complex z, from one pass. A real argument (zero
// imaginary part) is evaluated in real arithmetic; a complex one with
// Re z < 0 is reflected, J0 being even and J1 odd.
inline j01_values bessel_j01(complex z) noexcept {
    const double re = z.real(), im = z.imag();
    const double q = re * re + im * im;
    if (q < j0_tiny_sq) {
        // J1 = (z/2) (1 - z^2/8): the next term, z^4/192, is below 1e-26.
        const complex j1 = (0.5 * z) * complex(1.0 - (re * re - im * im) / 8.0, -(re * im) / 4.0);
        return {complex(1.0 - (re * re - im * im) / 4.0, -(re * im) / 2.0), j1};
    }
    if (im == 0.0) {
        double j0, j1;
        detail::j01_real(std::fabs(re), j0, j1);
        return {complex(j0, 0.0), complex(re < 0.0 ? -j1 : j1, 0.0)};
    }
    const bool left = re < 0.0;
    if (left) z = -z;
    complex j0, j1;
    if (q < j0_series_sq) {
        complex s1;
        detail::j01_series(z, j0, s1);
        j1 = detail::product(0.5 * z, s1);
    } else if (q < j0_recurrence_sq) {
        detail::j01_recurrence(z, q, j0, j1);
    } else {
        detail::j01_asymptotic(z, j0, j1);
    }
    return {j0, left ? -j1 : j1};
}

// J1(z) for complex z (the j1 of bessel_j01).
inline complex bessel_j1(complex z) noexcept { return bessel_j01(z).j1; }

// The entire function J1(z)/z, 1/2 at z = 0: the series below |z| = 8
// (no division, so no cancellation or underflow near the origin), J1(z) / z
// above.
inline complex bessel_j1_over_z(complex z) noexcept {
    const double re = z.real(), im = z.imag();
    const double q = re * re + im * im;
    if (q < j0_tiny_sq) {
        return complex(0.5 - (re * re - im * im) / 16.0, -(re * im) / 8.0);
    }
    if (q < j0_series_sq) {
        if (im == 0.0) {
            double s0, s1;
            detail::j01_series(re, s0, s1);
            return complex(0.5 * s1, 0.0);
        }
        complex s0, s1;
        detail::j01_series(z, s0, s1);
        return 0.5 * s1;
    }
    const complex j1 = bessel_j01(z).j1;
    if (im == 0.0) return complex(j1.real() / re, 0.0);
    return quotient(j1, z);
}

}  // namespace nia::spectral
