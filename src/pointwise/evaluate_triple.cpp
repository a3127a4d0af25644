#include "evaluate_triple.hpp"

#include <limits>

namespace nia::pointwise {

void evaluate_triple(const batch_controls& ctl, double rho, double z, double zp, complex* row,
                     std::atomic<bool>& failure_flag) noexcept {
    const triple_pieces p = integrate_pieces(ctl, rho, z, zp, plain_rules{});
    if (!p.ok) {
        failure_flag.store(true, std::memory_order_relaxed);
        return;
    }
    for (int c = 0; c < 6; ++c) row[c] = (p.segment[c] + p.detour[c]) + p.tail[c];
}

void evaluate_triple_tallied(const batch_controls& ctl, double rho, double z, double zp,
                             complex* row, row_figures& figures) noexcept {
    row_tally tally;
    const triple_pieces p = integrate_pieces(ctl, rho, z, zp, plain_rules{}, tally);
    // The same sums in the same order as evaluate_triple, so that the row is
    // bit for bit the batch entry's. A failed ray's partial sum still serves
    // as the scale of the error figure.
    six_sum sum;
    for (int c = 0; c < 6; ++c) sum[c] = (p.segment[c] + p.detour[c]) + p.tail[c];
    const double scale = detail::largest_modulus(sum);
    figures.nodes = tally.nodes;
    figures.limit_panels = tally.limit_panels;
    // Relative to the largest channel, as the refinement test measures; no
    // error is 0 even on an all-zero row, an error on an all-zero row infinite.
    figures.limit_error = tally.limit_error == 0.0 ? 0.0
                          : scale > 0.0            ? tally.limit_error / scale
                                                   : std::numeric_limits<double>::infinity();
    figures.all_quiet = p.ok;
    if (p.ok) {
        for (int c = 0; c < 6; ++c) row[c] = sum[c];
    } else {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (int c = 0; c < 6; ++c) row[c] = complex(nan, nan);
    }
}

}  // namespace nia::pointwise
