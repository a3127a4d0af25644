"""Closed-form E and H of a point dipole in an unbounded homogeneous medium.

Conventions: time factor exp(+j omega t), SI units, permeability mu0, a
medium of wavenumber k = k0 sqrt(eps_r) with Im k <= 0 (complex k and eps_r
allowed: the conductivity is in eps_r = eps' - j sigma / (omega eps0)).
Maxwell's equations with an electric current density J and a magnetic one
J_m read

    curl E = -j omega mu0 H - J_m,        curl H = j omega eps E + J.

The free-space constants are those of ``near_interface_accel.medium``: c
exact, eps0 the CODATA 2022 value and mu0 = 1 / (eps0 c**2), so that
omega mu0 = k0 eta0 with eta0 = 1 / (eps0 c).

Derivation
----------
The scalar Green's function G = exp(-j k R) / (4 pi R), R = |r - r_p|, solves
(nabla**2 + k**2) G = -delta(r - r_p).  Its radial derivatives are

    G'  = -(j k + 1/R) G,
    d_i d_j G = G [ Rh_i Rh_j (-k**2 + 3 j k / R + 3 / R**2)
                    - delta_ij (j k / R + 1 / R**2) ]

with Rh = (r - r_p) / R.

*Electric dipole.*  A current element of moment p = I dl u (A m, u the unit
``direction``) is J = p delta(r - r_p).  Its magnetic vector potential
A = mu0 p G with the Lorenz gauge gives E = -j omega A + grad div A / (j
omega mu0 eps) and H = curl A / mu0, i.e.

    E = -j omega mu0 (I + grad grad / k**2) G p
      = -j omega mu0 G [ p (1 - j/(kR) - 1/(kR)**2)
                         - Rh (Rh . p) (1 - 3j/(kR) - 3/(kR)**2) ],
    H = grad G x p = (j k + 1/R) G (p x Rh).

*Magnetic dipole.*  A small loop of current I and area A with normal u has
the moment m = I A u (A m**2) and the magnetisation current
J = curl(m delta(r - r_p)), whose vector potential is A = mu0 curl(G m).
Away from the source curl curl (G m) = k**2 G m + grad div (G m), so

    H = k**2 (I + grad grad / k**2) G m
      = k**2 G [ m (1 - j/(kR) - 1/(kR)**2)
                 - Rh (Rh . m) (1 - 3j/(kR) - 3/(kR)**2) ],
    E = curl H / (j omega eps) = (k**2 / (j omega eps)) grad G x m
      = -j omega mu0 grad G x m = j omega mu0 (j k + 1/R) G (Rh x m).

The same fields follow by duality from a magnetic current density
J_m = j omega mu0 m delta(r - r_p) in the equations above: the electric
vector potential F = eps m' G (m' = j omega mu0 m) gives E = -curl F / eps
= -grad G x m' and H = -j omega (I + grad grad / k**2) F, which are the
expressions just written.  The sign of J_m is the one of ``curl E = ... - J_m``;
``tests/reference/test_dipole_closed_form.py`` checks it against a ring of
current elements.

For a vertical dipole (u = z) in spherical components these are the textbook
forms

    E_r     = eta I dl cos(theta) / (2 pi r**2) (1 + 1/(j k r)) exp(-j k r),
    E_theta = j eta k I dl sin(theta) / (4 pi r) (1 + 1/(j k r) - 1/(k r)**2) exp(-j k r),
    H_phi   = j k I dl sin(theta) / (4 pi r) (1 + 1/(j k r)) exp(-j k r),

with eta = omega mu0 / k.  Far from the source (k R >> 1) both dipoles give
a plane wave travelling along Rh: E = eta H x Rh and Rh . E = Rh . H = 0 up to
terms of relative order 1 / (k R).

The functions take numpy arrays (vectorised over field points) and, through
``field_at``, single mpmath numbers (for the finite-difference checks).
"""

from __future__ import annotations

import cmath
import math

import numpy as np

SPEED_OF_LIGHT = 299_792_458.0          # m/s, exact
EPSILON_0 = 8.8541878188e-12            # F/m, CODATA 2022 (as in medium())
MU_0 = 1.0 / (EPSILON_0 * SPEED_OF_LIGHT**2)
ETA_0 = 1.0 / (EPSILON_0 * SPEED_OF_LIGHT)   # = omega mu0 / k0, ohm

SOURCES = ("electric", "magnetic")


