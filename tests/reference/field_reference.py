"""A cheap independent evaluation of the field integrals of buried electric
and magnetic dipoles, in double precision.

The columns are those of ``_near_interface_ext.dipole_field_batch``: for the
electric source ten integrals, for the magnetic source eleven, each a kernel
built from the vertical wavenumbers gamma_p, gamma_m, the factor
S = exp(zp gamma_m - z gamma_p) and the two denominators (gamma_p + gamma_m
and k_m**2 gamma_p + k_p**2 gamma_m), taken against J0(rho lambda),
J1(rho lambda) or J1(rho lambda)/rho (see the user guide's field pages).

It shares nothing with the compiled module but the definition of the
integrals: numpy arithmetic for the kernels, python-flint (arb, as a black
box) for J0, J1 and the Hankel functions of orders zero and one, and the
contour and adaptive rule of ``cheap_reference.py``.
"""

from __future__ import annotations

import numpy as np

import cheap_reference

J0, J1, J1_OVER_RHO = "j0", "j1", "j1/rho"

#: Each column's Bessel-type factor, by source.
FACTORS = {
    "electric": (J0, J1, J1, J0, J1_OVER_RHO, J1, J0, J0, J1_OVER_RHO, J1),
    "magnetic": (J0, J1, J1, J0, J0, J1_OVER_RHO, J1, J0, J0, J1_OVER_RHO, J1),
}


def _parts(lam, k_p, k_m, z, zp):
    gp = cheap_reference.vertical_wavenumber(lam, k_p)
    gm = cheap_reference.vertical_wavenumber(lam, k_m)
    n = 2 * lam * np.exp(zp * gm - z * gp)
    k0 = n / (gp + gm)
    q = n / (k_m * k_m * gp + k_p * k_p * gm)
    return gp, gm, k0, q


def kernels(source, lam, k_p, k_m, z, zp):
    """The kernels of one source's columns at the points lam, shape (M, len(lam))."""
    lam = np.asarray(lam, dtype=complex)
    gp, gm, k0, q = _parts(lam, k_p, k_m, z, zp)
    # gp - gm loses its digits where the two wavenumbers approach each other
    # (far out along the path, where both are near lambda); there
    # gp^2 - gm^2 = k_m^2 - k_p^2 (on every sheet) gives it from their sum
    total, diff = gp + gm, gp - gm
    from_sum = np.abs(total) > np.abs(diff)
    with np.errstate(all="ignore"):
        diff = np.where(from_sum, (k_m * k_m - k_p * k_p) / np.where(from_sum, total, 1.0), diff)
    k2 = q * diff
    km2 = k_m * k_m
    if source == "electric":
        return np.array([
            lam * lam * q,
            lam * gp * q,
            k_p * lam * q,
            k0,
            lam * q,
            lam * gm * q,
            gp * k0 / k_p,
            lam * lam * k2 / k_p,
            lam * k2 / k_p,
            lam * k0 / k_p,
        ])
    d = km2 * q - gp * k2
    return np.array([
        lam * lam * k0,
        lam * gp * k0,
        k_p * lam * k0,
        k_p * k_p * km2 * q,
        lam * lam * d,
        lam * d,
        lam * (k_p * k_p * k2 - gp * d),
        k_p * km2 * gp * q,
        k_p * lam * lam * k2,
        k_p * lam * k2,
        k_p * km2 * lam * q,
    ])


def integrals(source, k_p, k_m, rho, z, zp, tol=1e-12, height=None):
    """The field integrals of ``source`` ("electric" or "magnetic") at one
    triple, as a complex array."""
    k_p, k_m = float(k_p), complex(k_m)
    factors = FACTORS[source]

    def values(lam, factor):
        v = kernels(source, lam, k_p, k_m, z, zp)
        if factor is None:
            # rho = 0: J0 -> 1, J1 -> 0, J1(rho lam)/rho -> lam/2
            scale = {J0: 1.0, J1: 0.0, J1_OVER_RHO: None}
            for c, f in enumerate(factors):
                v[c] = v[c] * (lam / 2 if scale[f] is None else scale[f])
            return v
        b0, b1 = factor(0), factor(1)
        for c, f in enumerate(factors):
            v[c] = v[c] * (b0 if f == J0 else b1 if f == J1 else b1 / rho)
        return v

    return cheap_reference.contour_integrals(values, len(factors), k_p, k_m, rho, z, zp, tol,
                                             height)
