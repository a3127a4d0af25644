// One row of a stack of layers: the layered field columns of a source in any
// layer at a receiver in any layer, along the one path of every batch (the
// detour, the axis segment, the rotated tails), planned through the stack's
// singularities; for two half-spaces far out near the interface, around the
// branch cuts of the far range.
#pragma once

#include <cmath>

#include "../spectral/guided_modes.hpp"
#include "../spectral/layered_channels.hpp"
#include "../spectral/singularities.hpp"
#include "evaluate_field.hpp"
#include "evaluate_triple.hpp"
#include "far_range.hpp"

namespace nia::pointwise {

// The singularities of a stack seen from one source and receiver: the branch
// points of the two outer media (and of the layer that holds both, whose
// direct wave is taken out of the integrand), then the inner layers'
// wavenumbers, where the detour's panels are cut too (the integrand turns
// fastest near them); the scale is the largest wavenumber modulus of all.
// The guided modes' poles lie below the real axis for lossy layers and on it
// for lossless ones, where the detour passes above them as the defining path
// does. The slow waves of films of negative permittivity or permeability,
// beyond the detour (find_guided_modes), come with each row (with_slow_waves):
// the arch is stretched over them and the tail starts beyond.
inline singularity_set layered_singularities(const spectral::layer_stack& st,
                                             const spectral::layered_point& pt) noexcept {
    singularity_set s;
    const int n = st.n;
    const auto add = [&](int j) {
        const complex k = st.k[j];
        s.add_branch(k, std::fabs(k.real()), k.real() < 0.0);
    };
    add(0);
    add(n - 1);
    const int own = pt.r == pt.s && pt.s != 0 && pt.s != n - 1 ? pt.s : -1;
    if (own >= 0) add(own);
    for (int j = 1; j + 1 < n; ++j) {
        if (j != own) add(j);
    }
    double scale = 0.0;
    for (int j = 0; j < n; ++j) scale = std::fmax(scale, std::abs(st.k[j]));
    s.scale = scale;
    return s;
}

// The shortest vertical path from the source to the receiver: their
// separation in different layers, by way of the nearer interface of their
// layer when they share one (the integrand there is the reflected waves',
// which decay like exp(-lambda times that path) far out).
inline double decay_separation(const spectral::layer_stack& st,
                               const spectral::layered_point& pt) noexcept {
    if (pt.r != pt.s) return std::fabs(pt.z - pt.zp);
    const double up = st.top[pt.s] - pt.z + (st.top[pt.s] - pt.zp);
    const double down = pt.z - st.bottom[pt.s] + (pt.zp - st.bottom[pt.s]);
    return std::fmin(up, down);
}

// The stack's slow guided waves (find_guided_modes) that reach a receiver
// `separation` away from the source (the shortest vertical path between
// them): a wave beyond far_cut_exponent / separation arrives below e^-60 of
// the direct one, whether the tail's rays sweep it or not.
inline singularity_set with_slow_waves(singularity_set s, const spectral::layer_stack& st,
                                       double separation) noexcept {
    for (int i = 0; i < st.n_guided; ++i) {
        const complex q = st.guided[i];
        if (!(q.real() * separation > far_cut_exponent)) s.add_pole(q, complex(0.0, 0.0), true);
    }
    return s;
}

// The singularities of a stack of two media with their surface waves: the
// zeros of the TM and the TE Fresnel denominators on the path's sheet.
inline singularity_set with_interface_poles(singularity_set s,
                                            const spectral::layer_stack& st) noexcept {
    complex q, q_lo;
    if (spectral::detail::fresnel_pole(st.k[0], st.inv_eps[0], st.k[1], st.inv_eps[1], q, q_lo)) {
        s.add_pole(q, q_lo);
    }
    if (spectral::detail::fresnel_pole(st.k[0], st.inv_mu[0], st.k[1], st.inv_mu[1], q, q_lo)) {
        s.add_pole(q, q_lo);
    }
    return s;
}

// The vertical path of the waves in each medium of a stack of two media
// (upper 0, lower 1) between the source and the receiver: from each of them
// to the interface in its medium, both in one medium adding up (the
// reflected wave's path).
inline void two_media_travel(const spectral::layer_stack& st, const spectral::layered_point& pt,
                             double* height) noexcept {
    const double face = st.bottom[0];
    for (int i = 0; i < singularity_set::max_branch_points; ++i) height[i] = 0.0;
    height[0] = (pt.r == 0 ? pt.z - face : 0.0) + (pt.s == 0 ? pt.zp - face : 0.0);
    height[1] = (pt.r == 1 ? face - pt.z : 0.0) + (pt.s == 1 ? face - pt.zp : 0.0);
}

// The columns of the layered channel set C at (rho, z, zp) of a source at zp
// in the stack at free-space wavenumber k0, into sum; the tally hears of every
// panel and ray. Returns whether every tail ray went quiet.
template <class C, class Tally>
bool evaluate_layered_row(const batch_controls& ctl, const spectral::layer_stack& st, double k0,
                          double rho, double z, double zp, spectral::channel_sum<C::size>& sum,
                          Tally& tally) noexcept {
    const spectral::layered_record q = spectral::make_layered_record(st, k0, z, zp);
    // Two half-spaces: their surface waves, which the tail clears as for the
    // buried source, and far out near the interface the branch-cut form.
    const singularity_set s = st.n == 2
                                  ? with_interface_poles(layered_singularities(st, q.point), st)
                                  : layered_singularities(st, q.point);
    if (st.n == 2) {
        double height[singularity_set::max_branch_points];
        two_media_travel(st, q.point, height);
        if (far_range_applies_at(s, rho, height)) {
            return integrate_far_over<C>(ctl, s, q, rho, sum, tally);
        }
    }
    // the plan reads the heights through the separation over which the
    // integrand decays
    const double separation = decay_separation(st, q.point);
    const path_pieces<spectral::channel_sum<C::size>> p =
        integrate_path(ctl, with_slow_waves(s, st, separation), q, rho, separation, 0.0,
                       channel_rules<C>{}, tally);
    p.total_into(sum);
    return p.ok;
}

// Far out along a stack of diffusive layers (the marine survey's sea floor)
// the field is the air wave's, many orders below what the integrand sums
// along the real axis: the J0 form keeps rounding of that size. The Hankel
// rays may then start just past the cuts instead, where the falling one
// sweeps no cut (every medium's cut keeps left of Re + Im = its Re k + Im k)
// and, the search says, no guided mode within short_tail_depth / rho of the
// axis (deeper ones arrive damped by exp(-short_tail_depth)); the two rays
// then decay within some 1 / rho and cancel only to some 1 / (rho |k|).
inline constexpr double short_tail_depth = 50.0;
// The staircase of rectangles the search covers the band with, in steps of
// its depth.
inline constexpr int short_tail_steps = 8;
// The short tail is tried where the J0 form promises more error than this
// fraction of rtol: the promise is of the row's largest integral, and a
// field component can lie that far below it (10 km out along the marine sea
// floor at 1 Hz E was off by 2.3e-7 of itself at rtol 1e-8 with a promise
// under 1e-8), but not below short_tail_floor, the rounding of an ordinary
// row at tight tolerances, for which the second form would only cost.
inline constexpr double short_tail_trigger = 1e-3;
inline constexpr double short_tail_floor = 1e-12;

// The short tail of one row: its path, and the band its falling ray sweeps
// (from start, in steps of step, to reach below the axis).
struct short_tail_plan {
    path_override path;
    double start, step, reach;
};

// The short tail of one row, or false where it does not apply: the tail
// start just past the cuts (and the search's staircase), the arch over the
// branch points left of it. None for slow guided waves (their poles lie in
// the band) or rho = 0. The band is not yet searched (sweeps_no_modes).
inline bool plan_short_tail(const singularity_set& s, const spectral::layer_stack& st, double rho,
                            short_tail_plan& plan) noexcept {
    if (st.n_guided > 0 || !(rho > 0.0)) return false;
    const double start = clear_tail_start(0.0, s.scale, s, rho);
    const double reach = short_tail_depth / rho;
    const double step = reach / short_tail_steps;
    const double tail = start + step;
    double arch = tail / shortened_tail_floor;
    for (int i = 0; i < s.n_branch; ++i) {
        const double x = std::fabs(s.branch[i].k.real());
        if (x < tail) arch = std::fmax(arch, (1.0 + tail_clearance_margin) * x);
    }
    if (!(arch < tail && tail < s.scale && std::isfinite(tail))) return false;
    plan = {{arch, tail}, start, step, reach};
    return true;
}

// The short tail is integrated first, before the J0 form, where the J0
// form's segment would run this many radians of rho lambda beyond the short
// tail's start (some 20 half-periods of J0 more to resolve): far out along a
// stack of diffusive layers the rays then carry the row at a fraction of the
// J0 form's nodes (10 Hz along the marine sea floor 2.3 km out: 1,100 nodes
// against 2,200 at rtol 1e-4). Nearer in, the J0 form's few oscillations cost
// less than the short tail's rays.
inline constexpr double short_tail_first_phase = 64.0;

// Whether a row whose short tail applies (path) takes it first: the J0 form's
// tail would start short_tail_first_phase / rho beyond it, as integrate_path
// plans that tail.
inline bool short_tail_first(const batch_controls& ctl, const singularity_set& s, double rho,
                             double separation, const path_override& path) noexcept {
    const triple_plan p = plan_triple(s, rho, separation, 0.0, ctl.lam_mult, ctl.detour);
    const double j0_tail = clear_tail_start(p.tail_start, p.k_max, s, rho);
    return rho * (j0_tail - path.tail_start) > short_tail_first_phase;
}

// One row of the layered batch: evaluate_layered_row into row[0 .. C::size -
// 1] (complex NaN where a ray did not go quiet), with the row's tally and the
// largest modulus of its partial sums. Over two half-spaces a row of the J0
// form that cancels beyond rtol is integrated again around the cuts wherever
// that form holds, and keeps the form whose figures promise the smaller
// error, as the buried dipole's rows do (evaluate_field_row). Over more
// layers the short tail stands in for the branch-cut form: taken first far
// out (short_tail_first), else second where the J0 form promises more than
// the trigger, and again the better-promising form is kept.
template <class C>
bool evaluate_layered_field_row(const batch_controls& ctl, const spectral::layer_stack& st,
                                double k0, double rho, double z, double zp, complex* row,
                                row_tally& tally, double& largest_partial) noexcept {
    using Sum = spectral::channel_sum<C::size>;
    Sum sum;
    const spectral::layered_record q = spectral::make_layered_record(st, k0, z, zp);
    short_tail_plan plan{};
    bool short_tail = false;
    double separation = 0.0;
    singularity_set s;
    if (st.n > 2) {
        s = layered_singularities(st, q.point);
        separation = decay_separation(st, q.point);
        short_tail = plan_short_tail(s, st, rho, plan);
    }
    // the search of the band the falling ray sweeps, once and only if needed
    int clear = -1;
    const auto band_clear = [&] {
        if (clear < 0) {
            clear = spectral::sweeps_no_modes(st, plan.start, plan.step, plan.reach) ? 1 : 0;
        }
        return clear == 1;
    };
    const auto short_form = [&](Sum& out, row_tally& t) {
        const path_pieces<Sum> p =
            integrate_path(ctl, s, q, rho, separation, 0.0, channel_rules<C>{}, t, plan.path);
        p.total_into(out);
        return p.ok;
    };
    const auto j0_form = [&](Sum& out, row_tally& t) {
        return evaluate_layered_row<C>(ctl, st, k0, rho, z, zp, out, t);
    };
    // held to a thousandth of rtol (see short_tail_trigger)
    const double trigger = std::fmax(short_tail_trigger * ctl.rtol, short_tail_floor);
    if (short_tail && short_tail_first(ctl, s, rho, separation, plan.path) && band_clear()) {
        if (short_form(sum, tally)) {
            largest_partial = detail::largest_modulus(sum);
            if (error_promise(tally, largest_partial) > trigger) {
                keep_the_better_form(sum, tally, largest_partial, j0_form);
            }
            for (int c = 0; c < C::size; ++c) row[c] = sum[c];
            return true;
        }
        // a ray that did not go quiet: the J0 form alone, with the nodes of both
        const std::int64_t spent = tally.nodes;
        tally = row_tally{};
        tally.nodes = spent;
        short_tail = false;
    }
    const bool ok = j0_form(sum, tally);
    largest_partial = detail::largest_modulus(sum);
    if (ok && st.n == 2 && error_promise(tally, largest_partial) > ctl.rtol) {
        const singularity_set cut = with_interface_poles(layered_singularities(st, q.point), st);
        double height[singularity_set::max_branch_points];
        two_media_travel(st, q.point, height);
        if (!far_range_applies_at(cut, rho, height) && far_form_holds_at(cut, rho, height)) {
            keep_the_better_form(sum, tally, largest_partial, [&](Sum& other, row_tally& t) {
                return integrate_far_over<C>(ctl, cut, q, rho, other, t);
            });
        }
    }
    if (ok && short_tail && error_promise(tally, largest_partial) > trigger && band_clear()) {
        keep_the_better_form(sum, tally, largest_partial, short_form);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int c = 0; c < C::size; ++c) row[c] = ok ? sum[c] : complex(nan, nan);
    return ok;
}

}  // namespace nia::pointwise
