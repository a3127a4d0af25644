// The singularities of the spectral plane: what the path planner, the tail
// clearance and the far range know of the media.
//
// The kernels are single-valued in the lambda plane cut along the vertical
// half-lines of the outer media's vertical wavenumbers (vertical_wavenumber:
// the cut falls from +k and rises from -k), and they have simple poles on that
// sheet (the surface wave of a plasmonic lower medium; the guided modes of a
// stack of layers). A stack's response is even in the vertical wavenumbers of
// its inner layers, so only the two outer media give branch points, however
// many layers lie between them.
//
// Every singularity comes with its mirror image: the vertical wavenumbers are
// even in lambda, and with them every kernel's poles and branch points. A set
// holds one of each pair (a branch point k stands for the cuts from +k and -k,
// a pole q for q and -q).
#pragma once

#include <array>
#include <cmath>
#include <complex>

#include "../core/numeric.hpp"
#include "kernel.hpp"

namespace nia::spectral {

// The branch point of an outer medium, with the vertical cuts falling from +k
// and rising from -k.
struct branch_point {
    complex k;
    // Where on the positive real axis the detour's panels are cut around the
    // branch point (|Re k|; the upper medium's real k_p as it is given).
    double cut_at = 0.0;
    // Whether the medium may be of negative index (Re k < 0), its rising cut
    // from -k then reaching into the first quadrant: not the upper medium of
    // two half-spaces, which is a lossless dielectric with real k_p > 0.
    bool may_be_negative_index = false;
};

// A simple pole q of the sheet (and its mirror -q).
struct sheet_pole {
    complex q;
    // A correction below an ulp of q: q + q_lo is the pole to about 1e-30, so
    // that the phase q rho of its wave stays exact to rounding at large rho.
    complex q_lo;
    // A slow guided wave of a stack, on the real axis or just below it
    // beyond every wavenumber: the detour's arch is stretched over it and cut
    // at its abscissa, so that no panel of the axis passes through its peak.
    bool slow_wave = false;
};

// The singularities of one pair of outer media and what lies between them.
// Fixed capacity, no heap: a set lives on the stack of the triple it serves.
struct singularity_set {
    // The outer media: the upper one (the field point's) and the lower one
    // (the source's); a stack adds the layer that holds both source and
    // receiver, and its inner layers' wavenumbers where the detour is cut.
    static constexpr int max_branch_points = 8;
    // Enough for the guided modes of a stack of some 32 layers.
    static constexpr int max_poles = 64;

    // The wavenumber scale of the path: the largest wavenumber modulus of the
    // media (a stack's inner layers included).
    double scale = 0.0;
    int n_branch = 0;
    int n_poles = 0;
    // branch[0] is the upper medium's, branch[1] the lower medium's.
    std::array<branch_point, max_branch_points> branch;
    std::array<sheet_pole, max_poles> poles;

