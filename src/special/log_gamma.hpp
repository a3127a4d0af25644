// ln Gamma of a positive real argument, the published DGAMLN.
#pragma once

namespace nia::special {

// ln Gamma(x) for x > 0; NaN for x <= 0. The modified Bessel routines need it
// only at orders other than 0 (at order 0 every value it would supply is
// ln Gamma(1) = 0), so it is kept, with its table, for those and for tests.
double DGAMLN(double x) noexcept;

}  // namespace nia::special
