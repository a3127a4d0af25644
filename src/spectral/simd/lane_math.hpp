// Exponential, sine and cosine for SIMD lanes: branch-free range reduction and
// polynomials, written one lane at a time so that the compiler turns the
// callers' fixed-width loops into vector code for the target of the
// translation unit that includes this header.
//
// Each function holds only on its stated range; the callers test the range
// per lane and send every other lane through the scalar code. Included only by
// the per-target lane sources, inside their own namespace (NIA_SIMD_TARGET),
// so that no inline function compiled for one target is shared with another.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "lane_math_coefficients.hpp"

#ifndef NIA_SIMD_TARGET
#error "lane_math.hpp is included by the per-target lane sources only"
#endif

namespace nia::spectral::simd::NIA_SIMD_TARGET {

// Adding and subtracting 1.5 * 2^52 rounds a double below 2^51 in modulus to
// the nearest integer, which then sits in the low bits of the sum's pattern.
inline constexpr double round_shifter = 6755399441055744.0;
// Arguments of exp_lane: |x| below this keeps e^x and its scale 2^k normal.
inline constexpr double exp_lane_limit = 700.0;
// Arguments of sincos_lane: |x| up to this keeps the quadrant index below 2^17,
// where the two-term products of the reduction stay exact.
inline constexpr double trig_lane_limit = 1e5;

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

// e^x for |x| < exp_lane_limit: x = k ln 2 + r with |r| <= ln(2)/2, then
// e^x = 2^k e^r, the power of two put straight into the exponent field.
inline double exp_lane(double x) noexcept {
    constexpr double log2e = 1.4426950408889634;
    const double t = std::fma(x, log2e, round_shifter);
    const double k = t - round_shifter;
    double r = std::fma(-k, ln2_hi, x);
    r = std::fma(-k, ln2_lo, r);
    double p = exp_poly[13];
#pragma GCC unroll 16
    for (int j = 12; j >= 0; --j) p = std::fma(p, r, exp_poly[j]);
    // the low bits of t hold k; shifted into the exponent field they add k to
    // the exponent of p (no carry: |k| < 1022)
    const std::int64_t scale = static_cast<std::int64_t>(static_cast<std::uint64_t>(bits_of(t)) << 52);
    return from_bits(bits_of(p) + scale);
}

// sin x and cos x for |x| <= trig_lane_limit: x = k pi/2 + r with |r| <= pi/4
// (three-part Cody-Waite reduction), then the quadrant k mod 4 picks and signs
// the polynomials of r.
inline void sincos_lane(double x, double& s, double& c) noexcept {
    constexpr double two_over_pi = 0.6366197723675814;
    const double t = std::fma(x, two_over_pi, round_shifter);
    const double k = t - round_shifter;
    double r = std::fma(-k, pio2_1, x);
    r = std::fma(-k, pio2_2, r);
    r = std::fma(-k, pio2_3, r);
    const double r2 = r * r;
    double ps = sin_poly[6];
#pragma GCC unroll 8
    for (int j = 5; j >= 0; --j) ps = std::fma(ps, r2, sin_poly[j]);
    double pc = cos_poly[6];
#pragma GCC unroll 8
    for (int j = 5; j >= 0; --j) pc = std::fma(pc, r2, cos_poly[j]);
    const double sin_r = std::fma(r * r2, ps, r);
    const double cos_r = std::fma(r2 * r2, pc, std::fma(-0.5, r2, 1.0));
    const std::int64_t q = bits_of(t);
    const bool odd = (q & 1) != 0;
    const double sv = odd ? cos_r : sin_r;
    const double cv = odd ? sin_r : cos_r;
    s = (q & 2) != 0 ? -sv : sv;
    c = ((q + 1) & 2) != 0 ? -cv : cv;
    // sin(+-0) = +-0: keep the sign of a zero argument
    s = x == 0.0 ? x : s;
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
