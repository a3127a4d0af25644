// The field columns of a point dipole in a stack of layers: for a source in
// any layer and a receiver in any layer, the spectral integrands from which
// every cylindrical component of E and H follows, built from the stack's TE
// and TM response (layered_response.hpp).
//
// The dipole's primary plane waves in its layer s (vertical wavenumber g_s,
// horizontal wavevector lambda k_h, e = z x k_h, exp(+j omega t)) are, above
// the source and below it (sign sigma = +1 and -1),
//   electric moment p:  E_TE = -j omega mu_s (e . p) / (2 g_s),
//                       H_TM = (j lambda p_z - sigma g_s (k_h . p)) / (2 g_s),
//   magnetic moment m:  E_TE = omega mu_s (lambda m_z + sigma j g_s (k_h . m)) / (2 g_s),
//                       H_TM = k_s^2 (e . m) / (2 g_s).
// At the receiver (layer r, g_r, omega eps_r, omega mu_r) a wave of kappa_z =
// -+j g_r carries E = TE e - TM (lambda z - kappa_z k_h) / (omega eps_r) and
// H = TE (lambda z - kappa_z k_h) / (omega mu_r) + TM e. The azimuthal
// integration of exp(-j lambda rho cos(alpha - phi)) against the powers of
// cos and sin of alpha these products hold leaves J0, -j J1 and J1(x)/x with
// x = rho lambda (J2 = 2 J1 / x - J0 eliminated), so that
//   F = moment / (4 pi) * sum_c K_c(lambda) B_c(rho lambda),
// B_c one of J0, J1 and J1/rho (the Bessel factors of channel_set.hpp). The
// columns below are the K_c, in units where the free-space impedance is one:
// E columns give E / eta0, H columns H.
//
// With S = W_u + W_d and D = W_u - W_d of the receiver's waves per unit
// upgoing (u) and downgoing (d) primary wave, and S+- = S_up +- S_down,
// D+- = D_up +- D_down (TE and TM apart), and u_rho, u_phi the horizontal
// moment's components along the field point's radial and azimuthal unit
// vectors, u_z the vertical one:
//
// electric:  T = -j omega mu_s S^TE / (2 g_s), V = j lambda S^TM / (2 g_s),
//            W = -D^TM / 2;  a = T+, b = j g_r W- / (omega eps_r),
//            c = j g_r T- / (omega mu_r), d = W+
//   0  2 lambda a                         J0      E_phi = u_phi (0 - 2)
//   1  2 lambda b                         J0      E_rho = -u_z 8 + u_rho (2 - 1)
//   2  2 (a + b)                          J1/rho
//   3  2 j lambda^2 W+ / (omega eps_r)    J1      E_z = -u_z 9 + u_rho 3
//   4  2 lambda c                         J0      H_rho = u_phi (4 - 6)
//   5  2 lambda d                         J0      H_phi = -j u_z 10 + u_rho (5 - 6)
//   6  2 (c + d)                          J1/rho
//   7  2 j lambda^2 T+ / (omega mu_r)     J1      H_z = -u_phi 7
//   8  2 lambda g_r V- / (omega eps_r)    J1
//   9  2 lambda^2 V+ / (omega eps_r)      J0
//  10  2 lambda V+                        J1
// magnetic:  X = omega mu_s lambda S^TE / (2 g_s), Y = j omega mu_s D^TE / 2,
//            Z = k_s^2 S^TM / (2 g_s);  f = j g_r Z- / (omega eps_r),
//            g = j g_r Y- / (omega mu_r)
//   0  2 lambda f                         J0      E_rho = -u_phi (0 + 1)
//   1  2 (Y+ - f)                         J1/rho  E_phi = -j u_z 8 + u_rho (2 - 1)
//   2  2 lambda Y+                        J0
//   3  2 lambda^2 Z+ / (omega eps_r)      J1      E_z = j u_phi 3
//   4  2 lambda g                         J0      H_rho = u_z 9 + u_rho (4 - 5)
//   5  2 (g - Z+)                         J1/rho  H_phi = u_phi (5 + 6)
//   6  2 lambda Z+                        J0
//   7  2 lambda^2 Y+ / (omega mu_r)       J1      H_z = u_z 10 - j u_rho 7
//   8  2 lambda X+                        J1
//   9  2 lambda g_r X- / (omega mu_r)     J1
//  10  2 lambda^2 X+ / (omega mu_r)       J0
// In the source's own layer the waves leave the primary one out: the columns
// are then the scattered field's, the direct field being added in closed form.
//
// The formulas below are written once for any arithmetic T of the stack's
// response (layered_response.hpp): complex values node by node, or the SIMD
// lanes' vectors of them, which form the columns of a block of nodes at once
// (simd/layered_lanes.cpp) with the same operations in the same order.
#pragma once

