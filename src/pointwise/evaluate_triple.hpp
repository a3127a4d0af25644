// The per-point driver: the six spectral integrals of one triple (rho, z, zp),
// along a path of three pieces:
//   1. a half-sine detour above the real axis from 0 to axis_end, cut at break
//      points placed around the branch points of the outer media (the
//      singularity_set of spectral/singularities.hpp);
//   2. the real axis from axis_end to tail_start;
//   3. from tail_start on, rays at +-45 degrees on which J0 is split into the
//      two Hankel functions (one ray with no Bessel factor when rho = 0).
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "../spectral/channel_set.hpp"
#include "../spectral/kernel.hpp"
#include "../spectral/panel_rules.hpp"
#include "adaptive_panel.hpp"
#include "rotated_tail.hpp"
#include "tail_clearance.hpp"

namespace nia::pointwise {

// The call's media and numerical controls, shared read-only by all triples.
struct batch_controls {
    double k_p;
    complex k_m;
    double rtol;
    double lam_mult;
    int depth;
    double detour;
    const double* gx;
    const double* gw;
    int n_gauss;
};

inline constexpr int break_capacity = 28;
// Interior cuts of the detour at k/7 of its span, k = 1..6: each is k times the
// double nearest 1/7 (so the fifth is 0.7142857142857142, not the double nearest 5/7).
// clang-format off
inline constexpr std::array<double, 6> break_fractions = {
    0.14285714285714285, 0.2857142857142857, 0.42857142857142855,
    0.5714285714285714,  0.7142857142857142, 0.8571428571428571};
// clang-format on
// Extra cuts around each branch point x: x itself and 15% and 40% either side.
inline constexpr std::array<double, 5> branch_cut_factors = {1.0, 0.85, 1.15, 0.6, 1.4};
// axis_end is this multiple of the larger wavenumber modulus.
inline constexpr double axis_end_factor = 1.1;
// Above this product of separation and lambda, exp(-lambda dz) is below e^-60:
// the far cut 60/dz shortens the path for well separated heights.
inline constexpr double far_cut_exponent = 60.0;
inline constexpr double sqrt2 = 1.4142135623730951;
// The shortened axis_end stays at least this multiple of k_p, so that the
// detour still arches over the upper branch point and its outer cut at 1.4 k_p.
inline constexpr double shortened_axis_floor = 2.2;
// The shortened tail_start lies at least this multiple of axis_end out, so
// that the tail rays start well clear of the detour and the branch points.
inline constexpr double shortened_tail_floor = 1.5;
// The lowest detour, as a fraction of its span: the path never touches the
// branch points on the real axis, however large rho or small detour.
inline constexpr double detour_height_min = 1e-6;
// The highest detour, as a fraction of its span: a shallow arch keeps the
// growth of J0 off the real axis (like e^{rho Im lambda}) and the kernel's
// behaviour near the branch cuts moderate.
inline constexpr double detour_height_max = 0.35;
// The smallest rho dividing detour: rho = 0 gives the highest detour instead
// of a division by zero.
inline constexpr double detour_rho_floor = 1e-12;

// Where the path of one triple runs.
struct triple_plan {
    double k_max;
    double axis_end;
    double tail_start;
    double detour_height;
    double tail_scale;
    std::array<double, break_capacity> break_points;
    int n_break;
};

namespace detail {

// Ascending order with NaN last, so that the order is total even for
// non-finite wavenumbers.
inline bool before(double x, double y) noexcept {
    return x < y || (!std::isnan(x) && std::isnan(y));
}

}  // namespace detail

// The path of one triple through the plane of the singularities s: the
// detour is cut around each branch point, the axis spans s.scale, and a
// shortened axis still arches over the upper medium's cuts.
inline triple_plan plan_triple(const singularity_set& s, double rho, double z, double zp,
                               double lam_mult, double detour, double arch_end = 0.0,
                               double tail_at = 0.0) noexcept {
    triple_plan p{};
    const double dz = z - zp;
    p.k_max = s.scale;
    double a = axis_end_factor * p.k_max;
    double l = lam_mult * p.k_max;
    if (dz > 0.0) {
        const double f = far_cut_exponent / dz;
        if (!(f >= l)) {
            a = std::max(std::min(a, f), shortened_axis_floor * s.branch[0].cut_at);
            l = std::max(shortened_tail_floor * a, f);
        }
    }
    if (tail_at > 0.0) {
        // a path given whole (plan_short_tail): its arch and its tail start
        a = arch_end;
        l = tail_at;
    } else if (arch_end > a) {
        // an arch stretched over slow guided waves (slow_wave_arch)
        a = arch_end;
    }
    p.axis_end = a;
    p.tail_start = l;
    p.detour_height =
        std::max(detour_height_min * a,
                 std::min(detour_height_max * a, detour / std::max(detour_rho_floor, rho)));

    int n = 0;
    p.break_points[n++] = 0.0;
    p.break_points[n++] = a;
    for (double c : break_fractions) p.break_points[n++] = a * c;
    for (int i = 0; i < s.n_branch; ++i) {
        if (break_capacity - n < 5) continue;
        for (double f : branch_cut_factors) {
            const double v = s.branch[i].cut_at * f;
            if (0.0 < v && v < a) p.break_points[n++] = v;
        }
    }
    for (int i = 0; i < s.n_poles; ++i) {
        const double v = s.poles[i].q.real();
        if (s.poles[i].slow_wave && 0.0 < v && v < a && n < break_capacity) p.break_points[n++] = v;
    }
    // insertion sort (at most 8 + 5 per branch point and the slow waves), then
    // drop adjacent equal values
    for (int i = 1; i < n; ++i) {
        const double v = p.break_points[i];
        int j = i;
        while (j > 0 && detail::before(v, p.break_points[j - 1])) {
            p.break_points[j] = p.break_points[j - 1];
            --j;
        }
        p.break_points[j] = v;
    }
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        if (kept == 0 || !(p.break_points[i] == p.break_points[kept - 1])) {
            p.break_points[kept++] = p.break_points[i];
        }
    }
    p.n_break = kept;
    p.tail_scale = sqrt2 / (rho + (z - zp));
    return p;
}

