// Exponential, sine, cosine, logarithm and phase for SIMD lanes: branch-free
// range reduction and polynomials, as templates over the lane type: double
// (one lane; the callers' fixed-width loops then vectorise) or the target's
// native vector of lane_vector.hpp.
//
// Each function holds only on its stated range; the callers test the range
// per lane and send every other lane through the scalar code. Included only by
// the per-target lane sources, inside their own namespace (NIA_SIMD_TARGET),
// so that no inline function compiled for one target is shared with another.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lane_math_coefficients.hpp"
#include "lane_vector.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

// Adding and subtracting 1.5 * 2^52 rounds a double below 2^51 in modulus to
// the nearest integer, which then sits in the low bits of the sum's pattern.
inline constexpr double round_shifter = 6755399441055744.0;
// Arguments of exp_lane: |x| below this keeps e^x and its scale 2^k normal.
inline constexpr double exp_lane_limit = 700.0;
// Arguments of sincos_lane: |x| up to this keeps the quadrant index below 2^17,
// where the two-term products of the reduction stay exact.
inline constexpr double trig_lane_limit = 1e5;

// One-lane forms of the vector operations.
inline std::int64_t bits_of(double x) noexcept {
    std::int64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}
inline double from_bits(std::int64_t b) noexcept {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}
inline std::int64_t shift_to_exponent(std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(b) << 52);
}
inline double select(bool m, double a, double b) noexcept { return m ? a : b; }
inline double fma(double a, double b, double c) noexcept { return std::fma(a, b, c); }
inline double fabs(double x) noexcept { return std::fabs(x); }

// Horner's scheme with fused multiply-adds, highest coefficient first.
template <class T, std::size_t N>
inline T horner(T x, const std::array<double, N>& c) noexcept {
    T p = T{} + c[N - 1];
#pragma GCC unroll 16
    for (int j = static_cast<int>(N) - 2; j >= 0; --j)
        p = fma(p, x, T{} + c[static_cast<std::size_t>(j)]);
    return p;
}

// e^x for |x| < exp_lane_limit: x = k ln 2 + r with |r| <= ln(2)/2, then
// e^x = 2^k e^r, the power of two put straight into the exponent field.
template <class T>
inline T exp_lane(T x) noexcept {
    constexpr double log2e = 1.4426950408889634;
    const T t = fma(x, T{} + log2e, T{} + round_shifter);
    const T k = t - round_shifter;
    T r = fma(-k, T{} + ln2_hi, x);
    r = fma(-k, T{} + ln2_lo, r);
    const T p = horner(r, exp_poly);
    // the low bits of t hold k; shifted into the exponent field they add k to
    // the exponent of p (no carry: |k| < 1022)
    return from_bits(bits_of(p) + shift_to_exponent(bits_of(t)));
}

// sin x and cos x for |x| <= trig_lane_limit: x = k pi/2 + r with |r| <= pi/4
// (three-part Cody-Waite reduction), then the quadrant k mod 4 picks and signs
// the polynomials of r.
template <class T>
inline void sincos_lane(T x, T& s, T& c) noexcept {
    constexpr double two_over_pi = 0.6366197723675814;
    const T t = fma(x, T{} + two_over_pi, T{} + round_shifter);
    const T k = t - round_shifter;
    T r = fma(-k, T{} + pio2_1, x);
    r = fma(-k, T{} + pio2_2, r);
    r = fma(-k, T{} + pio2_3, r);
    const T r2 = r * r;
    const T sin_r = fma(r * r2, horner(r2, sin_poly), r);
    const T cos_r = fma(r2 * r2, horner(r2, cos_poly), fma(T{} - 0.5, r2, T{} + 1.0));
    const auto q = bits_of(t);
    const auto odd = (q & 1) != 0;
    const T sv = select(odd, cos_r, sin_r);
    const T cv = select(odd, sin_r, cos_r);
    s = select((q & 2) != 0, -sv, sv);
    c = select(((q + 1) & 2) != 0, -cv, cv);
    // sin(+-0) = +-0: keep the sign of a zero argument
    s = select(x == 0.0, x, s);
}

// Natural logarithm of a positive normal finite x: x = 2^e m with m in
// [sqrt(1/2), sqrt(2)], log x = e ln 2 + 2 atanh((m - 1)/(m + 1)).
template <class T>
inline T log_lane(T x) noexcept {
    constexpr std::int64_t mantissa_bits = 0x000fffffffffffffLL;
    constexpr double sqrt2 = 1.4142135623730951;
    constexpr double two52 = 4503599627370496.0;
    const auto b = bits_of(x);
    // the biased exponent as a double, through the pattern of 2^52 + e
    const T biased = from_bits((b >> 52) | bits_of(two52)) - two52;
    const T m0 = from_bits((b & mantissa_bits) | bits_of(1.0));
    const auto high = m0 > sqrt2;
    const T m = select(high, 0.5 * m0, m0);
    const T e = select(high, biased + 1.0, biased) - 1023.0;
    const T u = (m - 1.0) / (m + 1.0);
    const T u2 = u * u;
    const T tail = fma(u * u2, horner(u2, log_poly), 2.0 * u);
    return fma(e, T{} + ln2_hi, fma(e, T{} + ln2_lo, tail));
}

// The phase atan2(y, x) of a point of the closed first quadrant, x, y >= 0,
// not both zero: atan of the smaller-over-larger ratio in [0, 1], reduced by
// pi/4 to |u| <= tan(pi/8), and reflected about pi/4.
template <class T>
inline T phase_lane(T x, T y) noexcept {
    constexpr double tan_pi_8 = 0.41421356237309503;
    constexpr double pi_4 = 0.78539816339744831;
    constexpr double pi_2 = 1.5707963267948966;
    const auto steep = y > x;
    const T a = select(steep, x, y) / select(steep, y, x);
    const T shifted = (a - 1.0) / (a + 1.0);
    const auto far = a > tan_pi_8;
    const T u = select(far, shifted, a);
    const T at = fma(u * (u * u), horner(u * u, atan_poly), u);
    const T base = select(far, pi_4 + at, at);
    return select(steep, pi_2 - base, base);
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
