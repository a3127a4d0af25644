// The spectral kernel on blocks of SIMD lanes. Compiled once per target with
// NIA_SIMD_TARGET naming the target's namespace and the target's instruction
// flags; nothing here is shared between targets.
//
// Each lane runs the same operations in the same order as the scalar kernel
// and the fast paths of its complex helpers (floating-point contraction is off
// for these sources), with the lane exponential, sine and cosine in place of
// libm's. A lane whose operands leave the fast paths' ranges, or whose six
// values are not all finite, is recomputed by the scalar kernel.
#include <cmath>
#include <cstdint>

#include "../../special/complex_ops.hpp"
#include "dispatch.hpp"
#include "lane_math.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

namespace {

constexpr int W = block_width;

// The range test of the fast complex helpers (both parts below moderate_high,
// one above moderate_low, false on NaN), repeated here so that the code of
// this target stays in this target's namespace.
inline bool moderate(double x, double y) noexcept {
    const double ax = std::fabs(x), ay = std::fabs(y);
    return (ax < special::detail::moderate_high) & (ay < special::detail::moderate_high) &
           ((ax > special::detail::moderate_low) | (ay > special::detail::moderate_low));
}

// The principal square root's fast path, both half-planes at once.
inline void sqrt_lane(double x, double y, double& re, double& im) noexcept {
    const double r = std::sqrt(x * x + y * y);
    const bool right = x >= 0.0;
    // r + x on the right, r - x on the left: both are r + |x|, bit for bit,
    // and no arithmetic depends on the side (the choices below are blends)
    const double t = std::sqrt(0.5 * (r + std::fabs(x)));
    // |y| / (2t) = |y / (2t)| exactly, t being positive
    const double d = y / (2.0 * t);
    const double q = right ? d : std::fabs(d);
    re = right ? t : q;
    im = right ? q : std::copysign(t, y);
}

// (a + ib)(c + id) as the complex product computes it for finite operands.
inline void mul(double a, double b, double c, double d, double& re, double& im) noexcept {
    re = a * c - b * d;
    im = a * d + b * c;
}

// The quotient's fast path (a + ib) / (c + id).
inline void div(double a, double b, double c, double d, double& re, double& im) noexcept {
    const double inv = 1.0 / (c * c + d * d);
    re = (a * c + b * d) * inv;
    im = (b * c - a * d) * inv;
}

inline bool finite(double x) noexcept { return std::fabs(x) <= 1.79769313486231570815e308; }

// gamma(lambda; k) = sqrt(i (k + lambda)) sqrt(i (k - lambda)); ok is cleared
// when either root leaves the fast path.
inline void vertical_lane(double lr, double li, double kr, double ki, double& gr, double& gi,
                          bool& ok) noexcept {
    const double ur = -(ki + li), ui = kr + lr;
    const double vr = li - ki, vi = kr - lr;
    ok = ok & moderate(ur, ui) & moderate(vr, vi);
    double sur, sui, svr, svi;
    sqrt_lane(ur, ui, sur, sui);
    sqrt_lane(vr, vi, svr, svi);
    mul(sur, sui, svr, svi, gr, gi);
}

void kernel_lanes(const kernel_record& rec, const double* lam_re, const double* lam_im,
                  double* out) noexcept {
    const double* kp = reinterpret_cast<const double*>(&rec.k_p);
    const double* km = reinterpret_cast<const double*>(&rec.k_m);
    const double* kp2 = reinterpret_cast<const double*>(&rec.k_p_sq);
    const double* km2 = reinterpret_cast<const double*>(&rec.k_m_sq);
    const double z = rec.z, zp = rec.zp;
    double kr[12][W];
    std::int64_t good[W];  // 64-bit flags: one vector lane per node
#pragma omp simd
    for (int l = 0; l < W; ++l) {
        const double lr = lam_re[l], li = lam_im[l];
        bool ok = true;
        double gpr, gpi, gmr, gmi;
        vertical_lane(lr, li, kp[0], kp[1], gpr, gpi, ok);
        vertical_lane(lr, li, km[0], km[1], gmr, gmi, ok);
        // S = exp(zp gamma_m - z gamma_p)
        const double er = zp * gmr - z * gpr, ei = zp * gmi - z * gpi;
        ok = ok & (std::fabs(er) < exp_lane_limit) & (std::fabs(ei) <= trig_lane_limit);
        const double xr = ok ? er : 0.0, xi = ok ? ei : 0.0;
        const double m = exp_lane(xr);
        double sn, cs;
        sincos_lane(xi, sn, cs);
        const double sr = m * cs, si = m * sn;
        double nr, ni;
        mul(2.0 * lr, 2.0 * li, sr, si, nr, ni);
        ok = ok & moderate(nr, ni);
        // K0 = n / (gamma_p + gamma_m)
        const double d0r = gpr + gmr, d0i = gpi + gmi;
        ok = ok & moderate(d0r, d0i);
        double k0r, k0i;
        div(nr, ni, d0r, d0i, k0r, k0i);
        // q = n / (k_m^2 gamma_p + k_p^2 gamma_m)
        double ar, ai, br, bi;
        mul(km2[0], km2[1], gpr, gpi, ar, ai);
        mul(kp2[0], kp2[1], gmr, gmi, br, bi);
        const double d1r = ar + br, d1i = ai + bi;
        ok = ok & moderate(d1r, d1i);
        double qr, qi;
        div(nr, ni, d1r, d1i, qr, qi);
        double k2r, k2i, k3r, k3i, pr, pi_, k4r, k4i, k5r, k5i;
        mul(qr, qi, gpr - gmr, gpi - gmi, k2r, k2i);
        mul(-k2r, -k2i, gpr, gpi, k3r, k3i);
        mul(gpr, gpi, gmr, gmi, pr, pi_);
        mul(-qr, -qi, pr, pi_, k4r, k4i);
        mul(k2r, k2i, gmr, gmi, k5r, k5i);
        kr[0][l] = k0r; kr[1][l] = k0i;
        kr[2][l] = qr;  kr[3][l] = qi;
        kr[4][l] = k2r; kr[5][l] = k2i;
        kr[6][l] = k3r; kr[7][l] = k3i;
        kr[8][l] = k4r; kr[9][l] = k4i;
        kr[10][l] = k5r; kr[11][l] = k5i;
        // the quotients' own finiteness tests fold into the test of all six
        bool fin = true;
#pragma GCC unroll 12
        for (int c = 0; c < 12; ++c) fin = fin & finite(kr[c][l]);
        good[l] = ok & fin ? 1 : 0;
    }
    for (int l = 0; l < W; ++l) {
        if (good[l] != 0) {
            for (int c = 0; c < 12; ++c) out[12 * l + c] = kr[c][l];
        } else {
            detail::scalar_kernel_node(rec, lam_re[l], lam_im[l], out + 12 * l);
        }
    }
}

void kernel_block(const kernel_record& rec, const double* lam_re, const double* lam_im, int n,
                  complex* k) {
    double* out = reinterpret_cast<double*>(k);
    for (int i0 = 0; i0 < n; i0 += W) {
        const int m = n - i0 < W ? n - i0 : W;
        if (m == W) {
            kernel_lanes(rec, lam_re + i0, lam_im + i0, out + 12 * i0);
            continue;
        }
        // a short block: pad with copies of its first node, keep the first m results
        double lr[W], li[W], tmp[12 * W];
        for (int l = 0; l < W; ++l) {
            lr[l] = lam_re[i0 + (l < m ? l : 0)];
            li[l] = lam_im[i0 + (l < m ? l : 0)];
        }
        kernel_lanes(rec, lr, li, tmp);
        for (int j = 0; j < 12 * m; ++j) out[12 * i0 + j] = tmp[j];
    }
}

void exp_block(const double* x, double* y, int n) {
    for (int i = 0; i < n; ++i) {
        const double v = x[i];
        y[i] = std::fabs(v) < exp_lane_limit ? exp_lane(v) : std::exp(v);
    }
}

void sincos_block(const double* x, double* s, double* c, int n) {
    for (int i = 0; i < n; ++i) {
        const double v = x[i];
        if (std::fabs(v) <= trig_lane_limit) {
            sincos_lane(v, s[i], c[i]);
        } else {
            s[i] = std::sin(v);
            c[i] = std::cos(v);
        }
    }
}

}  // namespace

#define NIA_STRINGIFY2(x) #x
#define NIA_STRINGIFY(x) NIA_STRINGIFY2(x)
extern const lane_functions functions;
const lane_functions functions{NIA_STRINGIFY(NIA_SIMD_TARGET), kernel_block, exp_block,
                               sincos_block};

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
