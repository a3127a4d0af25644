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
// Slow guided waves a stack keeps.
inline constexpr int max_guided = 32;

// Per-node working storage for up to max_layers values, on the stack and
// left unwritten until the recursion writes it: a std::array of complex
// would clear all 64 entries (1 KiB) at every node, which for a stack of two
// or three media costs more than the recursion itself. Only entries written
// before they are read are ever read.
template <class T, int N = max_layers>
class layer_scratch {
  public:
    layer_scratch() noexcept {}
    T& operator[](int j) noexcept { return items_[j]; }
    const T& operator[](int j) const noexcept { return items_[j]; }
    T* data() noexcept { return items_; }
    const T* data() const noexcept { return items_; }

  private:
    union {
        T items_[N];
    };
};

// A stack of homogeneous media at one frequency, top to bottom. Filled once
// per batch, read-only after.
struct layer_stack {
    int n = 0;                                  // media, 1 .. max_layers
    std::array<complex, max_layers> k{};        // wavenumbers, Im k <= 0
    std::array<complex, max_layers> inv_mu{};   // 1 / mu_r (TE admittance factor)
    std::array<complex, max_layers> inv_eps{};  // 1 / eps_r (TM admittance factor)
    std::array<double, max_layers> top{};       // height of each layer's top (+inf for 0)
    std::array<double, max_layers> bottom{};    // height of each layer's bottom (-inf for n-1)
    // The slow guided waves' poles (find_guided_modes): only a stack with a
    // layer of negative permittivity or permeability has any.
    int n_guided = 0;
    std::array<complex, max_guided> guided{};
};

