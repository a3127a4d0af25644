// The channel sums that every panel rule, piece integral and ray produces: the
// six channels of the interface kernels, and sums of any other fixed number
// of channels (the field integrals) built the same way.
#pragma once

#include <array>

#include "../core/numeric.hpp"

namespace nia::spectral {

using core::complex;
using core::pi;

// N complex channels, summed channel by channel.
template <int N>
using channel_sum = std::array<complex, N>;

// Channels 0..5 in the order in which spectral_kernel writes them.
using six_sum = channel_sum<6>;

template <std::size_t N>
inline void set_zero(std::array<complex, N>& s) noexcept {
    for (auto& v : s) v = complex(0.0, 0.0);
}

}  // namespace nia::spectral
