"""Stacks of planar layers: their media and interfaces, the layer of a point,
the direct field of a dipole in its own layer, and the composition of E and H
from the layered field columns of the compiled batch.

Conventions: media top to bottom; the interfaces' heights in metres, strictly
decreasing; the outer two media are half-spaces. A field point on an
interface takes the medium above it, a source on an interface the medium
below it. Time factor exp(+j omega t), SI units.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import NamedTuple

import numpy as np
from numpy.typing import ArrayLike, NDArray

from ._media import EPSILON_0, SPEED_OF_LIGHT, Medium

__all__ = ["Stack", "stack"]

# The impedance of free space, 1 / (eps0 c), in ohm: omega mu0 = k0 eta0.
ETA_0 = 1.0 / (EPSILON_0 * SPEED_OF_LIGHT)
# Media a stack may hold (the compiled recursion keeps them in fixed arrays).
MAX_MEDIA = 64


class Stack(NamedTuple):
    """Planar layers at one frequency (see :func:`stack`).

    Attributes
    ----------
    media : tuple of Medium
        The media from the top down; the first and the last are half-spaces.
    interfaces : tuple of float
        Heights of the interfaces in metres, strictly decreasing: interface i
        lies between media i and i + 1.
    """

    media: tuple[Medium, ...]
    interfaces: tuple[float, ...]

    @property
    def k0(self) -> float:
        """The free-space wavenumber omega / c of every medium, in rad/m."""
        return self.media[0].k0


def _check_medium(i: int, m: object, k0: float | None) -> Medium:
    where = f"media[{i}]"
    if not isinstance(m, Medium):
        raise TypeError(f"{where} must be a Medium from near_interface_accel.medium(), got "
                        f"{type(m).__name__}")
    if k0 is not None and m.k0 != k0:
        raise ValueError(f"the media of a stack must be at one frequency: {where} has the "
                         f"free-space wavenumber {m.k0!r} rad/m, media[0] has {k0!r}")
    for name in ("eps_r", "mu_r"):
        value = complex(getattr(m, name))
        if not (math.isfinite(value.real) and math.isfinite(value.imag)):
            raise ValueError(f"{where}.{name} must be finite, got {value}")
        if value == 0:
            raise ValueError(f"{where}.{name} is zero, which no medium has")
        if value.imag > 0.0:
            raise ValueError(
                f"{where}.{name} = {value} has a positive imaginary part: an active medium "
                f"under this package's exp(+j omega t) convention, in which a lossy medium has "
                f"Im({name}) <= 0. If it is written for the exp(-i omega t) convention, use its "
                f"complex conjugate, {value.conjugate()}.")
    k = complex(m.k)
    if not (math.isfinite(k.real) and math.isfinite(k.imag) and k.imag <= 0.0):
        raise ValueError(f"{where}.k must be finite with Im(k) <= 0 (medium() gives it so), "
                         f"got {k}")
    return m


def stack(media: Sequence[Medium], interfaces: Sequence[float] | ArrayLike) -> Stack:
    """A stack of planar layers from its media and the heights of its interfaces.

    Parameters
    ----------
    media : sequence of Medium
        Two or more media from :func:`medium`, all at one frequency, from the
        top down. Any of them may be lossy (the top one too) and have its own
        ``mu_r``; the first and the last are half-spaces.
    interfaces : sequence of float
        Heights of the interfaces in metres, one fewer than the media,
        finite and strictly decreasing: interface i separates media i (above)
        and i + 1 (below).

    Returns
    -------
    Stack
        A named tuple ``(media, interfaces)``.

    Raises
    ------
    ValueError
        Fewer than two media or more than 64, media at different frequencies,
        a permittivity or permeability of zero or with a positive imaginary
        part (an active medium; the message gives the conjugate), a count of
        interfaces that does not match the media, or interfaces that are not
        finite or not strictly decreasing.
    TypeError
        Media that are not ``Medium`` values, or non-numeric heights.

    Examples
    --------
    Air over 0.3 m of wet topsoil over dry rock, at 200 MHz:

    >>> import near_interface_accel as nia
    >>> f = 200e6
    >>> ground = stack([nia.medium(f), nia.medium(f, eps_r=20, sigma=0.05),
    ...                     nia.medium(f, eps_r=6, sigma=1e-3)], [0.0, -0.3])
    >>> len(ground.media), ground.interfaces
    (3, (0.0, -0.3))
    """
    if isinstance(media, Medium) or not isinstance(media, Sequence):
        raise TypeError(f"media must be a sequence of Medium values, got {type(media).__name__}")
    if not 2 <= len(media) <= MAX_MEDIA:
        raise ValueError(f"a stack holds 2 to {MAX_MEDIA} media, got {len(media)}")
    checked = [_check_medium(0, media[0], None)]
    checked += [_check_medium(i, m, checked[0].k0) for i, m in enumerate(media) if i > 0]
    h = np.asarray(interfaces)
    if h.ndim != 1 or h.dtype.kind not in "iuf":
        raise TypeError(f"interfaces must be a sequence of real heights in metres, got "
                        f"{interfaces!r}")
    if h.size != len(media) - 1:
        raise ValueError(f"a stack of {len(media)} media has {len(media) - 1} interfaces, got "
                         f"{h.size}: {interfaces!r}")
    heights = tuple(float(v) for v in h)
    for i, v in enumerate(heights):
        if not math.isfinite(v):
            raise ValueError(f"interfaces[{i}] must be a finite height in metres, got {v!r}")
        if i > 0 and not v < heights[i - 1]:
            raise ValueError(
                f"interfaces must be strictly decreasing (from the top down), got "
                f"interfaces[{i - 1}] = {heights[i - 1]!r} and interfaces[{i}] = {v!r}")
    return Stack(tuple(checked), heights)


def receiver_layers(st: Stack, z: ArrayLike) -> NDArray[np.intp]:
    """The layer of each field height: one on an interface takes the medium above."""
    down = -np.asarray(st.interfaces, dtype=np.float64)
    return np.searchsorted(down, -np.asarray(z, dtype=np.float64), side="left")


def source_layers(st: Stack, zp: ArrayLike) -> NDArray[np.intp]:
    """The layer of each source height: one on an interface takes the medium below."""
    down = -np.asarray(st.interfaces, dtype=np.float64)
    return np.searchsorted(down, -np.asarray(zp, dtype=np.float64), side="right")


def direct_field(m: Medium, source: str, moment: NDArray[np.complex128],
                 rx: NDArray[np.float64], ry: NDArray[np.float64], rz: NDArray[np.float64]
                 ) -> tuple[NDArray[np.complex128], NDArray[np.complex128]]:
    """E and H (shape rx.shape + (3,)) of a point dipole of moment vector
    ``moment`` (I dl u in A m, or I A u in A m^2) in the unbounded medium m,
    at the separations (rx, ry, rz) from it.

    With G = exp(-j k R) / (4 pi R), a = 1 - j/(kR) - 1/(kR)^2,
    b = 1 - 3j/(kR) - 3/(kR)^2 and c = j k + 1/R, the dyadic part
    D = G (v a - Rh (Rh . v) b) of the moment v gives, for a current element,
    E = -j omega mu D and H = c G (v x Rh), and for a small loop H = k^2 D and
    E = j omega mu c G (Rh x v), omega mu = k0 eta0 mu_r.
    """
    r = np.sqrt(rx * rx + ry * ry + rz * rz)
    k = complex(m.k)
    with np.errstate(divide="ignore", invalid="ignore"):
        rh = np.stack([rx / r, ry / r, rz / r], axis=-1)
        g = np.exp(-1j * k * r) / (4.0 * math.pi * r)
        u = 1.0 / (k * r)
        a = 1.0 - 1j * u - u * u
        b = 1.0 - 3j * u - 3.0 * u * u
        c = 1j * k + 1.0 / r
    proj = rh @ moment
    dyad = g[..., None] * (moment * a[..., None] - rh * (proj * b)[..., None])
    omega_mu = m.k0 * ETA_0 * complex(m.mu_r)
    curl = (c * g)[..., None] * np.cross(np.broadcast_to(moment, rh.shape), rh)
    pair = (-1j * omega_mu * dyad, curl) if source == "electric" else (1j * omega_mu * -curl,
                                                                         k * k * dyad)
    return pair[0].astype(np.complex128, copy=False), pair[1].astype(np.complex128, copy=False)


def compose_layered(source: str, columns: NDArray[np.complex128], x: NDArray[np.float64],
                    y: NDArray[np.float64], direction: NDArray[np.float64], moment: complex
                    ) -> tuple[NDArray[np.complex128], NDArray[np.complex128]]:
    """E and H (shape x.shape + (3,)) from the eleven layered field columns of
    each point (E / eta0 and H in units of moment / (4 pi)), at horizontal
    positions (x, y) of a dipole of unit ``direction`` and ``moment``; the
    combinations are those of the columns' derivation in the guide's page on
    stacks. On the axis the radial direction is x, where the horizontal
    components reach their limits whatever the angle."""
    rho = np.hypot(x, y)
    on_axis = rho == 0.0
    safe = np.where(on_axis, 1.0, rho)
    with np.errstate(invalid="ignore"):
        cos = np.where(on_axis, 1.0, x / safe)
        sin = np.where(on_axis, 0.0, y / safe)
    ux, uy, uz = (float(v) for v in direction)
    u_rho = ux * cos + uy * sin
    u_phi = uy * cos - ux * sin
    c = np.moveaxis(columns, -1, 0)
    if source == "electric":
        e_rho = -uz * c[8] + u_rho * (c[2] - c[1])
        e_phi = u_phi * (c[0] - c[2])
        e_z = -uz * c[9] + u_rho * c[3]
        h_rho = u_phi * (c[4] - c[6])
        h_phi = -1j * uz * c[10] + u_rho * (c[5] - c[6])
        h_z = -u_phi * c[7]
    else:
        e_rho = -u_phi * (c[0] + c[1])
        e_phi = -1j * uz * c[8] + u_rho * (c[2] - c[1])
        e_z = 1j * u_phi * c[3]
        h_rho = uz * c[9] + u_rho * (c[4] - c[5])
        h_phi = u_phi * (c[5] + c[6])
        h_z = uz * c[10] - 1j * u_rho * c[7]
    base = moment / (4.0 * math.pi)
    e = (ETA_0 * base) * np.stack([e_rho * cos - e_phi * sin, e_rho * sin + e_phi * cos, e_z],
                                  axis=-1)
    h = base * np.stack([h_rho * cos - h_phi * sin, h_rho * sin + h_phi * cos, h_z], axis=-1)
    return e.astype(np.complex128, copy=False), h.astype(np.complex128, copy=False)
