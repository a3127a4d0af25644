// The far range: the spectral integrals of one triple at large rho near the
// interface (the ground wave), from the integrals around the branch cuts that
// fall from the outer media's wavenumbers (k_p and k_m) and the residues of
// the poles on the sheet (the surface wave), as the singularity set lists
// them, in place of the J0 form of the three-piece path.
//
// Along the J0 form the integrator resolves every oscillation of
// J0(rho lambda), about k rho / pi of them, and the panel sums cancel to many
// orders below their size: the cost grows like rho and the error floor rises
// with it. Around the cuts the integrands decay like exp(-s rho) (see
// spectral/far_rules.hpp), so the cost is the same at every rho, and the
// oscillation is one phase factor per cut, formed from the exact products
// k rho of the double inputs.
//
// far_range_applies says which triples take this path: large rho against the
// heights, in units of the wavenumbers (the constants below, measured as the
// accuracy page of the guide describes). Every other triple keeps the J0
// form unchanged.
#pragma once

#include <cmath>
#include <complex>

#include "../spectral/channel_set.hpp"
#include "../spectral/far_rules.hpp"
#include "evaluate_triple.hpp"
#include "rotated_tail.hpp"
#include "tail_clearance.hpp"

namespace nia::pointwise {

// rho in units of the larger wavenumber modulus k_max = max(k_p, |k_m|) from
// which the far range is used: about 30 oscillations of J0(rho lambda) over
// [0, k_max]. Beyond it the J0 form costs more than a millisecond or two per
// point (its cost grows like k_max rho) and its error floor rises past 1e-10
// (measured on the accuracy page of the guide).
inline constexpr double far_oscillations_min = 100.0;
// rho in units of the smaller wavenumber (and of the pole's modulus, where the
// kernel has one on its sheet) from which the Hankel factors of the cut
// integrals and of the pole come from Hankel's expansion.
inline constexpr double far_rho_min = spectral::hankel_asymptotic_min;
// Heights against rho: k z^2 <= far_height_ratio rho in each medium whose cut
// is integrated. Around a cut the vertical factor of the flipped wavenumber
// grows to about exp(k z^2 / (4 rho)) before exp(-s rho) wins, and the cut
// integral cancels down from that size: this bound keeps the loss below a
// factor e.
inline constexpr double far_height_ratio = 4.0;
// The two cuts are kept apart by at least this fraction of k_p, so that
// neither cut integrand runs along the other's branch point (a nearly
// homogeneous interface keeps the J0 form).
inline constexpr double far_cut_separation = 1e-2;
// Below this exponent exp(Im k_m rho) is zero in double precision: the lower
// medium's cut adds exactly nothing and is not integrated.
inline constexpr double far_underflow_exponent = -745.0;
// The first panel of a cut, in t (the integrand decays like e^{-t^2}); the
// panels then double as on a tail ray: [0, 1], [1, 3], [3, 7], ...
inline constexpr double far_first_panel = 1.0;

namespace detail {

// exp(-i x rho) for a complex x and real rho, with the real part of the
// exponent's argument, Re(x) rho + x_lo rho, as a double-double (x_lo a
// correction below an ulp of x).
inline complex wave_phase(complex x, complex x_lo, double rho) noexcept {
    const core::double_double re =
        core::two_product(x.real(), rho) + core::two_product(x_lo.real(), rho);
    const double im = x.imag() * rho + x_lo.imag() * rho;
    return std::exp(im) * core::unit_phase(re);
}

// Distance from pole i of s, or its mirror (q = +-s.poles[i].q), to the
// nearest other singularity of the kernel: the branch points with their
// vertical cuts (falling from +k, rising from -k), the mirrored pole -q and
// the other poles with their mirrors.
inline double singularity_distance(complex q, int i, const singularity_set& s) noexcept {
    double d = std::abs(2.0 * q);
    for (int j = 0; j < s.n_branch; ++j) {
        const complex k = s.branch[j].k;
        // the cut falling from k: the horizontal distance below k, else to k itself
        d = std::fmin(d, q.imag() <= k.imag() ? std::fabs(q.real() - k.real()) : std::abs(q - k));
        // the cut rising from -k
        d = std::fmin(d, q.imag() >= -k.imag() ? std::fabs(q.real() + k.real()) : std::abs(q + k));
    }
    for (int j = 0; j < s.n_poles; ++j) {
        if (j == i) continue;
        d = std::fmin(d, std::fmin(std::abs(q - s.poles[j].q), std::abs(q + s.poles[j].q)));
    }
    return d;
}

}  // namespace detail

// Whether the branch-cut form holds for the triple at all: finite media and
// point, rho > 0, passive lower media that are not of negative index
// (Re k >= 0, Im k <= 0), cuts well apart, and each medium's height within
// far_height_ratio of rho where its cut counts. Its Hankel factors come from
// Hankel's expansion where their argument allows, from the full-range
// routine below it.
//
// height[i] is the vertical path the waves travel in the medium of branch
// point i (for two half-spaces with the source below and the point above,
// z in the upper medium and zp in the lower one).
inline bool far_form_holds_at(const singularity_set& s, double rho, const double* height) noexcept {
    if (!(std::isfinite(rho) && rho > 0.0)) return false;
    if (s.n_branch < 1) return false;
    for (int i = 0; i < s.n_branch; ++i) {
        if (!std::isfinite(height[i])) return false;
    }
    for (int i = 0; i < s.n_branch; ++i) {
        const complex k = s.branch[i].k;
        if (!(std::isfinite(k.real()) && std::isfinite(k.imag()))) return false;
        if (!(k.real() >= 0.0 && k.imag() <= 0.0)) return false;
        // no cut integrand runs along another cut's branch point (a nearly
        // homogeneous interface keeps the J0 form)
        for (int j = 0; j < i; ++j) {
            if (!(std::fabs(k.real() - s.branch[j].k.real()) >=
                  far_cut_separation * s.branch[0].k.real())) {
                return false;
            }
        }
        // the heights: a cut whose exp(Im k rho) underflows adds nothing
        if (k.imag() * rho >= far_underflow_exponent &&
            !(std::abs(k) * height[i] * height[i] <= far_height_ratio * rho)) {
            return false;
        }
    }
    return true;
}

namespace detail {

// The heights of far_form_holds_at for two half-spaces: z in the upper
// medium, zp in the lower one.
struct two_media_heights {
    double h[singularity_set::max_branch_points];
    two_media_heights(double z, double zp) noexcept {
        for (int i = 0; i < singularity_set::max_branch_points; ++i) h[i] = i == 0 ? z : zp;
    }
};

}  // namespace detail

inline bool far_form_holds(const singularity_set& s, double rho, double z, double zp) noexcept {
    return far_form_holds_at(s, rho, detail::two_media_heights(z, zp).h);
}

// Whether the triple takes the far range: where the branch-cut form holds,
// rho at least far_oscillations_min over the larger wavenumber (where the J0
// form grows costly) and far_rho_min over the smaller one and over each pole
// (where every Hankel factor comes from Hankel's expansion). rho = 0 never
// does.
inline bool far_range_applies_at(const singularity_set& s, double rho,
                                 const double* height) noexcept {
    if (!far_form_holds_at(s, rho, height)) return false;
    double k_largest = 0.0, k_smallest = INFINITY;
    for (int i = 0; i < s.n_branch; ++i) {
        const double k_abs = std::abs(s.branch[i].k);
        k_largest = std::fmax(k_largest, k_abs);
        k_smallest = std::fmin(k_smallest, k_abs);
    }
    if (!(k_largest * rho >= far_oscillations_min)) return false;
    if (!(k_smallest * rho >= far_rho_min)) return false;
    for (int i = 0; i < s.n_poles; ++i) {
        if (!(std::abs(s.poles[i].q) * rho >= far_rho_min)) return false;
    }
    return true;
}

inline bool far_range_applies(const singularity_set& s, double rho, double z, double zp) noexcept {
    return far_range_applies_at(s, rho, detail::two_media_heights(z, zp).h);
}

// The same for the two half-spaces of ctl.
inline bool far_range_applies(const batch_controls& ctl, double rho, double z, double zp) noexcept {
    return far_range_applies(spectral::two_media_singularities(ctl.k_p, ctl.k_m), rho, z, zp);
}

// The far range of one triple (see far_range_applies) for the channels of
// `Channels` over the record of the triple: both cut integrals on doubling
// panels (doubling_panels), with adaptive_panel and the caller's tally, plus
// -pi i times the residue of each pole of the kernel's sheet that the path
// sweeps (in the lower half-plane, or on the positive real axis, where the
// defining path passes above it). The branch points of s are the upper outer
// medium's (0) and the lower one's (1). Returns false when a cut integral
// does not go quiet within the panel budget; out then holds no row.
//
// Over the path below the origin, 1/2 int K H1^(2)(rho lambda) dlambda is
// int_0^inf K J1(rho lambda) dlambda - K(0) / rho (near the origin
// H1^(2)(x) is 2i / (pi x), and the half circle below it takes i pi times
// that residue): the J1 and J1/rho columns must vanish at lambda = 0, as
// every channel set's do (at normal incidence the two polarisations are one
// wave, and the columns that pair them cancel there).
template <class Channels, class R, class Tally>
bool integrate_far_over(const batch_controls& ctl, const singularity_set& s, const R& kernel,
                        double rho, spectral::channel_sum<Channels::size>& out,
                        Tally& tally) noexcept {
    using Sum = spectral::channel_sum<Channels::size>;
    constexpr int n = Channels::size;
    spectral::set_zero(out);
    const double inv_rho = 1.0 / rho;
    const double inv_sqrt_rho = 1.0 / std::sqrt(rho);
    const spectral::branch_cut_rule<Channels> rule{};
    const complex k_upper = s.branch[0].k, k_lower = s.branch[1].k;
    for (int i = 0; i < s.n_branch; ++i) {
        const complex b = s.branch[i].k;
        const bool lower = i == 1;
        if (lower && b.imag() * rho < far_underflow_exponent) continue;
        const spectral::branch_cut_ctx_of<R> ctx{
            kernel, rho, inv_rho, inv_sqrt_rho, b, lower, lower ? k_upper : k_lower};
        // (i/2) e^{-i b rho}
        const complex phase = complex(0.0, 0.5) * detail::wave_phase(b, complex(0.0, 0.0), rho);
        // the cut's panels count in the row's summed modulus with the phase's modulus
        if constexpr (Tally::active) tally.magnitude_weight = std::abs(phase);
        Sum cut;
        // each cut on panels doubling from [0, far_first_panel], held to the running sum
        const bool quiet =
            doubling_panels(rule, ctx, far_first_panel, panel_floor::running_sum, ctl.rtol,
                            ctl.depth, ctl.gx, ctl.gw, ctl.n_gauss, cut, tally);
        if constexpr (Tally::active) tally.magnitude_weight = 1.0;
        if (!quiet) return false;
        for (int c = 0; c < n; ++c) out[c] += phase * cut[c];
    }
    for (int i = 0; i < s.n_poles; ++i) {
        for (const double sign : {1.0, -1.0}) {
            const complex q = sign * s.poles[i].q, q_lo = sign * s.poles[i].q_lo;
            const bool on_axis = std::fabs(q.imag()) <= axis_tolerance * std::abs(q);
            if (!(on_axis ? q.real() > 0.0 : q.imag() < 0.0)) continue;
            complex res[n];
            spectral::pole_residues<Channels>(kernel, k_upper, k_lower, q,
                                              0.25 * detail::singularity_distance(q, i, s), res);
            const complex w = q * rho;
            const complex phase = detail::wave_phase(q, q_lo, rho);
            const complex h0 = spectral::hankel2_scaled(0, w) * phase;
            const complex h1 = spectral::hankel2_scaled(1, w) * phase;
            // -2 pi i times the residue of 1/2 K H^(2)
            for (int c = 0; c < n; ++c) {
                const complex term = complex(0.0, -spectral::pi) * res[c] *
                                     spectral::detail::hankel_factor<Channels>(c, h0, h1, inv_rho);
                if constexpr (Tally::active) tally.panel_accepted(c, std::abs(term));
                out[c] += term;
            }
        }
    }
    return true;
}

// The same for the two half-spaces' kernel of (z, zp).
template <class Channels, class Tally>
bool integrate_far(const batch_controls& ctl, const singularity_set& s, double rho, double z,
                   double zp, spectral::channel_sum<Channels::size>& out, Tally& tally) noexcept {
    const spectral::kernel_record kernel = spectral::make_kernel_record(z, zp, ctl.k_p, ctl.k_m);
    return integrate_far_over<Channels>(ctl, s, kernel, rho, out, tally);
}

// The same for the two half-spaces of ctl.
template <class Channels, class Tally>
bool integrate_far(const batch_controls& ctl, double rho, double z, double zp,
                   spectral::channel_sum<Channels::size>& out, Tally& tally) noexcept {
    return integrate_far<Channels>(ctl, spectral::two_media_singularities(ctl.k_p, ctl.k_m), rho, z,
                                   zp, out, tally);
}

}  // namespace nia::pointwise
