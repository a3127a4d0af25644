// The loop of the lane sources' block functions over n nodes.
// Included by the per-target lane sources only, inside their own namespace.
#pragma once

#include <array>
#include <cstddef>

#include "dispatch.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

// Runs lanes(re, im, out) on the n nodes re[i] + i im[i] in blocks of
// block_width, writing Stride doubles a node to each of the Outputs arrays in
// out (lanes receives the block's place in each). A full block is computed in
// place; a short last block is padded with copies of its first node, and only
// its first m results are kept.
template <int Stride, std::size_t Outputs, class Lanes>
inline void in_blocks(const double* re, const double* im, int n,
                      const std::array<double*, Outputs>& out, Lanes lanes) noexcept {
    constexpr int W = block_width;
    for (int i0 = 0; i0 < n; i0 += W) {
        const int m = n - i0 < W ? n - i0 : W;
        std::array<double*, Outputs> at;
        for (std::size_t k = 0; k < Outputs; ++k) at[k] = out[k] + Stride * i0;
        if (m == W) {
            lanes(re + i0, im + i0, at);
            continue;
        }
        double zr[W], zi[W], tmp[Outputs][Stride * W];
        for (int l = 0; l < W; ++l) {
            zr[l] = re[i0 + (l < m ? l : 0)];
            zi[l] = im[i0 + (l < m ? l : 0)];
        }
        std::array<double*, Outputs> padded;
        for (std::size_t k = 0; k < Outputs; ++k) padded[k] = tmp[k];
        lanes(zr, zi, padded);
        for (std::size_t k = 0; k < Outputs; ++k) {
            for (int j = 0; j < Stride * m; ++j) at[k][j] = tmp[k][j];
        }
    }
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
