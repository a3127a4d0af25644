// The rotated tail: one ray lambda(t) = origin + t direction, t from 0 to
// infinity, cut into panels whose length doubles, summed until two panels in
// a row are negligible against the running sum.
#pragma once

#include <cmath>

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
inline double largest_modulus(const six_sum& s) noexcept {
    double m = 0.0;
    for (const complex& v : s) {
        const double a = std::hypot(v.real(), v.imag());
        if (a > m) m = a;
    }
    return m;
}

}  // namespace detail

// Integrates the ray of `ray` into out with panels of adaptive_panel over `rule`.
// start (the distance of the ray's origin from 0) bounds the first panel;
// scale is the length in t over which the integrand decays. Returns false when
// the panel budget runs out before two consecutive quiet panels; out then holds
// the partial sum.
template <class Rule, class Ctx>
bool rotated_tail(const Rule& rule, const Ctx& ray, double start, double scale, double rtol,
                  int depth, const double* gx, const double* gw, int n_gauss,
                  six_sum& out) noexcept {
    spectral::set_zero(out);
    double g = first_panel_length(start, scale);
    double t = 0.0;
    int quiet = 0;
    for (int panel = 0; panel < panel_budget; ++panel) {
        six_sum p;
        adaptive_panel(rule, ray, t, t + g, rtol, depth, gx, gw, n_gauss, nullptr, 0.0, p);
        for (int c = 0; c < 6; ++c) out[c] += p[c];
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
            return true;
        }
        t = t + g;
        g = 2.0 * g;
    }
    return false;
}

}  // namespace nia::pointwise
