// What the integration of one row can tell about itself: the Gauss nodes it
// used, the panels the adaptive integrator had to accept at its depth limit
// before its two estimates agreed, whether every tail ray went quiet, and per
// channel the summed modulus of the accepted panels, which measures how far
// the row's integral cancels below the integrand it sums.
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
    void panel_accepted(int, double) noexcept {}
};

// Counts for one row.
struct row_tally {
    static constexpr bool active = true;
    std::int64_t nodes = 0;         // Gauss nodes evaluated (rule calls times nodes per rule)
    std::int64_t limit_panels = 0;  // panels accepted at the depth limit with err > tol
    double limit_error = 0.0;       // their summed error estimate (absolute, largest channel)
    std::int64_t tail_panels = 0;   // tail panels over all rays
    bool all_quiet = true;          // every ray went quiet within its budget
    // The channels whose accepted panels are summed in `magnitude` (the
    // largest channel set has eleven).
    static constexpr int magnitude_channels = 12;
    // Per channel, the sum over accepted panels of weight times the modulus
    // of the panel's sum: at least the modulus of the channel's integral,
    // far above it where the integral cancels.
    double magnitude[magnitude_channels] = {};
    // What the panels integrated next contribute per unit of their sum (the
    // modulus of a factor the caller applies to them afterwards).
    double magnitude_weight = 1.0;

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
    // Channel c of an accepted panel (or of a closed-form term) whose sum has
    // modulus m. A NaN takes no part.
    void panel_accepted(int c, double m) noexcept {
        if (m > 0.0) magnitude[c] += magnitude_weight * m;
    }
    // The largest channel's summed modulus over `modulus`, the row's largest
    // channel modulus: 1 for an integral that does not cancel, the factor by
    // which rounding and the panels' relative errors grow in the row where
    // it does. 1 for an all-zero row, infinite for a zero row of nonzero
    // panels, NaN for a NaN modulus.
    double condition(double modulus) const noexcept {
        double sum = 0.0;
        for (const double v : magnitude) {
            if (v > sum) sum = v;
        }
        if (sum == 0.0) return modulus == modulus ? 1.0 : modulus;
        const double c = sum / modulus;
        return c < 1.0 ? 1.0 : c;
    }
};

}  // namespace nia::pointwise
