// The field columns of a point dipole in a stack of layers as channel sets of
// the panel rules: for a source in any layer and a receiver in any layer, the
// spectral integrands from which every cylindrical component of E and H
// follows (their formulas, from the stack's TE and TM response, are in
// layered_columns.hpp).
//
// A block of nodes is formed on the SIMD lanes whole, the stack's response
// and the columns from it (simd/layered_lanes.cpp): the panel rules read the
// columns of each node as they come. A single node (the far range's cut
// integrands and residues, the probes) is formed in complex arithmetic.
#pragma once

#include <array>
#include <utility>

#include "channel_set.hpp"
#include "layered_columns.hpp"
#include "layered_response.hpp"
#include "simd/dispatch.hpp"

namespace nia::spectral {

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

// The columns of a pick at one node, as the lanes write them (real and
// imaginary parts in turn); left unwritten until then, so that a block of
// nodes costs no clearing.
template <int Size>
struct layered_column_node {
    double v[2 * Size];
};

// A channel set of the columns of the pick P, each against its Bessel-type
// factor Factors: what the panel rules need of it (its record and node, a
// block of nodes on the lanes, the kernels from a node; see node_model in
// panel_rules.hpp), and its values at lambda, on the path's sheet or with the
// outer media's vertical wavenumbers given (the far range's cut integrands
// and residues).
template <class P, bessel_factor... Factors>
struct layered_channel_set : factor_list<Factors...> {
    static_assert(P::size == sizeof...(Factors), "one factor per column");
    using pick = P;
    // where each column of the set sits among the source's eleven
    static constexpr std::array<int, P::size> columns = P::columns;
    using record = layered_record;
    using node = layered_column_node<P::size>;
    static_assert(sizeof(node) == 2 * P::size * sizeof(double), "the columns' doubles alone");
    static void node_block(const simd::lane_functions& lanes, const layered_record& q,
                           const double* lam_re, const double* lam_im, int nb, node* out) noexcept {
        lanes.layered_columns_block(q, P::id, lam_re, lam_im, nb, reinterpret_cast<double*>(out));
    }
    static void from_node(const layered_record&, complex, const node& n, complex* K) noexcept {
        for (int c = 0; c < P::size; ++c) K[c] = complex(n.v[2 * c], n.v[2 * c + 1]);
    }
    static void values(const layered_record& q, complex lam, complex* K) noexcept {
        P::values(q, lam, layered_node_at<P::pols>(q, lam), K);
    }
    static void values(const layered_record& q, complex lam, complex g_upper, complex g_lower,
                       complex* K) noexcept {
        P::values(q, lam, layered_node_with<P::pols>(q, lam, g_upper, g_lower), K);
    }
};

// Current elements in any layer.
using layered_electric_channels =
    layered_channel_set<layered_electric_pick, factor::j0, factor::j0, factor::j1_rho, factor::j1,
                        factor::j0, factor::j0, factor::j1_rho, factor::j1, factor::j1, factor::j0,
                        factor::j1>;
// Small loops in any layer.
using layered_magnetic_channels =
    layered_channel_set<layered_magnetic_pick, factor::j0, factor::j1_rho, factor::j0, factor::j1,
                        factor::j0, factor::j1_rho, factor::j0, factor::j1, factor::j1, factor::j1,
                        factor::j0>;

// The columns of one orientation as a set of their own whose nodes hold only
// the polarisations its columns read: a dipole of one orientation integrates
// its own columns, refined against its own largest (as the two half-spaces'
// column subsets are), and the vertical ones need one polarisation of the
// stack's response.
template <class Full, class P, std::size_t... I>
constexpr auto pick_factors(std::index_sequence<I...>) {
    return layered_channel_set<P, Full::factors[P::columns[I]]...>{};
}
template <class Full, class P>
using layered_subset = decltype(pick_factors<Full, P>(std::make_index_sequence<P::size>{}));

using layered_electric_vertical_channels =
    layered_subset<layered_electric_channels, layered_electric_vertical_pick>;
using layered_electric_horizontal_channels =
    layered_subset<layered_electric_channels, layered_electric_horizontal_pick>;
using layered_magnetic_vertical_channels =
    layered_subset<layered_magnetic_channels, layered_magnetic_vertical_pick>;
using layered_magnetic_horizontal_channels =
    layered_subset<layered_magnetic_channels, layered_magnetic_horizontal_pick>;

}  // namespace nia::spectral
