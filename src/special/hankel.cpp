// Placeholder until the order-zero Hankel path is in: every value is NaN.
#include "hankel.hpp"

#include <limits>

namespace nia::special {

namespace {
constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();
}

std::complex<double> hankel0(int, std::complex<double>) noexcept { return {nan_value, nan_value}; }

int hankel_status(int nz, int ierr) noexcept {
    if (nz != 0) return 2;
    switch (ierr) {
        case 0: return 0;
        case 1: return 7;
        case 2: return 3;
        case 3: return 5;
        default: return 6;
    }
}

int ZBESH(std::complex<double>, int, std::complex<double>&, int& ierr) noexcept {
    ierr = 5;
    return 0;
}

double DGAMLN(double) noexcept { return nan_value; }

}  // namespace nia::special
