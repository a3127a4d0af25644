// The plane-wave response of a stack of planar layers at one value of the
// spectral variable lambda: the transmission-line recursion of layered media,
// for the two polarisations (TE and TM) at once.
//
// The stack holds media 0 .. n-1 from the top; layer j lies between the
// heights bottom[j] < top[j], with top[0] = +inf and bottom[n-1] = -inf (the
// two outer half-spaces). In layer j a wave of polarisation p is the sum of an
// upgoing part exp(-gamma_j (z - bottom[j])) and a downgoing part
// exp(gamma_j (z - top[j])), each at most one in modulus where Re gamma_j >= 0.
// The polarisation's amplitude f (E along z x k_h for TE, H along it for TM)
// and Y (f_up - f_down) are continuous at every interface, with the
// characteristic admittance Y = gamma / mu_r (TE) or gamma / eps_r (TM).
//
// The source of the waves sits at zp in layer s and sends a unit upgoing wave
// exp(-gamma_s (z - zp)) above it, or a unit downgoing wave exp(gamma_s (z -
// zp)) below it. The response at the receiver height z in layer r is the
// upgoing and the downgoing wave there, per unit primary wave; in the source's
// own layer it leaves the primary wave out (that is taken in closed form).
//
// The response depends on the inner layers' vertical wavenumbers only through
// their squares, so they are taken on the root with Re gamma >= 0, where every
// exponential of the recursion decays; the outer half-spaces keep the sheet of
// the integration path (vertical_wavenumber), which fixes the integrals.
#pragma once

#include <array>
#include <cmath>

#include "kernel.hpp"

