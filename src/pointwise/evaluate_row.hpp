// One row of any batch: the integrals of a channel set at one triple
// (rho, z, zp), from the branch-cut form of the far range where
// far_range_applies, and from the three pieces of the path (detour, axis
// segment, tail) everywhere else.
#pragma once

#include "evaluate_triple.hpp"
#include "far_range.hpp"

namespace nia::pointwise {

// The integrals of C at (rho, z, zp) into sum, along paths planned through
// the singularities of the batch's two half-spaces; the tally hears of every
// panel and ray. Returns whether every tail ray (or cut) went quiet; when one did
// not, sum holds the partial sums.
template <class C, class Tally>
bool evaluate_row(const batch_controls& ctl, double rho, double z, double zp,
                  spectral::channel_sum<C::size>& sum, Tally& tally) noexcept {
    const singularity_set s = spectral::two_media_singularities(ctl.k_p, ctl.k_m);
    if (far_range_applies(s, rho, z, zp)) return integrate_far<C>(ctl, s, rho, z, zp, sum, tally);
    const path_pieces<spectral::channel_sum<C::size>> p =
        integrate_pieces(ctl, s, rho, z, zp, channel_rules<C>{}, tally);
    p.total_into(sum);
    return p.ok;
}

}  // namespace nia::pointwise
