// The scalar lane table and the once-per-process choice of target.
#include "dispatch.hpp"

#include "../../special/hankel.hpp"
#include "../bessel_j.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace nia::spectral::simd {

#define NIA_DECLARE_TARGET(name)           \
    namespace name {                       \
    extern const lane_functions functions; \
    }
#ifdef NIA_SIMD_HAVE_AVX512
NIA_DECLARE_TARGET(avx512)
#endif
#ifdef NIA_SIMD_HAVE_AVX2
NIA_DECLARE_TARGET(avx2)
#endif
#ifdef NIA_SIMD_HAVE_NEON
NIA_DECLARE_TARGET(neon)
#endif
#undef NIA_DECLARE_TARGET

namespace detail {

void scalar_kernel_parts_node(const kernel_record& r, double lam_re, double lam_im,
                              double* out) noexcept {
    const kernel_parts p = spectral_kernel_parts(r, complex(lam_re, lam_im));
    const complex v[4] = {p.gp, p.gm, p.k0, p.q};
    for (int c = 0; c < 4; ++c) {
        out[2 * c] = v[c].real();
        out[2 * c + 1] = v[c].imag();
    }
}

void scalar_layered_node(const layer_stack& st, const layered_point& pt, int pols, double lam_re,
                         double lam_im, layered_node* out) noexcept {
    const complex lam(lam_re, lam_im);
    if (pols == te_bit) {
        *out = layered_node_on<te_bit>(st, pt, lam);
    } else if (pols == tm_bit) {
        *out = layered_node_on<tm_bit>(st, pt, lam);
    } else {
        *out = layered_node_on<both_polarisations>(st, pt, lam);
    }
}

void scalar_layered_columns(const layered_record& q, int pick, double lam_re, double lam_im,
                            double* out) noexcept {
    const complex lam(lam_re, lam_im);
    with_layered_pick(pick, [&](auto p) {
        using P = decltype(p);
        complex K[P::size];
        P::values(q, lam, layered_node_on<P::pols>(*q.stack, q.point, lam), K);
        for (int c = 0; c < P::size; ++c) {
            out[2 * c] = K[c].real();
            out[2 * c + 1] = K[c].imag();
        }
    });
}

void scalar_hankel_node(int kind, double z_re, double z_im, double* out) noexcept {
    const complex h = special::hankel0(kind, complex(z_re, z_im));
    out[0] = h.real();
    out[1] = h.imag();
}

void scalar_j0_node(double z_re, double z_im, double* out) noexcept {
    const complex j = bessel_j0(complex(z_re, z_im));
    out[0] = j.real();
    out[1] = j.imag();
}

void scalar_hankel01_node(int kind, double z_re, double z_im, double* out) noexcept {
    const special::hankel_pair h = special::hankel01(kind, complex(z_re, z_im));
    out[0] = h.h0.real();
    out[1] = h.h0.imag();
    out[2] = h.h1.real();
    out[3] = h.h1.imag();
}

void scalar_j01_node(double z_re, double z_im, double* out) noexcept {
    const j01_values j = bessel_j01(complex(z_re, z_im));
    out[0] = j.j0.real();
    out[1] = j.j0.imag();
    out[2] = j.j1.real();
    out[3] = j.j1.imag();
}

void scalar_j0_normalise(double j_re, double j_im, double total_re, double total_im,
                         double* out) noexcept {
    const complex j = special::detail::normalise(complex(j_re, j_im), complex(total_re, total_im));
    out[0] = j.real();
    out[1] = j.imag();
}

namespace {

void scalar_kernel_parts_block(const kernel_record& r, const double* lam_re, const double* lam_im,
                               int n, kernel_parts* p) {
    for (int i = 0; i < n; ++i) p[i] = spectral_kernel_parts(r, complex(lam_re[i], lam_im[i]));
}

void scalar_layered_block(const layer_stack& st, const layered_point& pt, int pols,
                          const double* lam_re, const double* lam_im, int n, layered_node* out) {
    for (int i = 0; i < n; ++i) scalar_layered_node(st, pt, pols, lam_re[i], lam_im[i], out + i);
}

void scalar_layered_columns_block(const layered_record& q, int pick, const double* lam_re,
                                  const double* lam_im, int n, double* out) {
    int size = 0;
    with_layered_pick(pick, [&size](auto p) { size = decltype(p)::size; });
    for (int i = 0; i < n; ++i)
        scalar_layered_columns(q, pick, lam_re[i], lam_im[i], out + 2 * size * i);
}

void scalar_hankel_block(int kind, const double* z_re, const double* z_im, int n, complex* h) {
    for (int i = 0; i < n; ++i) h[i] = special::hankel0(kind, complex(z_re[i], z_im[i]));
}

void scalar_j0_block(const double* z_re, const double* z_im, int n, complex* j) {
    for (int i = 0; i < n; ++i) j[i] = bessel_j0(complex(z_re[i], z_im[i]));
}

void scalar_j01_block(const double* z_re, const double* z_im, int n, complex* j0, complex* j1) {
    for (int i = 0; i < n; ++i) {
        const j01_values j = bessel_j01(complex(z_re[i], z_im[i]));
        j0[i] = j.j0;
        j1[i] = j.j1;
    }
}

void scalar_hankel01_block(int kind, const double* z_re, const double* z_im, int n, complex* h0,
                           complex* h1) {
    for (int i = 0; i < n; ++i) {
        const special::hankel_pair h = special::hankel01(kind, complex(z_re[i], z_im[i]));
        h0[i] = h.h0;
        h1[i] = h.h1;
    }
}

void scalar_weighted_sums(const double* w, const double* v, int n, int count, double* out) {
    for (int l = 0; l < n; ++l) {
        for (int d = 0; d < count; ++d) out[d] = std::fma(w[l], v[l * count + d], out[d]);
    }
}

void scalar_exp_block(const double* x, double* y, int n) {
    for (int i = 0; i < n; ++i) y[i] = std::exp(x[i]);
}

void scalar_sincos_block(const double* x, double* s, double* c, int n) {
    for (int i = 0; i < n; ++i) {
        s[i] = std::sin(x[i]);
        c[i] = std::cos(x[i]);
    }
}

const lane_functions scalar_functions{"scalar",
                                      scalar_hankel_block,
                                      scalar_j0_block,
                                      scalar_exp_block,
                                      scalar_sincos_block,
                                      scalar_j01_block,
                                      scalar_hankel01_block,
                                      scalar_kernel_parts_block,
                                      scalar_layered_block,
                                      scalar_layered_columns_block,
                                      scalar_weighted_sums};

[[maybe_unused]] bool cpu_has(const char* target) noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (std::strcmp(target, "avx512") == 0) {
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2") &&
               __builtin_cpu_supports("fma");
    }
    if (std::strcmp(target, "avx2") == 0) {
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }
    return false;
#elif defined(__aarch64__)
    // Advanced SIMD with fused multiply-add is part of every aarch64 CPU.
    return std::strcmp(target, "neon") == 0;
#else
    (void)target;
    return false;
#endif
}

bool scalar_forced() noexcept {
    const char* s = std::getenv("NIA_SCALAR");
    return s != nullptr && s[0] != '\0' && std::strcmp(s, "0") != 0;
}

const lane_functions& choose() noexcept {
    if (!scalar_forced()) {
        // best first
        for (const char* t : {"avx512", "avx2", "neon"}) {
            if (const lane_functions* f = lanes_for(t)) return *f;
        }
    }
    return scalar_functions;
}

}  // namespace
}  // namespace detail

const lane_functions* lanes_for(const char* target) noexcept {
    if (std::strcmp(target, "scalar") == 0) return &detail::scalar_functions;
#ifdef NIA_SIMD_HAVE_AVX512
    if (std::strcmp(target, "avx512") == 0 && detail::cpu_has(target)) return &avx512::functions;
#endif
#ifdef NIA_SIMD_HAVE_AVX2
    if (std::strcmp(target, "avx2") == 0 && detail::cpu_has(target)) return &avx2::functions;
#endif
#ifdef NIA_SIMD_HAVE_NEON
    if (std::strcmp(target, "neon") == 0 && detail::cpu_has(target)) return &neon::functions;
#endif
    return nullptr;
}

const lane_functions& lanes() noexcept {
    // chosen at the first call, read-only afterwards (thread-safe initialisation)
    static const lane_functions& chosen = detail::choose();
    return chosen;
}

}  // namespace nia::spectral::simd
