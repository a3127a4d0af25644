// The channel sets of the dipole fields: the integrals from which every
// Cartesian component of E and H of a buried electric or magnetic dipole
// (vertical and horizontal) follows in the upper medium.
//
// With the parts of kernel.hpp, k0 = 2 lambda S/(gp + gm) and
// q = 2 lambda S/(k_m^2 gp + k_p^2 gm), and k2 = q (gp - gm) (the kernel K_2,
// with gp - gm formed as in wavenumber_difference),
// every field kernel is one of these times powers of lambda, gp, gm and the
// wavenumbers: for two media of equal permeability the fields need no
// denominator beyond the two of the six interface kernels.
//
// Powers of k_p make every column of a set one dimension, that of the field
// it feeds (1/length for the electric source, 1/length^2 for the magnetic
// one, with H measured as eta_p H for the electric source and E as E / eta_p
// for the magnetic one), so that the integrator, which refines all columns
// against the largest, holds E and H to the same relative tolerance.
//
// Which field each column feeds (A = -j omega mu I dl / (4 pi), u the unit
// horizontal direction of a horizontal dipole, u_rho and u_phi its components
// along the radial and azimuthal unit vectors of the field point):
//
// electric, c = I dl / (4 pi)
//   0  lambda^2 q            J0      E_z of the vertical dipole (/A); P of the horizontal one
//   1  lambda gp q           J1      E_rho of the vertical dipole (/A)
//   2  k_p lambda q          J1      H_phi of the vertical dipole (/(c k_p))
//   3  k0                    J0      E of the horizontal dipole along u (/A)
//   4  lambda q              J1/rho  R of the horizontal dipole
//   5  lambda gm q           J1      E_z of the horizontal dipole (/(A u_rho))
//   6  gp k0 / k_p           J0      H of the horizontal dipole
//   7  lambda^2 k2 / k_p     J0      H of the horizontal dipole
//   8  lambda k2 / k_p       J1/rho  H of the horizontal dipole
//   9  lambda k0 / k_p       J1      H_z of the horizontal dipole (/(-c k_p u_phi))
// magnetic, with d = k_m^2 q - gp k2 (the kernel of k_m^2 I_1 + I_3)
//   0  lambda^2 k0           J0      H_z of the vertical dipole
//   1  lambda gp k0          J1      H_rho of the vertical dipole
//   2  k_p lambda k0         J1      E_phi of the vertical dipole
//   3  k_p^2 k_m^2 q         J0      H of the horizontal dipole along u
//   4  lambda^2 d            J0      P of the horizontal dipole's H
//   5  lambda d              J1/rho  R of the horizontal dipole's H
//   6  lambda (k_p^2 k2 - gp d)  J1  H_z of the horizontal dipole
//   7  k_p k_m^2 gp q        J0      E of the horizontal dipole
//   8  k_p lambda^2 k2       J0      E of the horizontal dipole
//   9  k_p lambda k2         J1/rho  E of the horizontal dipole
//  10  k_p k_m^2 lambda q    J1      E_z of the horizontal dipole
// The user guide's field pages derive these and the combinations that make
// the field components.
#pragma once

#include <array>
#include <cmath>

#include "channel_set.hpp"
#include "kernel.hpp"

