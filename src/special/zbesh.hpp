// ZBESH, the routine behind hankel0, and how its result is classified.
// Internal to the special-function layer (and its tests).
#pragma once

#include "../core/numeric.hpp"

namespace nia::special {

// What one ZBESH result (nz, ierr) means for hankel0.
enum class zbesh_status : int {
    normal = 0,            // ierr 0, nz 0: the value
    underflow = 2,         // nz != 0: the member underflowed to zero, or K0 did not converge
    overflow = 3,          // ierr 2: the argument is too small, or the continuation overflowed
    reduced_accuracy = 5,  // ierr 3: |z| above loss_limit, fewer than half the digits kept
    not_computed = 6,      // ierr 4 or 5: |z| above range_limit, or a series did not end
    bad_input = 7,         // ierr 1: the kind or the argument is invalid
};

// Status of one ZBESH result: underflow when nz != 0, else by ierr.
zbesh_status hankel_status(int nz, int ierr) noexcept;

// ZBESH for order 0, unscaled, one member, kind m (1 or 2). Writes cy only on
// the paths that compute a value; returns nz and sets ierr.
int ZBESH(core::complex z, int m, core::complex& cy, int& ierr) noexcept;

}  // namespace nia::special
