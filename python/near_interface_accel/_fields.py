"""E and H of a buried electric or magnetic dipole, from the field integrals
of the compiled batch ``_near_interface_ext.dipole_field_batch``."""

from __future__ import annotations

import math
from numbers import Complex, Real
from typing import Any, Literal

import numpy as np
from numpy.typing import ArrayLike, NDArray

import _near_interface_ext as _ext

from ._engine import (Kind, broadcast, controls, count, distinct_triples, evaluate,
                      invalid_mode, media, rejected)
from ._media import EPSILON_0, SPEED_OF_LIGHT, Medium

__all__ = ["dipole_field"]


def _check_media(upper: Medium, lower: Medium) -> tuple[float, complex, float]:
    """k_p, k_m and omega mu (the permeability both media share) of two media."""
    for name, m in (("upper", upper), ("lower", lower)):
        if not isinstance(m, Medium):
            raise TypeError(f"{name} must be a Medium from near_interface_accel.medium(), "
                            f"got {type(m).__name__}")
    if upper.k0 != lower.k0:
        raise ValueError(
            f"upper and lower must be media at one frequency, got free-space wavenumbers "
            f"{upper.k0!r} and {lower.k0!r} rad/m")
    if complex(upper.mu_r) != complex(lower.mu_r):
        raise ValueError(
            f"the field formulas hold for two media of equal permeability, got mu_r = "
            f"{upper.mu_r!r} above and {lower.mu_r!r} below")
    if complex(upper.k).imag != 0.0:
        raise ValueError(
            f"the upper medium must be lossless (real eps_r and mu_r, sigma = 0), got "
            f"eps_r = {upper.eps_r!r}, mu_r = {upper.mu_r!r}")
    k_p, k_m = media(complex(upper.k).real, lower.k)
    # omega mu = k0 mu_r / (eps0 c): mu_r is real, as the upper medium is lossless
    omega_mu = upper.k0 * complex(upper.mu_r).real / (EPSILON_0 * SPEED_OF_LIGHT)
    return k_p, k_m, omega_mu


def _direction(direction: ArrayLike) -> NDArray[np.float64]:
    d = np.asarray(direction)
    if d.shape != (3,) or d.dtype.kind not in "biuf":
        raise ValueError(f"direction must be a real 3-vector, got {direction!r}")
    d = d.astype(np.float64)
    norm = math.hypot(*d)
    if not (math.isfinite(norm) and norm > 0.0):
        raise ValueError(f"direction must be a finite, non-zero 3-vector, got {direction!r}")
    return np.asarray(d / norm, dtype=np.float64)


def _moment(moment: complex) -> complex:
    if isinstance(moment, bool) or not isinstance(moment, Complex):
        raise TypeError(f"moment must be a real or complex number, got {type(moment).__name__}")
    m = complex(moment)
    if not (math.isfinite(m.real) and math.isfinite(m.imag)):
        raise ValueError(f"moment must be finite, got {moment!r}")
    return m


def _source(source: str) -> str:
    if source not in ("electric", "magnetic"):
        raise ValueError(f"source must be 'electric' or 'magnetic', got {source!r}")
    return source


def _columns_of(which: str, d: NDArray[np.float64]) -> str:
    """The compiled batch's source for a dipole of unit direction d: a dipole
    of one orientation integrates only its own columns, refined against its
    own largest (another orientation's can be 1e5 times larger)."""
    if d[0] == 0.0 and d[1] == 0.0:
        return f"{which} vertical"
    if d[2] == 0.0:
        return f"{which} horizontal"
    return which


def _height(zp: ArrayLike) -> ArrayLike:
    """A single source height is checked as one number (the call's own
    message); an array of them is checked point by point with the points."""
    if np.ndim(zp) != 0:
        return zp
    if isinstance(zp, bool) or not isinstance(zp, Real):
        a = np.asarray(zp)
        if a.dtype.kind not in "biuf" or a.dtype.kind == "b":
            raise TypeError(f"zp, the dipole's height, must be a real number or an array of "
                            f"them, got {zp!r}")
        zp = float(a)
    h = float(zp)
    if not (math.isfinite(h) and h <= 0.0):
        raise ValueError(f"zp must be finite and <= 0 (the dipole is in the lower medium), "
                         f"got {zp!r}")
    return h


def _describe(flat: int, shape: tuple[int, ...], x: float, y: float, z: float, zp: float) -> str:
    values = f"x={x!r}, y={y!r}, z={z!r} (source at zp={zp!r})"
    if not shape:
        return f"the point has {values}"
    index = tuple(int(i) for i in np.unravel_index(flat, shape))
    return f"point {index} of the broadcast shape {shape} has {values}"


