// One row of the field batch: the integrals of a channel set (the dipole
// fields of spectral/field_channels.hpp) at one triple (rho, z, zp), along
// the path of the six channels (plan_triple's break points and detour, the
// tail clearances, the integrator and the rotated tail), or, at large rho
// near the interface, along the same branch-cut form as the six (far_range.hpp),
// with the row's tally.
#pragma once

#include <cmath>
#include <limits>

#include "../spectral/channel_panel_rules.hpp"
#include "../spectral/field_channels.hpp"
#include "evaluate_triple.hpp"
#include "far_range.hpp"
#include "integration_tally.hpp"

namespace nia::pointwise {

// The panel rules of channel set C.
template <class C>
struct channel_rules {
    using sum_type = spectral::channel_sum<C::size>;
    // close to the axis the tail takes one ray with J factors (integrate_pieces)
    static constexpr bool bessel_ray_near_axis = true;
    spectral::channel_detour_rule<C> detour() const noexcept { return {}; }
    spectral::channel_axis_rule<C> axis() const noexcept { return {}; }
    spectral::channel_ray_rule<C> ray() const noexcept { return {}; }
};

// The integrals of C at (rho, z, zp) into row[0 .. C::size - 1]; the tally
// hears of every panel and ray. Returns whether every tail ray went quiet. A
// row whose ray did not go quiet has no value: it is written as complex NaN
// (the tally keeps its counts, and largest_partial receives the largest
// modulus of the partial sums, so that its figures can still be scaled).
template <class C, class Tally>
bool evaluate_field_row(const batch_controls& ctl, double rho, double z, double zp, complex* row,
                        Tally& tally, double& largest_partial) noexcept {
    bool ok;
    if (far_range_applies(ctl, rho, z, zp)) {
        // large rho near the interface: the branch-cut form, as for the six
        spectral::channel_sum<C::size> sum;
        ok = integrate_far<C>(ctl, rho, z, zp, sum, tally);
        for (int c = 0; c < C::size; ++c) row[c] = sum[c];
    } else {
        const path_pieces<spectral::channel_sum<C::size>> p =
            integrate_pieces(ctl, rho, z, zp, channel_rules<C>{}, tally);
        for (int c = 0; c < C::size; ++c) row[c] = (p.segment[c] + p.detour[c]) + p.tail[c];
        ok = p.ok;
    }
    double largest = 0.0;
    for (int c = 0; c < C::size; ++c) {
        const double m = std::hypot(row[c].real(), row[c].imag());
        if (m > largest) largest = m;
    }
    largest_partial = largest;
    if (!ok) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (int c = 0; c < C::size; ++c) row[c] = complex(nan, nan);
    }
    return ok;
}

}  // namespace nia::pointwise
