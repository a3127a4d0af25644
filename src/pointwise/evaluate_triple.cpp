#include "evaluate_triple.hpp"

#include "far_range.hpp"

namespace nia::pointwise {

void evaluate_triple(const batch_controls& ctl, double rho, double z, double zp, complex* row,
                     std::atomic<bool>& failure_flag) noexcept {
    if (far_range_applies(ctl, rho, z, zp)) {
        six_sum s;
        no_tally none;
        if (!integrate_far<spectral::six_channels>(ctl, rho, z, zp, s, none)) {
            failure_flag.store(true, std::memory_order_relaxed);
            return;
        }
        for (int c = 0; c < 6; ++c) row[c] = s[c];
        return;
    }
    const triple_pieces p = integrate_pieces(ctl, rho, z, zp, plain_rules{});
    if (!p.ok) {
        failure_flag.store(true, std::memory_order_relaxed);
        return;
    }
    for (int c = 0; c < 6; ++c) row[c] = (p.segment[c] + p.detour[c]) + p.tail[c];
}

}  // namespace nia::pointwise
