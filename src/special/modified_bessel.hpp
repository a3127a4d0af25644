// Modified Bessel functions K and I of orders 0 and 1 and complex argument
// in the right half-plane, and the continuation of K to the left half-plane:
// the routines behind the Hankel functions of hankel.hpp, with the machine
// constants they share.
//
// Every routine takes the published argument list (argument, order FNU,
// scaling KODE, count N, output, tolerances) and returns its underflow count
// NZ. Only order 0, unscaled values (KODE = 1) and one or two members (N = 1:
// order 0; N = 2: orders 0 and 1) are implemented, the combinations the Hankel
// functions of orders zero and one need; other orders, scalings or counts are
// refused as a failed computation (NZ = -2, output untouched). Negative NZ:
// -1 overflow, -2 no convergence. Each routine has two forms: the output as
// an array of N members, and as one value (N = 1 only).
//
// All routines are re-entrant: fixed-size locals only, no allocation, no
// mutable static state.
#pragma once

#include <array>

#include <cmath>
#include <complex>

#include "../core/numeric.hpp"

namespace nia::special {

namespace detail {

using core::complex;

// ---- Machine constants of IEEE binary64 --------------------------------
// Smallest positive normal double.
inline constexpr double d1mach_tiny = 2.2250738585072014e-308;
// Largest finite double.
inline constexpr double d1mach_huge = 1.7976931348623157e308;
// Unit roundoff 2^-52, the relative accuracy aimed at.
inline constexpr double tol = core::unit_roundoff;
// Largest |Re z| for which exp(+-z) stays inside the exponent range with
// three decades to spare: 2.303 (1021 log10 2 - 3).
inline constexpr double elim = 700.9217936944459;
// elim less the 52-bit significand in natural-log units: above it, values
// are computed scaled by exp(z) and rescaled with an underflow test.
inline constexpr double alim = 664.8716455337102;
// Radius from which the large-argument expansion of I0 is accurate to tol:
// 1.2 * 52 log10 2 + 3.
inline constexpr double rl = 21.784271729432426;
// Order above which uniform expansions would take over (never reached at
// order 0; kept because the continuation routines take it as an argument).
inline constexpr double fnul = 85.92135864716212;
// Largest modulus computed: min(0.5/tol, 0.5 * largest double) = 2^51.
inline constexpr double range_limit = 2251799813685248.0;
// Above sqrt(range_limit) the result keeps fewer than half the digits;
// the loss is flagged but the value is still returned.
inline constexpr double loss_limit = 47453132.81212578;
// Underflow limit 1000 * smallest normal: smaller moduli are refused.
inline constexpr double ufl = 2.2250738585072014e-305;
// ufl / tol: a scaled value at or below this would lose digits to underflow
// when rescaled by tol.
inline constexpr double ascle = 1.0020841800044864e-289;
// tol / ufl, the reciprocal of ascle (the middle overflow bound of K).
inline constexpr double ascle_reciprocal = 9.9792015476736e288;
// sqrt(ufl): below it the square of z/2 underflows, so series reduce to
// their first term.
inline constexpr double rtr1 = 4.7170688552396617e-153;
// smallest normal / tol: the starting value of Miller's backward recurrence
// for I0, small enough that the recurrence cannot overflow.
inline constexpr double miller_start_scale = 1.0020841800044864e-292;

// ---- Mathematical constants --------------------------------------------
using core::pi;
// pi/2.
inline constexpr double hpi = 1.57079632679489662;
// 1/(2 pi), the factor of 1/z under the square root of the I0 expansion.
inline constexpr double rtpi = 0.159154943091895336;

// Complex modulus by hypot, free of overflow and underflow in the squares.
inline double modulus(complex z) noexcept { return std::hypot(z.real(), z.imag()); }

// Truncates a non-negative double toward zero, as the published integer
// conversions do, clamped to [0, cap]: NaN gives 0 and values above cap give
// cap, so no conversion is ever undefined. For every value the algorithm
// produces from a valid argument the clamp is inactive.
inline int truncate_index(double x, int cap) noexcept {
    if (!(x > 0.0)) return 0;
    if (!(x < static_cast<double>(cap))) return cap;
    return static_cast<int>(x);
}

// True when the arguments name the only combination the one-value form
// implements: order 0, unscaled (KODE = 1), one member (N = 1).
inline bool order0_one_member(double fnu, int kode, int n) noexcept {
    return fnu == 0.0 && kode == 1 && n == 1;
}

// True when the arguments name a combination the array form implements:
// order 0, unscaled, one member or two (orders 0 and 1).
inline bool order0_members(double fnu, int kode, int n) noexcept {
    return fnu == 0.0 && kode == 1 && (n == 1 || n == 2);
}

// ZBKNU's constants for order 0 (the scalar routine and its SIMD lanes).
// Radius up to which Temme's series is used.
inline constexpr double zbknu_r1 = 2.0;
// Step limit of the forward recurrence that finds the backward index.
inline constexpr int zbknu_kmax = 30;
// sqrt(pi/2), the factor of e^{-z}/sqrt(z) in K0.
inline constexpr double zbknu_rthpi = 1.25331413731550025;
// Empirical constant of the backward-index estimate for moderate |z|.
inline constexpr double zbknu_fpi = 1.89769999331517738;
// 6/pi, weight of the phase correction added to the forward-recurrence index.
inline constexpr double zbknu_spi = 1.90985931710274403;
// 2/3.
inline constexpr double zbknu_tth = 6.66666666666666666e-01;
// The e of 2^-e = tol (52 bits), inside the range [12, 60] on which the
// index formulas were fitted.
inline constexpr double zbknu_t1 = 52.0;
// Radius R2 = (2/3) e - 6 from which the backward index comes from the forward
// recurrence rather than the empirical estimate.
inline constexpr double zbknu_t2 = zbknu_tth * zbknu_t1 - 6.0;
static_assert(zbknu_t2 == 28.666666666666664, "switch radius of the backward index");

// The recurrence coefficients of the backward sweep for order 0 depend on the
// index alone (fks = fk^2 and fhs = 1/4 there): akk = (fk^2 + fk) / (fk^2 - fk + 1/4)
// and rak = 2 / (fk + 1). Tabulated for the indices valid arguments reach, with
// the same operations as the sweep, so the values are bit for bit those it
// would compute; the two divisions per step were most of a call's cost.
inline constexpr int zbknu_table_size = 256;
struct backward_coefficients {
    std::array<double, zbknu_table_size> akk{};
    std::array<double, zbknu_table_size> rak{};
};
constexpr backward_coefficients make_backward_coefficients() {
    backward_coefficients t{};
    for (int j = 1; j < zbknu_table_size; ++j) {
        const double fk = j;
        const double fks = fk * fk;
        const double a1 = fks - fk;
        t.akk[j] = (fks + fk) / (a1 + 0.25);
        t.rak[j] = 2.0 / (fk + 1.0);
    }
    return t;
}
inline constexpr backward_coefficients zbknu_backward = make_backward_coefficients();

}  // namespace detail

// K_fnu(z) for Re z >= 0 (order 0, KODE 1; with N = 2 also K1): Temme's
// series for |z| <= 2, Miller's algorithm for the confluent hypergeometric
// function above. Returns the number of members set to zero because they
// underflow, -2 when the forward recurrence for the backward index does not
// settle.
int ZBKNU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y, double tol,
          double elim, double alim) noexcept;
