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
from typing import Any, Literal, NamedTuple

import numpy as np
from numpy.typing import ArrayLike, NDArray

import _near_interface_ext as _ext

from ._media import EPSILON_0, SPEED_OF_LIGHT, Medium

__all__ = ["Stack", "stack", "layered_field"]

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
    >>> ground = nia.stack([nia.medium(f), nia.medium(f, eps_r=20, sigma=0.05),
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


def layered_field(
    st: Stack,
    x: ArrayLike,
    y: ArrayLike,
    z: ArrayLike,
    zp: ArrayLike,
    *,
    source: Literal["electric", "magnetic"] = "electric",
    direction: ArrayLike = (0.0, 0.0, 1.0),
    moment: complex = 1.0,
    rtol: float = 1e-8,
    gauss_nodes: int = 8,
    depth: int = 20,
    lam_mult: float = 10.0,
    detour: float = 0.1,
    workers: int | None = None,
    chunk_size: int | None = None,
    progress: bool = False,
    invalid: Literal["raise", "nan"] = "raise",
) -> tuple[NDArray[np.complex128], NDArray[np.complex128]]:
    """E and H of a point dipole in a stack of layers, at points in any layer.

    The dipole sits at (0, 0, zp) in the layer that holds zp (a source on an
    interface is in the medium below it); the field points (x, y, z) may be in
    any layer (one on an interface is in the medium above it). The field is
    the total one, direct and scattered: every component from spectral
    integrals of the stack's TE and TM response along one path, and in the
    source's own layer the direct field in closed form. Time convention
    exp(+j omega t); SI units.

    Parameters
    ----------
    st : Stack
        The layers, from :func:`stack`.
    x, y, z : array_like of float
        Field points in metres, broadcast against each other.
    zp : array_like of float
        Height of the dipole in metres, broadcast with x, y and z.
    source, direction, moment
        As for :func:`dipole_field`.
    rtol, gauss_nodes, depth, lam_mult, detour, workers, chunk_size, progress
        As for :func:`six_integrals`; ``rtol`` holds the integrals of each
        point to rtol of the point's largest one.
    invalid : {'raise', 'nan'}
        'raise' refuses the whole call at the first invalid point (the source
        itself, a non-finite coordinate); 'nan' gives such points fields of
        NaN.

    Returns
    -------
    E, H : numpy.ndarray of complex128, shape ``broadcast(x, y, z, zp).shape + (3,)``
        Cartesian components of E in V/m and of H in A/m.

    Raises
    ------
    ValueError
        For the first invalid point (its index, x, y, z and zp), or the
        controls :func:`six_integrals` refuses.
    TypeError
        A stack that is not a :class:`Stack`, complex coordinates.

    Warns
    -----
    UnresolvedRowWarning
        Once, for points whose integration stopped short of ``rtol``.

    Examples
    --------
    A vertical current element 0.5 m above wet ground at 200 MHz, and its
    field in the air and in the ground:

    >>> import near_interface_accel as nia
    >>> f = 200e6
    >>> ground = nia.stack([nia.medium(f), nia.medium(f, eps_r=20, sigma=0.05)], [0.0])
    >>> E, H = nia.layered_field(ground, x=2.0, y=0.0, z=[1.0, -0.2], zp=0.5)
    >>> E.shape
    (2, 3)
    """
    from . import _engine
    from ._fields import _columns_of, _describe, _direction, _moment, _source, field_values

    if not isinstance(st, Stack):
        raise TypeError(f"st must be a Stack from near_interface_accel.stack(), got "
                        f"{type(st).__name__}")
    which = _source(source)
    d = _direction(direction)
    m = _moment(moment)
    ctl = _engine.controls(rtol, gauss_nodes, depth, lam_mult, detour)
    workers = _engine.count("workers", workers)
    chunk_size = _engine.count("chunk_size", chunk_size)
    mode = _engine.invalid_mode(invalid)
    xa, ya, za, zpa = _engine.broadcast(("x", "y", "z", "zp"), (x, y, z, zp))
    shape = xa.shape
    with np.errstate(invalid="ignore", over="ignore"):
        rho = np.hypot(xa, ya)
    triples, where = _engine.distinct_triples(rho, za, zpa)
    not_finite: NDArray[np.bool_] = np.asarray(~np.isfinite(triples).all(axis=1))
    refused = ~not_finite & (triples[:, 0] == 0.0) & (triples[:, 1] == triples[:, 2])
    ks = np.array([complex(md.k) for md in st.media])
    eps = np.array([complex(md.eps_r) for md in st.media])
    mus = np.array([complex(md.mu_r) for md in st.media])
    heights = np.array(st.interfaces, dtype=np.float64)

    # the vertical dipole's columns read one polarisation of the response
    columns_of = _columns_of(which, d)

    def batch(rows: NDArray[np.intp]) -> tuple[Any, ...]:
        return _ext.layered_field_batch(st.k0, ks, eps, mus, heights, columns_of,
                                        triples[rows, 0], triples[rows, 1], triples[rows, 2],
                                        *ctl.args())

    def describe(flat: int) -> str:
        return _describe(flat, shape, float(xa.flat[flat]), float(ya.flat[flat]),
                         float(za.flat[flat]), float(zpa.flat[flat]))

    values = field_values(batch, describe, _ext.LAYERED_COLUMNS, "layered field", triples,
                          where, shape, refused, not_finite, ctl, mode, workers, chunk_size,
                          progress)
    e, h = compose_layered(which, values[where].reshape(shape + (_ext.LAYERED_COLUMNS,)), xa,
                           ya, d, m)
    # the direct field where the point shares the source's layer
    s_layer = source_layers(st, zpa)
    shared = (receiver_layers(st, za) == s_layer) & np.isfinite(e).all(axis=-1)
    if shared.any():
        vec = (m * d).astype(np.complex128)
        for j in np.unique(s_layer[shared]):
            sel = shared & (s_layer == j)
            de, dh = direct_field(st.media[int(j)], which, vec, xa[sel], ya[sel],
                                  za[sel] - zpa[sel])
            e[sel] += de
            h[sel] += dh
    return e, h
