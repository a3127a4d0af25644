// Where the rotated tail may start, and how high the detour may rise.
//
// Turning the tail of the real-axis integral from [L, inf) onto the rays
// L + t exp(+-i pi/4) is a Cauchy deformation: it is exact only when the two
// wedges swept between the real axis and each ray hold no singularity of the
// integrand. The integrand is single-valued in the plane cut along the
// vertical half-lines of the outer media's vertical wavenumbers (falling from
// +k, rising from -k), and it has poles on that sheet (for two half-spaces
// where k_m^2 gamma_p + k_p^2 gamma_m vanishes: the surface wave of a
// plasmonic lower medium). Both come as a singularity_set
// (spectral/singularities.hpp). The Hankel factors add a logarithmic branch
// point at lambda = 0, with their cut along the negative real axis.
//
// A start that is too small (the far cut of well separated heights, or a small
// lam_mult) lets the falling ray pass below a branch point and cross its cut:
// from there on the lower medium's vertical wavenumber is on the wrong sheet,
// exp(zp gamma_m) grows instead of decaying, and the row is garbage while
// looking like any other. This file computes the smallest start the swept
// wedges allow; the driver keeps the planned start whenever it is already
// clear, so the path of every such triple is unchanged.
#pragma once

#include <cmath>
#include <complex>

#include "../spectral/kernel.hpp"
#include "../spectral/singularities.hpp"

namespace nia::pointwise {

using spectral::complex;
using spectral::singularity_set;

// A start moved past a singularity clears it by this fraction of the larger of
// the wavenumber scale and the singularity's own abscissa, so that the ray does
// not graze the branch point or pole it has just been moved past.
inline constexpr double tail_clearance_margin = 0.1;
// The detour passes below a singularity of the first quadrant at no more than
// this fraction of its height.
inline constexpr double detour_clearance = 0.5;
// Relative distance from the real axis below which a singularity counts as
// lying on it (rounding leaves a pole of a lossless medium some 1e-17 off).
inline constexpr double axis_tolerance = 1e-12;
namespace detail {

// Largest start of the ray pair that still sweeps a singularity; -inf when
// none can be swept. Ray below (kind 2): its wedge is {L + x - i y, 0 <= y <= x}
// and holds the real axis itself (the path passes above singularities that
// sit on the axis). Ray above (kind 1, and the single ray of rho = 0): its
// wedge is {L + x + i y, 0 < y <= x}.
struct swept_bounds {
    double below = -INFINITY;
    double above = -INFINITY;

    void keep_below(double v) noexcept { below = v > below ? v : below; }
    void keep_above(double v) noexcept { above = v > above ? v : above; }

    // The cut falling from branch point b, {b - i s, s > 0}.
    void falling_cut(complex b) noexcept {
        keep_below(b.real() + std::fmin(b.imag(), 0.0));
        if (b.imag() > 0.0) keep_above(b.real());
    }
    // The cut rising from branch point c, {c + i s, s > 0}.
    void rising_cut(complex c) noexcept {
        keep_above(c.real() - std::fmax(c.imag(), 0.0));
        if (c.imag() <= 0.0) keep_below(c.real());
    }
    void pole(complex p) noexcept {
        if (p.imag() <= 0.0) {
            keep_below(p.real() + p.imag());
        } else {
            keep_above(p.real() - p.imag());
        }
    }
};

}  // namespace detail

// The start the tail rays use: the planned tail_start when the wedges it
// sweeps are free of the singularities of s, otherwise a start just beyond the
// last singularity swept. For rho = 0 only the rising ray runs and the Hankel
// factors are absent. Non-finite media leave the planned start as it is.
inline double clear_tail_start(double tail_start, double k_max, const singularity_set& s,
                               double rho) noexcept {
    detail::swept_bounds w;
    for (int i = 0; i < s.n_branch; ++i) {
        w.falling_cut(s.branch[i].k);
        w.rising_cut(-s.branch[i].k);
    }
    for (int i = 0; i < s.n_poles; ++i) {
        w.pole(s.poles[i].q);
        w.pole(-s.poles[i].q);
    }
    double bound = w.above;
    if (rho != 0.0) {
        // The Hankel functions' own branch point at lambda = 0.
        w.keep_below(0.0);
        w.keep_above(0.0);
        bound = std::fmax(w.below, w.above);
    }
    if (!(tail_start <= bound) || !std::isfinite(bound)) return tail_start;
    return bound + tail_clearance_margin * std::fmax(k_max, std::fabs(bound));
}

// The same for two half-spaces.
inline double clear_tail_start(double tail_start, double k_max, double k_p, complex k_m,
                               double rho) noexcept {
    return clear_tail_start(tail_start, k_max, spectral::two_media_singularities(k_p, k_m), rho);
}

// The detour height the arch may use. The defining path is the real axis,
// passing above the singularities that lie on it. A passive medium puts
// every singularity on or below the axis, and the arch over [0, span] may rise
// as planned. A negative-index medium (Re k < 0) puts the branch point -k,
// whose cut rises, on or above the axis, and its kernel may have a
// surface-wave pole there too: an arch passing over such a point crosses the
// cut (or leaves the pole's residue behind). The height is then lowered until
// the arch passes below every such point within the span, at detour_clearance
// of its height (down to the real axis itself for a point on the axis).
inline double clear_detour_height(double height, double span, const singularity_set& s) noexcept {
    double h = height;
    // A point within this bound of the axis is on it, whatever the rounding of
    // its imaginary part: a branch point there is passed below (on the axis),
    // a pole there is passed above, as on the defining path.
    const auto on_axis = [](complex q) {
        return std::fabs(q.imag()) <= axis_tolerance * std::abs(q);
    };
    const auto pass_below = [&](complex q) {
        if (q.real() > 0.0 && q.real() < span) {
            const double above = std::fmax(q.imag(), 0.0);
            const double cap = detour_clearance * above / std::sin(spectral::pi * q.real() / span);
            if (cap < h) h = cap;
        }
    };
    for (int i = 0; i < s.n_branch; ++i) {
        const complex k = s.branch[i].k;
        if (!s.branch[i].may_be_negative_index) continue;
        if (k.real() < 0.0 && (-k.imag() > 0.0 || on_axis(k))) pass_below(-k);
    }
    for (int i = 0; i < s.n_poles; ++i) {
        for (const complex q : {s.poles[i].q, -s.poles[i].q}) {
            if (q.imag() > 0.0 && !on_axis(q)) pass_below(q);
        }
    }
    return h;
}

// The same for two half-spaces.
inline double clear_detour_height(double height, double span, double k_p, complex k_m) noexcept {
    return clear_detour_height(height, span, spectral::two_media_singularities(k_p, k_m));
}

}  // namespace nia::pointwise