def unit_vector(direction):
    """direction as a unit 3-vector of floats."""
    d = np.asarray(direction, dtype=float).reshape(3)
    n = math.sqrt(float(d @ d))
    if not (n > 0.0 and math.isfinite(n)):
        raise ValueError("direction must be a finite non-zero 3-vector")
    return d / n


def _terms(k, rx, ry, rz, exp, sqrt):
    """G, the two angular factors and the unit vector for separation (rx, ry, rz).

    Works on numpy arrays and on mpmath numbers alike (exp and sqrt given)."""
    r = sqrt(rx * rx + ry * ry + rz * rz)
    g = exp(-1j * k * r) / (4 * math.pi * r)
    u = 1 / (k * r)
    a = 1 - 1j * u - u * u            # factor of the moment itself
    b = 1 - 3j * u - 3 * u * u        # factor of its radial projection
    c = 1j * k + 1 / r                # -G'/G
    return g, a, b, c, (rx / r, ry / r, rz / r)


def _cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def field_at(k0, k, rx, ry, rz, source, moment_vector, exp=cmath.exp, sqrt=cmath.sqrt):
    """(E, H) as two 3-tuples at the separation (rx, ry, rz) = r - r_p.

    moment_vector is p = I dl u (A m) for ``source="electric"`` or m = I A u
    (A m**2) for ``source="magnetic"``; k0 fixes omega mu0 = k0 eta0."""
    omega_mu = k0 * ETA_0
    g, a, b, c, rh = _terms(k, rx, ry, rz, exp, sqrt)
    v = moment_vector
    proj = rh[0] * v[0] + rh[1] * v[1] + rh[2] * v[2]
    dyad = tuple(g * (v[i] * a - rh[i] * proj * b) for i in range(3))   # (I + grad grad/k^2) G v
    curl = _cross(v, rh)                                                # v x Rh
    if source == "electric":
        e = tuple(-1j * omega_mu * d for d in dyad)
        h = tuple(c * g * w for w in curl)
    elif source == "magnetic":
        h = tuple(k * k * d for d in dyad)
        e = tuple(-1j * omega_mu * c * g * w for w in curl)
    else:
        raise ValueError("source must be 'electric' or 'magnetic', got %r" % (source,))
    return e, h


def dipole_field(k0, k, x, y, z, *, source="electric", direction=(0.0, 0.0, 1.0), moment=1.0,
                 source_point=(0.0, 0.0, 0.0)):
    """E (V/m) and H (A/m) of a point dipole in an unbounded medium.

    Parameters
    ----------
    k0 : float
        Free-space wavenumber omega / c in rad/m.
    k : complex
        Wavenumber of the medium in 1/m, Im k <= 0.
    x, y, z : array_like
        Field points in metres, broadcast against each other.
    source : {"electric", "magnetic"}
        A current element of moment I dl (A m) or a small loop of moment
        I A (A m**2).
    direction : 3-vector
        Orientation of the element, or the loop's normal (normalised here).
    moment : complex
        I dl or I A.
    source_point : 3-vector
        Where the dipole sits.

    Returns
    -------
    E, H : complex ndarrays of shape broadcast(x, y, z).shape + (3,)
    """
    x, y, z = np.broadcast_arrays(np.asarray(x, float), np.asarray(y, float), np.asarray(z, float))
    v = complex(moment) * unit_vector(direction)
    with np.errstate(divide="ignore", invalid="ignore"):
        e, h = field_at(float(k0), complex(k), x - source_point[0], y - source_point[1],
                        z - source_point[2], source, v, exp=np.exp, sqrt=np.sqrt)
    return np.stack(np.broadcast_arrays(*e), axis=-1), np.stack(np.broadcast_arrays(*h), axis=-1)


def vertical_spherical(k0, k, r, theta, moment=1.0):
    """Textbook spherical components (E_r, E_theta, H_phi) of a vertical current element."""
    eta = k0 * ETA_0 / k
    jkr = 1j * k * r
    e = np.exp(-jkr)
    e_r = eta * moment * np.cos(theta) / (2 * math.pi * r**2) * (1 + 1 / jkr) * e
    e_t = 1j * eta * k * moment * np.sin(theta) / (4 * math.pi * r) * (1 + 1 / jkr - 1 / (k * r) ** 2) * e
    h_p = 1j * k * moment * np.sin(theta) / (4 * math.pi * r) * (1 + 1 / jkr) * e
    return e_r, e_t, h_p