namespace nia::spectral {

// gp - gm, the factor of the kernel K_2, without the loss of two nearly equal
// wavenumbers. Far out along the path both approach lambda, and their
// difference, formed directly, keeps only about |k_m^2 - k_p^2| / lambda^2 of
// the digits: at low frequencies (k of order 1e-2 against lambda of order 10)
// that noise reaches 1e-8 of the columns that carry it, no tolerance below it
// can be met, and every panel bisects to the depth limit. There
// gp^2 - gm^2 = k_m^2 - k_p^2 on every sheet gives the difference as
// (k_m^2 - k_p^2) / (gp + gm) to rounding. Where the sum is the smaller of the
// two (one wavenumber taken with the other sign, on a branch cut) the
// difference is formed directly.
inline complex wavenumber_difference(const kernel_record& r, complex gp, complex gm) noexcept {
    const complex sum = gp + gm;
    const complex diff = gp - gm;
    const double size_sum = std::abs(sum.real()) + std::abs(sum.imag());
    const double size_diff = std::abs(diff.real()) + std::abs(diff.imag());
    if (size_sum > size_diff) return quotient(r.k_m_sq - r.k_p_sq, sum);
    return diff;
}

// Channel sets by number, as the batch takes them: a source, or one of its
// two orientations alone (the columns the vertical or the horizontal dipole
// needs; see column_subset).
enum class field_source : int {
    electric = 0,
    magnetic = 1,
    electric_vertical = 2,
    electric_horizontal = 3,
    magnetic_vertical = 4,
    magnetic_horizontal = 5,
};

// Vertical and horizontal current elements.
struct electric_channels
    : values_from_parts<electric_channels>,
      factor_list<factor::j0, factor::j1, factor::j1, factor::j0, factor::j1_rho, factor::j1,
                  factor::j0, factor::j0, factor::j1_rho, factor::j1> {
    static void from_parts(const kernel_record& r, complex lam, const kernel_parts& p,
                           complex* K) noexcept {
        const double k_p = r.k_p.real();
        const double inv_k_p = 1.0 / k_p;
        const complex lq = lam * p.q;
        K[0] = lam * lq;
        K[1] = p.gp * lq;
        K[2] = k_p * lq;
        K[3] = p.k0;
        K[4] = lq;
        K[5] = p.gm * lq;
        const complex k0n = p.k0 * inv_k_p;
        const complex lk2n = lam * (p.q * wavenumber_difference(r, p.gp, p.gm) * inv_k_p);
        K[6] = p.gp * k0n;
        K[7] = lam * lk2n;
        K[8] = lk2n;
        K[9] = lam * k0n;
    }
};

// Vertical and horizontal small loops.
struct magnetic_channels
    : values_from_parts<magnetic_channels>,
      factor_list<factor::j0, factor::j1, factor::j1, factor::j0, factor::j0, factor::j1_rho,
                  factor::j1, factor::j0, factor::j0, factor::j1_rho, factor::j1> {
    static void from_parts(const kernel_record& r, complex lam, const kernel_parts& p,
                           complex* K) noexcept {
        const double k_p = r.k_p.real();
        const complex lk0 = lam * p.k0;
        K[0] = lam * lk0;
        K[1] = p.gp * lk0;
        K[2] = k_p * lk0;
        const complex k2 = p.q * wavenumber_difference(r, p.gp, p.gm);
        const complex km2q = r.k_m_sq * p.q;
        const complex d = km2q - p.gp * k2;
        const complex ld = lam * d;
        K[3] = r.k_p_sq.real() * km2q;
        K[4] = lam * ld;
        K[5] = ld;
        K[6] = lam * (r.k_p_sq.real() * k2 - p.gp * d);
        const complex kkq = k_p * km2q;
        const complex lk2 = lam * (k_p * k2);
        K[7] = p.gp * kkq;
        K[8] = lam * lk2;
        K[9] = lk2;
        K[10] = lam * kkq;
    }
};

// The columns Columns... of the channel set Full, as a channel set of their
// own. The integrator refines all columns of a row together against the
// largest; a dipole of one orientation integrates only its own columns, so
// that another orientation's much larger ones (the horizontal loop's beside
// the vertical one's over a conductor) do not set its tolerance.
template <class Full, int... Columns>
struct column_subset : values_from_parts<column_subset<Full, Columns...>> {
    static constexpr int size = sizeof...(Columns);
    // where each column of the subset sits in Full
    static constexpr std::array<int, size> columns = {Columns...};
    static constexpr std::array<bessel_factor, size> factors = {Full::factors[Columns]...};

    static void from_parts(const kernel_record& r, complex lam, const kernel_parts& p,
                           complex* K) noexcept {
        complex all[Full::size];
        Full::from_parts(r, lam, p, all);
        for (int c = 0; c < size; ++c) K[c] = all[columns[c]];
    }
};

// The vertical current element: E_z, E_rho, H_phi.
using electric_vertical_channels = column_subset<electric_channels, 0, 1, 2>;
// The horizontal current element.
using electric_horizontal_channels = column_subset<electric_channels, 0, 3, 4, 5, 6, 7, 8, 9>;
// The horizontal loop (vertical normal): H_z, H_rho, E_phi.
using magnetic_vertical_channels = column_subset<magnetic_channels, 0, 1, 2>;
// The vertical loop (horizontal normal).
using magnetic_horizontal_channels = column_subset<magnetic_channels, 3, 4, 5, 6, 7, 8, 9, 10>;

}  // namespace nia::spectral
