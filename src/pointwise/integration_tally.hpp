// What the integration of one row can tell about itself: the Gauss nodes it
// used, the panels the adaptive integrator had to accept at its depth limit
// before its two estimates agreed, and whether every tail ray went quiet.
//
// The integrator and the rotated tail take a tally as a template parameter.
// no_tally records nothing and compiles away (`active` is false, so not even
// the tolerance of an accepted panel is recomputed): the rows of the batch
// entry are bit for bit those of an integrator without it.
#pragma once

#include <cstdint>

namespace nia::pointwise {

struct no_tally {
    static constexpr bool active = false;
    void rule_calls(int, int) noexcept {}
    void limit_reached(double, double) noexcept {}
    void ray_done(bool, int) noexcept {}
};

// Counts for one row.
struct row_tally {
    static constexpr bool active = true;
    std::int64_t nodes = 0;         // Gauss nodes evaluated (rule calls times nodes per rule)
    std::int64_t limit_panels = 0;  // panels accepted at the depth limit with err > tol
    double limit_error = 0.0;       // their summed error estimate (absolute, largest channel)
    std::int64_t tail_panels = 0;   // tail panels over all rays
    bool all_quiet = true;          // every ray went quiet within its budget

    // `calls` calls of a panel rule with `n_gauss` nodes each.
    void rule_calls(int calls, int n_gauss) noexcept {
        nodes += static_cast<std::int64_t>(calls) * (n_gauss > 0 ? n_gauss : 0);
    }
    // A panel accepted because the depth ran out (or it could not be halved),
    // with its estimate of the error and the tolerance it was held to. NaN
    // errors take no part, as in the refinement test.
    void limit_reached(double err, double tol) noexcept {
        if (err > tol) {
            ++limit_panels;
            limit_error += err;
        }
    }
    void ray_done(bool quiet, int panels) noexcept {
        tail_panels += panels;
        if (!quiet) all_quiet = false;
    }
};

}  // namespace nia::pointwise
