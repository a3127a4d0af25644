// One row of the field batch: the integrals of a channel set (the dipole
// fields of spectral/field_channels.hpp) at one triple (rho, z, zp), by the
// row evaluation every batch shares (evaluate_row.hpp), with the row's tally.
#pragma once

#include <cmath>
#include <limits>

#include "../spectral/field_channels.hpp"
#include "evaluate_row.hpp"
#include "integration_tally.hpp"

namespace nia::pointwise {

// The integrals of C at (rho, z, zp) into row[0 .. C::size - 1]; the tally
// hears of every panel and ray. Returns whether every tail ray went quiet. A
// row whose ray did not go quiet has no value: it is written as complex NaN
// (the tally keeps its counts, and largest_partial receives the largest
// modulus of the partial sums, so that its figures can still be scaled).
template <class C, class Tally>
bool evaluate_field_row(const batch_controls& ctl, double rho, double z, double zp, complex* row,
                        Tally& tally, double& largest_partial) noexcept {
    spectral::channel_sum<C::size> sum;
    const bool ok = evaluate_row<C>(ctl, rho, z, zp, sum, tally);
    largest_partial = detail::largest_modulus(sum);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int c = 0; c < C::size; ++c) row[c] = ok ? sum[c] : complex(nan, nan);
    return ok;
}

}  // namespace nia::pointwise
