// Adaptive Gauss panels: recursive bisection of [a, b] that compares a panel's
// Gauss estimate with the sum of the estimates of its two halves, refining all
// channels together until the largest change is within rtol of the largest
// channel magnitude.
#pragma once

#include <cmath>
#include <tuple>

#include "../spectral/channel_sum.hpp"
#include "integration_tally.hpp"

namespace nia::pointwise {

using core::complex;
using spectral::channel_sum;
using spectral::six_sum;

// The smallest scale of the tolerance test, so that an all-zero panel passes.
inline constexpr double tolerance_scale_floor = 1e-300;

namespace detail {

// max that keeps the first operand only when it is larger: a NaN first operand
// yields the second (the floors passed second are numbers).
inline double larger(double x, double y) noexcept { return x > y ? x : y; }

// The tolerance of a panel whose largest channel magnitude is `scale`.
inline double panel_tolerance(double scale, double floor, double rtol) noexcept {
    return larger(larger(scale, floor), tolerance_scale_floor) * rtol;
}

// T itself, in a context that template argument deduction does not look at:
// the sum type is deduced from the output alone, so `whole` may be nullptr.
template <class T>
struct same_type {
    using type = T;
};
template <class T>
using same_t = typename same_type<T>::type;

}  // namespace detail

// Integrates rule(ctx, ., ., gx, gw, n_gauss, .) over [a, b] (b < a runs
// backwards) into out. `whole`, when given, is the rule's estimate over
// [a, b] already in hand. Exhausted depth accepts the current two-half sum;
// NaN channels take no part in the test and propagate into their channel.
// The rule is a template parameter, so each instantiation is a plain
// recursive function with the rule called directly. The sum may have any
// number of channels; all of them are refined together. The tally hears of
// the rule calls, of every panel accepted at the depth limit and of the
// channel moduli of every accepted panel.
template <class Rule, class Ctx, class Sum, class Tally>
void adaptive_panel(const Rule& rule, const Ctx& ctx, double a, double b, double rtol, int depth,
                    const double* gx, const double* gw, int n_gauss,
                    const detail::same_t<Sum>* whole, double floor, Sum& out,
                    Tally& tally) noexcept {
    constexpr int channels = static_cast<int>(std::tuple_size<Sum>::value);
    if constexpr (Tally::active) static_assert(channels <= Tally::magnitude_channels);
    Sum w;
    if (whole != nullptr) {
        w = *whole;
    } else {
        rule(ctx, a, b, gx, gw, n_gauss, w);
    }
    const double m = (a + b) * 0.5;
    Sum left, right;
    rule(ctx, a, m, gx, gw, n_gauss, left);
    rule(ctx, m, b, gx, gw, n_gauss, right);
    if constexpr (Tally::active) tally.rule_calls(whole != nullptr ? 2 : 3, n_gauss);

    Sum s;
    double err = 0.0;
    double scale = 0.0;
    double mag[channels];
    for (int c = 0; c < channels; ++c) {
        s[c] = complex(left[c].real() + right[c].real(), left[c].imag() + right[c].imag());
        const double d = std::hypot(s[c].real() - w[c].real(), s[c].imag() - w[c].imag());
        mag[c] = std::hypot(s[c].real(), s[c].imag());
        // running maxima from 0; a NaN never replaces them
        if (d > err) err = d;
        if (mag[c] > scale) scale = mag[c];
    }
    const auto accept = [&]() noexcept {
        if constexpr (Tally::active) {
            for (int c = 0; c < channels; ++c) tally.panel_accepted(c, mag[c]);
        }
        out = s;
    };
    // Exhausted depth accepts the two-half sum s. So does a panel too narrow to
    // halve in double precision (its midpoint is an end): splitting it would
    // only repeat the same values, and with a tolerance that can never be met
    // (rtol < 0) and a large depth it would recurse until the stack runs out.
    if (depth <= 0 || m == a || m == b) {
        if constexpr (Tally::active) {
            tally.limit_reached(err, detail::panel_tolerance(scale, floor, rtol));
        }
        accept();
        return;
    }
    const double tol = detail::panel_tolerance(scale, floor, rtol);
    if (err > tol) {
        Sum lower, upper;
        adaptive_panel(rule, ctx, a, m, rtol, depth - 1, gx, gw, n_gauss, &left, floor, lower,
                       tally);
        adaptive_panel(rule, ctx, m, b, rtol, depth - 1, gx, gw, n_gauss, &right, floor, upper,
                       tally);
        for (int c = 0; c < channels; ++c) out[c] = lower[c] + upper[c];
    } else {
        accept();
    }
}

// The same without a tally.
template <class Rule, class Ctx, class Sum>
void adaptive_panel(const Rule& rule, const Ctx& ctx, double a, double b, double rtol, int depth,
                    const double* gx, const double* gw, int n_gauss,
                    const detail::same_t<Sum>* whole, double floor, Sum& out) noexcept {
    no_tally none;
    adaptive_panel(rule, ctx, a, b, rtol, depth, gx, gw, n_gauss, whole, floor, out, none);
}

}  // namespace nia::pointwise
