// The three panel rules of the spectral path for any channel set
// (channel_set.hpp): the integrands on the detour, the real axis and a tail
// ray, each kernel against its own Bessel-type factor, applied to a whole
// panel [a, b] of a real path parameter t with the caller's Gauss rule.
//
// Every rule overwrites its output with the Gauss sum of its channels: with
// m = (a + b)/2 and h = (b - a)/2, node i sits at t_i = m + h gx[i] and carries
// weight h gw[i]. n_gauss <= 0 gives zeros.
//
// At every node the kernel parts (the two vertical wavenumbers and the two
// interface quotients) are evaluated once for all channels, and the
// Bessel-type factors once for all channels: only the orders the channel set
// uses, chosen at compile time (J0 alone for the six interface kernels; J0 and
// J1 from one pass for the fields). J1(rho lambda)/rho is J1 times 1/rho; for
// rho below j1_over_rho_floor (and on the ray of rho = 0, which carries no
// Bessel factor) it is its limit lambda/2, while J0 -> 1 and J1 -> 0 there.
//
// The node values: on the axis v_c = F_c K_c, summed as out_c += w v_c by
// fused multiply-adds, a block of nodes at a time in the lane table (where
// the target has them as an instruction; elsewhere a call per operation),
// node after node, so that every target gives the same sums. On the detour
// and a ray the sets of order zero alone (the six) form (F_c K_c) lambda'(t)
// and add (f_c K_c) w without fusing, the sets with order-one factors turn
// each factor by lambda'(t) once and fuse the ray's sums too: the two orders
// of the same products, each kept as its rows were first computed.
//
// The nodes go to the kernel parts and the Bessel functions in blocks of SIMD
// lanes (simd/dispatch.hpp: the target chosen for the process, or the scalar
// code under NIA_SCALAR); the Gauss sums still run over the nodes in order.
#pragma once

#include <cmath>
#include <type_traits>

#include "channel_set.hpp"
#include "channel_sum.hpp"
#include "kernel.hpp"
#include "simd/dispatch.hpp"

