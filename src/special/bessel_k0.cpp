// K0(z) and K1(z) for Re z >= 0: Temme's series near the origin, Miller's
// algorithm for the confluent hypergeometric function further out.
//
// Below |z| = 2 the series (Temme 1975) converges quickly and has no
// cancellation. Above it, K_nu(z) = sqrt(pi) (2z)^nu e^{-z} U(nu+1/2, 2nu+1, 2z)
// (DLMF 10.39.6); the ratio U(1/2, 1, 2z) / sum of the Miller sequence comes
// from a backward recurrence started at an index that an empirical formula
// (moderate |z|) or a forward recurrence (large |z|) supplies. Both methods
// give K1 from the quantities they form for K0 anyway, so K1 is carried along
// when a second member is asked for; the operations that give K0 are the
// same either way.
#include <array>
#include <cmath>
#include <complex>

#include "../core/numeric.hpp"
#include "modified_bessel.hpp"

namespace nia::special {

namespace detail {

// Taylor coefficients in x^2 of -(1/Gamma(1-x) - 1/Gamma(1+x)) / (2x) about
// x = 0 (the first is Euler's constant): Temme's g1 = -sum cc_j x^{2j} for
// small orders x.
// clang-format off
inline constexpr std::array<double, 8> zbknu_cc = {
    0.57721566490153287,     -0.042002635034095237,   -0.042197734555544333,
    0.0072189432466630999,   -0.00021524167411495098, -2.0134854780788239e-05,
    1.1330272319816959e-06,  6.1160951044814161e-09};
// clang-format on
// A backward index beyond this is never produced by a valid argument (at most
// about 180 from the estimate, about 35 from the forward recurrence).
inline constexpr int zbknu_index_cap = 100000;

// The on-scale test of a value about to be rescaled by tol: the smaller part
// underflows harmlessly only when it is more than one precision below the
// larger one; otherwise the phase has lost its accuracy and the value is
// taken as an underflow. Returns 1 for an underflow.
inline int ZUCHK(complex y, double ascle_value, double tol_value) noexcept {
    const double wr = std::abs(y.real());
    const double wi = std::abs(y.imag());
    double st = std::fmin(wr, wi);
    if (st > ascle_value) return 0;
    const double ss = std::fmax(wr, wi);
    st /= tol_value;
    return ss < st ? 1 : 0;
}

// Rescales a value s = e^{z} K(z) of the scaled path by e^{-z}: false (the
// member underflows) when the result is below the exponent range, or so close
// to it that its phase is lost.
inline bool zbknu_rescale(complex s, complex z, double tol, double elim, complex& out) noexcept {
    const double acs = -z.real() + std::log(modulus(s));
    if (acs < -elim) return false;
    const complex lg = std::log(s) - z;
    const double mag = std::exp(lg.real()) / tol;
    const complex cs_scaled(mag * std::cos(lg.imag()), mag * std::sin(lg.imag()));
    if (ZUCHK(cs_scaled, ascle, tol) != 0) return false;
    out = cs_scaled * tol;
    return true;
}

// ZBKNU's work for order 0, K0 in y[0]; with_k1 also K1 in y[1].
template <bool with_k1>
int zbknu_members(complex z, complex* y, double tol, double elim, double alim) noexcept {
    const double zr = z.real();
    const double zi = z.imag();
    const double caz = std::hypot(zr, zi);
    // At order 0 the published set-up has dnu = fnu - [fnu + 1/2] = 0; the
    // terms in dnu and dnu^2 are left out below.

    if (caz <= zbknu_r1) {
        // Temme's series, DLMF 10.31.2 in Temme's recursive form:
        // K0(z) = sum_k (z^2/4)^k / k! f_k with f_0 = -gamma + ln(2/z),
        // f_k = (k f_{k-1} + p_{k-1} + q_{k-1}) / k^2, p_k = p_{k-1}/k,
        // q_k = q_{k-1}/k, p_0 = q_0 = 1/2.
        // ln(2/z) as -ln(z/2): halving is exact, so near |z| = 2, where the
        // series cancels about tenfold and an error in ln(2/z) is carried by
        // every f_k, the logarithm adds no rounding of its own argument.
        const complex smu = -std::log(0.5 * z);
        // At order 0 the published set-up reduces to constants: Gamma(1 + dnu)
        // = 1 gives t1 = t2 = 1 and g2 = (t1 + t2) / 2 = 1 (exactly what
        // exp(-DGAMLN(1)) and the products by them give), and of the Taylor
        // series of g1 in dnu^2 only the first coefficient survives: g1 = -gamma.
        const double g1 = -zbknu_cc[0];
        complex f = g1 + smu;
        complex p(0.5, 0.0);
        complex q(0.5, 0.0);
        complex s1 = f;
        // K1(z) = (2/z) sum_k (z^2/4)^k / k! (p_k - k f_k), Temme's companion
        // sum; its k = 0 term is p_0.
        [[maybe_unused]] complex s2 = p;
        if (caz >= tol) {
            const complex cz = z * z * 0.25;
            const double t1sq = 0.25 * caz * caz;
            complex ck(1.0, 0.0);
            double a1 = 1.0;
            double bk = 1.0;
            double ak = 1.0;
            do {
                // f_k, p_k, q_k of the recursion above; bk = k^2 at order 0.
                f = (f * ak + p + q) / bk;
                p /= ak;
                q /= ak;
                const double rak = 1.0 / ak;
                ck *= cz * rak;
                s1 += ck * f;
                if constexpr (with_k1) s2 += ck * (p - f * ak);
                a1 *= t1sq * rak;
                bk += ak + ak + 1.0;
                ak += 1.0;
            } while (a1 > tol);
        }
        y[0] = s1;
        if constexpr (with_k1) y[1] = s2 * core::quotient(complex(2.0, 0.0), z);
        return 0;
    }

    // Miller's algorithm. K0(z) = sqrt(pi/(2z)) e^{-z} p_0 / sum_k p_k, the p_k
    // the minimal solution of the recurrence of U(k + 1/2, 1, 2z) (DLMF
    // 13.3.7) normalised so that the sum of the sequence is 1.
    complex coef = core::quotient(complex(zbknu_rthpi, 0.0), core::principal_sqrt(z));
    // Beyond alim e^{-z} is within a precision of underflow: compute e^{z} K0
    // and rescale at the end with an underflow test.
    const bool scaled = zr > alim;
    if (!scaled) coef *= core::complex_exp(-z);

    // |cos(pi dnu)| = 1 and |1/4 - dnu^2| = 1/4 at order 0.
    double ak = 1.0;
    double fhs = 0.25;
    // Phase of z in [0, pi/2]; equals pi/2 on the imaginary axis.
    const double phase = std::abs(std::atan2(zi, zr));
    double fk = 1.0;
    if (caz >= zbknu_t2) {
        // Large |z|: run the recurrence forward on |z| until its growth
        // exceeds the accuracy target; that step count is the backward index.
        const double etest = ak / (pi * caz * tol);
        if (etest >= 1.0) {
            double fks = 2.0;
            double ckr = caz + caz + 2.0;
            double p1 = 0.0;
            double p2 = 1.0;
            bool settled = false;
            for (int i = 1; i <= zbknu_kmax; ++i) {
                ak = fhs / fks;
                const double cbr = ckr / (fk + 1.0);
                const double ptr = p2;
                p2 = cbr * p2 - p1 * ak;
                p1 = ptr;
                ckr += 2.0;
                fks += fk + fk + 2.0;
                fhs += fk + fk;
                fk += 1.0;
                if (etest < modulus(p2) * fk) {
                    settled = true;
                    break;
                }
            }
            if (!settled) return -2;
            fk += zbknu_spi * phase * std::sqrt(zbknu_t2 / caz);
            fhs = 0.25;
        }
    } else {
        // Moderate |z|: empirical estimate of the backward index, fitted over
        // the phase of z.
        const double a2 = std::sqrt(caz);
        ak = zbknu_fpi * ak / (tol * std::sqrt(a2));
        const double aa = 3.0 * phase / (1.0 + caz);
        const double bb = 14.7 * phase / (28.0 + caz);
        ak = (std::log(ak) + caz * std::cos(aa) / (1.0 + 0.008 * caz)) / std::cos(bb);
        fk = 0.12125 * ak * ak / caz + 1.5;
    }

    // Backward recurrence from index k, starting at tol so that the sum of
    // the sequence is accumulated on scale.
    const int k = truncate_index(fk, zbknu_index_cap);
    fk = static_cast<double>(k);
    double fks = fk * fk;
    complex p1(0.0, 0.0);
    complex p2(tol, 0.0);
    complex cs = p2;
    const bool tabulated = k < zbknu_table_size && fhs == 0.25;
    for (int i = 1; i <= k; ++i) {
        const double a1 = fks - fk;
        const int j = k - i + 1;  // the current index, fk
        const double akk = tabulated ? zbknu_backward.akk[j] : (fks + fk) / (a1 + fhs);
        const double rak = tabulated ? zbknu_backward.rak[j] : 2.0 / (fk + 1.0);
        const complex cb((fk + zr) * rak, zi * rak);
        const complex pt = p2;
        // (pt cb - p1) akk in real arithmetic: the sweep's values are finite,
        // so the complex product's special-value handling is never needed
        p2 = complex((pt.real() * cb.real() - pt.imag() * cb.imag() - p1.real()) * akk,
                     (pt.real() * cb.imag() + pt.imag() * cb.real() - p1.imag()) * akk);
        p1 = pt;
        cs += p2;
        fks = a1 - fk + 1.0;
        fk -= 1.0;
    }
    // p2 / cs as (p2 / |cs|) (conj cs / |cs|), which keeps both on scale.
    const double rtm = 1.0 / modulus(cs);
    complex s1 = coef * ((rtm * p2) * (std::conj(cs) * rtm));
    // K1(z) = K0(z) (z + 1/2 - p_1/p_0) / z. From K1 = -K0' (DLMF 10.29.3),
    // U'(a, b, x) = -a U(a+1, b+1, x), Kummer's transformation
    // U(3/2, 2, x) = U(1/2, 0, x) / x (DLMF 13.2.40) and the contiguous
    // relation U(a, 0, x) = U(a, 1, x) - a U(a+1, 1, x) (DLMF 13.3(i)):
    // K1 = K0 (1 + (1 - U(3/2, 1, 2z) / (2 U(1/2, 1, 2z))) / (2z)), and the
    // sweep's p_k are ((1/2)_k)^2 / k! U(k + 1/2, 1, 2z), so the ratio of U
    // is 4 p_1/p_0.
    [[maybe_unused]] complex s2;
    if constexpr (with_k1) {
        const complex ratio = core::quotient(p1, p2);
        s2 = s1 * core::quotient(complex(zr + 0.5 - ratio.real(), zi - ratio.imag()), z);
    }

    if (!scaled) {
        y[0] = s1;
        if constexpr (with_k1) y[1] = s2;
        return 0;
    }
    // Rescale e^{z} K(z) by e^{-z}: a member below the exponent range, or so
    // close to it that its phase is lost, is zero and counted in nz.
    int nz = 0;
    if (!zbknu_rescale(s1, z, tol, elim, y[0])) {
        y[0] = complex(0.0, 0.0);
        nz = 1;
    }
    if constexpr (with_k1) {
        if (!zbknu_rescale(s2, z, tol, elim, y[1])) {
            y[1] = complex(0.0, 0.0);
            ++nz;
        }
    }
    return nz;
}

}  // namespace detail

int ZBKNU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>* y, double tol,
          double elim, double alim) noexcept {
    if (!detail::order0_members(fnu, kode, n)) return -2;
    if (n == 2) return detail::zbknu_members<true>(z, y, tol, elim, alim);
    return detail::zbknu_members<false>(z, y, tol, elim, alim);
}

int ZBKNU(std::complex<double> z, double fnu, int kode, int n, std::complex<double>& y, double tol,
          double elim, double alim) noexcept {
    if (!detail::order0_one_member(fnu, kode, n)) return -2;
    return detail::zbknu_members<false>(z, &y, tol, elim, alim);
}

}  // namespace nia::special
