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
#pragma once

#include <array>

#include "channel_set.hpp"
#include "layered_response.hpp"
#include "simd/dispatch.hpp"

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
inline plus_minus scaled(complex f, const plus_minus& v) noexcept {
    return {f * v.plus, f * v.minus};
}

// The node of the polarisations Pols (the others' combinations zero) from
// the stack's vertical wavenumbers at lam.
template <int Pols>
inline layered_node layered_node_from(const layered_record& q, const complex* gamma) noexcept {
    const layer_stack& st = *q.stack;
    layer_scratch<wave_pair, 2> w;
    layered_response<Pols>(st, q.point, gamma, w.data());
    return node_from_waves(w.data(), gamma[q.point.s], gamma[q.point.r]);
}

// The node of the polarisations Pols at lam on the path's sheet.
template <int Pols = both_polarisations>
inline layered_node layered_node_at(const layered_record& q, complex lam) noexcept {
    return layered_node_on<Pols>(*q.stack, q.point, lam);
}

// The node at lam with the outer media's vertical wavenumbers given (the
// far range takes them on either side of a cut).
template <int Pols = both_polarisations>
inline layered_node layered_node_with(const layered_record& q, complex lam, complex g_upper,
                                      complex g_lower) noexcept {
    layer_scratch<complex> gamma;
    gamma[0] = g_upper;
    inner_vertical_wavenumbers(*q.stack, lam, gamma.data(), own_sheet_of(q.point));
    gamma[q.stack->n - 1] = g_lower;
    return layered_node_from<Pols>(q, gamma.data());
}

// What the panel rules need of a layered set: its record and node, and the
// node at lambda (see node_model in panel_rules.hpp), of the polarisations
// Pols its columns read; and the set's values at lambda from its from_node,
// on the path's sheet or with the outer media's vertical wavenumbers given
// (the far range's cut integrands and residues).
template <class Set, int Pols>
struct layered_nodes {
    using record = layered_record;
    using node = layered_node;
    static void node_block(const simd::lane_functions& lanes, const layered_record& q,
                           const double* lam_re, const double* lam_im, int nb,
                           layered_node* out) noexcept {
        // the stack's response on the SIMD lanes
        lanes.layered_block(*q.stack, q.point, Pols, lam_re, lam_im, nb, out);
    }
    static void values(const layered_record& q, complex lam, complex* K) noexcept {
        Set::from_node(q, lam, layered_node_at<Pols>(q, lam), K);
    }
    static void values(const layered_record& q, complex lam, complex g_upper, complex g_lower,
                       complex* K) noexcept {
        Set::from_node(q, lam, layered_node_with<Pols>(q, lam, g_upper, g_lower), K);
    }
};

// Current elements in any layer.
struct layered_electric_channels
    : layered_nodes<layered_electric_channels, both_polarisations>,
      factor_list<factor::j0, factor::j0, factor::j1_rho, factor::j1, factor::j0, factor::j0,
                  factor::j1_rho, factor::j1, factor::j1, factor::j0, factor::j1> {
    static void from_node(const layered_record& q, complex lam, const layered_node& v,
                          complex* K) noexcept {
        const plus_minus t = scaled(-j_unit * q.omega_mu_s * v.half_over_gs, v.te.s);
        const plus_minus u = scaled(j_unit * lam * v.half_over_gs, v.tm.s);  // V of the guide
        const complex two_lam = 2.0 * lam;
        const plus_minus w = scaled(-0.5, v.tm.d);
        const complex a = t.plus, d = w.plus;
        const complex b = j_unit * v.g_r * w.minus * q.inv_we_r;
        const complex c = j_unit * v.g_r * t.minus * q.inv_wm_r;
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
};

// Small loops in any layer.
struct layered_magnetic_channels
    : layered_nodes<layered_magnetic_channels, both_polarisations>,
      factor_list<factor::j0, factor::j1_rho, factor::j0, factor::j1, factor::j0, factor::j1_rho,
                  factor::j0, factor::j1, factor::j1, factor::j1, factor::j0> {
    static void from_node(const layered_record& q, complex lam, const layered_node& v,
                          complex* K) noexcept {
        const complex two_lam = 2.0 * lam;
        const plus_minus x = scaled(q.omega_mu_s * lam * v.half_over_gs, v.te.s);
        const plus_minus y = scaled(0.5 * j_unit * q.omega_mu_s, v.te.d);
        const plus_minus zz = scaled(q.k_s_sq * v.half_over_gs, v.tm.s);  // Z of the guide
        const complex f = j_unit * v.g_r * zz.minus * q.inv_we_r;
        const complex g = j_unit * v.g_r * y.minus * q.inv_wm_r;
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
};

// The columns Columns... of the layered set Full, as a set of their own whose
// nodes hold only the polarisations Pols those columns read: a dipole of one
// orientation integrates its own columns, refined against its own largest
// (as the two half-spaces' column subsets are), and the vertical ones need
// one polarisation of the stack's response.
template <class Full, int Pols, int... Columns>
struct layered_subset : layered_nodes<layered_subset<Full, Pols, Columns...>, Pols> {
    static constexpr int size = sizeof...(Columns);
    // where each column of the subset sits in Full
    static constexpr std::array<int, size> columns = {Columns...};
    static constexpr std::array<bessel_factor, size> factors = {Full::factors[Columns]...};

    static void from_node(const layered_record& q, complex lam, const layered_node& v,
                          complex* K) noexcept {
        complex all[Full::size];
        Full::from_node(q, lam, v, all);
        for (int c = 0; c < size; ++c) K[c] = all[columns[c]];
    }
};

// The vertical current element (TM waves alone): E_rho, E_z, H_phi.
using layered_electric_vertical_channels =
    layered_subset<layered_electric_channels, tm_bit, 8, 9, 10>;
// The horizontal current element.
using layered_electric_horizontal_channels =
    layered_subset<layered_electric_channels, both_polarisations, 0, 1, 2, 3, 4, 5, 6, 7>;
// The horizontal loop (TE waves alone): E_phi, H_rho, H_z.
using layered_magnetic_vertical_channels =
    layered_subset<layered_magnetic_channels, te_bit, 8, 9, 10>;
// The vertical loop.
using layered_magnetic_horizontal_channels =
    layered_subset<layered_magnetic_channels, both_polarisations, 0, 1, 2, 3, 4, 5, 6, 7>;

}  // namespace nia::spectral