    // Appends a branch point or a pole; false (and the set unchanged) when full.
    bool add_branch(complex k, double cut_at, bool may_be_negative_index) noexcept {
        if (n_branch >= max_branch_points) return false;
        branch[n_branch++] = {k, cut_at, may_be_negative_index};
        return true;
    }
    bool add_pole(complex q, complex q_lo, bool slow_wave = false) noexcept {
        if (n_poles >= max_poles) return false;
        poles[n_poles++] = {q, q_lo, slow_wave};
        return true;
    }
};

namespace detail {

// A zero of the interface denominator counts as a pole of this sheet when the
// denominator there is this small against its two terms (the other root of
// the pole equation leaves the denominator at twice its terms' size).
inline constexpr double pole_sheet_tolerance = 1e-6;

// The pole of channels 1 to 5 of two half-spaces, lambda^2 = k_p^2 k_m^2 /
// (k_p^2 + k_m^2), when it lies on the sheet the kernel evaluates; false when
// it does not.
inline bool interface_pole(double k_p, complex k_m, complex& pole) noexcept {
    const complex kp_sq(k_p * k_p, 0.0);
    const complex km_sq = k_m * k_m;
    const complex p = std::sqrt(kp_sq * km_sq / (kp_sq + km_sq));
    if (!std::isfinite(p.real()) || !std::isfinite(p.imag())) return false;
    const complex t_p = km_sq * vertical_wavenumber(p, complex(k_p, 0.0));
    const complex t_m = kp_sq * vertical_wavenumber(p, k_m);
    if (!(std::abs(t_p + t_m) <= pole_sheet_tolerance * (std::abs(t_p) + std::abs(t_m)))) {
        return false;
    }
    pole = p;
    return true;
}

// A complex number as two double-doubles, for the poles' Newton steps.
struct dd_complex {
    core::double_double re, im;
};
inline dd_complex dd_of(complex a) noexcept { return {{a.real(), 0.0}, {a.imag(), 0.0}}; }
inline dd_complex dd_mul(dd_complex a, dd_complex b) noexcept {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline dd_complex dd_sub(dd_complex a, dd_complex b) noexcept { return {a.re - b.re, a.im - b.im}; }

// A pole q of lambda^2 (k_p^2 + k_m^2) = k_p^2 k_m^2 refined by one Newton
// step with the residual in double-double arithmetic: the returned
// correction, added to q, leaves q + correction good to about 1e-30.
inline complex interface_pole_correction(double k_p, complex k_m, complex q) noexcept {
    using core::double_double;
    using core::two_product;
    const auto mul = dd_mul;
    const dd_complex kp2{two_product(k_p, k_p), {0.0, 0.0}};
    const dd_complex km{{k_m.real(), 0.0}, {k_m.imag(), 0.0}};
    const dd_complex km2 = mul(km, km);
    const dd_complex sum{kp2.re + km2.re, kp2.im + km2.im};
    const dd_complex prod = mul(kp2, km2);
    const dd_complex qq{{q.real(), 0.0}, {q.imag(), 0.0}};
    const dd_complex f0 = mul(mul(qq, qq), sum);
    const complex f((f0.re - prod.re).hi, (f0.im - prod.im).hi);
    const complex slope = 2.0 * q * complex(sum.re.hi, sum.im.hi);
    return -core::quotient(f, slope);
}

// The zero q (Re q >= 0) on the path's sheet of gamma_u f_u + gamma_l f_l,
// the denominator of the Fresnel coefficients of one polarisation at an
// interface between media of wavenumbers k_u and k_l with admittance factors
// f_u and f_l (1 / eps_r for TM, 1 / mu_r for TE): squared, lambda^2 (a_u -
// a_l) = k_u^2 a_u - k_l^2 a_l with a = f^2. False where a_u = a_l (no zero)
// or where the root of the square is on the other sheet. q_lo, added to q,
// leaves it good to about 1e-30 (one Newton step with the residual in
// double-double), so that the surface wave's phase q rho stays exact far
// out.
inline bool fresnel_pole(complex k_u, complex f_u, complex k_l, complex f_l, complex& q,
                         complex& q_lo) noexcept {
    const complex a_u = f_u * f_u, a_l = f_l * f_l;
    const complex p = std::sqrt((k_u * k_u * a_u - k_l * k_l * a_l) / (a_u - a_l));
    if (!std::isfinite(p.real()) || !std::isfinite(p.imag())) return false;
    const complex t_u = f_u * vertical_wavenumber(p, k_u);
    const complex t_l = f_l * vertical_wavenumber(p, k_l);
    if (!(std::abs(t_u + t_l) <= pole_sheet_tolerance * (std::abs(t_u) + std::abs(t_l)))) {
        return false;
    }
    const dd_complex du = dd_mul(dd_of(f_u), dd_of(f_u)), dl = dd_mul(dd_of(f_l), dd_of(f_l));
    const dd_complex ku = dd_of(k_u), kl = dd_of(k_l), pp = dd_of(p);
    const dd_complex slope_dd = dd_sub(du, dl);
    const dd_complex rhs = dd_sub(dd_mul(dd_mul(ku, ku), du), dd_mul(dd_mul(kl, kl), dl));
    const dd_complex f0 = dd_sub(dd_mul(dd_mul(pp, pp), slope_dd), rhs);
    const complex f(f0.re.hi, f0.im.hi);
    const complex slope = 2.0 * p * complex(slope_dd.re.hi, slope_dd.im.hi);
    q = p;
    q_lo = -core::quotient(f, slope);
    return true;
}

}  // namespace detail

// The singularities of two half-spaces: the branch points k_p (upper) and k_m
// (lower), and the interface pole where it lies on the sheet.
inline singularity_set two_media_singularities(double k_p, complex k_m) noexcept {
    singularity_set s;
    const double k_m_abs = std::hypot(k_m.real(), k_m.imag());
    s.scale = k_m_abs > k_p ? k_m_abs : k_p;
    s.add_branch(complex(k_p, 0.0), k_p, false);
    s.add_branch(k_m, std::fabs(k_m.real()), true);
    complex p;
    if (detail::interface_pole(k_p, k_m, p)) {
        s.add_pole(p, detail::interface_pole_correction(k_p, k_m, p));
    }
    return s;
}

}  // namespace nia::spectral
