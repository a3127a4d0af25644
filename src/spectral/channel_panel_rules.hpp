// The three panel rules of the spectral path for any channel set: the
// integrands of channel_set.hpp, each kernel against its own Bessel-type
// factor, on the detour, the real axis and a tail ray. They share the
// contexts of panel_rules.hpp (the six-channel rules there are left as they
// are).
//
// At every node the kernel parts (the two vertical wavenumbers, S and the two
// quotients) are evaluated once for all channels, and the Bessel-type
// factors once for all channels: J0 and J1 from one pass on the detour and
// the axis, H0 and H1 of the ray's kind from one pass on a ray. J1(rho
// lambda)/rho is J1 times 1/rho; for rho below j1_over_rho_floor (and on the
// ray of rho = 0, which carries no Bessel factor) it is its limit lambda/2,
// while J0 -> 1 and J1 -> 0 there.
//
// The nodes go to the kernel parts and the Bessel functions in blocks of SIMD
// lanes (simd/dispatch.hpp); the Gauss sums run over the nodes in order.
#pragma once

#include <cmath>

#include "channel_set.hpp"
#include "kernel.hpp"
#include "panel_rules.hpp"
#include "simd/dispatch.hpp"
#include "six_sum.hpp"

namespace nia::spectral {

// Below this rho, J1(rho lambda)/rho is lambda/2 to rounding for any lambda
// of the path (|rho lambda| < 1e-90: the next term, (rho lambda)^2/16, is far
// below the last bit), and 1/rho would only lose digits to subnormals.
inline constexpr double j1_over_rho_floor = 1e-100;

namespace detail {

// The three factor values of one node, indexed by bessel_factor.
struct factor_values {
    complex f[3];
};

// The Gauss sum's step out_c += w f_c K_c over the channels of C, real and
// imaginary parts each by a fused multiply-add, with fac(c) the factor of
// channel c (already times the path's slope where there is one).
template <class C, std::size_t N>
inline void add_channels(channel_sum<N>& out, double w, const factor_values& fac,
                         const complex* k) noexcept {
    for (int c = 0; c < C::size; ++c) {
        const complex v = fac.f[static_cast<int>(C::factors[c])] * k[c];
        out[c] =
            complex(std::fma(w, v.real(), out[c].real()), std::fma(w, v.imag(), out[c].imag()));
    }
}

// J0, J1 and J1(rho lambda)/rho at rho lambda, for the detour and the axis.
inline factor_values bessel_factors(complex j0, complex j1, complex lam, double rho) noexcept {
    if (rho < j1_over_rho_floor) return {{j0, j1, 0.5 * lam}};
    return {{j0, j1, j1 * (1.0 / rho)}};
}

}  // namespace detail

// The integrand K_c(lambda) F_c(rho lambda) lambda'(t) on the half-sine detour.
template <class C>
struct channel_detour_rule {
    using sum_type = channel_sum<C::size>;
    void operator()(const detour_ctx& ctx, double a, double b, const double* gx, const double* gw,
                    int n_gauss, sum_type& out) const noexcept {
        set_zero(out);
        const double half = (b - a) * 0.5;
        const double mid = (a + b) * 0.5;
        const kernel_record& kernel = ctx.axis.kernel;
        const double rho = ctx.axis.rho;
        const double span = ctx.span;
        const double height = ctx.height;
        const double slope_amplitude = (pi / span) * height;
        const simd::lane_functions& lanes = simd::lanes();
        constexpr int bw = simd::block_width;
        double lam_re[bw], lam_im[bw], slopes[bw], zeta_re[bw], zeta_im[bw];
        kernel_parts parts[bw];
        complex j0[bw], j1[bw];
        complex k[C::size];
        for (int i0 = 0; i0 < n_gauss; i0 += bw) {
            const int nb = n_gauss - i0 < bw ? n_gauss - i0 : bw;
            for (int l = 0; l < nb; ++l) {
                const int i = i0 + l;
                lam_re[l] = std::fma(half, gx[i], mid);
                // theta = pi t / span, formed from the panel ends as the six-channel rule does
                const double theta = (pi / 2.0) * ((a + b) + gx[i] * (b - a)) / span;
                lam_im[l] = height * std::sin(theta);
                slopes[l] = slope_amplitude * std::cos(theta);
                zeta_re[l] = rho * lam_re[l];
                zeta_im[l] = rho * lam_im[l];
            }
            lanes.kernel_parts_block(kernel, lam_re, lam_im, nb, parts);
            lanes.j01_block(zeta_re, zeta_im, nb, j0, j1);
            for (int l = 0; l < nb; ++l) {
                const complex lam(lam_re[l], lam_im[l]);
                C::from_parts(kernel, lam, parts[l], k);
                detail::factor_values fac = detail::bessel_factors(j0[l], j1[l], lam, rho);
                // times lambda'(t) = 1 + i slope
                const double slope = slopes[l];
                for (complex& f : fac.f) {
                    f = complex(f.real() - slope * f.imag(), f.imag() + slope * f.real());
                }
                detail::add_channels<C>(out, half * gw[i0 + l], fac, k);
            }
        }
    }
};

// The integrand K_c(t) F_c(rho t) on the real axis.
template <class C>
struct channel_axis_rule {
    using sum_type = channel_sum<C::size>;
    void operator()(const axis_ctx& ctx, double a, double b, const double* gx, const double* gw,
                    int n_gauss, sum_type& out) const noexcept {
        set_zero(out);
        const double half = (b - a) * 0.5;
        const double mid = (a + b) * 0.5;
        const simd::lane_functions& lanes = simd::lanes();
        constexpr int bw = simd::block_width;
        double lam_re[bw], lam_im[bw], zeta_re[bw], zeta_im[bw];
        kernel_parts parts[bw];
        complex j0[bw], j1[bw];
        complex k[C::size];
        for (int i0 = 0; i0 < n_gauss; i0 += bw) {
            const int nb = n_gauss - i0 < bw ? n_gauss - i0 : bw;
            for (int l = 0; l < nb; ++l) {
                lam_re[l] = std::fma(half, gx[i0 + l], mid);
                lam_im[l] = 0.0;
                zeta_re[l] = ctx.rho * lam_re[l];
                zeta_im[l] = ctx.rho * 0.0;
            }
            lanes.kernel_parts_block(ctx.kernel, lam_re, lam_im, nb, parts);
            lanes.j01_block(zeta_re, zeta_im, nb, j0, j1);
            for (int l = 0; l < nb; ++l) {
                const complex lam(lam_re[l], 0.0);
                C::from_parts(ctx.kernel, lam, parts[l], k);
                const detail::factor_values fac =
                    detail::bessel_factors(j0[l], j1[l], lam, ctx.rho);
                detail::add_channels<C>(out, half * gw[i0 + l], fac, k);
            }
        }
    }
};

// The integrand on a tail ray, times the ray's direction: for kinds 1 and 2
// the factors are H0^(kind)(rho lambda)/2, H1^(kind)(rho lambda)/2 and
// H1^(kind)(rho lambda)/(2 rho); for bessel_ray_kind J0, J1 and J1/rho at
// rho lambda; for any other kind (the ray of rho = 0) they are 1, 0 and
// lambda/2.
template <class C>
struct channel_ray_rule {
    using sum_type = channel_sum<C::size>;
    void operator()(const tail_ray& ray, double a, double b, const double* gx, const double* gw,
                    int n_gauss, sum_type& out) const noexcept {
        set_zero(out);
        const double mid = (a + b) * 0.5;
        const double half = (b - a) * 0.5;
        const complex o = ray.origin, d = ray.direction;
        const bool with_hankel = ray.kind == 1 || ray.kind == 2;
        const bool with_bessel = ray.kind == bessel_ray_kind;
        const double half_over_rho = with_hankel ? 0.5 / ray.rho : 0.0;
        const simd::lane_functions& lanes = simd::lanes();
        constexpr int bw = simd::block_width;
        double lam_re[bw], lam_im[bw], zeta_re[bw], zeta_im[bw];
        kernel_parts parts[bw];
        complex h0[bw], h1[bw];  // H0 and H1, or J0 and J1 on a Bessel ray
        complex k[C::size];
        for (int i0 = 0; i0 < n_gauss; i0 += bw) {
            const int nb = n_gauss - i0 < bw ? n_gauss - i0 : bw;
            for (int l = 0; l < nb; ++l) {
                const double t = mid + half * gx[i0 + l];
                lam_re[l] = o.real() + t * d.real();
                lam_im[l] = o.imag() + t * d.imag();
                zeta_re[l] = ray.rho * lam_re[l];
                zeta_im[l] = ray.rho * lam_im[l];
            }
            lanes.kernel_parts_block(ray.kernel, lam_re, lam_im, nb, parts);
            if (with_hankel) lanes.hankel01_block(ray.kind, zeta_re, zeta_im, nb, h0, h1);
            if (with_bessel) lanes.j01_block(zeta_re, zeta_im, nb, h0, h1);
            for (int l = 0; l < nb; ++l) {
                const complex lam(lam_re[l], lam_im[l]);
                C::from_parts(ray.kernel, lam, parts[l], k);
                detail::factor_values fac;
                if (with_bessel) {
                    fac = detail::bessel_factors(h0[l], h1[l], lam, ray.rho);
                    for (complex& f : fac.f) f = d * f;
                } else if (with_hankel) {
                    fac.f[0] = 0.5 * (d * h0[l]);
                    const complex dh1 = d * h1[l];
                    fac.f[1] = 0.5 * dh1;
                    fac.f[2] = half_over_rho * dh1;
                } else {
                    fac.f[0] = d;
                    fac.f[1] = complex(0.0, 0.0);
                    fac.f[2] = 0.5 * (d * lam);
                }
                detail::add_channels<C>(out, half * gw[i0 + l], fac, k);
            }
        }
    }
};

}  // namespace nia::spectral