#include <array>

#include "layered_response.hpp"

namespace nia::spectral {

// Per-triple parameters of the layered columns; filled once per triple.
struct layered_record {
    const layer_stack* stack;
    layered_point point;
    complex omega_mu_s;  // k0 mu_r of the source's layer
    complex k_s_sq;      // k_s^2
    complex inv_we_r;    // 1 / (k0 eps_r) of the receiver's layer
    complex inv_wm_r;    // 1 / (k0 mu_r) of the receiver's layer
};

inline layered_record make_layered_record(const layer_stack& st, double k0, double z,
                                          double zp) noexcept {
    layered_record q;
    q.stack = &st;
    q.point = {source_layer(st, zp), receiver_layer(st, z), z, zp};
    const int s = q.point.s, r = q.point.r;
    q.omega_mu_s = k0 / st.inv_mu[s];
    q.k_s_sq = st.k[s] * st.k[s];
    q.inv_we_r = st.inv_eps[r] / k0;
    q.inv_wm_r = st.inv_mu[r] / k0;
    return q;
}

// The imaginary unit j of the columns' formulas.
inline constexpr complex j_unit(0.0, 1.0);

// f times both members.
template <class F, class T>
inline plus_minus_of<T> scaled(const F& f, const plus_minus_of<T>& v) noexcept {
    return {f * v.plus, f * v.minus};
}

// The eleven columns of a current element at lam from the node v.
template <class T>
inline void electric_columns(const layered_record& q, const T& lam, const response_node<T>& v,
                             T* K) noexcept {
    const plus_minus_of<T> t = scaled(-j_unit * q.omega_mu_s * v.half_over_gs, v.te.s);
    const plus_minus_of<T> u = scaled(j_unit * lam * v.half_over_gs, v.tm.s);  // V of the guide
    const T two_lam = 2.0 * lam;
    const plus_minus_of<T> w = scaled(complex(-0.5), v.tm.d);
    const T a = t.plus, d = w.plus;
    const T b = j_unit * v.g_r * w.minus * q.inv_we_r;
    const T c = j_unit * v.g_r * t.minus * q.inv_wm_r;
    K[0] = two_lam * a;
    K[1] = two_lam * b;
    K[2] = 2.0 * (a + b);
    K[3] = two_lam * (j_unit * lam * w.plus * q.inv_we_r);
    K[4] = two_lam * c;
    K[5] = two_lam * d;
    K[6] = 2.0 * (c + d);
    K[7] = two_lam * (j_unit * lam * t.plus * q.inv_wm_r);
    K[8] = two_lam * (v.g_r * u.minus * q.inv_we_r);
    K[9] = two_lam * (lam * u.plus * q.inv_we_r);
    K[10] = two_lam * u.plus;
}

// The eleven columns of a small loop at lam from the node v.
template <class T>
inline void magnetic_columns(const layered_record& q, const T& lam, const response_node<T>& v,
                             T* K) noexcept {
    const T two_lam = 2.0 * lam;
    const plus_minus_of<T> x = scaled(q.omega_mu_s * lam * v.half_over_gs, v.te.s);
    const plus_minus_of<T> y = scaled(0.5 * j_unit * q.omega_mu_s, v.te.d);
    const plus_minus_of<T> zz = scaled(q.k_s_sq * v.half_over_gs, v.tm.s);  // Z of the guide
    const T f = j_unit * v.g_r * zz.minus * q.inv_we_r;
    const T g = j_unit * v.g_r * y.minus * q.inv_wm_r;
    K[0] = two_lam * f;
    K[1] = 2.0 * (y.plus - f);
    K[2] = two_lam * y.plus;
    K[3] = two_lam * (lam * zz.plus * q.inv_we_r);
    K[4] = two_lam * g;
    K[5] = 2.0 * (g - zz.plus);
    K[6] = two_lam * zz.plus;
    K[7] = two_lam * (lam * y.plus * q.inv_wm_r);
    K[8] = two_lam * x.plus;
    K[9] = two_lam * (v.g_r * x.minus * q.inv_wm_r);
    K[10] = two_lam * (lam * x.plus * q.inv_wm_r);
}

enum class layered_source : int { electric = 0, magnetic = 1 };

// The columns Columns... of a source's eleven, from the node of the
// polarisations Pols they read: a dipole of one orientation integrates its
// own columns (see layered_channels.hpp). id names the pick to the lane table.
template <int Id, layered_source Source, int Pols, int... Columns>
struct layered_pick {
    static constexpr int id = Id;
    static constexpr int pols = Pols;
    static constexpr layered_source source = Source;
    static constexpr int size = sizeof...(Columns);
    // where each column of the pick sits among the source's eleven
    static constexpr std::array<int, size> columns = {Columns...};

