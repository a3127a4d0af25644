// J0, J1, J1(z)/z, Hankel's P and Q and the scaled Hankel function under the
// names the spectral layer uses; they are evaluated in the special-functions
// room (special/bessel_j.hpp).
#pragma once

#include "../special/bessel_j.hpp"

namespace nia::spectral {

using special::bessel_j0;
using special::bessel_j01;
using special::bessel_j1;
using special::bessel_j1_over_z;
using special::hankel2_scaled;
using special::hankel_asymptotic_min;
using special::hankel_pq;
using special::j01_values;

}  // namespace nia::spectral
