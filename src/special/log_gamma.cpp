// ln Gamma(x) for x > 0: a table at the integers 1..100, Stirling's series
// elsewhere (DLMF 5.11.1), with the argument shifted up to at least 7 so that
// 22 terms reach full precision.
#include "log_gamma.hpp"

#include <array>
#include <cmath>
#include <limits>

#include "../core/numeric.hpp"

namespace nia::special {

namespace detail {

// ln Gamma(k) = ln((k-1)!) for k = 1..100, the exact values rounded to the
// nearest double (evaluated in 300-bit arithmetic).
// clang-format off
inline constexpr std::array<double, 100> dgamln_gln = {
    0.0, 0.0, 0.69314718055994529, 1.791759469228055,
    3.1780538303479458, 4.7874917427820458, 6.5792512120101012, 8.5251613610654147,
    10.604602902745251, 12.801827480081469, 15.104412573075516, 17.502307845873887,
    19.987214495661885, 22.552163853123425, 25.19122118273868, 27.89927138384089,
    30.671860106080672, 33.505073450136891, 36.395445208033053, 39.339884187199495,
    42.335616460753485, 45.380138898476908, 48.471181351835227, 51.606675567764377,
    54.784729398112319, 58.003605222980518, 61.261701761002001, 64.557538627006338,
    67.88974313718154, 71.257038967168015, 74.658236348830158, 78.092223553315307,
    81.557959456115043, 85.054467017581516, 88.580827542197682, 92.136175603687093,
    95.719694542143202, 99.330612454787428, 102.96819861451381, 106.63176026064346,
    110.32063971475739, 114.03421178146171, 117.77188139974507, 121.53308151543864,
    125.3172711493569, 129.12393363912722, 132.95257503561632, 136.80272263732635,
    140.67392364823425, 144.5657439463449, 148.47776695177302, 152.40959258449735,
    156.3608363030788, 160.3311282166309, 164.32011226319517, 168.32744544842765,
    172.35279713916279, 176.39584840699735, 180.45629141754378, 184.53382886144948,
    188.6281734236716, 192.7390472878449, 196.86618167289001, 201.00931639928152,
    205.1681994826412, 209.34258675253685, 213.53224149456327, 217.73693411395422,
    221.95644181913033, 226.1905483237276, 230.43904356577696, 234.70172344281826,
    238.97838956183432, 243.26884900298271, 247.57291409618688, 251.89040220972319,
    256.22113555000954, 260.56494097186322, 264.92164979855278, 269.29109765101981,
    273.67312428569369, 278.06757344036612, 282.4742926876304, 286.89313329542699,
    291.32395009427029, 295.76660135076065, 300.22094864701415, 304.68685676566872,
    309.1641935801469, 313.65282994987905, 318.1526396202093, 322.66349912672615,
    327.1852877037752, 331.71788719692847, 336.26118197919845, 340.81505887079902,
    345.37940706226686, 349.95411804077025, 354.53908551944079, 359.1342053695754};
// clang-format on

// Stirling coefficients B_2j / (2j (2j-1)), j = 1..22, of
// ln Gamma(x) ~ (x - 1/2) ln x - x + ln(2 pi)/2 + sum_j c_j / x^{2j-1}.
// clang-format off
inline constexpr std::array<double, 22> dgamln_cf = {
    0.083333333333333329, -0.0027777777777777779, 0.00079365079365079365,
    -0.00059523809523809529, 0.00084175084175084171, -0.0019175269175269176,
    0.00641025641025641, -0.029550653594771242, 0.17964437236883057,
    -1.3924322169059011, 13.402864044168393, -156.84828462600203,
    2193.1033333333335, -36108.77125372499, 691472.26885131304,
    -15238221.539407415, 382900751.39141417, -10882266035.784391,
    347320283765.00226, -12369602142269.275, 488788064793079.31,
    -21320333960919372.0};
// clang-format on

// ln(2 pi).
inline constexpr double dgamln_con = 1.8378770664093456;
// Relative size of the last Stirling term kept: 2^-52.
inline constexpr double dgamln_wdtol = core::unit_roundoff;
// Smallest argument of the series: int(1.8 + 0.3875 (min(53 log10 2, 20) - 3)) + 1,
// where 22 terms stay below the tolerance.
inline constexpr double dgamln_zmin = 7.0;

}  // namespace detail

double DGAMLN(double x) noexcept {
    using namespace detail;
    if (std::isnan(x) || x <= 0.0) return std::numeric_limits<double>::quiet_NaN();
    if (x == std::numeric_limits<double>::infinity()) return x;
    if (x <= 101.0) {
        // x is at most 101 here, so the conversion is defined.
        const int nz = static_cast<int>(x);
        if (x - nz == 0.0 && nz <= 100) return dgamln_gln[static_cast<std::size_t>(nz - 1)];
    }
    // Shift small arguments up to x' = x + (7 - int(x)) >= 7 and undo it with
    // ln Gamma(x) = ln Gamma(x') - ln(x (x + 1) ... (x' - 1)) (DLMF 5.5.1).
    double zinc = 0.0;
    double zdmy = x;
    if (x < dgamln_zmin) {
        zinc = dgamln_zmin - static_cast<int>(x);
        zdmy = x + zinc;
    }
    double zp = 1.0 / zdmy;
    const double t1 = dgamln_cf[0] * zp;
    double s = t1;
    if (zp >= dgamln_wdtol) {
        const double zsq = zp * zp;
        const double tst = t1 * dgamln_wdtol;
        for (std::size_t k = 1; k < dgamln_cf.size(); ++k) {
            zp *= zsq;
            const double trm = dgamln_cf[k] * zp;
            if (std::abs(trm) < tst) break;
            s += trm;
        }
    }
    if (zinc == 0.0) {
        const double tlg = std::log(x);
        return x * (tlg - 1.0) + 0.5 * (dgamln_con - tlg) + s;
    }
    double prod = 1.0;
    const int nshift = static_cast<int>(zinc);
    for (int i = 0; i < nshift; ++i) prod *= x + i;
    const double tlg = std::log(zdmy);
    return zdmy * (tlg - 1.0) - std::log(prod) + 0.5 * (dgamln_con - tlg) + s;
}

}  // namespace nia::special
