// The three panel rules: the integrands of the spectral path, each applied to a
// whole panel [a, b] of a real path parameter t with the caller's Gauss rule.
//
// Every rule overwrites its output with the Gauss sum of its six channels:
// with m = (a + b)/2 and h = (b - a)/2, node i sits at t_i = m + h gx[i] and
// carries weight h gw[i]. n_gauss <= 0 gives zeros.
//
// The nodes go to the kernel and the Bessel-type factor in blocks of SIMD
// lanes (simd/dispatch.hpp: the target chosen for the process, or the scalar
// code under NIA_SCALAR); the Gauss sums still run over the nodes in order.
#pragma once

#include <cmath>

#include "../special/hankel.hpp"
#include "bessel_j0.hpp"
#include "kernel.hpp"
#include "simd/dispatch.hpp"
#include "six_sum.hpp"

namespace nia::spectral {

// Context of the real-axis integrand K_c(t) J0(rho t).
struct axis_ctx {
    const kernel_record& kernel;
    double rho;
};

// Context of the detoured integrand: the path lambda(t) = t + i height sin(pi t / span)
// leaves the real axis at 0, arches over the branch points and returns at span.
struct detour_ctx {
    const axis_ctx& axis;
    double span;
    double height;
};

// The kind of a single tail ray that carries the Bessel factors J0, J1 and
// J1/rho themselves: for rho small against the path's reach, where the Hankel
// pair would cancel (the field integrals' rules; see integrate_pieces).
inline constexpr int bessel_ray_kind = 3;

// Context of one rotated tail ray lambda(t) = origin + t direction.
// kind 1: factor H0^(1)(rho lambda)/2; kind 2: H0^(2)(rho lambda)/2; other: none
// (the six-channel rule; the field rules also take bessel_ray_kind).
struct tail_ray {
    const kernel_record& kernel;
    complex origin;
    complex direction;
    double rho;
    int kind;
};

namespace detail {

// out_c += w v_c, real and imaginary parts each by a fused multiply-add.
inline void add_weighted(six_sum& out, double w, const complex* v) noexcept {
    for (int c = 0; c < 6; ++c) {
        out[c] = complex(std::fma(w, v[c].real(), out[c].real()),
                         std::fma(w, v[c].imag(), out[c].imag()));
    }
}

}  // namespace detail

// Bessel form on the half-sine detour: K_c(lambda) J0(rho lambda) lambda'(t).
struct detour_panel_rule {
    void operator()(const detour_ctx& ctx, double a, double b, const double* gx, const double* gw,
                    int n_gauss, six_sum& out) const noexcept {
        set_zero(out);
        const double half = (b - a) * 0.5;
        const double mid = (a + b) * 0.5;
        const kernel_record& kernel = ctx.axis.kernel;
        const double rho = ctx.axis.rho;
        const double span = ctx.span;
        const double height = ctx.height;
        // lambda'(t) = 1 + i (pi / span) height cos(theta): the slope's
        // amplitude, the same for every node
        const double slope_amplitude = (pi / span) * height;
        const simd::lane_functions& lanes = simd::lanes();
        constexpr int bw = simd::block_width;
        double lam_re[bw], lam_im[bw], slopes[bw], zeta_re[bw], zeta_im[bw];
        complex kb[bw][6];
        complex jb[bw];
        complex v[6];
        for (int i0 = 0; i0 < n_gauss; i0 += bw) {
            const int nb = n_gauss - i0 < bw ? n_gauss - i0 : bw;
            for (int l = 0; l < nb; ++l) {
                const int i = i0 + l;
                lam_re[l] = std::fma(half, gx[i], mid);
                // theta = pi t / span, formed from the panel ends to keep t's rounding out of it
                const double theta = (pi / 2.0) * ((a + b) + gx[i] * (b - a)) / span;
                lam_im[l] = height * std::sin(theta);
                slopes[l] = slope_amplitude * std::cos(theta);
                zeta_re[l] = rho * lam_re[l];
                zeta_im[l] = rho * lam_im[l];
            }
            lanes.kernel_block(kernel, lam_re, lam_im, nb, kb[0]);
            lanes.j0_block(zeta_re, zeta_im, nb, jb);
            for (int l = 0; l < nb; ++l) {
                const int i = i0 + l;
                const double slope = slopes[l];
                const complex* k = kb[l];
                const complex j = jb[l];
                for (int c = 0; c < 6; ++c) {
                    const complex jk = j * k[c];
                    // times lambda'(t) = 1 + i slope
                    v[c] = complex(jk.real() - slope * jk.imag(), jk.imag() + slope * jk.real());
                }
                detail::add_weighted(out, half * gw[i], v);
            }
        }
    }
};

// Bessel form on the real axis: K_c(t) J0(rho t); J0 in real arithmetic.
struct axis_panel_rule {
    void operator()(const axis_ctx& ctx, double a, double b, const double* gx, const double* gw,
                    int n_gauss, six_sum& out) const noexcept {
        set_zero(out);
        const double half = (b - a) * 0.5;
        const double mid = (a + b) * 0.5;
        const simd::lane_functions& lanes = simd::lanes();
        constexpr int bw = simd::block_width;
        double lam_re[bw], lam_im[bw], zeta_re[bw], zeta_im[bw];
        complex kb[bw][6];
        complex jb[bw];
        complex v[6];
        for (int i0 = 0; i0 < n_gauss; i0 += bw) {
            const int nb = n_gauss - i0 < bw ? n_gauss - i0 : bw;
            for (int l = 0; l < nb; ++l) {
                lam_re[l] = std::fma(half, gx[i0 + l], mid);
                lam_im[l] = 0.0;
                zeta_re[l] = ctx.rho * lam_re[l];
                zeta_im[l] = ctx.rho * 0.0;
            }
            lanes.kernel_block(ctx.kernel, lam_re, lam_im, nb, kb[0]);
            lanes.j0_block(zeta_re, zeta_im, nb, jb);
            for (int l = 0; l < nb; ++l) {
                const int i = i0 + l;
                const complex* k = kb[l];
                const complex j = jb[l];
                for (int c = 0; c < 6; ++c) v[c] = j * k[c];
                detail::add_weighted(out, half * gw[i], v);
            }
        }
    }
};

// Hankel form on a tail ray: K_c(lambda) f(lambda), with the factor
// f = direction H0^(kind)(rho lambda)/2 for kinds 1 and 2, f = direction otherwise.
struct hankel_ray_rule_t {
    void operator()(const tail_ray& ray, double a, double b, const double* gx, const double* gw,
                    int n_gauss, six_sum& out) const noexcept {
        set_zero(out);
        const double mid = (a + b) * 0.5;
        const double half = (b - a) * 0.5;
        const complex o = ray.origin, d = ray.direction;
        const bool with_hankel = ray.kind == 1 || ray.kind == 2;
        const simd::lane_functions& lanes = simd::lanes();
        constexpr int bw = simd::block_width;
        double lam_re[bw], lam_im[bw], zeta_re[bw], zeta_im[bw];
        complex kb[bw][6];
        complex hb[bw];
        for (int i0 = 0; i0 < n_gauss; i0 += bw) {
            const int nb = n_gauss - i0 < bw ? n_gauss - i0 : bw;
            for (int l = 0; l < nb; ++l) {
                const double t = mid + half * gx[i0 + l];
                lam_re[l] = o.real() + t * d.real();
                lam_im[l] = o.imag() + t * d.imag();
                zeta_re[l] = ray.rho * lam_re[l];
                zeta_im[l] = ray.rho * lam_im[l];
            }
            lanes.kernel_block(ray.kernel, lam_re, lam_im, nb, kb[0]);
            if (with_hankel) lanes.hankel_block(ray.kind, zeta_re, zeta_im, nb, hb);
            for (int l = 0; l < nb; ++l) {
                const int i = i0 + l;
                const complex* k = kb[l];
                complex f = d;
                if (with_hankel) {
                    const complex h = hb[l];
                    f = 0.5 * (d * h);
                }
                const double w = half * gw[i];
                for (int c = 0; c < 6; ++c) out[c] += (f * k[c]) * w;
            }
        }
    }
};

inline constexpr detour_panel_rule detour_panel{};
inline constexpr axis_panel_rule axis_panel{};
inline constexpr hankel_ray_rule_t hankel_ray_rule{};

}  // namespace nia::spectral
