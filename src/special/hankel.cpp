// Hankel functions of orders zero and one by rotation onto K0 and K1.
//
// H_nu^(1)(z) = (2/(pi i)) e^{-i pi nu/2} K_nu(-i z) and H_nu^(2)(z) =
// -(2/(pi i)) e^{i pi nu/2} K_nu(i z) (DLMF 10.27.8): i rhpi K0 at order 0
// (rhpi = -2/pi for kind 1, 2/pi for kind 2) and -(2/pi) K1 at order 1, for
// both kinds. When the rotated argument lies in the right half-plane K0 and
// K1 come straight from ZBKNU; otherwise from the reflected argument w
// through K0(w e^{+-i pi}) = K0(w) -+ i pi I0(w) and K1(w e^{+-i pi}) =
// -K1(w) -+ i pi I1(w) (DLMF 10.34.2).
#include "hankel.hpp"

#include <cmath>
#include <complex>
#include <limits>

#include "modified_bessel.hpp"
#include "zbesh.hpp"

namespace nia::special {

namespace detail {

// 2^52 and its reciprocal: a value this close to underflow is lifted before
// the rotation so that its product with 2/pi keeps all its bits.
inline constexpr double rotation_lift = 1.0 / core::unit_roundoff;
inline constexpr double rotation_drop = core::unit_roundoff;
static_assert(rotation_lift == 4503599627370496.0, "2^52");
// The value returned for H0^(2)(0): infinite imaginary part, undefined real part.
inline constexpr double hankel2_at_zero_imag = 1e300;

}  // namespace detail

int ZACON(std::complex<double> z, double fnu, int kode, int mr, int n, std::complex<double>* y,
          double rl, double fnul, double tol, double elim, double alim) noexcept {
    using namespace detail;
    if (!order0_members(fnu, kode, n)) return -2;
    const complex w = -z;
    complex ci[2];
    const int nw_i = ZBINU(w, fnu, kode, n, ci, rl, fnul, tol, elim, alim);
    if (nw_i < 0) return nw_i == -2 ? -2 : -1;
    complex ck[2];
    const int nw_k = ZBKNU(w, fnu, kode, n, ck, tol, elim, alim);
    // An underflowing K term is a failure too: the I term it would be added
    // to has then overflowed or is about to.
    if (nw_k != 0) return nw_k == -2 ? -2 : -1;
    // mr < 0: z = w e^{-i pi}, K0(z) = K0(w) + i pi I0(w), K1(z) = -K1(w) + i pi I1(w);
    // mr >= 0: z = w e^{+i pi}, K0(z) = K0(w) - i pi I0(w), K1(z) = -K1(w) - i pi I1(w).
    const double sgn = mr >= 0 ? -pi : pi;
    y[0] = complex(ck[0].real() - sgn * ci[0].imag(), ck[0].imag() + sgn * ci[0].real());
    if (n == 2) {
        y[1] = complex(-ck[1].real() - sgn * ci[1].imag(), -ck[1].imag() + sgn * ci[1].real());
    }
    return 0;
}

int ZACON(std::complex<double> z, double fnu, int kode, int mr, int n, std::complex<double>& y,
          double rl, double fnul, double tol, double elim, double alim) noexcept {
    if (!detail::order0_one_member(fnu, kode, n)) return -2;
    return ZACON(z, fnu, kode, mr, n, &y, rl, fnul, tol, elim, alim);
}

int ZBESH(std::complex<double> z, int m, int n, std::complex<double>* cy, int& ierr) noexcept {
    using namespace detail;
    constexpr double fnu = 0.0;
    constexpr int kode = 1;
    const double zr = z.real();
    const double zi = z.imag();
    ierr = 0;
    // Only the first and second kinds exist, and orders 0 and 1; anything
    // else is an input error.
    if ((m != 1 && m != 2) || (n != 1 && n != 2)) {
        ierr = 1;
        return 0;
    }
    if (zr == 0.0 && zi == 0.0) {
        ierr = 1;
        return 0;
    }
    const double az = std::hypot(zr, zi);
    if (az > range_limit) {
        ierr = 4;
        return 0;
    }
    if (az > loss_limit) ierr = 3;
    if (az < ufl) {
        ierr = 2;
        return 0;
    }
    // zn = -i fmm z: the argument of K (fmm = 1 for kind 1, -1 for kind 2).
    const double fmm = 3.0 - 2.0 * m;
    const complex zn(fmm * zi, -fmm * zr);
    int nz;
    // The negative imaginary axis belongs to the left half-plane for kind 2:
    // it is the image of the negative real z-axis, whose principal phase pi
    // maps to 3pi/2, past the range of the principal K.
    if (zn.real() < 0.0 || (zn.real() == 0.0 && zn.imag() < 0.0 && m == 2)) {
        const int mr = 2 * m - 3;
        const int nw = ZACON(zn, fnu, kode, mr, n, cy, rl, fnul, tol, elim, alim);
        if (nw < 0) {
            ierr = nw == -1 ? 2 : 5;
            return 0;
        }
        nz = nw;
    } else {
        nz = ZBKNU(zn, fnu, kode, n, cy, tol, elim, alim);
    }
    // Order 0: multiply by -(2/(pi i)) fmm = i rhpi, rhpi = -2/pi for kind 1
    // and 2/pi for kind 2, written out so that the zero real part of the
    // factor acts as -0.0. A value this close to underflow is lifted first, so
    // that its product keeps all its bits.
    const double sgn = m == 1 ? -hpi : hpi;
    const double rhpi = 1.0 / sgn;
    double atol = 1.0;
    if (std::fmax(std::abs(cy[0].real()), std::abs(cy[0].imag())) <= ascle) {
        cy[0] *= rotation_lift;
        atol = rotation_drop;
    }
    const double re = (cy[0].real() * (-0.0) - cy[0].imag() * rhpi) * atol;
    const double im = (cy[0].real() * rhpi + cy[0].imag() * (-0.0)) * atol;
    cy[0] = complex(re, im);
    if (n == 2) {
        // Order 1: the factor is -2/pi for both kinds.
        const double factor = -(1.0 / hpi);
        double atol1 = 1.0;
        if (std::fmax(std::abs(cy[1].real()), std::abs(cy[1].imag())) <= ascle) {
            cy[1] *= rotation_lift;
            atol1 = rotation_drop;
        }
        cy[1] = complex(cy[1].real() * factor * atol1, cy[1].imag() * factor * atol1);
    }
    return nz;
}

int ZBESH(std::complex<double> z, int m, std::complex<double>& cy, int& ierr) noexcept {
    return ZBESH(z, m, 1, &cy, ierr);
}

zbesh_status hankel_status(int nz, int ierr) noexcept {
    if (nz != 0) return zbesh_status::underflow;
    switch (ierr) {
        case 0: return zbesh_status::normal;
        case 1: return zbesh_status::bad_input;
        case 2: return zbesh_status::overflow;
        case 3: return zbesh_status::reduced_accuracy;
        default: return zbesh_status::not_computed;
    }
}

std::complex<double> hankel0(int kind, std::complex<double> z) noexcept {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    if (std::isnan(z.real()) || std::isnan(z.imag())) return {nan, nan};
    // H0^(2) has a logarithmic pole at 0; kind 1 lets ZBESH refuse the zero.
    if (kind == 2 && z.real() == 0.0 && z.imag() == 0.0) return {nan, detail::hankel2_at_zero_imag};
    std::complex<double> cy(nan, nan);
    int ierr = 0;
    const int nz = ZBESH(z, kind, cy, ierr);
    // An underflow keeps its zero (or the NaN preset when K0 did not
    // converge) and a value of reduced accuracy is still returned.
    switch (hankel_status(nz, ierr)) {
        case zbesh_status::overflow:
        case zbesh_status::not_computed:
        case zbesh_status::bad_input: return {nan, nan};
        default: return cy;
    }
}

hankel_pair hankel01(int kind, std::complex<double> z) noexcept {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    if (std::isnan(z.real()) || std::isnan(z.imag())) return {{nan, nan}, {nan, nan}};
    // H^(2) has a pole at 0: order 0 keeps hankel0's value there; order 1,
    // whose pole -2i/(pi z) has no one direction, is NaN.
    if (kind == 2 && z.real() == 0.0 && z.imag() == 0.0) {
        return {{nan, detail::hankel2_at_zero_imag}, {nan, nan}};
    }
    std::complex<double> cy[2] = {{nan, nan}, {nan, nan}};
    int ierr = 0;
    const int nz = ZBESH(z, kind, 2, cy, ierr);
    // An underflowing member is zero (both are NaN when K did not converge),
    // and values of reduced accuracy are still returned.
    switch (hankel_status(nz, ierr)) {
        case zbesh_status::overflow:
        case zbesh_status::not_computed:
        case zbesh_status::bad_input: return {{nan, nan}, {nan, nan}};
        default: return {cy[0], cy[1]};
    }
}

std::complex<double> hankel1(int kind, std::complex<double> z) noexcept {
    return hankel01(kind, z).h1;
}

}  // namespace nia::special