namespace nia::spectral {

// How the kernels of a channel set are evaluated at the nodes: the record of
// a triple they read, what they are built from at a node, and how a block of
// nodes gets it. The sets over two half-spaces take the kernel parts from the
// SIMD lanes; a set that names its own record and node (a stack of layers)
// evaluates a block of nodes by its own C::node_block and its kernels from
// them (C::from_node).
template <class C, class = void>
struct node_model {
    using record = kernel_record;
    using node = kernel_parts;
    static void block(const simd::lane_functions& lanes, const record& r, const double* re,
                      const double* im, int nb, node* out) noexcept {
        lanes.kernel_parts_block(r, re, im, nb, out);
    }
    static void kernels(const record& r, complex lam, const node& n, complex* K) noexcept {
        C::from_parts(r, lam, n, K);
    }
};
template <class C>
struct node_model<C, std::void_t<typename C::record>> {
    using record = typename C::record;
    using node = typename C::node;
    static void block(const simd::lane_functions& lanes, const record& r, const double* re,
                      const double* im, int nb, node* out) noexcept {
        C::node_block(lanes, r, re, im, nb, out);
    }
    static void kernels(const record& r, complex lam, const node& n, complex* K) noexcept {
        C::from_node(r, lam, n, K);
    }
};

// Context of the real-axis integrand K_c(t) F_c(rho t), over the record R of
// the triple.
template <class R = kernel_record>
struct axis_ctx_of {
    const R& kernel;
    double rho;
};
using axis_ctx = axis_ctx_of<>;

// Context of the detoured integrand: the path lambda(t) = t + i height sin(pi t / span)
// leaves the real axis at 0, arches over the branch points and returns at span.
template <class R = kernel_record>
struct detour_ctx_of {
    const axis_ctx_of<R>& axis;
    double span;
    double height;
};
using detour_ctx = detour_ctx_of<>;

// The kind of a single tail ray that carries the Bessel factors J0, J1 and
// J1/rho themselves: for rho small against the path's reach, where the Hankel
// pair would cancel (see integrate_pieces).
inline constexpr int bessel_ray_kind = 3;

// Context of one rotated tail ray lambda(t) = origin + t direction.
// kind 1: factors H^(1)(rho lambda)/2; kind 2: H^(2)(rho lambda)/2;
// bessel_ray_kind: J(rho lambda); other: none (the ray of rho = 0).
template <class R = kernel_record>
struct tail_ray_of {
    const R& kernel;
    complex origin;
    complex direction;
    double rho;
    int kind;
};
using tail_ray = tail_ray_of<>;

// Below this rho, J1(rho lambda)/rho is lambda/2 to rounding for any lambda
// of the path (|rho lambda| < 1e-90: the next term, (rho lambda)^2/16, is far
// below the last bit), and 1/rho would only lose digits to subnormals.
inline constexpr double j1_over_rho_floor = 1e-100;

namespace detail {

// The three factor values of one node, indexed by bessel_factor.
struct factor_values {
    complex f[3];
};

// The node values of a block and their Gauss weights, summed into out as
// out_c += w v_c node by node in order, real and imaginary parts each by a
// fused multiply-add (on the lanes' target, where it is an instruction).
// The values are kept as doubles, left unwritten until a node writes them.
template <int N>
struct weighted_block {
    double v[simd::block_width][2 * N];
    double w[simd::block_width];
    void set(int l, int c, complex x) noexcept {
        v[l][2 * c] = x.real();
        v[l][2 * c + 1] = x.imag();
    }
    void add_to(const simd::lane_functions& lanes, int nb, channel_sum<N>& out) const noexcept {
        lanes.weighted_sums(w, &v[0][0], nb, 2 * N, reinterpret_cast<double*>(out.data()));
    }
};

// J0, J1 and J1(rho lambda)/rho at rho lambda, for the detour, the axis and a
// Bessel ray; j1 is not read when C uses no order-one factor.
template <class C>
inline factor_values bessel_factors(complex j0, complex j1, complex lam, double rho) noexcept {
    if constexpr (!uses_order<C>(1)) {
        return {{j0, complex(0.0, 0.0), complex(0.0, 0.0)}};
    } else {
        if (rho < j1_over_rho_floor) return {{j0, j1, 0.5 * lam}};
        return {{j0, j1, j1 * (1.0 / rho)}};
    }
}

// J0 (and J1 where C uses it) at zeta_re[l] + i zeta_im[l], l < nb.
template <class C>
inline void bessel_block(const simd::lane_functions& lanes, const double* zeta_re,
                         const double* zeta_im, int nb, complex* j0, complex* j1) noexcept {
    if constexpr (uses_order<C>(1)) {
        lanes.j01_block(zeta_re, zeta_im, nb, j0, j1);
    } else {
        lanes.j0_block(zeta_re, zeta_im, nb, j0);
    }
}

// The panel [a, b] of the path parameter under the caller's Gauss rule: node
// i at mid + half gx[i], with weight half gw[i].
struct gauss_panel {
    double half;
    double mid;
    gauss_panel(double a, double b) noexcept : half((b - a) * 0.5), mid((a + b) * 0.5) {}
};

// One block of nodes on its way through the SIMD lanes: where they sit on the
// path, rho times that, and the kernel parts there.
template <class Node = kernel_parts>
struct node_block_of {
    double lam_re[simd::block_width];
    double lam_im[simd::block_width];
    double zeta_re[simd::block_width];
    double zeta_im[simd::block_width];
    Node parts[simd::block_width];
};
using node_block = node_block_of<>;

// The number of nodes in the block from node i0 on.
inline int block_nodes(int n_gauss, int i0) noexcept {
    return n_gauss - i0 < simd::block_width ? n_gauss - i0 : simd::block_width;
}

}  // namespace detail

// The integrand K_c(lambda) F_c(rho lambda) lambda'(t) on the half-sine detour.
template <class C>
struct detour_rule {
    using sum_type = channel_sum<C::size>;
    using model = node_model<C>;
    void operator()(const detour_ctx_of<typename model::record>& ctx, double a, double b,
                    const double* gx, const double* gw, int n_gauss, sum_type& out) const noexcept {
        set_zero(out);
        const typename model::record& kernel = ctx.axis.kernel;
        const detail::gauss_panel g(a, b);
        const double rho = ctx.axis.rho;
        const double span = ctx.span;
        const double height = ctx.height;
        // lambda'(t) = 1 + i (pi / span) height cos(theta): the slope's
        // amplitude, the same for every node
        const double slope_amplitude = (pi / span) * height;
        const simd::lane_functions& lanes = simd::lanes();
        detail::node_block_of<typename model::node> blk;
        double slopes[simd::block_width];
        complex j0[simd::block_width], j1[simd::block_width];
        complex k[C::size];
        detail::weighted_block<C::size> sums;
        for (int i0 = 0; i0 < n_gauss; i0 += simd::block_width) {
            const int nb = detail::block_nodes(n_gauss, i0);
            for (int l = 0; l < nb; ++l) {
                const int i = i0 + l;
                blk.lam_re[l] = std::fma(g.half, gx[i], g.mid);
                // theta = pi t / span, formed from the panel ends to keep t's rounding out of it
                const double theta = (pi / 2.0) * ((a + b) + gx[i] * (b - a)) / span;
                blk.lam_im[l] = height * std::sin(theta);
                slopes[l] = slope_amplitude * std::cos(theta);
                blk.zeta_re[l] = rho * blk.lam_re[l];
                blk.zeta_im[l] = rho * blk.lam_im[l];
            }
            model::block(lanes, kernel, blk.lam_re, blk.lam_im, nb, blk.parts);
            detail::bessel_block<C>(lanes, blk.zeta_re, blk.zeta_im, nb, j0, j1);
            for (int l = 0; l < nb; ++l) {
                const complex lam(blk.lam_re[l], blk.lam_im[l]);
                model::kernels(kernel, lam, blk.parts[l], k);
                detail::factor_values fac = detail::bessel_factors<C>(j0[l], j1[l], lam, rho);
                const double slope = slopes[l];
                if constexpr (uses_order<C>(1)) {
                    // times lambda'(t) = 1 + i slope, once per factor
                    for (complex& f : fac.f) {
                        f = complex(f.real() - slope * f.imag(), f.imag() + slope * f.real());
                    }
                }
                for (int c = 0; c < C::size; ++c) {
                    const complex jk = fac.f[static_cast<int>(C::factors[c])] * k[c];
                    if constexpr (uses_order<C>(1)) {
                        sums.set(l, c, jk);
                    } else {
                        // times lambda'(t) = 1 + i slope, once per channel
                        sums.set(
                            l, c,
                            complex(jk.real() - slope * jk.imag(), jk.imag() + slope * jk.real()));
                    }
                }
                sums.w[l] = g.half * gw[i0 + l];
            }
            sums.add_to(lanes, nb, out);
        }
    }
};

// The integrand K_c(t) F_c(rho t) on the real axis.
template <class C>
struct axis_rule {
    using sum_type = channel_sum<C::size>;
    using model = node_model<C>;
    void operator()(const axis_ctx_of<typename model::record>& ctx, double a, double b,
                    const double* gx, const double* gw, int n_gauss, sum_type& out) const noexcept {
        const detail::gauss_panel g(a, b);
        set_zero(out);
        const simd::lane_functions& lanes = simd::lanes();
        detail::node_block_of<typename model::node> blk;
        complex j0[simd::block_width], j1[simd::block_width];
        complex k[C::size];
        detail::weighted_block<C::size> sums;
        for (int i0 = 0; i0 < n_gauss; i0 += simd::block_width) {
            const int nb = detail::block_nodes(n_gauss, i0);
            for (int l = 0; l < nb; ++l) {
                blk.lam_re[l] = std::fma(g.half, gx[i0 + l], g.mid);
                blk.lam_im[l] = 0.0;
                blk.zeta_re[l] = ctx.rho * blk.lam_re[l];
                blk.zeta_im[l] = ctx.rho * 0.0;
            }
            model::block(lanes, ctx.kernel, blk.lam_re, blk.lam_im, nb, blk.parts);
            detail::bessel_block<C>(lanes, blk.zeta_re, blk.zeta_im, nb, j0, j1);
            for (int l = 0; l < nb; ++l) {
                const complex lam(blk.lam_re[l], 0.0);
                model::kernels(ctx.kernel, lam, blk.parts[l], k);
                const detail::factor_values fac =
                    detail::bessel_factors<C>(j0[l], j1[l], lam, ctx.rho);
                for (int c = 0; c < C::size; ++c) {
                    sums.set(l, c, fac.f[static_cast<int>(C::factors[c])] * k[c]);
                }
                sums.w[l] = g.half * gw[i0 + l];
            }
            sums.add_to(lanes, nb, out);
        }
    }
};

// The integrand on a tail ray, times the ray's direction: for kinds 1 and 2
// the factors are H0^(kind)(rho lambda)/2, H1^(kind)(rho lambda)/2 and
// H1^(kind)(rho lambda)/(2 rho); for bessel_ray_kind J0, J1 and J1/rho at
// rho lambda (channel sets with order-one factors only); for any other kind
// (the ray of rho = 0) they are 1, 0 and lambda/2.
template <class C>
struct ray_rule {
    using sum_type = channel_sum<C::size>;
    using model = node_model<C>;
    void operator()(const tail_ray_of<typename model::record>& ray, double a, double b,
                    const double* gx, const double* gw, int n_gauss, sum_type& out) const noexcept {
        constexpr bool order1 = uses_order<C>(1);
        set_zero(out);
        const detail::gauss_panel g(a, b);
        const complex o = ray.origin, d = ray.direction;
        const bool with_hankel = ray.kind == 1 || ray.kind == 2;
        const bool with_bessel = order1 && ray.kind == bessel_ray_kind;
        const double half_over_rho = with_hankel ? 0.5 / ray.rho : 0.0;
        const simd::lane_functions& lanes = simd::lanes();
        detail::node_block_of<typename model::node> blk;
        // H0 and H1, or J0 and J1 on a Bessel ray
        complex h0[simd::block_width], h1[simd::block_width];
        complex k[C::size];
        detail::weighted_block<C::size> sums;
        for (int i0 = 0; i0 < n_gauss; i0 += simd::block_width) {
            const int nb = detail::block_nodes(n_gauss, i0);
            for (int l = 0; l < nb; ++l) {
                const double t = g.mid + g.half * gx[i0 + l];
                blk.lam_re[l] = o.real() + t * d.real();
                blk.lam_im[l] = o.imag() + t * d.imag();
                blk.zeta_re[l] = ray.rho * blk.lam_re[l];
                blk.zeta_im[l] = ray.rho * blk.lam_im[l];
            }
            model::block(lanes, ray.kernel, blk.lam_re, blk.lam_im, nb, blk.parts);
            const double* zr = blk.zeta_re;
            const double* zi = blk.zeta_im;
            if constexpr (order1) {
                if (with_hankel) lanes.hankel01_block(ray.kind, zr, zi, nb, h0, h1);
                if (with_bessel) lanes.j01_block(zr, zi, nb, h0, h1);
            } else {
                if (with_hankel) lanes.hankel_block(ray.kind, zr, zi, nb, h0);
            }
            for (int l = 0; l < nb; ++l) {
                const complex lam(blk.lam_re[l], blk.lam_im[l]);
                model::kernels(ray.kernel, lam, blk.parts[l], k);
                detail::factor_values fac;
                if (with_bessel) {
                    fac = detail::bessel_factors<C>(h0[l], h1[l], lam, ray.rho);
                    for (complex& f : fac.f) f = d * f;
                } else if (with_hankel) {
                    fac.f[0] = 0.5 * (d * h0[l]);
                    if constexpr (order1) {
                        const complex dh1 = d * h1[l];
                        fac.f[1] = 0.5 * dh1;
                        fac.f[2] = half_over_rho * dh1;
                    }
                } else {
                    fac.f[0] = d;
                    fac.f[1] = complex(0.0, 0.0);
                    fac.f[2] = 0.5 * (d * lam);
                }
                const double w = g.half * gw[i0 + l];
                if constexpr (order1) {
                    for (int c = 0; c < C::size; ++c) {
                        sums.set(l, c, fac.f[static_cast<int>(C::factors[c])] * k[c]);
                    }
                    sums.w[l] = w;
                } else {
                    for (int c = 0; c < C::size; ++c) {
                        out[c] += (fac.f[static_cast<int>(C::factors[c])] * k[c]) * w;
                    }
                }
            }
            if constexpr (order1) sums.add_to(lanes, nb, out);
        }
    }
};

}  // namespace nia::spectral
