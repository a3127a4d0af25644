// The rotated tail: one ray lambda(t) = origin + t direction, t from 0 to
// infinity, cut into panels whose length doubles, summed until two panels in
// a row are negligible against the running sum.
#pragma once

#include <cmath>
#include <tuple>

#include "adaptive_panel.hpp"

namespace nia::pointwise {

// Panels one ray may take before it counts as not converging. With doubling
// panels this covers the ray far beyond any decay length of double range.
inline constexpr int panel_budget = 90;
// The first panel is at most this fraction of the decay length of the integrand.
inline constexpr double first_panel_fraction = 0.25;

// Length of the first panel: first_panel_fraction of the decay length scale,
// or start (the distance of the ray's origin from 0) when that is shorter.
inline double first_panel_length(double start, double scale) noexcept {
    return start < first_panel_fraction * scale ? start : first_panel_fraction * scale;
}

namespace detail {

// Largest channel modulus, NaN channels passed over.
template <class Sum>
inline double largest_modulus(const Sum& s) noexcept {
    double m = 0.0;
    for (const complex& v : s) {
        const double a = std::hypot(v.real(), v.imag());
        if (a > m) m = a;
    }
    return m;
}

}  // namespace detail

// How the panels of a doubling run are held to their tolerance: each to
// rtol of its own size (own_size), or to rtol of the larger of its own size
// and the running sum (running_sum), so that panels far out, where the
// integrand has become negligible, are accepted as soon as they are below
// that instead of being resolved to their own relative accuracy.
enum class panel_floor : bool { own_size = false, running_sum = true };

// The integral over t from 0 to infinity of `rule` in `ctx`, on panels of
// adaptive_panel that double in length from [0, first], summed until two
// panels in a row are negligible against the running sum. Returns false when
// panel_budget panels are used first; out then holds the partial sum. The
// tally hears of every panel integration and of how the run ended.
template <class Rule, class Ctx, class Sum, class Tally>
bool doubling_panels(const Rule& rule, const Ctx& ctx, double first, panel_floor floor, double rtol,
                     int depth, const double* gx, const double* gw, int n_gauss, Sum& out,
                     Tally& tally) noexcept {
    constexpr int channels = static_cast<int>(std::tuple_size<Sum>::value);
    spectral::set_zero(out);
    double g = first;
    double t = 0.0;
    int quiet = 0;
    for (int panel = 0; panel < panel_budget; ++panel) {
        Sum p;
        const double f = floor == panel_floor::running_sum ? detail::largest_modulus(out) : 0.0;
        adaptive_panel(rule, ctx, t, t + g, rtol, depth, gx, gw, n_gauss, nullptr, f, p, tally);
        for (int c = 0; c < channels; ++c) out[c] += p[c];
        const double s = detail::largest_modulus(out);
        const double m = detail::largest_modulus(p);
        // A panel that adds nothing is quiet even where rtol * s underflows to
        // zero (a sum of subnormal size): counted loud, it would keep the ray
        // going until the Hankel factor fails far out and turns the row to NaN.
        const bool vanishing = m == 0.0 && rtol > 0.0;
        const bool loud = s != 0.0 && m >= rtol * s && !vanishing;
        if (loud) {
            quiet = 0;
        } else if (++quiet == 2) {
            if constexpr (Tally::active) tally.ray_done(true, panel + 1);
            return true;
        }
        t = t + g;
        g = 2.0 * g;
    }
    if constexpr (Tally::active) tally.ray_done(false, panel_budget);
    return false;
}

// Integrates the ray of `ray` into out with doubling panels over `rule`.
// start (the distance of the ray's origin from 0) bounds the first panel;
// scale is the length in t over which the integrand decays. Returns false when
// the panel budget runs out before two consecutive quiet panels; out then holds
// the partial sum.
template <class Rule, class Ctx, class Sum, class Tally>
bool rotated_tail(const Rule& rule, const Ctx& ray, double start, double scale, double rtol,
                  int depth, const double* gx, const double* gw, int n_gauss, Sum& out,
                  Tally& tally) noexcept {
    return doubling_panels(rule, ray, first_panel_length(start, scale), panel_floor::own_size, rtol,
                           depth, gx, gw, n_gauss, out, tally);
}

// The same without a tally.
template <class Rule, class Ctx, class Sum>
bool rotated_tail(const Rule& rule, const Ctx& ray, double start, double scale, double rtol,
                  int depth, const double* gx, const double* gw, int n_gauss, Sum& out) noexcept {
    no_tally none;
    return rotated_tail(rule, ray, start, scale, rtol, depth, gx, gw, n_gauss, out, none);
}

}  // namespace nia::pointwise
