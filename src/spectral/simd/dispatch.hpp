// Runtime choice of the SIMD lane code that evaluates blocks of Gauss nodes.
//
// The lane sources are compiled once per instruction-set target (AVX-512,
// AVX2 with FMA on x86-64; Advanced SIMD on aarch64) into one build; the
// first call of lanes() picks the best target the CPU supports and keeps it
// for the life of the process. The scalar table runs today's per-node code:
// it is chosen on CPUs without a lane target, and always when the environment
// variable NIA_SCALAR is set to anything but "" or "0" (read once, at that
// first call), so that tests can compare the two paths.
//
// Every lane whose operands leave the ranges of the lane arithmetic (NaN,
// infinities, huge or tiny moduli, the cut-over points of the fast complex
// helpers) is recomputed by the scalar code, so special values behave
// exactly as on the scalar path.
#pragma once

#include "../kernel.hpp"
#include "../layered_columns.hpp"
#include "../layered_response.hpp"

namespace nia::spectral::simd {

// Nodes per block: one AVX-512 register, two AVX2 or four Advanced SIMD ones.
inline constexpr int block_width = 8;

// The kernel parts (kernel.hpp) at lam_re[i] + i lam_im[i], i < n, written to p[i].
using kernel_parts_block_fn = void (*)(const kernel_record& r, const double* lam_re,
                                       const double* lam_im, int n, kernel_parts* p);
// h[i] = H0^(kind)(z_re[i] + i z_im[i]), i < n, as special::hankel0 defines it.
using hankel_block_fn = void (*)(int kind, const double* z_re, const double* z_im, int n,
                                 complex* h);
// j[i] = J0(z_re[i] + i z_im[i]), i < n, as bessel_j0 defines it.
using j0_block_fn = void (*)(const double* z_re, const double* z_im, int n, complex* j);
// j0[i], j1[i] = J0, J1 of z_re[i] + i z_im[i], i < n, as bessel_j01 defines
// them (j0 bit for bit what j0_block gives).
using j01_block_fn = void (*)(const double* z_re, const double* z_im, int n, complex* j0,
                              complex* j1);
// h0[i], h1[i] = H0^(kind), H1^(kind) of z_re[i] + i z_im[i], i < n, as
// special::hankel01 defines them (h0 bit for bit what hankel_block gives).
using hankel01_block_fn = void (*)(int kind, const double* z_re, const double* z_im, int n,
                                   complex* h0, complex* h1);
// The nodes of a stack's field columns (response_node: the waves at the
// receiver of layered_response, the polarisations of the mask pols, combined,
// with the source's and receiver's vertical wavenumbers) at lam_re[i] + i
// lam_im[i], i < n, on the sheets of stack_vertical_wavenumbers, with the
// layer of source and receiver, when they share one, on the path's.
// The panel rules read the columns formed from them (layered_columns_block).
using layered_block_fn = void (*)(const layer_stack& st, const layered_point& pt, int pols,
                                  const double* lam_re, const double* lam_im, int n,
                                  layered_node* out);
// The columns of the layered pick `pick` (layered_columns.hpp: its id) of the
// record q at lam_re[i] + i lam_im[i], i < n, from the nodes layered_block
// gives, by the same operations as the pick's values in complex arithmetic:
// out[2 (i size + c)] and out[2 (i size + c) + 1] are column c's real and
// imaginary parts at node i.
using layered_columns_block_fn = void (*)(const layered_record& q, int pick, const double* lam_re,
                                          const double* lam_im, int n, double* out);
// The Gauss sums of a block of n nodes: out[d] = fma(w[l], v[l count + d],
// out[d]) for l = 0 .. n - 1 in turn and every d < count. Each step is one
// correctly rounded fused multiply-add, as std::fma is, so that every target
// gives the same bits; the lane targets have it in their instruction set.
using weighted_sums_fn = void (*)(const double* w, const double* v, int n, int count, double* out);
// y[i] = e^x[i]; s[i] = sin x[i], c[i] = cos x[i] (tests of the lane arithmetic).
using exp_block_fn = void (*)(const double* x, double* y, int n);
using sincos_block_fn = void (*)(const double* x, double* s, double* c, int n);

struct lane_functions {
    const char* target;  // "scalar", "avx2", "avx512" or "neon"
    hankel_block_fn hankel_block;
    j0_block_fn j0_block;
    exp_block_fn exp_block;
    sincos_block_fn sincos_block;
    j01_block_fn j01_block;
    hankel01_block_fn hankel01_block;
    kernel_parts_block_fn kernel_parts_block;
    layered_block_fn layered_block;
    layered_columns_block_fn layered_columns_block;
    weighted_sums_fn weighted_sums;
};

// The table chosen for this process.
const lane_functions& lanes() noexcept;

// The table of one target by name, or nullptr when this build or this CPU
// lacks it ("scalar" always exists).
const lane_functions* lanes_for(const char* target) noexcept;

namespace detail {

// The scalar kernel parts at one node, for the lanes the lane code hands
// back; out receives gp, gm, k0 and q as eight doubles.
void scalar_kernel_parts_node(const kernel_record& r, double lam_re, double lam_im,
                              double* out) noexcept;

// The stack's node at one argument, for the lanes the lane code hands back.
void scalar_layered_node(const layer_stack& st, const layered_point& pt, int pols, double lam_re,
                         double lam_im, layered_node* out) noexcept;

// The pick's columns at one argument, for the lanes the lane code hands back
// (2 size doubles).
void scalar_layered_columns(const layered_record& q, int pick, double lam_re, double lam_im,
                            double* out) noexcept;

// special::hankel0 at one argument, for the lanes the lane code hands back;
// out receives the real and imaginary parts.
void scalar_hankel_node(int kind, double z_re, double z_im, double* out) noexcept;

// bessel_j0 at one argument, likewise.
void scalar_j0_node(double z_re, double z_im, double* out) noexcept;

// special::hankel01 at one argument: out receives h0 and h1 as four doubles.
void scalar_hankel01_node(int kind, double z_re, double z_im, double* out) noexcept;

// bessel_j01 at one argument: out receives j0 and j1 as four doubles.
void scalar_j01_node(double z_re, double z_im, double* out) noexcept;

// The last step of J0's complex recurrence, j / total, as the scalar code
// takes it, for totals beyond the fast quotient's range.
void scalar_j0_normalise(double j_re, double j_im, double total_re, double total_im,
                         double* out) noexcept;

}  // namespace detail

}  // namespace nia::spectral::simd
