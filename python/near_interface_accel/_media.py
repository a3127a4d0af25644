"""Wavenumbers of homogeneous media, with the branch the interface kernel expects."""

from __future__ import annotations

import cmath
import math
from numbers import Complex, Real
from typing import NamedTuple

__all__ = ["wavenumber", "medium", "Medium", "SPEED_OF_LIGHT", "EPSILON_0"]

# SI constants: the speed of light is exact; the vacuum permittivity is the
# CODATA 2022 value, 1 / (mu_0 c^2).
SPEED_OF_LIGHT = 299_792_458.0          # m/s
EPSILON_0 = 8.8541878188e-12            # F/m


def _finite_complex(name: str, value: complex) -> complex:
    if not isinstance(value, Complex):
        raise TypeError(f"{name} must be a real or complex number, got {type(value).__name__}")
    c = complex(value)
    if not (math.isfinite(c.real) and math.isfinite(c.imag)):
        raise ValueError(f"{name} must be finite, got {c}")
    return c


def wavenumber(k0: float, eps_r: complex, mu_r: complex = 1) -> complex:
    """Wavenumber of a homogeneous medium, k = k0 * sqrt(eps_r * mu_r).

    The time convention is exp(+j omega t): a field travelling in +x varies as
    exp(j (omega t - k x)). A lossy (passive) medium then has a relative
    permittivity eps_r = eps' - j eps'' with eps'' >= 0 (for a conductor,
    eps'' = sigma / (omega eps0)), likewise mu_r, and its wavenumber has a
    negative imaginary part, so that exp(-j k x) decays in the direction of
    travel and the fields decay away from the interface. Of the two square roots
    this returns the one with Im(k) < 0, or, for a lossless medium (Im(k) = 0),
    the one with Re(k) >= 0. A medium with both Re(eps_r) < 0 and Re(mu_r) < 0
    therefore gets the negative-index branch.

    Parameters
    ----------
    k0 : float
        Free-space wavenumber omega / c = 2 pi / wavelength, positive, in
        reciprocal units of the lengths rho, z, zp you will use.
    eps_r : complex
        Relative permittivity, Im(eps_r) <= 0.
    mu_r : complex, optional
        Relative permeability, Im(mu_r) <= 0. Default 1.

    Returns
    -------
    complex
        k, with Im(k) <= 0; pass it as ``k_m`` (or, for a lossless upper
        medium, as ``k_p``) to :func:`six_integrals`.

    Raises
    ------
    ValueError
        If k0 is not a positive finite real number, if eps_r or mu_r is not
        finite, or if eps_r or mu_r has a positive imaginary part: under the
        exp(+j omega t) convention that is a medium with gain, and most often a
        value written for the exp(-i omega t) convention, which is the complex
        conjugate of the value wanted here.

    Examples
    --------
    >>> wavenumber(1.0, 4.0)
    (2+0j)
    >>> wavenumber(1.0, 4 - 1j)          # lossy ground
    (2.015329455153383-0.24809839340235612j)
    """
    if isinstance(k0, bool) or not isinstance(k0, Real):
        raise TypeError(f"k0 must be a real number, got {type(k0).__name__}")
    k0 = float(k0)
    if not (math.isfinite(k0) and k0 > 0.0):
        raise ValueError(f"k0 must be a positive, finite free-space wavenumber, got {k0}")
    eps = _finite_complex("eps_r", eps_r)
    mu = _finite_complex("mu_r", mu_r)
    for name, value in (("eps_r", eps), ("mu_r", mu)):
        if value.imag > 0.0:
            raise ValueError(
                f"{name} = {value} has a positive imaginary part. This package uses the "
                f"exp(+j omega t) time convention, in which a lossy medium has "
                f"Im({name}) <= 0, so this value would make the fields grow away from "
                f"the source. If it is written for the exp(-i omega t) convention, pass "
                f"its complex conjugate, {value.conjugate()}.")
    product = eps * mu
    if abs(product) < 1e-290 and eps != 0 and mu != 0:
        # the product underflows towards the subnormals and loses its digits:
        # the square roots taken apart keep them (the sign is fixed below)
        n = cmath.sqrt(eps) * cmath.sqrt(mu)
    else:
        n = cmath.sqrt(product)
    # Decay in the direction of travel fixes the root: Im(n) < 0, and for a
    # lossless medium the forward root Re(n) >= 0.
    if n.imag > 0.0 or (n.imag == 0.0 and n.real < 0.0):
        n = -n
    return k0 * n


