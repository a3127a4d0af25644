// C++ tests of the numeric core's pure functions that the Python probe does not
// reach: the internal guards and orderings the routines rely on. Built with
// -DNIA_CXX_TESTS=ON and run by ctest; no Python needed.
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/numeric.hpp"
#include "pointwise/adaptive_panel.hpp"
#include "pointwise/evaluate_triple.hpp"
#include "pointwise/far_range.hpp"
#include "pointwise/rotated_tail.hpp"
#include "special/hankel.hpp"
#include "special/modified_bessel.hpp"
#include "special/zbesh.hpp"
#include "spectral/singularities.hpp"

namespace {

int failures = 0;

void check(bool ok, const char* what, int line) {
    if (!ok) {
        ++failures;
        std::printf("FAILED line %d: %s\n", line, what);
    }
}

#define CHECK(expr) check((expr), #expr, __LINE__)

using nia::core::complex;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

void index_conversion_never_undefined() {
    using nia::special::detail::truncate_index;
    CHECK(truncate_index(nan, 10) == 0);
    CHECK(truncate_index(-3.5, 10) == 0);
    CHECK(truncate_index(3.99, 10) == 3);
    CHECK(truncate_index(1e300, 10) == 10);
    CHECK(truncate_index(inf, 10) == 10);
}

void other_orders_are_refused_untouched() {
    namespace d = nia::special::detail;
    const complex preset(nan, 7.0);
    complex y = preset;
    CHECK(nia::special::ZBKNU({1.0, 1.0}, 1.0, 1, 1, y, d::tol, d::elim, d::alim) == -2);
    CHECK(nia::special::ZBKNU({1.0, 1.0}, 0.0, 2, 1, y, d::tol, d::elim, d::alim) == -2);
    CHECK(nia::special::ZBINU({1.0, 1.0}, 0.0, 1, 2, y, d::rl, d::fnul, d::tol, d::elim, d::alim) ==
          -2);
    CHECK(std::isnan(y.real()) && y.imag() == 7.0);
    // the array forms take one member or two (orders 0 and 1), nothing else
    complex two[3] = {preset, preset, preset};
    CHECK(nia::special::ZBKNU({1.0, 1.0}, 0.0, 1, 3, two, d::tol, d::elim, d::alim) == -2);
    CHECK(nia::special::ZBKNU({1.0, 1.0}, 1.0, 1, 2, two, d::tol, d::elim, d::alim) == -2);
    CHECK(nia::special::ZBINU({1.0, 1.0}, 0.0, 1, 3, two, d::rl, d::fnul, d::tol, d::elim,
                              d::alim) == -2);
    CHECK(nia::special::ZACON({-1.0, 1.0}, 0.0, 1, 1, 3, two, d::rl, d::fnul, d::tol, d::elim,
                              d::alim) == -2);
    for (const complex& v : two) CHECK(std::isnan(v.real()) && v.imag() == 7.0);
    int ierr = 0;
    CHECK(nia::special::ZBESH({1.0, 1.0}, 1, 3, two, ierr) == 0 && ierr == 1);
    CHECK(std::isnan(two[0].real()) && two[0].imag() == 7.0);
}

void status_of_zbesh_results() {
    using nia::special::hankel_status;
    using nia::special::zbesh_status;
    CHECK(hankel_status(0, 0) == zbesh_status::normal);
    CHECK(hankel_status(1, 3) == zbesh_status::underflow);
    CHECK(hankel_status(-2, 0) == zbesh_status::underflow);
    CHECK(hankel_status(0, 5) == zbesh_status::not_computed);
    // what hankel0 does with each: a refused zero argument is NaN, kind 2's pole its own value
    const complex h1 = nia::special::hankel0(1, {0.0, 0.0});
    const complex h2 = nia::special::hankel0(2, {0.0, 0.0});
    CHECK(std::isnan(h1.real()) && std::isnan(h1.imag()));
    CHECK(std::isnan(h2.real()) && h2.imag() == 1e300);
    // hankel01 keeps hankel0's value in h0; the pole of order one is NaN
    const auto p2 = nia::special::hankel01(2, {0.0, 0.0});
    CHECK(std::isnan(p2.h0.real()) && p2.h0.imag() == 1e300);
    CHECK(std::isnan(p2.h1.real()) && std::isnan(p2.h1.imag()));
}

void maxima_pass_nan_over() {
    using nia::pointwise::detail::larger;
    CHECK(larger(nan, 2.0) == 2.0);
    CHECK(larger(3.0, 2.0) == 3.0);
    nia::spectral::six_sum s{};
    s[2] = complex(nan, 0.0);
    s[4] = complex(3.0, 4.0);
    CHECK(nia::pointwise::detail::largest_modulus(s) == 5.0);
}

void break_points_are_ordered_and_distinct() {
    for (double k_p : {1.0, 0.3, nan}) {
        const auto p = nia::pointwise::plan_triple(k_p, {2.0, -0.5}, 1.0, 0.5, -0.5, 10.0, 0.1);
        bool ordered = p.n_break >= 2 && p.break_points[0] == 0.0;
        for (int i = 1; i < p.n_break; ++i) {
            const double a = p.break_points[i - 1], b = p.break_points[i];
            ordered = ordered && (a < b || (!std::isnan(a) && std::isnan(b)) || std::isnan(a));
        }
        CHECK(ordered);
    }
}

void first_panel_length_is_bounded_by_both() {
    using nia::pointwise::first_panel_length;
    CHECK(first_panel_length(20.0, 2.0) == 0.5);
    CHECK(first_panel_length(0.1, 2.0) == 0.1);
}

void fast_paths_keep_signed_zeros() {
    using nia::core::principal_sqrt;
    const complex below = principal_sqrt({-4.0, -0.0});
    const complex above = principal_sqrt({-4.0, 0.0});
    CHECK(same_bits(below.real(), 0.0) && below.imag() == -2.0);
    CHECK(same_bits(above.real(), 0.0) && above.imag() == 2.0);
    const complex r = principal_sqrt({4.0, -0.0});
    CHECK(r.real() == 2.0 && same_bits(r.imag(), -0.0));
    const complex e = nia::core::complex_exp({0.0, -0.0});
    CHECK(e.real() == 1.0 && same_bits(e.imag(), -0.0));
}

// The two half-spaces' set: both outer media in order, the largest modulus as
// the path's scale, and the interface pole exactly where it is on the sheet
// (k_m^2 gamma_p + k_p^2 gamma_m = 0 there), refined by its correction.
void two_media_sets_hold_media_and_pole() {
    using nia::spectral::vertical_wavenumber;
    struct medium {
        complex k_m;
        int poles;
    };
    // lossy ground (its pole is on the other sheet), a plasmonic medium
    // (surface wave), the same as a negative-index medium, a lossless dielectric
    const medium media[] = {{std::sqrt(complex(4.0, -1.0)), 0},
                            {std::sqrt(complex(-2.0, -0.1)), 1},
                            {-std::sqrt(complex(-2.0, -0.1)), 1},
                            {{1.5, 0.0}, 0}};
    for (const medium& m : media) {
        const double k_p = 1.0;
        const auto s = nia::spectral::two_media_singularities(k_p, m.k_m);
        CHECK(s.n_branch == 2 && s.n_poles == m.poles);
        CHECK(s.branch[0].k == complex(k_p, 0.0) && s.branch[1].k == m.k_m);
        CHECK(s.branch[1].cut_at == std::fabs(m.k_m.real()));
        CHECK(!s.branch[0].may_be_negative_index && s.branch[1].may_be_negative_index);
        CHECK(s.scale == std::fmax(k_p, std::abs(m.k_m)));
        for (int i = 0; i < s.n_poles; ++i) {
            const complex q = s.poles[i].q, km2 = m.k_m * m.k_m;
            const complex t_p = km2 * vertical_wavenumber(q, {k_p, 0.0});
            const complex t_m = (k_p * k_p) * vertical_wavenumber(q, m.k_m);
            CHECK(std::abs(t_p + t_m) <= 1e-12 * (std::abs(t_p) + std::abs(t_m)));
            CHECK(std::abs(s.poles[i].q_lo) <= 1e-15 * std::abs(q));
        }
    }
}

// Fixed capacity: a full set refuses more and stays as it was.
void singularity_sets_refuse_beyond_capacity() {
    nia::spectral::singularity_set s;
    for (int i = 0; i < nia::spectral::singularity_set::max_poles; ++i)
        CHECK(s.add_pole({1.0 + i, -1.0}, {}));
    CHECK(!s.add_pole({0.5, 0.0}, {}));
    CHECK(s.n_poles == nia::spectral::singularity_set::max_poles &&
          s.poles[0].q == complex(1.0, -1.0));
    constexpr int branches = nia::spectral::singularity_set::max_branch_points;
    for (int i = 0; i < branches; ++i) CHECK(s.add_branch({1.0 + i, -1.0}, 1.0 + i, false));
    CHECK(!s.add_branch({0.5, 0.0}, 0.5, true) && s.n_branch == branches &&
          s.branch[0].k == complex(1.0, -1.0));
}

// A stack's guided modes are poles of the same list: every piece hears of
// them. Two half-spaces with a lossy ground, plus one synthetic pole.
void extra_poles_move_the_path() {
    namespace pw = nia::pointwise;
    const complex k_m = std::sqrt(complex(4.0, -1.0));
    const auto two = nia::spectral::two_media_singularities(1.0, k_m);
    const double k_max = two.scale;
    // the planned start 3.0 clears the two media's cuts...
    CHECK(pw::clear_tail_start(3.0, k_max, two, 1.0) == 3.0);
    // ... but not a pole at 6 - 0.5i, which the falling ray's wedge holds
    // for starts up to 6 - 0.5 (its mirror's wedge for the rising ray too)
    for (const complex q : {complex(6.0, -0.5), complex(6.0, 0.5)}) {
        auto s = two;
        s.add_pole(q, {});
        const double start = pw::clear_tail_start(3.0, k_max, s, 1.0);
        CHECK(start == 5.5 + pw::tail_clearance_margin * 5.5);
        // the rising ray alone (rho = 0) sweeps only the upper quadrant
        CHECK(pw::clear_tail_start(3.0, k_max, s, 0.0) == (q.imag() > 0.0 ? start : 3.0));
    }
    // the detour over [0, 2.2] passes below a first-quadrant pole within its
    // span, at detour_clearance of the pole's height, and ignores one beyond
    // the span or below the axis
    const double span = 2.2, height = 0.3;
    CHECK(pw::clear_detour_height(height, span, two) == height);
    for (const complex q : {complex(1.0, 0.05), complex(3.0, 0.05), complex(1.0, -0.05)}) {
        auto s = two;
        s.add_pole(q, {});
        const double h = pw::clear_detour_height(height, span, s);
        const double arch = h * std::sin(nia::spectral::pi * q.real() / span);
        const bool inside = q.imag() > 0.0 && q.real() < span;
        CHECK(inside ? arch <= pw::detour_clearance * q.imag() * (1.0 + 1e-15) : h == height);
    }
    // the far range: a pole whose Hankel factor would not come from the
    // large-argument expansion keeps the J0 form; a nearby pole narrows the
    // residue circle of the other one
    const double rho = 200.0;
    CHECK(pw::far_range_applies(two, rho, 0.1, -0.1));
    auto s = two;
    s.add_pole({0.05, -0.01}, {});
    CHECK(!pw::far_range_applies(s, rho, 0.1, -0.1));
    const auto plasmon =
        nia::spectral::two_media_singularities(1.0, std::sqrt(complex(-2.0, -0.1)));
    const complex q = plasmon.poles[0].q;
    const double alone = pw::detail::singularity_distance(q, 0, plasmon);
    auto crowded = plasmon;
    crowded.add_pole(q + complex(0.0, 0.01), {});
    const double near = pw::detail::singularity_distance(q, 0, crowded);
    CHECK(alone > 0.1 && std::fabs(near - 0.01) <= 1e-12);
}

}  // namespace

int main() {
    index_conversion_never_undefined();
    other_orders_are_refused_untouched();
    status_of_zbesh_results();
    maxima_pass_nan_over();
    break_points_are_ordered_and_distinct();
    first_panel_length_is_bounded_by_both();
    fast_paths_keep_signed_zeros();
    two_media_sets_hold_media_and_pole();
    singularity_sets_refuse_beyond_capacity();
    extra_poles_move_the_path();
    std::printf("%s: %d failed checks\n", failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}
