// Integrands of the far range: the spectral integrals in their Hankel
// (whole-axis) form, wrapped around the vertical branch cuts of the lower
// half-plane, and the residues of the kernel's poles there.
//
// Over the whole real axis, int_0^inf K J_n(rho lambda) dlambda =
// 1/2 int_R K H_n^(2)(rho lambda) dlambda, the path passing below the origin
// (K odd for n = 0 and even for n = 1; DLMF 10.11.5). H_n^(2)(rho lambda)
// decays like exp(rho Im lambda) below the axis, so the path sinks into the
// lower half-plane, where it hangs on the cut falling from each branch point
// b: up its left side and down its right side. On the cut,
// lambda = b - i s (s >= 0), and crossing it flips the sign of that medium's
// vertical wavenumber only. With s = t^2 / rho the cut integral reads
//
//   (i/2) e^{-i b rho} int_0^inf [K(gamma_b) - K(-gamma_b)] h(w) e^{-t^2} (2t/rho) dt,
//
// where gamma_b = i (t/sqrt(rho)) sqrt(s + 2 i b) is the wavenumber on the
// cut's left side, w = rho lambda = b rho - i t^2, and h(w) = H^(2)(w) e^{i w}
// is the Hankel factor without its phase. The integrand is smooth in t (the
// square root of the branch point is gone) and decays like e^{-t^2} whatever
// rho: the cost does not grow with the distance. The constant phase
// e^{-i b rho} is the caller's, formed from the exact product b rho.
#pragma once

#include <cmath>

#include "bessel_j.hpp"
#include "channel_set.hpp"
#include "channel_sum.hpp"
#include "kernel.hpp"

namespace nia::spectral {

// Points on the circle of the residue sum: the trapezoidal rule on a circle of
// a quarter of the distance to the next singularity errs by about 4^-32.
inline constexpr int residue_nodes = 32;

// Context of the integral around the cut falling from branch point b at the
// distance rho, over the record R of the triple (the two half-spaces' kernel
// record, or a stack's layered record).
template <class R = kernel_record>
struct branch_cut_ctx_of {
    const R& kernel;
    double rho, inv_rho, inv_sqrt_rho;  // rho, 1 / rho, 1 / sqrt(rho)
    // the upper medium's (lower = false, b = k_p) or the lower medium's (b = k_m)
    complex b;
    bool lower;
    // the other outer medium's wavenumber
    complex other_k;
};
using branch_cut_ctx = branch_cut_ctx_of<>;

namespace detail {

// Each channel's Hankel-form factor from the order-0 and order-1 values h0,
// h1 (either without or with its phase): H0 for j0, H1 for j1, H1 / rho for
// j1_over_rho.
template <class Channels>
inline complex hankel_factor(int c, complex h0, complex h1, double inv_rho) noexcept {
    switch (Channels::factors[c]) {
        case bessel_factor::j0: return h0;
        case bessel_factor::j1: return h1;
        default: return h1 * inv_rho;
    }
}

}  // namespace detail

// The Gauss sum of the cut integrand above over the panel [a, b] of t,
// without the factor (i/2) e^{-i b rho}.
template <class Channels>
struct branch_cut_rule {
    using sum_type = channel_sum<Channels::size>;
    template <class R>
    void operator()(const branch_cut_ctx_of<R>& ctx, double a, double b, const double* gx,
                    const double* gw, int n_gauss, sum_type& out) const noexcept {
        constexpr int n = Channels::size;
        constexpr bool order0 = uses_order<Channels>(0);
        constexpr bool order1 = uses_order<Channels>(1);
        set_zero(out);
        const double mid = (a + b) * 0.5;
        const double half = (b - a) * 0.5;
        const complex two_i_b(-2.0 * ctx.b.imag(), 2.0 * ctx.b.real());
        const complex other_k = ctx.other_k;
        complex left[n], right[n];
        for (int i = 0; i < n_gauss; ++i) {
            const double t = std::fma(half, gx[i], mid);
            // far out e^{-t^2} underflows: the node adds nothing
            const double weight = std::exp(-t * t) * (2.0 * t * ctx.inv_rho) * (half * gw[i]);
            if (weight == 0.0) continue;
            const double s = t * t * ctx.inv_rho;
            const complex lam(ctx.b.real(), ctx.b.imag() - s);
            const complex g_cut =
                complex(0.0, t * ctx.inv_sqrt_rho) * principal_sqrt(complex(s, 0.0) + two_i_b);
            const complex g_other = vertical_wavenumber(lam, other_k);
            if (ctx.lower) {
                Channels::values(ctx.kernel, lam, g_other, g_cut, left);
                Channels::values(ctx.kernel, lam, g_other, -g_cut, right);
            } else {
                Channels::values(ctx.kernel, lam, g_cut, g_other, left);
                Channels::values(ctx.kernel, lam, -g_cut, g_other, right);
            }
            const complex w(ctx.b.real() * ctx.rho, ctx.b.imag() * ctx.rho - t * t);
            const complex h0 = order0 ? hankel2_scaled(0, w) : complex(0.0, 0.0);
            const complex h1 = order1 ? hankel2_scaled(1, w) : complex(0.0, 0.0);
            for (int c = 0; c < n; ++c) {
                const complex f = detail::hankel_factor<Channels>(c, h0, h1, ctx.inv_rho);
                out[c] += ((left[c] - right[c]) * f) * weight;
            }
        }
    }
};

// Residues of the channels' kernels at a simple pole q of the sheet the
// kernel evaluates, (1/(2 pi i)) times the integral around the circle of
// `radius` about q, by the trapezoidal rule on residue_nodes points. The
// circle must hold no other singularity: its error is about
// (radius / distance to the next one)^residue_nodes.
// The kernels' outer media have wavenumbers k_upper and k_lower.
template <class Channels, class R>
inline void pole_residues(const R& r, complex k_upper, complex k_lower, complex q, double radius,
                          complex* res) noexcept {
    constexpr int n = Channels::size;
    complex k[n];
    for (int c = 0; c < n; ++c) res[c] = complex(0.0, 0.0);
    for (int j = 0; j < residue_nodes; ++j) {
        const double theta = (2.0 * pi) * (j + 0.5) / residue_nodes;
        const complex e(std::cos(theta), std::sin(theta));
        const complex lam = q + radius * e;
        Channels::values(r, lam, vertical_wavenumber(lam, k_upper),
                         vertical_wavenumber(lam, k_lower), k);
        for (int c = 0; c < n; ++c) res[c] += k[c] * e;
    }
    for (int c = 0; c < n; ++c) res[c] *= radius / residue_nodes;
}

}  // namespace nia::spectral
