// Hankel functions of order zero and complex argument, first and second kind.
//
// The order-zero, one-member, unscaled path of Amos's algorithm: the Hankel
// function is obtained by rotating the argument onto K0 in the right
// half-plane (ZBKNU), continuing to the left half-plane through I0 and K0
// at the reflected argument (ZACON, ZBINU) where the rotation lands there.
#pragma once

#include <complex>

namespace nia::special {

// H0^(kind)(z) for kind 1 or 2. Never fails: a NaN argument, an argument the
// algorithm refuses and an overflow all come back as (NaN, NaN); kind 2 at
// z = 0 gives (NaN, 1e300); an underflow gives zero.
std::complex<double> hankel0(int kind, std::complex<double> z) noexcept;

// Status code of one ZBESH result (nz, ierr): 2 when nz != 0, else
// ierr 0 -> 0, 1 -> 7, 2 -> 3, 3 -> 5, 4 and 5 -> 6.
int hankel_status(int nz, int ierr) noexcept;

// ZBESH for order 0, unscaled, one member, kind m (1 or 2). Writes cy only on
// the paths that compute a value; returns nz and sets ierr.
int ZBESH(std::complex<double> z, int m, std::complex<double>& cy, int& ierr) noexcept;

// ln Gamma(x) for x > 0; NaN for x <= 0.
double DGAMLN(double x) noexcept;

}  // namespace nia::special
