#include "evaluate_triple.hpp"

#include <limits>

#include "evaluate_row.hpp"

namespace nia::pointwise {

void evaluate_triple(const batch_controls& ctl, double rho, double z, double zp, complex* row,
                     std::atomic<bool>& failure_flag) noexcept {
    six_sum sum;
    no_tally none;
    if (!evaluate_row<spectral::six_channels>(ctl, rho, z, zp, sum, none)) {
        failure_flag.store(true, std::memory_order_relaxed);
        return;
    }
    for (int c = 0; c < 6; ++c) row[c] = sum[c];
}

void evaluate_triple_tallied(const batch_controls& ctl, double rho, double z, double zp,
                             complex* row, row_figures& figures) noexcept {
    row_tally tally;
    six_sum sum;
    // The same row as evaluate_triple's, bit for bit; a failed ray's partial
    // sum still serves as the scale of the error figure.
    const bool ok = evaluate_row<spectral::six_channels>(ctl, rho, z, zp, sum, tally);
    // The error relative to the row's largest channel, as the refinement test
    // measures (no error is 0 even on an all-zero row, an error on an
    // all-zero row infinite).
    const double scale = detail::largest_modulus(sum);
    figures.nodes = tally.nodes;
    figures.limit_panels = tally.limit_panels;
    figures.limit_error = tally.limit_error == 0.0 ? 0.0
                          : scale > 0.0            ? tally.limit_error / scale
                                                   : std::numeric_limits<double>::infinity();
    figures.all_quiet = ok;
    figures.condition = tally.condition(scale);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int c = 0; c < 6; ++c) row[c] = ok ? sum[c] : complex(nan, nan);
}

}  // namespace nia::pointwise
