#include "evaluate_triple.hpp"

#include <limits>

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

namespace {

// The figures of a row from its tally; the error relative to the row's largest
// channel, as the refinement test measures (no error is 0 even on an all-zero
// row, an error on an all-zero row infinite).
void set_figures(const row_tally& tally, const six_sum& sum, bool ok,
                 row_figures& figures) noexcept {
    const double scale = detail::largest_modulus(sum);
    figures.nodes = tally.nodes;
    figures.limit_panels = tally.limit_panels;
    figures.limit_error = tally.limit_error == 0.0 ? 0.0
                          : scale > 0.0            ? tally.limit_error / scale
                                                   : std::numeric_limits<double>::infinity();
    figures.all_quiet = ok;
    figures.condition = tally.condition(scale);
}

void write_row(const six_sum& sum, bool ok, complex* row) noexcept {
    if (ok) {
        for (int c = 0; c < 6; ++c) row[c] = sum[c];
    } else {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (int c = 0; c < 6; ++c) row[c] = complex(nan, nan);
    }
}

}  // namespace

void evaluate_triple_tallied(const batch_controls& ctl, double rho, double z, double zp,
                             complex* row, row_figures& figures) noexcept {
    row_tally tally;
    six_sum sum;
    bool ok;
    if (far_range_applies(ctl, rho, z, zp)) {
        ok = integrate_far<spectral::six_channels>(ctl, rho, z, zp, sum, tally);
    } else {
        const triple_pieces p = integrate_pieces(ctl, rho, z, zp, plain_rules{}, tally);
        // The same sums in the same order as evaluate_triple, so that the row
        // is bit for bit the batch entry's. A failed ray's partial sum still
        // serves as the scale of the error figure.
        for (int c = 0; c < 6; ++c) sum[c] = (p.segment[c] + p.detour[c]) + p.tail[c];
        ok = p.ok;
    }
    set_figures(tally, sum, ok, figures);
    write_row(sum, ok, row);
}

}  // namespace nia::pointwise
