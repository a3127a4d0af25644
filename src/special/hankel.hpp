// Hankel functions of orders zero and one and complex argument, first and
// second kind.
//
// The order-zero, unscaled path of Amos's algorithm, with one member (order
// 0) or two (orders 0 and 1): the Hankel function is obtained by rotating the
// argument onto K in the right half-plane (ZBKNU), continuing to the left
// half-plane through I and K at the reflected argument (ZACON, ZBINU) where
// the rotation lands there.
// The routines themselves are declared in zbesh.hpp and modified_bessel.hpp,
// for this layer and its tests.
#pragma once

#include "../core/numeric.hpp"

namespace nia::special {

// H0^(kind)(z) for kind 1 or 2. Never fails: a NaN argument, an argument the
// algorithm refuses and an overflow all come back as (NaN, NaN); kind 2 at
// z = 0 gives (NaN, 1e300); an underflow gives zero.
core::complex hankel0(int kind, core::complex z) noexcept;

// H0^(kind)(z) and H1^(kind)(z) from one pass of the algorithm.
struct hankel_pair {
    core::complex h0;  // bit for bit hankel0(kind, z)
    core::complex h1;
};

// Both orders for kind 1 or 2, with hankel0's rules for each: NaN for a NaN
// argument, a refused argument and an overflow; zero for a member that
// underflows. At z = 0, kind 2, h0 is hankel0's (NaN, 1e300) and h1 is
// (NaN, NaN): the pole of order one has no single direction.
hankel_pair hankel01(int kind, core::complex z) noexcept;

// H1^(kind)(z) alone (the h1 of hankel01).
core::complex hankel1(int kind, core::complex z) noexcept;

}  // namespace nia::special