// The same for two half-spaces.
inline triple_plan plan_triple(double k_p, complex k_m, double rho, double z, double zp,
                               double lam_mult, double detour) noexcept {
    return plan_triple(spectral::two_media_singularities(k_p, k_m), rho, z, zp, lam_mult, detour);
}

// The panel rules of channel set C; a tracing caller may substitute wrappers.
// Close to the axis the tail takes one ray with the Bessel factors themselves
// (integrate_pieces) for the sets with order-one factors.
template <class C>
struct channel_rules {
    using sum_type = spectral::channel_sum<C::size>;
    static constexpr bool bessel_ray_near_axis = spectral::uses_order<C>(1);
    spectral::detour_rule<C> detour() const noexcept { return {}; }
    spectral::axis_rule<C> axis() const noexcept { return {}; }
    spectral::ray_rule<C> ray() const noexcept { return {}; }
};

// The rules of the six interface kernels: one more channel set.
using six_rules = channel_rules<spectral::six_channels>;
// Its older name, still used by the test probe.
using plain_rules = six_rules;

namespace detail {

// Whether the tail takes one ray with the Bessel factors J(rho lambda) rather
// than the Hankel pair. Close to the axis the pair's halves, H1^(1,2)(x)/2 =
// (J1(x) +- i Y1(x))/2, are some 1/x^2 times their sum J1(x) for x = rho
// lambda << 1, and their two ray integrals cancel to that many digits: at
// rho = 1e-9 a field row lost 1e-2 of itself. J(rho lambda) is entire and
// grows only like exp(rho Im lambda), which the kernel's exp(-(z - zp)
// Re lambda) outweighs on the upper ray. Over the ray's reach (some 40 decay
// lengths, Im lambda up to about 40 / (z - zp)) rho Im lambda stays below one
// when rho <= (z - zp) / 40, so that J of complex argument keeps its digits
// there (it loses about eps exp|Im| beyond; with rho = (z - zp) / 6 every
// panel went to the depth limit at rtol 1e-12). A channel set whose rules ask
// for it (the sets with order-one factors) takes that ray then, while rho
// lambda stays below 1/2 at the tail's start; otherwise the pair loses no more
// than some 1/(rho lambda)^2 of the tail's size, a few hundred at most. The six
// channels keep the Hankel pair (their J0 has only the logarithm of Y0 to lose).
template <class Rules, class = void>
struct takes_bessel_ray : std::false_type {};
template <class Rules>
struct takes_bessel_ray<Rules, std::void_t<decltype(Rules::bessel_ray_near_axis)>>
    : std::bool_constant<Rules::bessel_ray_near_axis> {};

inline constexpr double bessel_ray_reach = 0.5;
inline constexpr double bessel_ray_height_fraction = 1.0 / 40.0;

template <class Rules>
bool bessel_ray_applies(const Rules&, double rho, double z, double zp, double tail_start) noexcept {
    if constexpr (takes_bessel_ray<Rules>::value) {
        return rho > 0.0 && rho * tail_start < bessel_ray_reach &&
               rho <= bessel_ray_height_fraction * (z - zp);
    } else {
        return false;
    }
}

}  // namespace detail

