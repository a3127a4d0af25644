// Bessel functions J0 and J1 of real and complex argument, J1(z)/z, the sums
// P, Q of Hankel's large-argument expansion (DLMF 10.17.3-10.17.4) and the
// scaled Hankel function of the far range.
//
// Three methods meet at |z| = 8 and |z| = 25: the power series below 8, where
// its terms stay moderate; Miller's backward recurrence from 8 to 25; the
// asymptotic expansion from 25 on, where its terms fall below 1e-20 before
// they start to grow. Each method is written once, with J1 as an option
// (with_j1) that rides along: the series of J0 and of 2 J1(z)/z share their
// terms, the recurrence that ends in J0 passes through J1 one step before,
// and the expansion shares its square root, cosine and sine. The operations
// that give J0 are the same with or without J1, so bessel_j01's J0 is bit for
// bit bessel_j0's.
#pragma once

#include <array>
#include <cmath>
#include <complex>

#include "../core/numeric.hpp"
#include "hankel.hpp"

namespace nia::special {

using core::complex;
using core::pi;

namespace detail {

constexpr std::array<double, 82> make_reciprocal_table() {
    std::array<double, 82> t{};
    t[0] = 0.0;
    for (int k = 1; k < 82; ++k) t[k] = 1.0 / k;
    return t;
}

}  // namespace detail

// Entry 0 is 0, entry k is 1/k: the series reads 1..80, hankel_pq 1..40.
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
// 4 nu^2 of order one, the mu of Hankel's expansion for J1.
inline constexpr double j1_hankel_mu = 4.0;

namespace detail {

// Products on the series and recurrence paths, whose arguments are finite
// (|z| < 25): in real arithmetic, without the special-value handling of the
// complex product.
inline double product(double a, double b) noexcept { return a * b; }
inline complex product(complex a, complex b) noexcept {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

inline double divide(double a, double b) noexcept { return a / b; }
inline complex divide(complex a, complex b) noexcept { return core::quotient(a, b); }

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

// Power series s0 = sum_j (-z^2/4)^j / (j!)^2 = J0(z) (DLMF 10.2.2); with_j1
// also s1 = sum_j (-z^2/4)^j / (j! (j+1)!) = 2 J1(z)/z from the same terms,
// the j-th term of s1 being that of s0 over j + 1. The terms stop where J0's
// do; those of s1 are then smaller still against its own largest term (at
// most (j+1)^2 times smaller than s0's largest, for j <= 5 below |z| = 8).
template <bool with_j1, class T>
inline T j_series(T z, T* s1 = nullptr) noexcept {
    const T w = -product(z, z) * 0.25;
    T term(1.0);
    T sum(1.0);
    T sum1(1.0);
    double peak = 1.0;
    for (int j = 1; j <= j0_series_terms; ++j) {
        const double r = reciprocal_table[j];
        term = product(term, w) * (r * r);
        sum += term;
        if constexpr (with_j1) sum1 += term * reciprocal_table[j + 1];
        const double s = squared(term);
        if (s > peak) peak = s;
        if (s <= j0_series_stop * peak) break;
    }
    if constexpr (with_j1) *s1 = sum1;
    return sum;
}

// Division by the recurrence's normalising total: a quotient in real
// arithmetic, a product with the reciprocal (formed once for both orders) in
// complex arithmetic.
struct real_normaliser {
    double total;
    double operator()(double j) const noexcept { return j / total; }
};
struct complex_normaliser {
    complex reciprocal;
    complex operator()(complex j) const noexcept { return j * reciprocal; }
};
inline real_normaliser normaliser(double total) noexcept { return {total}; }
inline complex_normaliser normaliser(complex total) noexcept {
    return {core::quotient(complex(1.0, 0.0), total)};
}

// j over the normalising total, as the recurrence takes it.
inline complex normalise(complex j, complex total) noexcept { return normaliser(total)(j); }

// Miller's backward recurrence J_{k-1} = (2k/z) J_k - J_{k+1} from a start
// order well above |z|, normalised by J0 + 2 (J2 + J4 + ...) = 1 (DLMF
// 10.12.4). The last step leaves J0 in j_0 and J1 in j_next; with_j1 also
// gives J1, normalised by the same total.
template <bool with_j1, class T>
inline T j_recurrence(T z, double q, T* j1 = nullptr) noexcept {
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
    const auto by_total = normaliser(j_0 + s);
    if constexpr (with_j1) *j1 = by_total(j_next);
    return by_total(j_0);
}

// sqrt(1/(pi x)), cos x and sin x of Hankel's expansion written out below,
// in real and in complex arithmetic.
inline void expansion_factors(double x, double& f, double& c, double& s) noexcept {
    f = std::sqrt((1.0 / pi) / x);
    c = std::cos(x);
    s = std::sin(x);
}
inline void expansion_factors(complex z, complex& f, complex& c, complex& s) noexcept {
    f = core::principal_sqrt(core::quotient(complex(1.0, 0.0), pi * z));
    const double ch = std::cosh(z.imag()), sh = std::sinh(z.imag());
    const double cr = std::cos(z.real()), sr = std::sin(z.real());
    c = complex(cr * ch, -sr * sh);
    s = complex(sr * ch, cr * sh);
}

// Hankel's expansion (DLMF 10.17.3):
// J0 = sqrt(1/(pi z)) ((P0 + Q0) cos z + (P0 - Q0) sin z) and, with_j1,
// J1 = sqrt(1/(pi z)) ((P1 + Q1) sin z - (P1 - Q1) cos z), the cosine and
// sine of z - pi/4 and z - 3pi/4 written out.
template <bool with_j1, class T>
inline T j_asymptotic(T z, T* j1 = nullptr) noexcept {
    T p, q;
    hankel_pq(z, 0.0, p, q);
    T f, c, s;
    expansion_factors(z, f, c, s);
    if constexpr (with_j1) {
        T p1, q1;
        hankel_pq(z, j1_hankel_mu, p1, q1);
        *j1 = f * ((p1 + q1) * s - (p1 - q1) * c);
    }
    return f * ((p + q) * c + (p - q) * s);
}

// J0 (and with_j1 J1) of an argument that is not tiny, real x >= 0 or
// complex with Re z >= 0, q its squared modulus: the method of its range.
template <bool with_j1, class T>
inline T j_methods(T z, double q, T* j1) noexcept {
    if (q < j0_series_sq) {
        if constexpr (with_j1) {
            T s1;
            const T s0 = j_series<true>(z, &s1);
            *j1 = product(0.5 * z, s1);
            return s0;
        } else {
            return j_series<false>(z);
        }
    }
    if (q < j0_recurrence_sq) return j_recurrence<with_j1>(z, q, j1);
    return j_asymptotic<with_j1>(z, j1);
}

// J0(z) (and with_j1 J1(z) in *j1) for complex z. A real argument (zero
// imaginary part) is evaluated in real arithmetic; a complex one with
// Re z < 0 is reflected, J0 being even and J1 odd.
template <bool with_j1>
inline complex bessel_j(complex z, complex* j1) noexcept {
    const double re = z.real(), im = z.imag();
    const double q = re * re + im * im;
    if (q < j0_tiny_sq) {
        // J1 = (z/2) (1 - z^2/8): the next term, z^4/192, is below 1e-26.
        if constexpr (with_j1) {
            *j1 = (0.5 * z) * complex(1.0 - (re * re - im * im) / 8.0, -(re * im) / 4.0);
        }
        return complex(1.0 - (re * re - im * im) / 4.0, -(re * im) / 2.0);
    }
    if (im == 0.0) {
        const double x = std::fabs(re);
        double b = 0.0;
        const double a = j_methods<with_j1>(x, x * x, &b);
        if constexpr (with_j1) *j1 = complex(re < 0.0 ? -b : b, 0.0);
        return complex(a, 0.0);
    }
    const bool left = re < 0.0;
    if (left) z = -z;
    complex b;
    const complex a = j_methods<with_j1>(z, q, &b);
    if constexpr (with_j1) *j1 = left ? -b : b;
    return a;
}

}  // namespace detail

// J0(z) and J1(z) of one argument.
struct j01_values {
    complex j0;  // bit for bit bessel_j0(z)
    complex j1;
};

// J0(z) for complex z.
inline complex bessel_j0(complex z) noexcept { return detail::bessel_j<false>(z, nullptr); }

// J0(z) and J1(z) for complex z, from one pass.
inline j01_values bessel_j01(complex z) noexcept {
    j01_values v;
    v.j0 = detail::bessel_j<true>(z, &v.j1);
    return v;
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
            double s1;
            detail::j_series<true>(re, &s1);
            return complex(0.5 * s1, 0.0);
        }
        complex s1;
        detail::j_series<true>(z, &s1);
        return 0.5 * s1;
    }
    const complex j1 = bessel_j01(z).j1;
    if (im == 0.0) return complex(j1.real() / re, 0.0);
    return core::quotient(j1, z);
}

