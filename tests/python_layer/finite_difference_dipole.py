"""The field of a vertical electric dipole below an interface from the six
integrals and finite differences: the way the package gave E_rho and H_phi
before the field integrals, kept as an independent check of dipole_field.

A vertical current element of moment I dl (A m) at height zp <= 0 in the
lower medium has the vertical Hertz potential in the upper medium

    Pi(rho, z) = -(j omega mu0 I dl / (4 pi)) I1(rho, z, zp),

so that

    E_z   = (d2/dz2 + k_p^2) Pi = -(j omega mu0 I dl / (4 pi)) (k_p^2 I1 - I3 - I4)
    E_rho = d2 Pi / (d rho dz)
    H_phi = -j omega eps_p dPi/d rho = -(k_p^2 I dl / (4 pi)) dI1/d rho

E_z comes from three channels at the point itself; the horizontal derivatives
(H_phi, E_rho) are sixth-order central differences in rho (the integrals are
even in rho, so the stencil may reach past rho = 0), and E_rho's vertical
derivative a sixth-order difference in z that leans upwards where z is less
than three steps above the interface.
"""
from __future__ import annotations

import math

import numpy as np
from numpy.typing import ArrayLike, NDArray

import near_interface_accel as nia

MU_0 = 1.0 / (nia.EPSILON_0 * nia.SPEED_OF_LIGHT**2)     # H/m

# the seven offsets, in steps, of the sixth-order central first derivative
_OFFSETS = np.arange(-3, 4, dtype=float)


def _weights(offsets: NDArray[np.float64]) -> NDArray[np.float64]:
    """Weights of the first derivative at offset 0 from values at ``offsets``
    (in steps), exact for polynomials of degree len(offsets) - 1."""
    n = offsets.size
    vander = np.vander(offsets, n, increasing=True).T
    rhs = np.zeros(n)
    rhs[1] = 1.0
    return np.asarray(np.linalg.solve(vander, rhs), dtype=np.float64)


def ved_field(upper: nia.Medium, lower: nia.Medium, rho: ArrayLike, z: ArrayLike, zp: float,
              *, moment: float = 1.0, rtol: float = 1e-11, step: float | None = None
              ) -> tuple[NDArray[np.complex128], NDArray[np.complex128], NDArray[np.complex128]]:
    """E_rho, E_z (V/m) and H_phi (A/m) in the upper medium of a vertical
    electric dipole of moment ``moment`` (A m) at height zp <= 0 in the lower
    medium, at points (rho, z) in metres (broadcast together).

    ``step`` is the finite-difference step in metres; by default 1/200
    of the shorter of 1/|k| (of the faster-varying medium) and the
    distance from the source, the two lengths over which the field changes.
    """
    if upper.mu_r != 1 or lower.mu_r != 1:
        raise ValueError("the dipole field here assumes two media of permeability mu0")
    if upper.k0 != lower.k0:
        raise ValueError("the two media must be given at the same frequency")
    k_p, k_m = upper.k.real, lower.k
    omega = upper.k0 * nia.SPEED_OF_LIGHT
    rho_a, z_a = np.broadcast_arrays(np.asarray(rho, float), np.asarray(z, float))
    if step is None:
        h = 0.005 * np.minimum(1.0 / max(abs(k_p), abs(k_m)), np.hypot(rho_a, z_a - zp))
    else:
        h = np.full(rho_a.shape, float(step))
    hh = h[..., None, None]

    def channels(rho_steps: ArrayLike, z_steps: ArrayLike) -> NDArray[np.complex128]:
        # the integrals on a stencil of (rho, z) offsets, counted in steps
        return nia.six_integrals(k_p, k_m, np.abs(rho_a[..., None, None] + rho_steps * hh),
                                 np.maximum(z_a[..., None, None] + z_steps * hh, 0.0), zp,
                                 rtol=rtol)

    # E_z from the point itself
    six = nia.six_integrals(k_p, k_m, rho_a, z_a, zp, rtol=rtol)
    ez_hat = k_p**2 * six[..., 1] - six[..., 3] - six[..., 4]
    # d/drho by central differences; d/dz by a stencil kept in z >= 0
    w_rho = _weights(_OFFSETS)
    shift = np.maximum(0.0, 3.0 - z_a / h)                     # steps the z stencil leans up
    z_steps = _OFFSETS + shift[..., None]                     # (..., 7)
    w_z = np.apply_along_axis(_weights, -1, z_steps)          # (..., 7)
    on_z = channels(_OFFSETS[:, None], np.zeros((1, 1)))[..., 0, 1]          # (..., 7)
    grid = channels(_OFFSETS[:, None], z_steps[..., None, :])[..., 1]       # (..., 7, 7)
    d_rho_i1 = on_z @ w_rho / h
    d_rho_dz = np.einsum("i,...ij,...j->...", w_rho, grid, w_z) / h**2
    source = -1j * omega * MU_0 * moment / (4 * math.pi)
    e_rho = source * d_rho_dz
    e_z = source * ez_hat
    h_phi = -(k_p**2) * moment / (4 * math.pi) * d_rho_i1
    return e_rho, e_z, h_phi


def free_space_ved(medium: nia.Medium, rho: ArrayLike, dz: ArrayLike, *, moment: float = 1.0
                   ) -> tuple[NDArray[np.complex128], NDArray[np.complex128],
                              NDArray[np.complex128]]:
    """The closed-form field of the dipole in one unbounded medium (exp(+j omega t)):
    E_r, E_theta, H_phi in spherical components about the dipole's axis,
    returned as E_rho, E_z, H_phi. ``dz`` is the height above the dipole."""
    rho_a, dz_a = np.broadcast_arrays(np.asarray(rho, float), np.asarray(dz, float))
    k = medium.k
    eta = math.sqrt(MU_0 / (nia.EPSILON_0 * medium.eps_r.real)) if medium.eps_r.imag == 0 \
        else np.sqrt(MU_0 / (nia.EPSILON_0 * medium.eps_r))
    r = np.hypot(rho_a, dz_a)
    cos_t, sin_t = dz_a / r, rho_a / r
    e = np.exp(-1j * k * r)
    kr = k * r
    e_r = eta * moment * cos_t / (2 * math.pi * r**2) * (1 + 1 / (1j * kr)) * e
    e_t = 1j * eta * k * moment * sin_t / (4 * math.pi * r) * (1 + 1 / (1j * kr) - 1 / kr**2) * e
    h_phi = 1j * k * moment * sin_t / (4 * math.pi * r) * (1 + 1 / (1j * kr)) * e
    return e_r * sin_t + e_t * cos_t, e_r * cos_t - e_t * sin_t, h_phi