namespace nia::spectral {

// Media a stack may hold; its arrays live in the record, not on the heap.
inline constexpr int max_layers = 64;

// A stack of homogeneous media at one frequency, top to bottom. Filled once
// per batch, read-only after.
struct layer_stack {
    int n = 0;                                  // media, 1 .. max_layers
    std::array<complex, max_layers> k{};        // wavenumbers, Im k <= 0
    std::array<complex, max_layers> inv_mu{};   // 1 / mu_r (TE admittance factor)
    std::array<complex, max_layers> inv_eps{};  // 1 / eps_r (TM admittance factor)
    std::array<double, max_layers> top{};       // height of each layer's top (+inf for 0)
    std::array<double, max_layers> bottom{};    // height of each layer's bottom (-inf for n-1)
};

// The layers of the source and of the receiver, and their heights.
struct layered_point {
    int s;      // the source's layer
    int r;      // the receiver's layer
    double z;   // receiver height
    double zp;  // source height
};

// Upgoing and downgoing waves at the receiver of one polarisation, per unit
// upgoing (index 0) and per unit downgoing (index 1) primary wave.
struct wave_pair {
    std::array<complex, 2> up;
    std::array<complex, 2> down;
};

// Which polarisation: its admittance factor 1/mu_r or 1/eps_r.
enum class polarisation : int { te = 0, tm = 1 };

// The layer of a receiver at height z (one on an interface takes the medium
// above it) and of a source at zp (one on an interface takes the medium below).
inline int receiver_layer(const layer_stack& st, double z) noexcept {
    int j = 0;
    while (j < st.n - 1 && z < st.bottom[j]) ++j;
    return j;
}
inline int source_layer(const layer_stack& st, double zp) noexcept {
    int j = 0;
    while (j < st.n - 1 && zp <= st.bottom[j]) ++j;
    return j;
}

// gamma_j at lambda for every layer: the path's sheet (vertical_wavenumber)
// for the outer two and for own_sheet, the layer that holds both the source
// and the receiver (or -1); the same root for the other inner ones, but
// turned to Re gamma >= 0 where it is not, so that every exponential of the
// recursion decays (the response is even in their gamma). An inner layer of
// the same medium as an outer one thus takes the same root wherever the outer
// one's has Re gamma >= 0, and an interface between copies of one medium
// reflects exactly nothing there. Where source and receiver share an inner
// layer, the direct wave taken out of the integrand is odd in that layer's
// gamma: what is left has branch points at +-k_s like an outer medium's, and
// it takes them with the path's vertical cuts, whose clearance the path plans
// for.
inline void stack_vertical_wavenumbers(const layer_stack& st, complex lam, complex* gamma,
                                       int own_sheet = -1) noexcept {
    for (int j = 0; j < st.n; ++j) {
        const complex g = vertical_wavenumber(lam, st.k[j]);
        const bool path_sheet = j == 0 || j == st.n - 1 || j == own_sheet;
        gamma[j] = path_sheet || g.real() >= 0.0 ? g : -g;
    }
}

namespace detail {

// exp(-gamma d) across an inner layer of thickness d; zero for an outer one.
inline complex crossing(const layer_stack& st, const complex* gamma, int j) noexcept {
    if (j == 0 || j == st.n - 1) return complex(0.0, 0.0);
    return complex_exp(-gamma[j] * (st.top[j] - st.bottom[j]));
}

// A wave in layer a meeting its interface with layer b, for admittances ya
// and yb, when the layers beyond b reflect rho_b (referred to b's side of
// the interface): the reflection back into a, (r + rho_b) / (1 + r rho_b)
// with Fresnel's r = (ya - yb) / (ya + yb), and the wave passed into b,
// (1 + reflection) / (1 + rho_b) = 2 ya / (ya + yb + rho_b (ya - yb)). Both
// are written with the one denominator, without forming 1 + r: across a
// strong contrast (sea water under air) r is -1 to ten digits and 1 + r
// would keep none of them; and an inner layer whose vertical wavenumber took
// the other root (yb = -ya for a copy of the medium beyond) gives 1 / rho_b,
// not infinity over infinity.
struct crossing_pair {
    complex reflected;
    complex passed;
};
inline crossing_pair meet(complex ya, complex yb, complex rho_b) noexcept {
    const complex sum = ya + yb, difference = ya - yb;
    const complex inverse = quotient(complex(1.0, 0.0), sum + rho_b * difference);
    return {(difference + rho_b * sum) * inverse, 2.0 * ya * inverse};
}

}  // namespace detail

// The exponentials of one node that both polarisations share: across each
// inner layer, from the source to its layer's top and bottom, and from the
// receiver layer's bottom and top to the receiver.
struct node_decays {
    std::array<complex, max_layers> across;  // exp(-gamma_j d_j); 0 for the outer two
    complex source_top;                      // exp(-gamma_s (top_s - zp)); 0 for s = 0
    complex source_bottom;                   // exp(-gamma_s (zp - bottom_s)); 0 for s = n-1
    complex from_bottom;                     // exp(-gamma_r (z - bottom_r)); 0 for r = n-1
    complex from_top;                        // exp(gamma_r (z - top_r)); 0 for r = 0
};

inline node_decays decays(const layer_stack& st, const layered_point& pt,
                          const complex* gamma) noexcept {
    const int n = st.n, s = pt.s, r = pt.r;
    const complex zero(0.0, 0.0);
    node_decays d;
    for (int j = 0; j < n; ++j) d.across[j] = detail::crossing(st, gamma, j);
    d.source_top = s == 0 ? zero : complex_exp(-gamma[s] * (st.top[s] - pt.zp));
    d.source_bottom = s == n - 1 ? zero : complex_exp(-gamma[s] * (pt.zp - st.bottom[s]));
    d.from_bottom = r == n - 1 ? zero : complex_exp(-gamma[r] * (pt.z - st.bottom[r]));
    d.from_top = r == 0 ? zero : complex_exp(gamma[r] * (pt.z - st.top[r]));
    return d;
}

// The waves of one polarisation at the receiver (see the top of this file),
// from the stack's vertical wavenumbers at lambda and the node's decays; the
// per-node work stays in fixed arrays on the stack.
inline wave_pair layered_waves(const layer_stack& st, const layered_point& pt, const complex* gamma,
                               const node_decays& dec, polarisation pol) noexcept {
    const int n = st.n, s = pt.s, r = pt.r;
    const auto& factor = pol == polarisation::te ? st.inv_mu : st.inv_eps;
    const auto& e = dec.across;
    // Reflection below layer j, at its bottom (down[j]), and above it, at its
    // top (up[j]); pass_down[j] carries the downgoing wave at layer j's bottom
    // into layer j + 1 (at its top), pass_up[j] the upgoing wave at layer j's
    // top into layer j - 1 (at its bottom). Only the layers between the outer
    // media and the nearer of s and r are needed.
    std::array<complex, max_layers> down, up, pass_down, pass_up;
    const int lo = s < r ? s : r, hi = s > r ? s : r;
    down[n - 1] = complex(0.0, 0.0);
    for (int j = n - 2; j >= lo; --j) {
        const detail::crossing_pair m =
            detail::meet(gamma[j] * factor[j], gamma[j + 1] * factor[j + 1],
                         down[j + 1] * (e[j + 1] * e[j + 1]));
        down[j] = m.reflected;
        pass_down[j] = m.passed;
    }
    up[0] = complex(0.0, 0.0);
    for (int j = 1; j <= hi; ++j) {
        const detail::crossing_pair m = detail::meet(
            gamma[j] * factor[j], gamma[j - 1] * factor[j - 1], up[j - 1] * (e[j - 1] * e[j - 1]));
        up[j] = m.reflected;
        pass_up[j] = m.passed;
    }
    // The scattered waves of the source layer: a upgoing from its bottom, b
    // downgoing from its top, per unit upgoing (0) and downgoing (1) primary
    // wave.
    const complex es = e[s];
    const complex at_top = dec.source_top, at_bottom = dec.source_bottom;
    // the waves bouncing between the layer's two faces sum to 1 / (1 - loop gain)
    const complex bounce = quotient(complex(1.0, 0.0), 1.0 - up[s] * down[s] * (es * es));
    const std::array<complex, 2> a = {down[s] * up[s] * es * at_top * bounce,
                                      down[s] * at_bottom * bounce};
    const std::array<complex, 2> b = {up[s] * at_top * bounce,
                                      up[s] * down[s] * es * at_bottom * bounce};
    wave_pair w{};
    if (r == s) {
        for (int c = 0; c < 2; ++c) {
            w.up[c] = a[c] * dec.from_bottom;
            w.down[c] = b[c] * dec.from_top;
        }
        return w;
    }
    // The wave leaving the source layer towards the receiver (upgoing
    // through its top when the receiver is above, downgoing through its
    // bottom when below), carried through each layer between; at the
    // receiver it arrives, and the layers beyond send part of it back.
    const bool rising = r < s;
    const int step = rising ? -1 : 1;
    const auto& pass = rising ? pass_up : pass_down;
    std::array<complex, 2> t = rising ? std::array<complex, 2>{at_top + a[0] * es, a[1] * es}
                                      : std::array<complex, 2>{b[0] * es, at_bottom + b[1] * es};
    for (int j = s + step;; j += step) {
        const complex f = j != r ? pass[j - step] * e[j] : pass[j - step];
        for (int c = 0; c < 2; ++c) t[c] *= f;
        if (j == r) break;
    }
    const complex arrive = rising ? dec.from_bottom : dec.from_top;
    const complex back = rising ? up[r] * e[r] * dec.from_top : down[r] * e[r] * dec.from_bottom;
    auto& ahead = rising ? w.up : w.down;
    auto& behind = rising ? w.down : w.up;
    for (int c = 0; c < 2; ++c) {
        ahead[c] = t[c] * arrive;
        behind[c] = t[c] * back;
    }
    return w;
}

// Both polarisations at once: out[0] TE, out[1] TM.
inline void layered_response(const layer_stack& st, const layered_point& pt, const complex* gamma,
                             wave_pair* out) noexcept {
    const node_decays dec = decays(st, pt, gamma);
    out[0] = layered_waves(st, pt, gamma, dec, polarisation::te);
    out[1] = layered_waves(st, pt, gamma, dec, polarisation::tm);
}

}  // namespace nia::spectral