// The layers of the source and of the receiver, and their heights.
struct layered_point {
    int s;      // the source's layer
    int r;      // the receiver's layer
    double z;   // receiver height
    double zp;  // source height
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

// The arrays of a stack the response reads, as plain pointers to its
// admittance factors C (complex values here, the lane code's own copy of them
// there) and heights.
template <class C>
struct layer_view {
    int n;
    const C* inv_mu;
    const C* inv_eps;
    const double* top;
    const double* bottom;
};

inline layer_view<complex> view_of(const layer_stack& st) noexcept {
    return {st.n, st.inv_mu.data(), st.inv_eps.data(), st.top.data(), st.bottom.data()};
}

// Upgoing and downgoing waves at the receiver of one polarisation (in the
// arithmetic T: complex values, or the lane code's vectors of them), per unit
// upgoing (index 0) and per unit downgoing (index 1) primary wave.
// With them their sum and difference, plus = up + down and minus = up -
// down (the field's amplitude and its current), which near a reflecting face
// are taken in a form that keeps their digits (see response_on).
template <class T>
struct waves_of {
    std::array<T, 2> up;
    std::array<T, 2> down;
    std::array<T, 2> plus;
    std::array<T, 2> minus;
};
using wave_pair = waves_of<complex>;

// No wave at all.
inline wave_pair zero_waves() noexcept {
    const complex zero(0.0, 0.0);
    return {{zero, zero}, {zero, zero}, {zero, zero}, {zero, zero}};
}

// g turned to the half-plane Re g >= 0.
inline complex right_half(complex g) noexcept { return g.real() >= 0.0 ? g : -g; }

// near where Re w < 1, far elsewhere (and where w is NaN).
inline complex pick_near(complex w, complex near, complex far) noexcept {
    return w.real() < 1.0 ? near : far;
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
// The inner layers alone (1 .. n-2), for a caller that has the outer two.
inline void inner_vertical_wavenumbers(const layer_stack& st, complex lam, complex* gamma,
                                       int own_sheet = -1) noexcept {
    for (int j = 1; j < st.n - 1; ++j) {
        const complex g = vertical_wavenumber(lam, st.k[j]);
        gamma[j] = j == own_sheet ? g : right_half(g);
    }
}
inline void stack_vertical_wavenumbers(const layer_stack& st, complex lam, complex* gamma,
                                       int own_sheet = -1) noexcept {
    gamma[0] = vertical_wavenumber(lam, st.k[0]);
    inner_vertical_wavenumbers(st, lam, gamma, own_sheet);
    if (st.n > 1) gamma[st.n - 1] = vertical_wavenumber(lam, st.k[st.n - 1]);
}

// The layer whose vertical wavenumber keeps the path's sheet besides the
// outer two: the one that holds both source and receiver, or none (-1).
inline int own_sheet_of(const layered_point& pt) noexcept { return pt.r == pt.s ? pt.s : -1; }

// The recursion below is written once for any arithmetic T that has complex
// values' operators (+, -, *, with doubles too) and finds quotient(a, b) and
// complex_exp(x) for its values: std::complex here, the SIMD lanes' vectors
// of complex values in the lane code, which runs the same steps on a block of
// nodes at once.
namespace detail {

// exp(-gamma d) across an inner layer of thickness d; zero for an outer one.
template <class T, class C>
inline T crossing(const layer_view<C>& st, const T* gamma, int j) noexcept {
    if (j == 0 || j == st.n - 1) return T(0.0);
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
template <class T>
inline void meet(T ya, T yb, T rho_b, T& reflected, T& passed) noexcept {
    const T sum = ya + yb, difference = ya - yb;
    const T inverse = quotient(T(1.0), sum + rho_b * difference);
    reflected = (difference + rho_b * sum) * inverse;
    passed = 2.0 * ya * inverse;
}

}  // namespace detail

// What both polarisations share at one node: the exponentials across each
// inner layer, and the exponents from the source to its layer's top and
// bottom and from the receiver layer's bottom and top to the receiver (each
// with Re <= 0 on the recursion's roots; zero where that face is absent). A
// source in an outer medium launches its waves through one face, so that
// every wave at the receiver then holds one source exponential times one
// receiver exponential: the response takes their product as one exponential
// of the summed exponents.
template <class T, int N = max_layers>
struct node_decays {
    layer_scratch<T, N> across;  // exp(-gamma_j d_j); 0 for the outer two, unset for s
    T launch_up;                 // -gamma_s (top_s - zp), for s > 0
    T launch_down;               // -gamma_s (zp - bottom_s), for s < n-1
    T rise;                      // -gamma_r (z - bottom_r), for r < n-1
    T fall;                      // gamma_r (z - top_r), for r > 0
};

template <class T, int N, class C>
inline void decays(const layer_view<C>& st, const layered_point& pt, const T* gamma,
                   node_decays<T, N>& d) noexcept {
    const int n = st.n, s = pt.s, r = pt.r;
    const T zero(0.0);
    // the source's own layer is crossed by no recursion: the response takes
    // its exponential as the product of the two from the source (below)
    for (int j = 0; j < n; ++j) {
        if (j != s || j == 0 || j == n - 1) d.across[j] = detail::crossing(st, gamma, j);
    }
    d.launch_up = s == 0 ? zero : -gamma[s] * (st.top[s] - pt.zp);
    d.launch_down = s == n - 1 ? zero : -gamma[s] * (pt.zp - st.bottom[s]);
    d.rise = r == n - 1 ? zero : -gamma[r] * (pt.z - st.bottom[r]);
    d.fall = r == 0 ? zero : gamma[r] * (pt.z - st.top[r]);
}

// The polarisations a caller reads, as a mask of bits.
inline constexpr int te_bit = 1, tm_bit = 2, both_polarisations = te_bit | tm_bit;

// The waves at the receiver (see the top of this file) of the polarisations
// of the mask Pols, out[0] TE and out[1] TM (zero where left out), from the
// stack's vertical wavenumbers at lambda. The per-node work stays in fixed
// arrays on the stack. The two polarisations run through each step together:
// their recursions are independent chains of quotients, which the processor
// then overlaps. The outer media's faces are skipped rather than multiplied
// through: a source or receiver in an outer half-space has one face, and most
// stacks put one of them there. The scratch holds N media (st.n <= N): the
// lane code, whose values are whole vectors, keeps it small.
template <int Pols, int N, class T, class C>
inline void response_on(const layer_view<C>& st, const layered_point& pt, const T* gamma,
                        waves_of<T>* out) noexcept {
    constexpr int first = (Pols & te_bit) ? 0 : 1, last = (Pols & tm_bit) ? 1 : 0;
    using pair = std::array<T, 2>;  // TE, TM
    const int n = st.n, s = pt.s, r = pt.r;
    const T zero(0.0);
    // no wave, element by element (a copy of a whole zero pair of lane
    // vectors would be a block move of several hundred bytes)
    const auto clear = [&zero](waves_of<T>& w) {
        for (int c = 0; c < 2; ++c) w.up[c] = w.down[c] = w.plus[c] = w.minus[c] = zero;
    };
    // plus and minus from the waves themselves, where no face is near
    const auto direct_sums = [](waves_of<T>& w) {
        for (int c = 0; c < 2; ++c) {
            w.plus[c] = w.up[c] + w.down[c];
            w.minus[c] = w.up[c] - w.down[c];
        }
    };
    if (n == 1) {
        // one medium: nothing to reflect
        clear(out[0]);
        clear(out[1]);
        return;
    }
    node_decays<T, N> dec;
    decays(st, pt, gamma, dec);
    const auto& e = dec.across;
    const auto admittance = [&](int p, int j) {
        return gamma[j] * (p == 0 ? st.inv_mu[j] : st.inv_eps[j]);
    };
    // Reflection below layer j, at its bottom (down[j]), and above it, at its
    // top (up[j]); pass_down[j] carries the downgoing wave at layer j's bottom
    // into layer j + 1 (at its top), pass_up[j] the upgoing wave at layer j's
    // top into layer j - 1 (at its bottom). A wave leaving the source layer
    // downwards meets only the reflections below each layer it crosses, one
    // leaving upwards only those above: the recursions run from the outer
    // media to the source's layer and no further. The outer media reflect
    // nothing, so each recursion's first interface is Fresnel's alone.
    layer_scratch<pair, N> down, up, pass_down, pass_up;
    if (s < n - 1) {
        pair y_beyond, ya;
        for (int p = first; p <= last; ++p) {
            y_beyond[p] = admittance(p, n - 1);
            ya[p] = admittance(p, n - 2);
            const T inverse = quotient(T(1.0), ya[p] + y_beyond[p]);
            down[n - 2][p] = (ya[p] - y_beyond[p]) * inverse;
            pass_down[n - 2][p] = 2.0 * ya[p] * inverse;
        }
        for (int j = n - 3; j >= s; --j) {
            const T loss = e[j + 1] * e[j + 1];
            for (int p = first; p <= last; ++p) {
                y_beyond[p] = ya[p];
                ya[p] = admittance(p, j);
                detail::meet(ya[p], y_beyond[p], down[j + 1][p] * loss, down[j][p],
                             pass_down[j][p]);
            }
        }
    }
    if (s > 0) {
        pair y_beyond, ya;
        for (int p = first; p <= last; ++p) {
            y_beyond[p] = admittance(p, 0);
            ya[p] = admittance(p, 1);
            const T inverse = quotient(T(1.0), ya[p] + y_beyond[p]);
            up[1][p] = (ya[p] - y_beyond[p]) * inverse;
            pass_up[1][p] = 2.0 * ya[p] * inverse;
        }
        for (int j = 2; j <= s; ++j) {
            const T loss = e[j - 1] * e[j - 1];
            for (int p = first; p <= last; ++p) {
                y_beyond[p] = ya[p];
                ya[p] = admittance(p, j);
                detail::meet(ya[p], y_beyond[p], up[j - 1][p] * loss, up[j][p], pass_up[j][p]);
            }
        }
    }
    // The waves at the receiver per unit upgoing (0) and downgoing (1)
    // primary wave. Where the source sits in an outer medium its primary
    // wave leaves through the one face, and each wave at the receiver is
    // one path of reflections and passages from it.
    const bool rising = r < s;
    const int step = rising ? -1 : 1;
    const auto& pass = rising ? pass_up : pass_down;
    // the passages through the layers between the source's and the receiver's
    pair carried{zero, zero};
    if (r != s) {
        for (int p = first; p <= last; ++p) {
            carried[p] = pass[r - step][p];
            for (int j = s + step; j != r; j += step)
                carried[p] = carried[p] * (pass[j - step][p] * e[j]);
        }
    }
    // Near the receiver layer's far face (the one beyond it, seen from the
    // source) the wave arriving at the receiver and the one the face sends
    // back nearly cancel, in their sum where the face reflects almost -1 and
    // in their difference where it reflects almost +1 (the TM and TE waves
    // just under a sea surface). With A the arriving wave's exponential, B
    // the reflected one's and u the receiver's distance to the face, A / B =
    // e^(2 gamma u), and A +- R B is taken as B (expm1(2 gamma u) + (1 +- R)),
    // with 1 + R = 2 ya (1 + rho_b) / den and 1 - R = 2 yb (1 - rho_b) / den
    // from the face's own denominator rather than from R. Where Re(2 gamma u)
    // >= 1 (away from the face) the waves are summed as they are.
    const bool far_face = r != s && (rising ? r > 0 : r < n - 1);
    pair one_plus{zero, zero}, one_minus{zero, zero};
    T face_w = zero, face_em = zero;
    if (far_face) {
        const int beyond_layer = r + step;
        const bool outer = beyond_layer == 0 || beyond_layer == n - 1;
        for (int p = first; p <= last; ++p) {
            const T ya = admittance(p, r), yb = admittance(p, beyond_layer);
            const T rho_b = outer ? zero
                                  : (rising ? up[beyond_layer][p] : down[beyond_layer][p]) *
                                        (e[beyond_layer] * e[beyond_layer]);
            const T inverse = quotient(T(1.0), (ya + yb) + rho_b * (ya - yb));
            one_plus[p] = 2.0 * ya * (rho_b + T(1.0)) * inverse;
            one_minus[p] = 2.0 * yb * (1.0 - rho_b) * inverse;
        }
        face_w = -2.0 * (rising ? dec.fall : dec.rise);
        face_em = complex_expm1(face_w);
    }
    // plus and minus of the receiver's waves per unit primary c near the far
    // face, the arriving and the returning wave being scale A and scale R B
    const auto face_sums = [&](waves_of<T>& w, int p, int c, const T& scale, const T& b_wave) {
        const T near_sum = scale * (b_wave * (face_em + one_plus[p]));
        const T near_difference = scale * (b_wave * (face_em + one_minus[p]));
        w.plus[c] = pick_near(face_w, near_sum, w.plus[c]);
        w.minus[c] = pick_near(face_w, rising ? near_difference : -near_difference, w.minus[c]);
    };
    if (s == 0 || s == n - 1) {
        // the primary wave leaves the source layer through its one face: down
        // from the top medium, up from the bottom one
        const bool from_top_medium = s == 0;
        const T launch = from_top_medium ? dec.launch_down : dec.launch_up;
        const int c = from_top_medium ? 1 : 0;
        for (int p = 0; p < 2; ++p) clear(out[p]);
        if (r == s) {
            // back from the face: up into the top medium, down into the bottom one
            const T there = complex_exp(launch + (from_top_medium ? dec.rise : dec.fall));
            for (int p = first; p <= last; ++p) {
                if (from_top_medium) {
                    out[p].up[c] = down[s][p] * there;
                } else {
                    out[p].down[c] = up[s][p] * there;
                }
                direct_sums(out[p]);
            }
            return;
        }
        const T arrive = complex_exp(launch + (rising ? dec.rise : dec.fall));
        // the receiver layer's far face: none for an outer one
        const T beyond =
            far_face ? e[r] * complex_exp(launch + (rising ? dec.fall : dec.rise)) : zero;
        for (int p = first; p <= last; ++p) {
            auto& ahead = rising ? out[p].up : out[p].down;
            auto& behind = rising ? out[p].down : out[p].up;
            ahead[c] = carried[p] * arrive;
            if (far_face) behind[c] = carried[p] * ((rising ? up[r][p] : down[r][p]) * beyond);
            direct_sums(out[p]);
            if (far_face) face_sums(out[p], p, c, carried[p], beyond);
        }
        return;
    }
    // A source in an inner layer: a is the scattered wave upgoing from the
    // layer's bottom, b the one downgoing from its top. The primary wave
    // reaches the top face with at_top and the bottom face with at_bottom;
    // between the two faces the waves bounce, and their sum is 1 / (1 - loop
    // gain).
    const T at_top = complex_exp(dec.launch_up), at_bottom = complex_exp(dec.launch_down);
    // across the source's layer: from the top face to the source and on to
    // the bottom one
    const T es = at_top * at_bottom;
    const T from_bottom = r == n - 1 ? zero : complex_exp(dec.rise);
    const T from_top = r == 0 ? zero : complex_exp(dec.fall);
    for (int p = 0; p < 2; ++p) {
        if (p < first || p > last) clear(out[p]);
    }
    for (int p = first; p <= last; ++p) {
        const T above = up[s][p], below = down[s][p];
        const T bounce = quotient(T(1.0), 1.0 - above * below * (es * es));
        const T off_top = above * at_top * bounce;
        const T off_bottom = below * at_bottom * bounce;
        const pair a = {below * es * off_top, off_bottom};
        const pair b = {off_top, above * es * off_bottom};
        waves_of<T>& w = out[p];
        if (r == s) {
            for (int c = 0; c < 2; ++c) {
                w.up[c] = a[c] * from_bottom;
                w.down[c] = b[c] * from_top;
            }
            direct_sums(w);
            continue;
        }
        // The wave leaving the source layer towards the receiver (upgoing
        // through its top when the receiver is above, downgoing through its
        // bottom when below), carried through each layer between; at the
        // receiver it arrives, and the layers beyond send part of it back.
        const pair t =
            rising ? pair{at_top + a[0] * es, a[1] * es} : pair{b[0] * es, at_bottom + b[1] * es};
        const T arrive = carried[p] * (rising ? from_bottom : from_top);
        auto& ahead = rising ? w.up : w.down;
        auto& behind = rising ? w.down : w.up;
        for (int c = 0; c < 2; ++c) ahead[c] = t[c] * arrive;
        if (far_face) {
            const T back = carried[p] *
                           (rising ? up[r][p] * e[r] * from_top : down[r][p] * e[r] * from_bottom);
            for (int c = 0; c < 2; ++c) behind[c] = t[c] * back;
            direct_sums(w);
            const T b_wave = e[r] * (rising ? from_top : from_bottom);
            for (int c = 0; c < 2; ++c) face_sums(w, p, c, t[c] * carried[p], b_wave);
        } else {
            for (int c = 0; c < 2; ++c) behind[c] = zero;
            direct_sums(w);
        }
    }
}

// The response in complex arithmetic, node by node.
template <int Pols = both_polarisations>
inline void layered_response(const layer_stack& st, const layered_point& pt, const complex* gamma,
                             wave_pair* out) noexcept {
    response_on<Pols, max_layers>(view_of(st), pt, gamma, out);
}

// A pair of combinations, the sum over the receiver's upgoing and downgoing
// waves (plus) and their difference (minus).
template <class T>
struct plus_minus_of {
    T plus, minus;
};
using plus_minus = plus_minus_of<complex>;

// The sums and differences of one polarisation's waves at the receiver, of
// the primary waves' sum (s) and difference (d): S+- and D+- of the field
// columns (layered_channels.hpp).
template <class T>
struct wave_combinations_of {
    plus_minus_of<T> s, d;
};
using wave_combinations = wave_combinations_of<complex>;

template <class T>
inline wave_combinations_of<T> combine(const waves_of<T>& w) noexcept {
    return {{w.plus[0] + w.plus[1], w.minus[0] + w.minus[1]},
            {w.plus[0] - w.plus[1], w.minus[0] - w.minus[1]}};
}

// The response and the two vertical wavenumbers every field column needs at
// one node.
template <class T>
struct response_node {
    wave_combinations_of<T> te, tm;
    T g_s, g_r;
    T half_over_gs;  // 1 / (2 g_s), the primary waves' factor
};
using layered_node = response_node<complex>;

// The node from the waves (TE, TM) and the source's and receiver's vertical
// wavenumbers.
template <class T>
inline response_node<T> node_from_waves(const waves_of<T>* w, T g_s, T g_r) noexcept {
    return {combine(w[0]), combine(w[1]), g_s, g_r, quotient(T(0.5), g_s)};
}

// The node of the polarisations Pols at lam on the path's sheet, in complex
// arithmetic (the lanes hand every lane they cannot take to this).
template <int Pols>
inline layered_node layered_node_on(const layer_stack& st, const layered_point& pt,
                                    complex lam) noexcept {
    layer_scratch<complex> gamma;
    stack_vertical_wavenumbers(st, lam, gamma.data(), own_sheet_of(pt));
    wave_pair w[2];
    layered_response<Pols>(st, pt, gamma.data(), w);
    return node_from_waves(w, gamma[pt.s], gamma[pt.r]);
}

}  // namespace nia::spectral
