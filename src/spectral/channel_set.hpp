// Channel sets: which kernels a batch integrates, and against which Bessel-type
// factor each of them is taken.
//
// Every integral of the package is, along the spectral path, a kernel value
// K_c(lambda) times a factor of rho lambda:
//   j0           J0(rho lambda)             (Hankel form: H0^(kind)(rho lambda)/2)
//   j1           J1(rho lambda)             (Hankel form: H1^(kind)(rho lambda)/2)
//   j1_over_rho  J1(rho lambda) / rho       (Hankel form: H1^(kind)(rho lambda)/(2 rho));
//                this is lambda J1(x)/x with x = rho lambda, an entire function
//                of x equal to lambda/2 at rho = 0, so the field components
//                of horizontal dipoles keep their limits on the axis.
// A channel set is a type with
//   static constexpr int size;                                  the number of channels
//   static constexpr std::array<bessel_factor, size> factors;   each channel's factor
//   (both from factor_list<...>, the factors in order)
//   static void from_parts(const kernel_record& r, complex lam, const kernel_parts& p,
//                          complex* K) noexcept;                the size kernel values at
//                                                               lambda from the kernel parts
//   static void values(const kernel_record& r, complex lam, complex gp, complex gm,
//                      complex* K) noexcept;                    the same from the vertical
//                                                               wavenumbers gp (upper) and
//                                                               gm (lower) on the caller's
//                                                               sheet (values_from_parts
//                                                               gives it from from_parts)
// The Hankel (whole-axis) forms of the far range need each j0 kernel odd in
// lambda and each j1 or j1_over_rho kernel even: the kernels are lambda times
// functions of lambda^2 for j0, and functions of lambda^2 (or lambda^2 times
// them) for the order-one factors, as every field integral is.
#pragma once

#include <array>

#include "kernel.hpp"

namespace nia::spectral {

enum class bessel_factor : int { j0 = 0, j1 = 1, j1_over_rho = 2 };

// Short names of the factors, for the lists of the channel sets.
namespace factor {
inline constexpr bessel_factor j0 = bessel_factor::j0;
inline constexpr bessel_factor j1 = bessel_factor::j1;
inline constexpr bessel_factor j1_rho = bessel_factor::j1_over_rho;
}  // namespace factor

// The factors of a channel set, one per channel in order; its size is their
// count. A set derives from the list of its factors.
template <bessel_factor... F>
struct factor_list {
    static constexpr int size = sizeof...(F);
    static constexpr std::array<bessel_factor, size> factors = {F...};
};

// Whether a channel of C takes a factor of order `order` (0: J0; 1: J1 or
// J1/rho): the panel rules evaluate only the orders their channel set uses.
template <class C>
constexpr bool uses_order(int order) noexcept {
    for (bessel_factor f : C::factors) {
        if ((f == bessel_factor::j0) == (order == 0)) return true;
    }
    return false;
}

// The values of a channel set from the vertical wavenumbers, by way of its
// from_parts: the base of every set whose kernels are written over the parts.
template <class Set>
struct values_from_parts {
    static void values(const kernel_record& r, complex lam, complex gp, complex gm,
                       complex* K) noexcept {
        Set::from_parts(r, lam, parts_from_gammas(r, lam, gp, gm), K);
    }
};

// The six interface kernels of the batch entry, all against J0.
struct six_channels
    : values_from_parts<six_channels>,
      factor_list<factor::j0, factor::j0, factor::j0, factor::j0, factor::j0, factor::j0> {
    static void from_parts(const kernel_record&, complex, const kernel_parts& p,
                           complex* K) noexcept {
        six_from_parts(p, K);
    }
};

}  // namespace nia::spectral
