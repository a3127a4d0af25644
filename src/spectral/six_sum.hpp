// The six-channel value that every panel rule, piece integral and ray produces.
#pragma once

#include <array>

#include "../core/numeric.hpp"

namespace nia::spectral {

using core::complex;
using core::pi;

// Channels 0..5 in the order in which spectral_kernel writes them.
using six_sum = std::array<complex, 6>;

inline void set_zero(six_sum& s) noexcept {
    for (auto& v : s) v = complex(0.0, 0.0);
}

}  // namespace nia::spectral
