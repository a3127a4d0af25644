// Adaptive Gauss panels: recursive bisection of [a, b] that compares a panel's
// Gauss estimate with the sum of the estimates of its two halves, refining all
// six channels together until the largest change is within rtol of the
// largest channel magnitude.
#pragma once

#include <cmath>

#include "../spectral/six_sum.hpp"

namespace nia::pointwise {

using core::complex;
using spectral::six_sum;

// The smallest scale of the tolerance test, so that an all-zero panel passes.
inline constexpr double tolerance_scale_floor = 1e-300;

namespace detail {

// max that keeps the first operand only when it is larger: a NaN first operand
// yields the second (the floors passed second are numbers).
inline double larger(double x, double y) noexcept { return x > y ? x : y; }

}  // namespace detail

// Integrates rule(ctx, ., ., gx, gw, n_gauss, .) over [a, b] (b < a runs
// backwards) into out. `whole`, when given, is the rule's estimate over
// [a, b] already in hand. Exhausted depth accepts the current two-half sum;
// NaN channels take no part in the test and propagate into their channel.
// The rule is a template parameter, so each instantiation is a plain
// recursive function with the rule called directly.
template <class Rule, class Ctx>
void adaptive_panel(const Rule& rule, const Ctx& ctx, double a, double b, double rtol, int depth,
                    const double* gx, const double* gw, int n_gauss, const six_sum* whole,
                    double floor, six_sum& out) noexcept {
    six_sum w;
    if (whole != nullptr) {
        w = *whole;
    } else {
        rule(ctx, a, b, gx, gw, n_gauss, w);
    }
    const double m = (a + b) * 0.5;
    six_sum left, right;
    rule(ctx, a, m, gx, gw, n_gauss, left);
    rule(ctx, m, b, gx, gw, n_gauss, right);

    six_sum s;
    double err = 0.0;
    double scale = 0.0;
    for (int c = 0; c < 6; ++c) {
        s[c] = complex(left[c].real() + right[c].real(), left[c].imag() + right[c].imag());
        const double d = std::hypot(s[c].real() - w[c].real(), s[c].imag() - w[c].imag());
        const double mag = std::hypot(s[c].real(), s[c].imag());
        // running maxima from 0; a NaN never replaces them
        if (d > err) err = d;
        if (mag > scale) scale = mag;
    }
    // Exhausted depth accepts the two-half sum s. So does a panel too narrow to
    // halve in double precision (its midpoint is an end): splitting it would
    // only repeat the same values, and with a tolerance that can never be met
    // (rtol < 0) and a large depth it would recurse until the stack runs out.
    if (depth <= 0 || m == a || m == b) {
        out = s;
        return;
    }
    const double tol = detail::larger(detail::larger(scale, floor), tolerance_scale_floor) * rtol;
    if (err > tol) {
        six_sum lower, upper;
        adaptive_panel(rule, ctx, a, m, rtol, depth - 1, gx, gw, n_gauss, &left, floor, lower);
        adaptive_panel(rule, ctx, m, b, rtol, depth - 1, gx, gw, n_gauss, &right, floor, upper);
        for (int c = 0; c < 6; ++c) out[c] = lower[c] + upper[c];
    } else {
        out = s;
    }
}

}  // namespace nia::pointwise
