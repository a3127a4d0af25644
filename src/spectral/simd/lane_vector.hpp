// The native vector of the target a lane source is compiled for, with the few
// operations the lane arithmetic needs beyond the built-in operators of the
// compiler's vector extension (element-wise + - * /, comparisons giving
// all-ones masks, and mask ? a : b).
//
// Included by the per-target lane sources only, inside their own namespace.
#pragma once

#include <cstdint>

#if defined(__AVX512F__)
#include <immintrin.h>
#define NIA_LANE_VECTOR 8
#elif defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>
#define NIA_LANE_VECTOR 4
#elif defined(__aarch64__)
#include <arm_neon.h>
#define NIA_LANE_VECTOR 2
#endif

#ifndef NIA_SIMD_TARGET
#error "lane_vector.hpp is included by the per-target lane sources only"
#endif

namespace nia::spectral::simd::NIA_SIMD_TARGET {

#ifdef NIA_LANE_VECTOR
// Doubles per native vector.
inline constexpr int vector_width = NIA_LANE_VECTOR;
typedef double vd __attribute__((vector_size(8 * NIA_LANE_VECTOR)));
typedef std::int64_t vi __attribute__((vector_size(8 * NIA_LANE_VECTOR)));

inline vd load(const double* p) noexcept {
    vd v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
inline void store(double* p, vd v) noexcept { __builtin_memcpy(p, &v, sizeof v); }
inline vi bits_of(vd x) noexcept { return (vi)x; }
inline vd from_bits(vi b) noexcept { return (vd)b; }
inline vi shift_to_exponent(vi b) noexcept { return b << 52; }
inline vd select(vi m, vd a, vd b) noexcept { return m ? a : b; }
inline vd fabs(vd x) noexcept { return from_bits(bits_of(x) & (vi{} + 0x7fffffffffffffffLL)); }
inline bool any(vi m) noexcept {
    std::int64_t r = 0;
    for (int i = 0; i < vector_width; ++i) r |= m[i];
    return r != 0;
}

// x in every lane, by the target's broadcast (not vd{} + x, which would turn
// -0.0 into +0.0; and not lane by lane, which the compiler may write as
// narrow stores read back as one wide load, a load the processor cannot
// forward from the stores and stalls on)
#if NIA_LANE_VECTOR == 8
inline vd splat(double x) noexcept { return _mm512_set1_pd(x); }
inline vd sqrt(vd x) noexcept { return _mm512_sqrt_pd(x); }
inline vd fma(vd a, vd b, vd c) noexcept { return _mm512_fmadd_pd(a, b, c); }
inline vd floor(vd x) noexcept {
    return _mm512_roundscale_pd(x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}
#elif NIA_LANE_VECTOR == 4
inline vd splat(double x) noexcept { return _mm256_set1_pd(x); }
inline vd sqrt(vd x) noexcept { return _mm256_sqrt_pd(x); }
inline vd fma(vd a, vd b, vd c) noexcept { return _mm256_fmadd_pd(a, b, c); }
inline vd floor(vd x) noexcept { return _mm256_floor_pd(x); }
#else
inline vd splat(double x) noexcept { return (vd)vdupq_n_f64(x); }
inline vd sqrt(vd x) noexcept { return (vd)vsqrtq_f64((float64x2_t)x); }
inline vd fma(vd a, vd b, vd c) noexcept {
    return (vd)vfmaq_f64((float64x2_t)c, (float64x2_t)a, (float64x2_t)b);
}
inline vd floor(vd x) noexcept { return (vd)vrndmq_f64((float64x2_t)x); }
#endif
#endif  // NIA_LANE_VECTOR

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