    template <class T>
    static void values(const layered_record& q, const T& lam, const response_node<T>& v,
                       T* K) noexcept {
        T all[11];
        if constexpr (Source == layered_source::electric) {
            electric_columns(q, lam, v, all);
        } else {
            magnetic_columns(q, lam, v, all);
        }
        for (int c = 0; c < size; ++c) K[c] = all[columns[c]];
    }
};

// The picks the field batch integrates.
using layered_electric_pick =
    layered_pick<0, layered_source::electric, both_polarisations, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10>;
using layered_magnetic_pick =
    layered_pick<1, layered_source::magnetic, both_polarisations, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10>;
// The vertical current element (TM waves alone): E_rho, E_z, H_phi.
using layered_electric_vertical_pick = layered_pick<2, layered_source::electric, tm_bit, 8, 9, 10>;
// The horizontal current element.
using layered_electric_horizontal_pick =
    layered_pick<3, layered_source::electric, both_polarisations, 0, 1, 2, 3, 4, 5, 6, 7>;
// The horizontal loop (TE waves alone): E_phi, H_rho, H_z.
using layered_magnetic_vertical_pick = layered_pick<4, layered_source::magnetic, te_bit, 8, 9, 10>;
// The vertical loop.
using layered_magnetic_horizontal_pick =
    layered_pick<5, layered_source::magnetic, both_polarisations, 0, 1, 2, 3, 4, 5, 6, 7>;

// f(P{}) for the pick P of the given id (one of the six above).
template <class F>
inline void with_layered_pick(int id, F&& f) {
    switch (id) {
        case 0: f(layered_electric_pick{}); break;
        case 1: f(layered_magnetic_pick{}); break;
        case 2: f(layered_electric_vertical_pick{}); break;
        case 3: f(layered_electric_horizontal_pick{}); break;
        case 4: f(layered_magnetic_vertical_pick{}); break;
        default: f(layered_magnetic_horizontal_pick{}); break;
    }
}

// The most columns a pick holds.
inline constexpr int max_layered_columns = 11;

}  // namespace nia::spectral
