// I0(z) for Re z >= 0, the term that continues K0 into the left half-plane.
//
// Three methods by modulus: the power series up to |z| = 2, where it has at
// most mild cancellation; Miller's backward recurrence normalised by the
// Neumann series between 2 and rl; the large-argument expansion from rl on,
// where its terms fall below tol before they start to grow.
#include <cmath>
#include <complex>

#include "modified_bessel.hpp"

namespace nia::special {

namespace detail {

// Radius up to which the power series is used.
inline constexpr double zbinu_series_radius = 2.0;
// Step limit of each index search of Miller's algorithm.
inline constexpr int zmlri_search_steps = 80;
// Term limit of the large-argument expansion, int(2 rl) + 2.
inline constexpr int zasyi_terms = static_cast<int>(rl + rl) + 2;
static_assert(zasyi_terms == 45, "term limit of the large-argument expansion");

}  // namespace detail

int ZSERI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double tol,
          double elim, double alim) noexcept {
    using namespace detail;
    (void)elim;
    (void)alim;
    if (!order0_one_member(fnu, kode, n)) return -2;
    // I0(z) = sum_k (z^2/4)^k / (k!)^2 (DLMF 10.25.2). The underflow tests of
    // the leading factor (z/2)^nu / Gamma(nu + 1) = 1 cannot fire at order 0.
    const double az = modulus(z);
    if (az < ufl) {
        y = complex(1.0, 0.0);
        return 0;
    }
    const complex hz = 0.5 * z;
    // Below rtr1 the square of z/2 would underflow: the sum is its first term.
    complex cz(0.0, 0.0);
    if (az > rtr1) cz = hz * hz;
    const double acz = modulus(cz);
    const double fnup = fnu + 1.0;
    // The leading factor exp(nu ln(z/2) - ln Gamma(nu + 1)) is 1 at order 0
    // and is left out.
    const double atol = tol * acz / fnup;
    complex s1(1.0, 0.0);
    if (acz >= tol * fnup) {
        complex ak1(1.0, 0.0);
        double ak = fnup + 2.0;
        double s = fnup;
        double aa = 1.0;
        // s runs through k (k + nu); aa is the modulus of the k-th term.
        do {
            const double rs = 1.0 / s;
            ak1 *= cz * rs;
            s1 += ak1;
            s += ak;
            ak += 2.0;
            aa *= acz * rs;
        } while (aa > atol);
    }
    y = s1;
    return 0;
}

int ZMLRI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y,
          double tol) noexcept {
    using namespace detail;
    if (!order0_one_member(fnu, kode, n)) return -2;
    const double az = modulus(z);
    // Used for 2 < |z| < rl; the cap only keeps the conversion defined.
    const int iaz = truncate_index(az, 1000000);
    constexpr int inu = 0;
    const double at = iaz + 1.0;
    const double raz = 1.0 / az;
    const complex st(z.real() * raz, -z.imag() * raz);
    // 2/z, and 2k/z at k = at: the coefficient of I_{k+1} = I_{k-1} - (2k/z) I_k
    // (DLMF 10.29.1) past the turning point k = |z|.
    const complex rz = (st + st) * raz;
    complex ck = rz * at;
    // Growth target of the forward recurrence: the relative truncation error
    // of the backward recurrence and of the tail of the normalising sum, whose
    // terms fall at least like rho^-k, rho the dominant root at k = at + 1 on
    // the imaginary axis (the slowest direction).
    const double ack = (at + 1.0) * raz;
    const double rho = ack + std::sqrt(ack * ack - 1.0);
    const double rho2 = rho * rho;
    const double tst = (rho2 + rho2) / ((rho2 - 1.0) * (rho - 1.0)) / tol;

    complex p1(0.0, 0.0);
    complex p2(1.0, 0.0);
    double ak = at;
    int i = 1;
    bool found = false;
    for (; i <= zmlri_search_steps; ++i) {
        const complex pt = p2;
        p2 = p1 - ck * p2;
        p1 = pt;
        ck += rz;
        if (modulus(p2) > tst * ak * ak) {
            found = true;
            break;
        }
        ak += 1.0;
    }
    if (!found) return -2;
    ++i;
    // The second search (for ratios I_{nu+1}/I_nu when the order reaches |z|)
    // is needed only when nu >= |z|; at order 0 with |z| > 2 it never is.
    const int kk = i + iaz;

    // Backward recurrence I_{k-1} = I_{k+1} + (2k/z) I_k from kk, started at a
    // tiny value so nothing overflows, accumulating 2 sum_{k>=1} I_k.
    // At order 0 the weights of the Neumann sum, Gamma(k + 2nu + 1) /
    // (Gamma(k + 1) Gamma(2nu + 1)), and their ratios from one k to the next
    // are all 1, so every term enters the sum twice.
    double fkk = kk;
    p1 = complex(0.0, 0.0);
    p2 = complex(miller_start_scale, 0.0);
    complex sum(0.0, 0.0);
    const int km = kk - inu;
    for (int j = 1; j <= km; ++j) {
        const complex pt = p2;
        p2 = p1 + fkk * rz * p2;
        p1 = pt;
        sum += 2.0 * p1;
        fkk -= 1.0;
    }
    // Normalise by e^z = I0(z) + 2 sum_{k>=1} I_k(z) (DLMF 10.35.5 at angle 0).
    // The quotient e^z / (p2 + sum) is formed as (e^z / |d|) (conj d / |d|) so
    // that nothing is squared. The published exponent z - nu ln(2/z) -
    // ln Gamma(1 + nu) is z at order 0; the + 0.0 turns a real part of -0.0
    // into +0.0 as the subtraction of 0 ln(2/z) (a -0.0, since |2/z| < 1) does.
    const complex pz(z.real() + 0.0, z.imag());
    const complex d = p2 + sum;
    const double rd = 1.0 / modulus(d);
    const complex cnorm = (std::exp(pz) * rd) * (std::conj(d) * rd);
    y = p2 * cnorm;
    return 0;
}