// The end of the detour's arch over the slow guided waves of a stack
// (sheet_pole::slow_wave) beyond its planned end axis_end and before the tail
// start: twice the farthest of them, so that the arch passes over each well
// below its top, with the tail start moved out to shortened_tail_floor times
// that and cleared again (which may bring further slow waves before it);
// axis_end itself when there are none. A lossless film's wave lies on the
// axis, where the segment's panels would run into it.
inline double slow_wave_arch(const singularity_set& s, double axis_end, double k_max, double rho,
                             double& tail_start) noexcept {
    double arch = axis_end;
    // each round takes a farther wave than the last: at most one per pole
    for (int round = 0; round <= s.n_poles; ++round) {
        double reach = 0.0;
        for (int i = 0; i < s.n_poles; ++i) {
            const double x = s.poles[i].q.real();
            if (s.poles[i].slow_wave && x > axis_end && x < tail_start) reach = std::fmax(reach, x);
        }
        if (!(2.0 * reach > arch)) break;
        arch = 2.0 * reach;
        tail_start =
            clear_tail_start(std::fmax(tail_start, shortened_tail_floor * arch), k_max, s, rho);
    }
    return arch;
}

// A path given whole, in place of the planned one: the end of its arch and
// the start of its tail (none when tail_start is zero). The caller vouches
// that its rays sweep no singularity.
struct path_override {
    double axis_end = 0.0;
    double tail_start = 0.0;
};

// The three piece sums of one triple and whether every tail ray went quiet.
template <class Sum>
struct path_pieces {
    Sum detour;
    Sum segment;
    Sum tail;
    bool ok;

    // The integral along the whole path, piece by piece in one order (so that
    // every caller's rows agree to the bit).
    void total_into(Sum& sum) const noexcept {
        for (std::size_t c = 0; c < sum.size(); ++c) sum[c] = (segment[c] + detour[c]) + tail[c];
    }
};
using triple_pieces = path_pieces<six_sum>;