// Below this modulus Hankel's expansion is not used for the scaled Hankel
// function: from |z| = 25 on its terms fall below 1e-20 before they grow (the
// switch radius of J0 above).
inline constexpr double hankel_asymptotic_min = 25.0;

// The Hankel function of the second kind of order 0 or 1 without its phase,
// H_order^(2)(w) e^{i w}, for -pi < arg w <= 0 (the lower half-plane, where
// the far range needs it): for |w| >= hankel_asymptotic_min by Hankel's
// expansion (DLMF 10.17.4), sqrt(2 / (pi w)) e^{i (order pi/2 + pi/4)}
// (P - i Q), P and Q of hankel_pq with mu = 4 order^2; closer to the origin
// from the full-range H0 and H1 (hankel01). The factor e^{-i w} that is left
// out is the caller's: it is formed there from the exact product k rho.
inline complex hankel2_scaled(int order, complex w) noexcept {
    if (std::abs(w) < hankel_asymptotic_min) {
        // below the expansion's radius, the full-range functions times e^{i w}
        // (|w| < 25: neither factor comes near overflow)
        const hankel_pair h = hankel01(2, w);
        return (order == 0 ? h.h0 : h.h1) * std::exp(complex(-w.imag(), w.real()));
    }
    complex p, q;
    hankel_pq(w, order == 0 ? 0.0 : j1_hankel_mu, p, q);
    const complex amplitude = core::principal_sqrt(core::quotient(complex(2.0 / pi, 0.0), w));
    // e^{i pi/4} and e^{3 i pi/4}
    constexpr double h = 0.7071067811865476;
    const complex turn = order == 0 ? complex(h, h) : complex(-h, h);
    return amplitude * turn * (p - complex(0.0, 1.0) * q);
}

}  // namespace nia::special
