// C++ tests of the numeric core's pure functions that the Python probe does not
// reach: the internal guards and orderings the routines rely on. Built with
// -DNIA_CXX_TESTS=ON and run by ctest; no Python needed.
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/numeric.hpp"
#include "pointwise/adaptive_panel.hpp"
#include "pointwise/evaluate_triple.hpp"
#include "pointwise/rotated_tail.hpp"
#include "special/hankel.hpp"
#include "special/modified_bessel.hpp"
#include "special/zbesh.hpp"

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

}  // namespace

int main() {
    index_conversion_never_undefined();
    other_orders_are_refused_untouched();
    status_of_zbesh_results();
    maxima_pass_nan_over();
    break_points_are_ordered_and_distinct();
    first_panel_length_is_bounded_by_both();
    fast_paths_keep_signed_zeros();
    std::printf("%s: %d failed checks\n", failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}
