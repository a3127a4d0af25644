// The spectral kernel's parts on blocks of SIMD lanes. Compiled once per target with
// NIA_SIMD_TARGET naming the target's namespace and the target's instruction
// flags; nothing here is shared between targets.
//
// Each lane runs the same operations in the same order as the scalar kernel
// and the fast paths of its complex helpers (floating-point contraction is off
// for these sources), with the lane exponential, sine and cosine in place of
// libm's. A lane whose operands leave the fast paths' ranges, or whose parts
// are not all finite, is recomputed by the scalar code.
#include <cmath>
#include <cstdint>

#include "dispatch.hpp"
#include "lane_blocks.hpp"
#include "lane_complex.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

namespace {

constexpr int W = block_width;
constexpr int V = vector_width;
static_assert(W % V == 0, "a block is a whole number of vectors");

// The kernel parts at V nodes: gp, gm, k0 = n/(gp + gm) and
// q = n/(k_m^2 gp + k_p^2 gm), each as real and imaginary planes; the lanes
// whose operands leave the fast paths come back cleared in the mask.
struct parts_vector {
    vd gpr, gpi, gmr, gmi, k0r, k0i, qr, qi;
};

inline vi kernel_parts_vector(const kernel_record& rec, vd lr, vd li, parts_vector& p) noexcept {
    const double* kp = reinterpret_cast<const double*>(&rec.k_p);
    const double* km = reinterpret_cast<const double*>(&rec.k_m);
    const double* kp2 = reinterpret_cast<const double*>(&rec.k_p_sq);
    const double* km2 = reinterpret_cast<const double*>(&rec.k_m_sq);
    vi ok = vi{} - 1;
    vertical_lane(lr, li, kp[0], kp[1], p.gpr, p.gpi, ok);
    vertical_lane(lr, li, km[0], km[1], p.gmr, p.gmi, ok);
    // S = exp(zp gamma_m - z gamma_p)
    const vd er = rec.zp * p.gmr - rec.z * p.gpr, ei = rec.zp * p.gmi - rec.z * p.gpi;
    ok = ok & (fabs(er) < exp_lane_limit) & (fabs(ei) <= trig_lane_limit);
    const vd m = exp_lane(select(ok, er, vd{}));
    vd sn, cs;
    sincos_lane(select(ok, ei, vd{}), sn, cs);
    const vd sr = m * cs, si = m * sn;
    vd nr, ni;
    mul(2.0 * lr, 2.0 * li, sr, si, nr, ni);
    ok = ok & moderate(nr, ni);
    // K0 = n / (gamma_p + gamma_m)
    const vd d0r = p.gpr + p.gmr, d0i = p.gpi + p.gmi;
    ok = ok & moderate(d0r, d0i);
    div(nr, ni, d0r, d0i, p.k0r, p.k0i);
    // q = n / (k_m^2 gamma_p + k_p^2 gamma_m)
    vd ar, ai, br, bi;
    mul(splat(km2[0]), splat(km2[1]), p.gpr, p.gpi, ar, ai);
    mul(splat(kp2[0]), splat(kp2[1]), p.gmr, p.gmi, br, bi);
    const vd d1r = ar + br, d1i = ai + bi;
    ok = ok & moderate(d1r, d1i);
    div(nr, ni, d1r, d1i, p.qr, p.qi);
    return ok;
}

// The parts at W nodes into out (eight doubles a node: gp, gm, k0, q).
void kernel_parts_lanes(const kernel_record& rec, const double* lam_re, const double* lam_im,
                        double* out) noexcept {
    for (int v0 = 0; v0 < W; v0 += V) {
        parts_vector p;
        vi ok = kernel_parts_vector(rec, load(lam_re + v0), load(lam_im + v0), p);
        const vd* planes[8] = {&p.gpr, &p.gpi, &p.gmr, &p.gmi, &p.k0r, &p.k0i, &p.qr, &p.qi};
        for (const vd* plane : planes) ok = ok & finite(*plane);
        for (int l = 0; l < V; ++l) {
            double* o = out + 8 * (v0 + l);
            if (ok[l] != 0) {
                for (int c = 0; c < 8; ++c) o[c] = (*planes[c])[l];
            } else {
                detail::scalar_kernel_parts_node(rec, lam_re[v0 + l], lam_im[v0 + l], o);
            }
        }
    }
}

void kernel_parts_block(const kernel_record& rec, const double* lam_re, const double* lam_im, int n,
                        kernel_parts* p) {
    double* out = reinterpret_cast<double*>(p);
    static_assert(sizeof(kernel_parts) == 8 * sizeof(double), "four complex parts");
    in_blocks<8, 1>(lam_re, lam_im, n, {out}, [&rec](const double* lr, const double* li, auto o) {
        kernel_parts_lanes(rec, lr, li, o[0]);
    });
}

// The fused multiply-adds are the target's own instruction here.
void weighted_sums(const double* w, const double* v, int n, int count, double* out) {
    for (int l = 0; l < n; ++l) {
        const double wl = w[l];
        const double* vl = v + l * count;
        for (int d = 0; d < count; ++d) out[d] = std::fma(wl, vl[d], out[d]);
    }
}

void exp_block(const double* x, double* y, int n) {
    for (int i = 0; i < n; ++i) {
        const double v = x[i];
        y[i] = std::fabs(v) < exp_lane_limit ? exp_lane(splat(v))[0] : std::exp(v);
    }
}

void sincos_block(const double* x, double* s, double* c, int n) {
    for (int i = 0; i < n; ++i) {
        const double v = x[i];
        if (std::fabs(v) <= trig_lane_limit) {
            vd sv, cv;
            sincos_lane(splat(v), sv, cv);
            s[i] = sv[0];
            c[i] = cv[0];
        } else {
            s[i] = std::sin(v);
            c[i] = std::cos(v);
        }
    }
}

}  // namespace

// in hankel_lanes.cpp and j0_lanes.cpp
void hankel_block(int kind, const double* z_re, const double* z_im, int n, complex* h);
void j0_block(const double* z_re, const double* z_im, int n, complex* j);
void hankel01_block(int kind, const double* z_re, const double* z_im, int n, complex* h0,
                    complex* h1);
void j01_block(const double* z_re, const double* z_im, int n, complex* j0, complex* j1);
// in layered_lanes.cpp
void layered_block(const layer_stack& st, const layered_point& pt, int pols, const double* lam_re,
                   const double* lam_im, int n, layered_node* out);
void layered_columns_block(const layered_record& q, int pick, const double* lam_re,
                           const double* lam_im, int n, double* out);

#define NIA_STRINGIFY2(x) #x
#define NIA_STRINGIFY(x) NIA_STRINGIFY2(x)
extern const lane_functions functions;
const lane_functions functions{NIA_STRINGIFY(NIA_SIMD_TARGET),
                               hankel_block,
                               j0_block,
                               exp_block,
                               sincos_block,
                               j01_block,
                               hankel01_block,
                               kernel_parts_block,
                               layered_block,
                               layered_columns_block,
                               weighted_sums};

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