// The pieces of one triple along the path planned through the singularities
// s of its media, with the panel rules of `rules` over the triple's record
// `kernel`; the tally hears of every panel and ray. The plan reads the
// heights through their separation z - zp, the length over which the
// integrand decays like exp(-lambda (z - zp)) far out (for a stack, the
// shortest vertical path from the source to the field point, reflections
// included).
template <class Rules, class Record, class Tally>
path_pieces<typename Rules::sum_type> integrate_path(const batch_controls& ctl,
                                                     const singularity_set& s, const Record& kernel,
                                                     double rho, double z, double zp,
                                                     const Rules& rules, Tally& tally,
                                                     path_override given = {}) noexcept {
    using Sum = typename Rules::sum_type;
    constexpr int channels = static_cast<int>(std::tuple_size<Sum>::value);
    triple_plan p =
        plan_triple(s, rho, z, zp, ctl.lam_mult, ctl.detour, given.axis_end, given.tail_start);
    double tail_start = given.tail_start;
    if (!(tail_start > 0.0)) {
        // The segment ends, and the rays start, where the rays sweep no branch
        // cut and no pole: the planned tail_start unless that is too early.
        // Slow guided waves the segment would pass through go under the arch.
        tail_start = clear_tail_start(p.tail_start, p.k_max, s, rho);
        const double arch = slow_wave_arch(s, p.axis_end, p.k_max, rho, tail_start);
        if (arch > p.axis_end) p = plan_triple(s, rho, z, zp, ctl.lam_mult, ctl.detour, arch);
    }
    const spectral::axis_ctx_of<Record> axis{kernel, rho};
    const spectral::detour_ctx_of<Record> detour{
        axis, p.axis_end, clear_detour_height(p.detour_height, p.axis_end, s)};

    path_pieces<Sum> out;
    spectral::set_zero(out.detour);
    for (int k = 0; k + 1 < p.n_break; ++k) {
        Sum piece;
        adaptive_panel(rules.detour(), detour, p.break_points[k], p.break_points[k + 1], ctl.rtol,
                       ctl.depth, ctl.gx, ctl.gw, ctl.n_gauss, nullptr, 0.0, piece, tally);
        if (k == 0) {
            out.detour = piece;
        } else {
            for (int c = 0; c < channels; ++c) out.detour[c] += piece[c];
        }
    }
    adaptive_panel(rules.axis(), axis, p.axis_end, tail_start, ctl.rtol, ctl.depth, ctl.gx, ctl.gw,
                   ctl.n_gauss, nullptr, 0.0, out.segment, tally);

    const complex d = std::exp(complex(0.0, spectral::pi / 4.0));
    const complex origin(tail_start, 0.0);
    if (detail::bessel_ray_applies(rules, rho, z, zp, tail_start)) {
        // one ray into the upper half-plane with the Bessel factors themselves
        const spectral::tail_ray_of<Record> ray3{kernel, origin, d, rho, spectral::bessel_ray_kind};
        out.ok = rotated_tail(rules.ray(), ray3, tail_start, p.tail_scale, ctl.rtol, ctl.depth,
                              ctl.gx, ctl.gw, ctl.n_gauss, out.tail, tally);
    } else if (rho != 0.0) {
        Sum upper, lower;
        const spectral::tail_ray_of<Record> ray1{kernel, origin, d, rho, 1};
        out.ok = rotated_tail(rules.ray(), ray1, tail_start, p.tail_scale, ctl.rtol, ctl.depth,
                              ctl.gx, ctl.gw, ctl.n_gauss, upper, tally);
        if (out.ok) {
            const spectral::tail_ray_of<Record> ray2{kernel, origin, std::conj(d), rho, 2};
            out.ok = rotated_tail(rules.ray(), ray2, tail_start, p.tail_scale, ctl.rtol, ctl.depth,
                                  ctl.gx, ctl.gw, ctl.n_gauss, lower, tally);
        }
        if (out.ok) {
            for (int c = 0; c < channels; ++c) out.tail[c] = upper[c] + lower[c];
        } else {
            out.tail = upper;
        }
    } else {
        const spectral::tail_ray_of<Record> ray0{kernel, origin, d, 0.0, 0};
        out.ok = rotated_tail(rules.ray(), ray0, tail_start, p.tail_scale, ctl.rtol, ctl.depth,
                              ctl.gx, ctl.gw, ctl.n_gauss, out.tail, tally);
    }
    return out;
}

// The pieces of one triple of the batch's two half-spaces, along the path
// planned through their singularities s.
template <class Rules, class Tally>
path_pieces<typename Rules::sum_type> integrate_pieces(const batch_controls& ctl,
                                                       const singularity_set& s, double rho,
                                                       double z, double zp, const Rules& rules,
                                                       Tally& tally) noexcept {
    const spectral::kernel_record kernel = spectral::make_kernel_record(z, zp, ctl.k_p, ctl.k_m);
    return integrate_path(ctl, s, kernel, rho, z, zp, rules, tally);
}

// The same for the two half-spaces of ctl, without a tally.
template <class Rules>
path_pieces<typename Rules::sum_type> integrate_pieces(const batch_controls& ctl, double rho,
                                                       double z, double zp,
                                                       const Rules& rules) noexcept {
    no_tally none;
    return integrate_pieces(ctl, spectral::two_media_singularities(ctl.k_p, ctl.k_m), rho, z, zp,
                            rules, none);
}

// Row i of the batch: writes row[0..5] on success; on a tail that does not go
// quiet sets failure_flag and leaves the row untouched. Triples that
// far_range_applies selects (large rho near the interface, far_range.hpp)
// take the branch-cut integrals instead of the three pieces above.
void evaluate_triple(const batch_controls& ctl, double rho, double z, double zp, complex* row,
                     std::atomic<bool>& failure_flag) noexcept;

// What the integration of one row says about itself.
struct row_figures {
    std::int64_t nodes;         // Gauss nodes evaluated over the whole path
    std::int64_t limit_panels;  // panels accepted at the depth limit with err > tol
    double limit_error;         // their summed error estimate over the row's largest channel
    bool all_quiet;             // every tail ray went quiet within its budget
    double condition;           // summed panel modulus over the row's largest channel (>= 1)
};

// Row i with its figures. The row is bit for bit evaluate_triple's when every
// ray went quiet; otherwise it is complex NaN (the batch entry raises for such
// a row) and the figures describe the work done up to the failed ray.
void evaluate_triple_tallied(const batch_controls& ctl, double rho, double z, double zp,
                             complex* row, row_figures& figures) noexcept;

}  // namespace nia::pointwise
