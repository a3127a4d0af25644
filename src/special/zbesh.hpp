// ZBESH, the routine behind hankel0 and hankel01, and how its result is
// classified.
// Internal to the special-function layer (and its tests).
#pragma once

#include "../core/numeric.hpp"

namespace nia::special {

// What one ZBESH result (nz, ierr) means for hankel0 and hankel01.
enum class zbesh_status : int {
    normal = 0,            // ierr 0, nz 0: the value
    underflow = 2,         // nz != 0: a member underflowed to zero, or K did not converge
    overflow = 3,          // ierr 2: the argument is too small, or the continuation overflowed
    reduced_accuracy = 5,  // ierr 3: |z| above loss_limit, fewer than half the digits kept
    not_computed = 6,      // ierr 4 or 5: |z| above range_limit, or a series did not end
    bad_input = 7,         // ierr 1: the kind or the argument is invalid
};

// Status of one ZBESH result: underflow when nz != 0, else by ierr.
zbesh_status hankel_status(int nz, int ierr) noexcept;

// ZBESH from order 0, unscaled, kind m (1 or 2), n members (1: order 0;
// 2: orders 0 and 1 in cy[0], cy[1]). Writes cy only on the paths that
// compute a value; returns nz, the number of members that underflowed to
// zero (or -2 when K did not converge), and sets ierr.
int ZBESH(core::complex z, int m, int n, core::complex* cy, int& ierr) noexcept;

// The one-member form: order 0 alone.
int ZBESH(core::complex z, int m, core::complex& cy, int& ierr) noexcept;

}  // namespace nia::special
