// One row of the field batch: the integrals of a channel set (the dipole
// fields of spectral/field_channels.hpp) at one triple (rho, z, zp), by the
// row evaluation every batch shares (evaluate_row.hpp), with the row's tally.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "../spectral/field_channels.hpp"
#include "evaluate_row.hpp"
#include "integration_tally.hpp"

namespace nia::pointwise {

// Rounding grows by about this many unit roundoffs per unit of condition: the
// row cancels beyond its tolerance where condition times this exceeds rtol.
inline constexpr double rounding_per_condition = 50.0 * 0x1p-53;

// The integrals of C at (rho, z, zp) into row[0 .. C::size - 1]; the tally
// hears of every panel and ray. Returns whether every tail ray went quiet. A
// row whose ray did not go quiet has no value: it is written as complex NaN
// (the tally keeps its counts, and largest_partial receives the largest
// modulus of the partial sums, so that its figures can still be scaled).
//
// A row of the J0 form that cancels so far below its integrand that rounding
// alone exceeds rtol (far out near a good conductor at low frequencies,
// where the near-static image of the source cancels along the real axis) is
// integrated again in the branch-cut form wherever that form holds, whatever
// rho: there the integrand is the lateral wave's own, and cancels far less.
// Of the two the row keeps the one whose own figures promise the smaller
// error (rounding by the condition plus the panels left at the depth limit;
// the branch-cut form has its own trouble where the surface-wave pole of the
// other sheet lies next to the upper branch point), with its figures and the
// nodes of both.
inline double error_promise(const row_tally& t, double largest) noexcept {
    const double limit = largest > 0.0 ? t.limit_error / largest : t.limit_error;
    return limit + t.condition(largest) * rounding_per_condition;
}

// Of a row of the J0 form (sum, its tally and the largest modulus of its
// partial sums) and its branch-cut form, which far(cut, tally) integrates
// and says whether it went quiet, keep the one whose figures promise the
// smaller error, with the nodes of both.
template <class Sum, class Far>
void keep_the_better_form(Sum& sum, row_tally& tally, double& largest_partial,
                          const Far& far) noexcept {
    Sum cut;
    row_tally again;
    const bool quiet = far(cut, again);
    const double largest = detail::largest_modulus(cut);
    const std::int64_t nodes = tally.nodes + again.nodes;
    if (quiet && error_promise(again, largest) < error_promise(tally, largest_partial)) {
        sum = cut;
        largest_partial = largest;
        tally = again;
    }
    tally.nodes = nodes;
}

template <class C>
bool evaluate_field_row(const batch_controls& ctl, double rho, double z, double zp, complex* row,
                        row_tally& tally, double& largest_partial) noexcept {
    spectral::channel_sum<C::size> sum;
    bool ok = evaluate_row<C>(ctl, rho, z, zp, sum, tally);
    largest_partial = detail::largest_modulus(sum);
    const singularity_set s = spectral::two_media_singularities(ctl.k_p, ctl.k_m);
    if (ok && !far_range_applies(s, rho, z, zp) && far_form_holds(s, rho, z, zp) &&
        error_promise(tally, largest_partial) > ctl.rtol) {
        keep_the_better_form(sum, tally, largest_partial, [&](auto& cut, row_tally& again) {
            return integrate_far<C>(ctl, s, rho, z, zp, cut, again);
        });
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int c = 0; c < C::size; ++c) row[c] = ok ? sum[c] : complex(nan, nan);
    return ok;
}

}  // namespace nia::pointwise
