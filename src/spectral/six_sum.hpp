// The six-channel value that every panel rule, piece integral and ray produces.
#pragma once

#include <array>
#include <complex>

namespace nia::spectral {

using complex = std::complex<double>;

// Channels 0..5 in the order of the spectral kernel's channel table.
using six_sum = std::array<complex, 6>;

inline void set_zero(six_sum& s) noexcept {
    for (auto& v : s) v = complex(0.0, 0.0);
}

}  // namespace nia::spectral