def compose_fields(source: str, integrals: NDArray[np.complex128], x: NDArray[np.float64],
                   y: NDArray[np.float64], direction: NDArray[np.float64], moment: complex,
                   k_p: float, omega_mu: float
                   ) -> tuple[NDArray[np.complex128], NDArray[np.complex128]]:
    """E and H (shape x.shape + (3,)) from the field integrals of each point
    (shape x.shape + (M,)), at horizontal positions (x, y) of a dipole of unit
    ``direction`` and ``moment``.

    The combinations are those of the user guide's field pages, in the radial
    and azimuthal unit vectors of the field point (rho_hat = (c, s, 0),
    phi_hat = (-s, c, 0)); on the axis c = 1, s = 0, where the horizontal
    components reach their limits whatever the angle.
    """
    rho = np.hypot(x, y)
    on_axis = rho == 0.0
    safe = np.where(on_axis, 1.0, rho)
    with np.errstate(invalid="ignore"):      # non-finite points give NaN directions
        c = np.where(on_axis, 1.0, x / safe)
        s = np.where(on_axis, 0.0, y / safe)
    ux, uy, uz = (float(v) for v in direction)
    u_rho = ux * c + uy * s          # the horizontal part of the direction along rho_hat
    u_phi = uy * c - ux * s          # ... and along phi_hat
    v = np.moveaxis(integrals, -1, 0)
    base = moment / (4.0 * math.pi)
    if source == "electric":
        e0, e1, e2, e3, e4, e5, e6, e7, e8, e9 = v
        a = -1j * omega_mu * base                  # A = -j omega mu I dl / (4 pi)
        e_rho = a * (uz * e1 + u_rho * (e3 + e4 - e0))
        e_phi = a * (u_phi * (e3 - e4))
        e_z = a * (uz * e0 + u_rho * e5)
        ch = base * k_p
        h_rho = ch * (u_phi * (e6 - e8))
        h_phi = ch * (uz * e2 + u_rho * (e7 - e6 - e8))
        h_z = -ch * (u_phi * e9)
    else:
        m0, m1, m2, m3, m4, m5, m6, m7, m8, m9, m10 = v
        h_rho = base * (uz * m1 + u_rho * (m3 + m5 - m4))
        h_phi = base * (u_phi * (m3 - m5))
        h_z = base * (uz * m0 - u_rho * m6)
        g = -1j * omega_mu * base / k_p            # -j omega mu I A / (4 pi k_p)
        e_rho = g * (u_phi * (m7 - m9))
        e_phi = g * (uz * m2 + u_rho * (m8 - m7 - m9))
        e_z = -g * (u_phi * m10)
    e = np.stack([e_rho * c - e_phi * s, e_rho * s + e_phi * c, e_z], axis=-1)
    h = np.stack([h_rho * c - h_phi * s, h_rho * s + h_phi * c, h_z], axis=-1)
    return e.astype(np.complex128, copy=False), h.astype(np.complex128, copy=False)


def field_values(batch: Any, describe: Any, width: int, bar: str, triples: NDArray[np.float64],
                 where: NDArray[np.intp], shape: tuple[int, ...], refused: NDArray[np.bool_],
                 not_finite: NDArray[np.bool_], ctl: Any, mode: Literal["raise", "nan"],
                 workers: int | None, chunk_size: int | None,
                 progress: bool) -> NDArray[np.complex128]:
    """The field integrals of every distinct triple through the point engine,
    judged by the verdict, with the words of the field calls: ``batch(rows)``
    is the compiled field batch on those triples, ``describe(flat)`` names a
    point."""
    kind = Kind(
        judged_batch=batch, plain_batch=batch, width=width, describe=describe,
        bar=bar, not_finite="x, y, z and zp must be finite",
        not_finite_valid=("valid points have finite x, y, z and zp (for an infinite one the "
                          "compiled call returns NaN or zeros without saying so)"),
        nan_rows="fields of NaN",
        verdict_texts=dict(what="field points", largest="the point's largest integral",
                           fate_nan="their fields are NaN",
                           fate_kept="their fields are returned as computed",
                           reasons="a tail ray did not go quiet, or the integrals are not "
                                   "finite"))
    values, _ = evaluate(
        kind, triples, where, shape, refused, not_finite, rtol=ctl.rtol, invalid=mode,
        judged=True, judge=True, finite_rows=True,
        advice="A larger depth (or gauss_nodes) resolves those stopped at the depth limit; "
               "cancelling ones are a limit of double precision.",
        workers=workers, chunk_size=chunk_size, progress=progress, stacklevel=3)
    return values


