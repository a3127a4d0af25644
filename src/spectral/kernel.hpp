// Interface kernels K_0 ... K_5 of the two-half-space problem at one complex
// value of the spectral variable lambda.
#pragma once

#include "../core/numeric.hpp"
#include "channel_sum.hpp"

namespace nia::spectral {

using core::complex_exp;
using core::complex_expm1;
using core::principal_sqrt;
using core::quotient;

// Per-triple parameters of the kernel; filled once per triple, read-only after.
struct kernel_record {
    double z;        // field height (>= 0)
    double zp;       // source height (<= 0)
    complex k_p;     // upper medium wavenumber, (k_p, 0)
    complex k_m;     // lower medium wavenumber, as the caller gave it
    complex k_p_sq;  // (k_p * k_p, 0)
    complex k_m_sq;  // k_m * k_m as a complex product
};

// gamma(lambda; k) with gamma^2 = lambda^2 - k^2. The branch is fixed by the
// factorisation sqrt(i (k + lambda)) * sqrt(i (k - lambda)) with principal
// roots: one vertical cut rises from -k, the other falls from +k, so that
// gamma(0; k) = i k and gamma is positive real on the real axis beyond k.
inline complex vertical_wavenumber(complex lam, complex k) noexcept {
    const complex u(-(k.imag() + lam.imag()), k.real() + lam.real());
    const complex v(lam.imag() - k.imag(), k.real() - lam.real());
    return principal_sqrt(u) * principal_sqrt(v);
}

// What every kernel of the package is built from at one lambda: the two
// vertical wavenumbers and the two interface quotients, k0 = 2 lambda S /
// (gp + gm) and q = 2 lambda S / (k_m^2 gp + k_p^2 gm). The field kernels are
// these times powers of lambda, gp, gm and the wavenumbers.
struct kernel_parts {
    complex gp;
    complex gm;
    complex k0;  // K_0 of the six
    complex q;   // K_1 of the six
};

// The parts at lambda from the vertical wavenumbers gp and gm. The factor
// S = exp(zp gm - z gp) is the product of the upward decay in the upper medium
// and the downward decay in the lower one.
inline kernel_parts parts_from_gammas(const kernel_record& r, complex lam, complex gp,
                                      complex gm) noexcept {
    const complex e = r.zp * gm - r.z * gp;
    const complex s = complex_exp(e);
    const complex n = 2.0 * lam * s;
    return {gp, gm, quotient(n, gp + gm), quotient(n, r.k_m_sq * gp + r.k_p_sq * gm)};
}

// The six kernel values from the parts at one lambda, written into K[0..5]:
// K_0 = k0, K_1 = q and the products of q with the vertical wavenumbers.
inline void six_from_parts(const kernel_parts& p, complex* K) noexcept {
    K[0] = p.k0;
    K[1] = p.q;
    K[2] = p.q * (p.gp - p.gm);
    K[3] = -K[2] * p.gp;
    K[4] = -p.q * (p.gp * p.gm);
    K[5] = K[2] * p.gm;
}

// The six kernel values at lambda from the two vertical wavenumbers gp and gm,
// written into K[0..5]. The factor s = exp(zp gm - z gp) is the product of the
// upward decay in the upper medium and the downward decay in the lower one;
// the denominators are the sum of the vertical wavenumbers, gp + gm (K[0]),
// and the wavenumber-squared weighted sum k_m^2 gp + k_p^2 gm (K[1] to K[5]).
// Vanishing denominators are not guarded: they give non-finite values. The
// wavenumbers are the caller's choice of sheet (a branch-cut integral takes
// one of them with the other sign).
inline void kernel_from_gammas(const kernel_record& r, complex lam, complex gp, complex gm,
                               complex* K) noexcept {
    six_from_parts(parts_from_gammas(r, lam, gp, gm), K);
}

// The parts on the sheet of the vertical wavenumbers above.
inline kernel_parts spectral_kernel_parts(const kernel_record& r, complex lam) noexcept {
    return parts_from_gammas(r, lam, vertical_wavenumber(lam, r.k_p),
                             vertical_wavenumber(lam, r.k_m));
}

// The six kernel values on the sheet of the vertical wavenumbers above,
// written into K[0..5].
inline void spectral_kernel(const kernel_record& r, complex lam, complex* K) noexcept {
    const complex gp = vertical_wavenumber(lam, r.k_p);
    const complex gm = vertical_wavenumber(lam, r.k_m);
    kernel_from_gammas(r, lam, gp, gm, K);
}

// The record the per-point driver builds for one triple.
inline kernel_record make_kernel_record(double z, double zp, double k_p, complex k_m) noexcept {
    return kernel_record{z, zp, complex(k_p, 0.0), k_m, complex(k_p * k_p, 0.0), k_m * k_m};
}

}  // namespace nia::spectral