int ZASYI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double rl,
          double tol, double elim, double alim) noexcept {
    using namespace detail;
    (void)rl;
    (void)alim;
    if (!order0_one_member(fnu, kode, n)) return -2;
    // DLMF 10.40.5 at order 0:
    // I0(z) ~ e^z / sqrt(2 pi z) [ sum_k (-1)^k a_k / z^k
    //                              +- i e^{-2z} sum_k a_k / z^k ],
    // a_k = (-1)(-9)...(-(2k-1)^2) / (k! 8^k), upper sign for Im z > 0. On the
    // real axis the second sum sits on a Stokes line and is left out.
    const double az = modulus(z);
    const double raz = 1.0 / az;
    const complex st(z.real() * raz, -z.imag() * raz);
    complex ak1 = std::sqrt(rtpi * st * raz);
    if (std::abs(z.real()) > elim) return -1;
    ak1 *= std::exp(z);
    const double dfnu = fnu;
    const double dnu2 = dfnu + dfnu;
    double fdn = 0.0;
    if (dnu2 > rtr1) fdn = dnu2 * dnu2;
    const complex ez = 8.0 * z;
    const double aez = 8.0 * az;
    // The stop test is relative to the 1/z term, since on the imaginary axis
    // that term leads the imaginary part.
    const double s = tol / aez;
    complex p1(0.0, 0.0);
    if (z.imag() != 0.0) {
        // i e^{i pi nu} with nu = 0, signed by the half-plane.
        const double arg = 0.0;
        const double akp = -std::sin(arg);
        double bkp = std::cos(arg);
        if (z.imag() < 0.0) bkp = -bkp;
        p1 = complex(akp, bkp);
    }
    double sqk = fdn - 1.0;
    const double atol = s * std::abs(sqk);
    double sgn = 1.0;
    complex cs1(1.0, 0.0);
    complex cs2(1.0, 0.0);
    complex ck(1.0, 0.0);
    double ak = 0.0;
    double aa = 1.0;
    double bb = aez;
    complex dk = ez;
    bool converged = false;
    for (int j = 1; j <= zasyi_terms; ++j) {
        ck *= sqk / dk;
        cs2 += ck;
        sgn = -sgn;
        cs1 += ck * sgn;
        dk += ez;
        aa = aa * std::abs(sqk) / bb;
        bb += aez;
        ak += 8.0;
        sqk -= ak;
        if (aa <= atol) {
            converged = true;
            break;
        }
    }
    if (!converged) return -2;
    complex s2 = cs1;
    // The e^{-2z} part is below the precision of the first once 2 Re z
    // exceeds elim (and e^{-2z} would underflow).
    if (z.real() + z.real() < elim) {
        const complex tz = z + z;
        s2 += std::exp(-tz) * p1 * cs2;
    }
    y = s2 * ak1;
    return 0;
}

int ZBINU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& cy, double rl,
          double fnul, double tol, double elim, double alim) noexcept {
    using namespace detail;
    (void)fnul;
    if (!order0_one_member(fnu, kode, n)) return -2;
    const double az = modulus(z);
    int nw;
    if (az <= zbinu_series_radius) {
        nw = ZSERI(z, fnu, kode, n, cy, tol, elim, alim);
    } else if (az >= rl) {
        nw = ZASYI(z, fnu, kode, n, cy, rl, tol, elim, alim);
    } else {
        nw = ZMLRI(z, fnu, kode, n, cy, tol);
    }
    if (nw < 0) return nw == -2 ? -2 : -1;
    return nw;
}

}  // namespace nia::special