int ZBKNU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double tol,
          double elim, double alim) noexcept;

// I_fnu(z) for Re z >= 0 (order 0, KODE 1; with N = 2 also I1): power series
// for |z| <= 2, Miller's algorithm normalised by the Neumann series for
// 2 < |z| < rl, the large-argument expansion for |z| >= rl.
int ZBINU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* cy, double rl,
          double fnul, double tol, double elim, double alim) noexcept;
int ZBINU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& cy, double rl,
          double fnul, double tol, double elim, double alim) noexcept;

// Power series of I_fnu(z), |z| <= 2.
int ZSERI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y, double tol,
          double elim, double alim) noexcept;
int ZSERI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double tol,
          double elim, double alim) noexcept;

// Miller's backward recurrence for I_fnu(z), normalised by e^z = I0 + 2 sum I_k.
int ZMLRI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y,
          double tol) noexcept;
int ZMLRI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y,
          double tol) noexcept;

// Large-argument expansion of I_fnu(z), |z| >= rl.
int ZASYI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y, double rl,
          double tol, double elim, double alim) noexcept;
int ZASYI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double rl,
          double tol, double elim, double alim) noexcept;

// K_fnu(z) for Re z < 0 by continuation from w = -z: with mr < 0 the
// argument is read as z = w e^{-i pi}, with mr >= 0 as z = w e^{+i pi}.
int ZACON(std::complex<double> z, double fnu, int kode, int mr, int n, std::complex<double>* y,
          double rl, double fnul, double tol, double elim, double alim) noexcept;
int ZACON(std::complex<double> z, double fnu, int kode, int mr, int n, std::complex<double>& y,
          double rl, double fnul, double tol, double elim, double alim) noexcept;

}  // namespace nia::special
