// Hankel functions of order zero and complex argument, first and second kind.
//
// The order-zero, one-member, unscaled path of Amos's algorithm: the Hankel
// function is obtained by rotating the argument onto K0 in the right
// half-plane (ZBKNU), continuing to the left half-plane through I0 and K0
// at the reflected argument (ZACON, ZBINU) where the rotation lands there.
// The routines themselves are declared in zbesh.hpp and modified_bessel.hpp,
// for this layer and its tests.
#pragma once

#include "../core/numeric.hpp"

namespace nia::special {

// H0^(kind)(z) for kind 1 or 2. Never fails: a NaN argument, an argument the
// algorithm refuses and an overflow all come back as (NaN, NaN); kind 2 at
// z = 0 gives (NaN, 1e300); an underflow gives zero.
core::complex hankel0(int kind, core::complex z) noexcept;

}  // namespace nia::special