def dipole_field(
    upper: Medium,
    lower: Medium,
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
    """E and H in the upper medium of a point dipole buried in the lower one.

    The dipole sits at (0, 0, zp), zp <= 0, in the lower medium; the field
    points (x, y, z), z >= 0, are in the upper, lossless medium. Every
    component comes from spectral integrals evaluated directly (J0 and J1
    transforms of the interface kernels, all of a point along one path), not
    from differences. Time convention exp(+j omega t); SI units.

    Parameters
    ----------
    upper, lower : Medium
        The two media, from :func:`medium`, at one frequency and of equal
        permeability; the upper one lossless.
    x, y, z : array_like of float
        Field points in metres, broadcast against each other; z >= 0.
    zp : array_like of float
        Height of the dipole in metres, <= 0, broadcast with x, y and z (a
        depth profile or several source depths in one call).
    source : {'electric', 'magnetic'}
        A current element of moment I dl (A m), or a small loop of moment
        I A (A m^2) whose normal is ``direction``.
    direction : 3-vector of float
        Orientation of the dipole (normalised here): the field is the sum of
        the vertical dipole's and the two horizontal ones'.
    moment : complex
        I dl in A m, or I A in A m^2.
    rtol, gauss_nodes, depth, lam_mult, detour, workers, chunk_size, progress
        As for :func:`six_integrals`; ``rtol`` holds the integrals of each
        point to rtol of the point's largest one.
    invalid : {'raise', 'nan'}
        'raise' refuses the whole call at the first invalid point (z < 0,
        the source itself, a non-finite coordinate); 'nan' gives such points
        fields of NaN.

    Returns
    -------
    E, H : numpy.ndarray of complex128, shape ``broadcast(x, y, z).shape + (3,)``
        Cartesian components (x, y, z) of E in V/m and of H in A/m.

    Raises
    ------
    ValueError
        For the first invalid point (its index, x, y, z and what a valid point
        is), media at different frequencies or of different permeability, a
        lossy upper medium, a zero direction, or the controls
        :func:`six_integrals` refuses.
    RuntimeError
        "rotated tail did not go quiet inside the panel budget" (or "the
        field integrals are not finite"), naming the first point where that
        happened; no partial result is returned. With ``invalid='nan'`` such
        points get fields of NaN and the warning instead.
    TypeError
        Media that are not :class:`Medium` values, complex coordinates.

    Warns
    -----
    UnresolvedRowWarning
        Once, for points whose integration stopped short of ``rtol`` (the
        verdict of :func:`six_integrals`: panels accepted at the depth limit
        with a summed error estimate above :func:`unresolved_threshold`); with
        ``invalid='nan'`` their fields are NaN.

    Notes
    -----
    Points sharing a (rho, z) are evaluated once. The fields of the vertical
    dipole on the axis have no horizontal part; those of a horizontal dipole
    take their limits there (the user guide's field pages).

    Examples
    --------
    A vertical current element 1 m deep in wet soil at 1 MHz, seen 5 m away
    on the surface:

    >>> import near_interface_accel as nia
    >>> air, soil = nia.medium(1e6), nia.medium(1e6, eps_r=20, sigma=0.01)
    >>> E, H = nia.dipole_field(air, soil, x=5.0, y=0.0, z=0.0, zp=-1.0)
    >>> E.shape, H.shape
    ((3,), (3,))
    >>> bool(abs(E[1]) == 0 and abs(H[0]) < 1e-12 * abs(H[1]))   # E_y = 0, H_x ~ 0
    True
    """
    k_p, k_m, omega_mu = _check_media(upper, lower)
    which = _source(source)
    d = _direction(direction)
    m = _moment(moment)
    height = _height(zp)
    ctl = controls(rtol, gauss_nodes, depth, lam_mult, detour)
    workers = count("workers", workers)
    chunk_size = count("chunk_size", chunk_size)
    mode = invalid_mode(invalid)
    xa, ya, za, zpa = broadcast(("x", "y", "z", "zp"), (x, y, z, height))
    shape = xa.shape
    with np.errstate(invalid="ignore", over="ignore"):
        rho = np.hypot(xa, ya)
    triples, where = distinct_triples(rho, za, zpa)
    refused, not_finite = rejected(triples)
    # a NaN or infinite x or y (and only they) make rho NaN or infinite: such
    # points are not finite, whatever the compiled call would say of their rho
    rho_bad = ~np.isfinite(triples[:, 0])
    refused &= ~rho_bad
    not_finite |= rho_bad
    columns = _ext.ELECTRIC_COLUMNS if which == "electric" else _ext.MAGNETIC_COLUMNS

    columns_of = _columns_of(which, d)

    def batch(rows: NDArray[np.intp]) -> tuple[Any, ...]:
        return _ext.dipole_field_batch(k_p, k_m, columns_of, triples[rows, 0], triples[rows, 1],
                                       triples[rows, 2], *ctl.args())

    def describe(flat: int) -> str:
        return _describe(flat, shape, float(xa.flat[flat]), float(ya.flat[flat]),
                         float(za.flat[flat]), float(zpa.flat[flat]))

    values = field_values(batch, describe, columns, "dipole field", triples, where, shape,
                          refused, not_finite, ctl, mode, workers, chunk_size, progress)
    e, h = compose_fields(which, values[where].reshape(shape + (columns,)), xa, ya, d, m, k_p,
                          omega_mu)
    return e, h