class Medium(NamedTuple):
    """A homogeneous medium at one frequency, in SI units (see :func:`medium`).

    Attributes
    ----------
    k0 : float
        Free-space wavenumber omega / c, in rad/m.
    k : complex
        Wavenumber of the medium, in 1/m, with Im(k) <= 0.
    eps_r : complex
        Complex relative permittivity, eps_r - j sigma / (omega eps0).
    mu_r : complex
        Relative permeability, as given.
    """

    k0: float
    k: complex
    eps_r: complex
    mu_r: complex


def medium(frequency: float, eps_r: complex = 1.0, sigma: float = 0.0,
           mu_r: complex = 1.0) -> Medium:
    """A medium from SI quantities: its free-space and own wavenumber in 1/m.

    The conductivity enters the complex relative permittivity of the
    exp(+j omega t) convention, eps_r - j sigma / (omega eps0), and the
    wavenumber is ``wavenumber(k0, that permittivity, mu_r)``, on the branch
    the interface kernel expects (Im(k) <= 0). With these wavenumbers rho, z
    and zp are in metres.

    Parameters
    ----------
    frequency : float
        Frequency f in Hz (omega = 2 pi f), positive and finite.
    eps_r : complex, optional
        Relative permittivity (its real part, or a complex value with
        Im(eps_r) <= 0 for dielectric loss). Default 1.
    sigma : float, optional
        Conductivity in S/m, >= 0. Default 0.
    mu_r : complex, optional
        Relative permeability, Im(mu_r) <= 0. Default 1. Note that the six
        integrals take wavenumbers only: their interface conditions are those
        of two media of equal permeability.

    Returns
    -------
    Medium
        A named tuple ``(k0, k, eps_r, mu_r)``: k0 = omega / c in rad/m, k in
        1/m, the complex relative permittivity including the conductivity,
        and mu_r.

    Raises
    ------
    ValueError
        A frequency that is not positive and finite, a negative or non-finite
        sigma, a relative permittivity (eps_r with the conductivity) or
        permeability of zero, or the errors of :func:`wavenumber` (a permittivity or
        permeability with a positive imaginary part).
    TypeError
        Non-numeric arguments.

    Examples
    --------
    Sea water at 1 MHz (eps_r 81, 4 S/m) under air; its skin depth 1/abs(Im k)
    is about 25 cm:

    >>> air, sea = medium(1e6), medium(1e6, eps_r=81, sigma=4.0)
    >>> air.k0                       # 2 pi f / c, rad/m
    0.02095845021951...
    >>> air.k == air.k0
    True
    >>> sea.k                        # 1/m
    (3.9760...-3.9715...j)
    >>> round(1 / -sea.k.imag, 4)
    0.2518
    """
    if isinstance(frequency, bool) or not isinstance(frequency, Real):
        raise TypeError(f"frequency must be a real number, got {type(frequency).__name__}")
    f = float(frequency)
    if not (math.isfinite(f) and f > 0.0):
        raise ValueError(f"frequency must be positive and finite (in Hz), got {frequency!r}")
    if isinstance(sigma, bool) or not isinstance(sigma, Real):
        raise TypeError(f"sigma must be a real number, got {type(sigma).__name__}")
    s = float(sigma)
    if not (math.isfinite(s) and s >= 0.0):
        raise ValueError(f"sigma must be a finite conductivity >= 0 (in S/m), got {sigma!r}")
    omega = 2.0 * math.pi * f
    k0 = omega / SPEED_OF_LIGHT
    eps = _finite_complex("eps_r", eps_r) - 1j * (s / (omega * EPSILON_0))
    mu = _finite_complex("mu_r", mu_r)
    # a zero permittivity or permeability gives a zero wavenumber, and fields
    # that look finite but describe no medium
    if eps == 0:
        raise ValueError(f"eps_r = {eps_r!r} with sigma = {sigma!r} gives a relative permittivity "
                         f"of zero, which no medium has; give eps_r != 0 or a conductivity > 0")
    if mu == 0:
        raise ValueError(f"mu_r = {mu_r!r} is a relative permeability of zero, which no medium "
                         f"has; give mu_r != 0")
    return Medium(k0, wavenumber(k0, eps, mu), eps, mu)
