// I0(z) and I1(z) for Re z >= 0, the terms that continue K0 and K1 into the
// left half-plane.
//
// Three methods by modulus: the power series up to |z| = 2, where it has at
// most mild cancellation; Miller's backward recurrence normalised by the
// Neumann series between 2 and rl; the large-argument expansion from rl on,
// where its terms fall below tol before they start to grow. Each gives I1
// beside I0 when a second member is asked for (the series and the expansion
// with a sum of their own, the recurrence from the same sweep); the
// operations that give I0 are the same either way.
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

namespace detail {

// sum_k (z^2/4)^k / (k! (nu + 1)_k) for nu = fnup - 1 (0 or 1), cz = z^2/4:
// the power series of I_nu(z) without its leading factor (z/2)^nu / nu!.
inline complex zseri_sum(complex cz, double acz, double fnup, double tol) noexcept {
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
    return s1;
}

}  // namespace detail

int ZSERI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y, double tol,
          double elim, double alim) noexcept {
    using namespace detail;
    (void)elim;
    (void)alim;
    if (!order0_members(fnu, kode, n)) return -2;
    // I_nu(z) = (z/2)^nu sum_k (z^2/4)^k / (k! Gamma(k + nu + 1)) (DLMF
    // 10.25.2). The underflow tests of the leading factor (z/2)^nu / Gamma(nu
    // + 1) cannot fire at order 0; at order 1 it is z/2 itself.
    const double az = modulus(z);
    const complex hz = 0.5 * z;
    if (az < ufl) {
        y[0] = complex(1.0, 0.0);
        if (n == 2) y[1] = hz;
        return 0;
    }
    // Below rtr1 the square of z/2 would underflow: the sum is its first term.
    complex cz(0.0, 0.0);
    if (az > rtr1) cz = hz * hz;
    const double acz = modulus(cz);
    const double fnup = fnu + 1.0;
    // The leading factor exp(nu ln(z/2) - ln Gamma(nu + 1)) is 1 at order 0
    // and is left out.
    y[0] = zseri_sum(cz, acz, fnup, tol);
    if (n == 2) y[1] = hz * zseri_sum(cz, acz, fnup + 1.0, tol);
    return 0;
}

int ZSERI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double tol,
          double elim, double alim) noexcept {
    if (!detail::order0_one_member(fnu, kode, n)) return -2;
    return ZSERI(z, fnu, kode, n, &y, tol, elim, alim);
}

int ZMLRI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y,
          double tol) noexcept {
    using namespace detail;
    if (!order0_members(fnu, kode, n)) return -2;
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
    // is needed only when the highest order asked for reaches |z|; at orders
    // 0 and 1 with |z| > 2 it never does.
    const int kk = i + iaz;

    // Backward recurrence I_{k-1} = I_{k+1} + (2k/z) I_k from kk, started at a
    // tiny value so nothing overflows, accumulating 2 sum_{k>=1} I_k.
    // At order 0 the weights of the Neumann sum, Gamma(k + 2nu + 1) /
    // (Gamma(k + 1) Gamma(2nu + 1)), and their ratios from one k to the next
    // are all 1, so every term enters the sum twice. The sweep ends with I0
    // in p2 and I1 in p1, both on the scale the normalisation removes.
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
    y[0] = p2 * cnorm;
    if (n == 2) y[1] = p1 * cnorm;
    return 0;
}

int ZMLRI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y,
          double tol) noexcept {
    if (!detail::order0_one_member(fnu, kode, n)) return -2;
    return ZMLRI(z, fnu, kode, n, &y, tol);
}

namespace detail {

// The two sums of the large-argument expansion for order nu, fdn = 4 nu^2:
// cs1 = sum_k (-1)^k a_k / z^k and cs2 = sum_k a_k / z^k, a_k = (fdn - 1)
// (fdn - 9) ... (fdn - (2k-1)^2) / (k! 8^k). False when the terms do not fall
// below the stop test within zasyi_terms.
inline bool zasyi_sums(complex z, double az, double fdn, double tol, complex& cs1,
                       complex& cs2) noexcept {
    const complex ez = 8.0 * z;
    const double aez = 8.0 * az;
    // The stop test is relative to the 1/z term, since on the imaginary axis
    // that term leads the imaginary part.
    const double s = tol / aez;
    double sqk = fdn - 1.0;
    const double atol = s * std::abs(sqk);
    double sgn = 1.0;
    cs1 = complex(1.0, 0.0);
    cs2 = complex(1.0, 0.0);
    complex ck(1.0, 0.0);
    double ak = 0.0;
    double aa = 1.0;
    double bb = aez;
    complex dk = ez;
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
        if (aa <= atol) return true;
    }
    return false;
}

}  // namespace detail

int ZASYI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y, double rl,
          double tol, double elim, double alim) noexcept {
    using namespace detail;
    (void)rl;
    (void)alim;
    if (!order0_members(fnu, kode, n)) return -2;
    // DLMF 10.40.5 at orders 0 and 1:
    // I_nu(z) ~ e^z / sqrt(2 pi z) [ sum_k (-1)^k a_k(nu) / z^k
    //                                +- i e^{+-i pi nu} e^{-2z} sum_k a_k(nu) / z^k ],
    // a_k(nu) = (4nu^2 - 1)(4nu^2 - 9)...(4nu^2 - (2k-1)^2) / (k! 8^k), upper
    // signs for Im z > 0. On the real axis the second sum sits on a Stokes
    // line and is left out.
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
    complex p1(0.0, 0.0);
    if (z.imag() != 0.0) {
        // i e^{i pi nu} with nu = 0, signed by the half-plane.
        const double arg = 0.0;
        const double akp = -std::sin(arg);
        double bkp = std::cos(arg);
        if (z.imag() < 0.0) bkp = -bkp;
        p1 = complex(akp, bkp);
    }
    complex cs1, cs2;
    if (!zasyi_sums(z, az, fdn, tol, cs1, cs2)) return -2;
    // Order 1: 4 nu^2 = 4, and e^{+-i pi} = -1 turns the factor of the second
    // sum into -p1.
    complex cs1_1, cs2_1;
    if (n == 2 && !zasyi_sums(z, az, fdn + 4.0, tol, cs1_1, cs2_1)) return -2;
    complex s2 = cs1;
    complex s2_1 = cs1_1;
    // The e^{-2z} part is below the precision of the first once 2 Re z
    // exceeds elim (and e^{-2z} would underflow).
    if (z.real() + z.real() < elim) {
        const complex tz = z + z;
        const complex e2 = std::exp(-tz);
        s2 += e2 * p1 * cs2;
        if (n == 2) s2_1 += e2 * (-p1) * cs2_1;
    }
    y[0] = s2 * ak1;
    if (n == 2) y[1] = s2_1 * ak1;
    return 0;
}

int ZASYI(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double rl,
          double tol, double elim, double alim) noexcept {
    if (!detail::order0_one_member(fnu, kode, n)) return -2;
    return ZASYI(z, fnu, kode, n, &y, rl, tol, elim, alim);
}

int ZBINU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* cy, double rl,
          double fnul, double tol, double elim, double alim) noexcept {
    using namespace detail;
    (void)fnul;
    if (!order0_members(fnu, kode, n)) return -2;
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

int ZBINU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& cy, double rl,
          double fnul, double tol, double elim, double alim) noexcept {
    if (!detail::order0_one_member(fnu, kode, n)) return -2;
    return ZBINU(z, fnu, kode, n, &cy, rl, fnul, tol, elim, alim);
}

}  // namespace nia::special
