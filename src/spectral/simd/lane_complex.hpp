// Complex arithmetic on lane vectors: the fast paths of the complex helpers
// (square root, quotient, product) with their range tests as lane masks.
// Included by the per-target lane sources only, inside their own namespace.
#pragma once

#include "../../core/numeric.hpp"
#include "lane_math.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

inline constexpr double largest_finite = 1.79769313486231570815e308;

inline vi finite(vd x) noexcept { return fabs(x) <= largest_finite; }

inline vd copysign(vd magnitude, vd sign) noexcept {
    const vi s = vi{} + static_cast<std::int64_t>(0x8000000000000000ULL);
    return from_bits((bits_of(magnitude) & ~s) | (bits_of(sign) & s));
}

// The range test of the fast complex helpers: both parts below moderate_high,
// one above moderate_low; false on NaN.
inline vi moderate(vd x, vd y) noexcept {
    const vd ax = fabs(x), ay = fabs(y);
    return (ax < core::detail::moderate_high) & (ay < core::detail::moderate_high) &
           ((ax > core::detail::moderate_low) | (ay > core::detail::moderate_low));
}

// The principal square root's fast path, both half-planes at once: r + x on
// the right and r - x on the left are both r + |x|, bit for bit, and
// |y| / (2t) = |y / (2t)|, t being positive.
inline void sqrt_lane(vd x, vd y, vd& re, vd& im) noexcept {
    const vd r = sqrt(x * x + y * y);
    const vi right = x >= 0.0;
    const vd t = sqrt(0.5 * (r + fabs(x)));
    const vd d = y / (2.0 * t);
    re = select(right, t, fabs(d));
    im = select(right, d, copysign(t, y));
}

// (a + ib)(c + id) as the complex product computes it for finite operands.
inline void mul(vd a, vd b, vd c, vd d, vd& re, vd& im) noexcept {
    re = a * c - b * d;
    im = a * d + b * c;
}

// re + i im takes the value new_re + i new_im on the lanes in m.
inline void assign_where(vi m, vd& re, vd& im, vd new_re, vd new_im) noexcept {
    re = select(m, new_re, re);
    im = select(m, new_im, im);
}

// The quotient's fast path (a + ib) / (c + id).
inline void div(vd a, vd b, vd c, vd d, vd& re, vd& im) noexcept {
    const vd inv = 1.0 / (c * c + d * d);
    re = (a * c + b * d) * inv;
    im = (b * c - a * d) * inv;
}

// gamma(lambda; k) = sqrt(i (k + lambda)) sqrt(i (k - lambda)); ok is cleared
// where either root leaves the fast path.
inline void vertical_lane(vd lr, vd li, double kr, double ki, vd& gr, vd& gi, vi& ok) noexcept {
    const vd ur = -(ki + li), ui = kr + lr;
    const vd vr = li - ki, vi_ = kr - lr;
    ok = ok & moderate(ur, ui) & moderate(vr, vi_);
    vd sur, sui, svr, svi;
    sqrt_lane(ur, ui, sur, sui);
    sqrt_lane(vr, vi_, svr, svi);
    mul(sur, sui, svr, svi, gr, gi);
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
