"""The friendly front of the compiled six-integral batch: the point engine
(broadcast, distinct triples, chunks, threads, progress, the verdict) over
``_near_interface_accel.near_interface_six_batch``."""

from __future__ import annotations

from typing import Any, Literal, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

import _near_interface_accel as _accel
import _near_interface_ext as _ext

from ._engine import (RTOL_FLOOR, Kind, broadcast, controls, count, distinct_triples, evaluate,
                      flag, gauss_rule, invalid_mode, media, rejected)
from ._verdict import RowDiagnostics, describe_point

__all__ = ["six_integrals", "gauss_rule", "RTOL_FLOOR"]

# The compiled batch as imported. The verdict needs the figures of the
# diagnostics batch, whose rows are bit for bit this function's; while the
# module attribute is replaced (a test double, an instrumented build) the
# friendly call calls the replacement instead and judges nothing.
_GENUINE_BATCH = _accel.near_interface_six_batch


@overload
def six_integrals(
    k_p: float, k_m: complex, rho: ArrayLike, z: ArrayLike, zp: ArrayLike, *,
    rtol: float = ..., gauss_nodes: int = ..., depth: int = ..., lam_mult: float = ...,
    detour: float = ..., workers: int | None = ..., chunk_size: int | None = ...,
    progress: bool = ..., invalid: Literal["raise", "nan"] = ..., verdict: bool = ...,
    diagnostics: Literal[False] = ...,
) -> NDArray[np.complex128]: ...


@overload
def six_integrals(
    k_p: float, k_m: complex, rho: ArrayLike, z: ArrayLike, zp: ArrayLike, *,
    rtol: float = ..., gauss_nodes: int = ..., depth: int = ..., lam_mult: float = ...,
    detour: float = ..., workers: int | None = ..., chunk_size: int | None = ...,
    progress: bool = ..., invalid: Literal["raise", "nan"] = ..., verdict: bool = ...,
    diagnostics: Literal[True],
) -> tuple[NDArray[np.complex128], RowDiagnostics]: ...


def six_integrals(
    k_p: float,
    k_m: complex,
    rho: ArrayLike,
    z: ArrayLike,
    zp: ArrayLike,
    *,
    rtol: float = 1e-8,
    gauss_nodes: int = 8,
    depth: int = 20,
    lam_mult: float = 10.0,
    detour: float = 0.1,
    workers: int | None = None,
    chunk_size: int | None = None,
    progress: bool = False,
    invalid: Literal["raise", "nan"] = "raise",
    verdict: bool = True,
    diagnostics: bool = False,
) -> NDArray[np.complex128] | tuple[NDArray[np.complex128], RowDiagnostics]:
    """The six Sommerfeld-type integrals near a planar interface, for points
    (rho, z, zp) of any shape.

    For each point, ``out[..., c]`` is
    I_c = integral from 0 to infinity of K_c(lambda) J0(rho lambda) dlambda,
    with the interface kernels K_0 ... K_5 of the user guide's physics page:
    the field point at height z >= 0 in the upper, lossless medium (k_p), the
    source at height zp <= 0 in the lower medium (k_m), rho the horizontal
    distance between them.

    Parameters
    ----------
    k_p : float
        Wavenumber of the upper medium (z >= 0), real and positive. A complex
        value with zero imaginary part (as :func:`wavenumber` and
        :func:`medium` return) is accepted.
    k_m : complex
        Wavenumber of the lower medium (z <= 0), Im(k_m) <= 0 for a lossy
        medium (time convention exp(+j omega t)); :func:`wavenumber` builds
        it from eps_r and mu_r, :func:`medium` from SI quantities.
    rho, z, zp : array_like of float
        Horizontal distance (>= 0), field height (>= 0) and source height
        (<= 0), in the reciprocal unit of the wavenumbers; finite scalars or
        arrays, broadcast against each other.
    rtol : float
        Relative tolerance of every adaptive integration and of the tail's
        convergence test, at least ``RTOL_FLOOR`` (1e-13).
    gauss_nodes : int
        Nodes of the Gauss-Legendre rule used on every panel, at least 1.
    depth : int
        Bisection limit of the adaptive panels (an int; a float is refused by
        the compiled call with TypeError).
    lam_mult : float
        The straight part of the path ends, and the rotated tail starts, at
        lam_mult times the larger wavenumber; positive.
    detour : float
        Height of the detour over the branch points, divided by rho (bounded
        by the integration itself).
    workers : int or None
        OpenMP threads for this call only; None uses the runtime's default
        (OMP_NUM_THREADS if set, else all cores). The previous setting is
        restored afterwards.
    chunk_size : int or None
        Distinct triples per call of the compiled module. Between chunks the
        batch can be stopped with Ctrl-C (KeyboardInterrupt; no partial result
        is returned). None sizes the calls from the time they take, a
        fraction of a second each (and at most about one percent of the
        batch when ``progress`` is set), so that Ctrl-C stops any batch
        within about a second; the rows are the same bit for bit.
    progress : bool
        Show a tqdm progress bar that counts the points asked for (needs tqdm).
    invalid : {'raise', 'nan'}
        What to do with invalid points (those the compiled call refuses, and
        non-finite ones) and with unresolved rows: 'raise' (the default)
        refuses the whole batch with ValueError before any integral is
        evaluated, raises RuntimeError for a row whose tail ray did not go
        quiet and returns other unresolved rows as computed (with the
        warning); 'nan' evaluates the valid points and gives every invalid
        point and every unresolved row a row of complex NaN.
    verdict : bool
        Judge every row by what its integration reports (the default). A row
        is unresolved when its panels accepted at the depth limit leave a
        summed error estimate above ``max(100 rtol, 1e-9)`` of the row's
        largest channel, or a tail ray did not go quiet; one
        :class:`UnresolvedRowWarning` per call counts such points and names
        the first few. False calls the plain compiled batch and judges
        nothing (a tail that does not go quiet then raises RuntimeError
        whatever ``invalid`` says).
    diagnostics : bool
        Also return the per-point figures of the integration, a
        :class:`RowDiagnostics` of arrays in the broadcast shape: Gauss nodes,
        panels accepted at the depth limit, their summed error estimate
        relative to the row's largest channel, whether every tail ray went
        quiet, and the verdict.

    Returns
    -------
    numpy.ndarray of complex128, shape ``broadcast(rho, z, zp).shape + (6,)``
        ``out[..., c]`` is integral c at each point. Channel 0 has the
        dimension 1/length, channel 1 length, channel 2 none, channels 3, 4
        and 5 1/length. With ``diagnostics=True``, the pair
        ``(out, figures)``.

    Raises
    ------
    ValueError
        For the first invalid point in C order of the broadcast points, before
        any integral is evaluated (unless ``invalid='nan'``): a message that
        begins with the compiled module's own text, "need z >= 0 >= zp" or
        "need R > 0", or with "rho, z and zp must be finite", followed by the
        point's index in the broadcast shape, its values and what a valid
        point is. Also for wavenumbers, controls or shapes this layer refuses:
        a k_m with a positive imaginary part, an rtol below ``RTOL_FLOOR``,
        shapes that do not broadcast.
    RuntimeError
        "rotated tail did not go quiet inside the panel budget", the compiled
        module's message, followed by the first such point (unless
        ``invalid='nan'``); no partial result is returned.
    TypeError
        Complex or non-numeric heights, a float ``depth`` or ``gauss_nodes``.
    ImportError
        When progress is asked for without tqdm installed.

    Warns
    -----
    UnresolvedRowWarning
        Once per call, when rows are unresolved (see ``verdict``).

    Notes
    -----
    Each distinct triple (compared bit for bit) is evaluated once and its row
    copied to every point that shares it, so the result at each point is
    bit-identical to a direct call of the compiled module on that point
    (unresolved rows with ``invalid='nan'`` aside). The verdict comes from
    ``_near_interface_ext.six_batch_diagnostics``, whose rows are those of
    the compiled module bit for bit.

    Examples
    --------
    One medium on both sides (k_m = k_p = 1): channel 0 is exp(-jR)/R and
    channel 1 the same divided by k^2 (Sommerfeld's identity).

    >>> import numpy as np
    >>> six = six_integrals(1.0, 1.0, rho=3.0, z=1.0, zp=-3.0)
    >>> six.shape
    (6,)
    >>> bool(np.isclose(six[0], np.exp(-5j) / 5, rtol=1e-9))
    True

    A grid with a point on the source itself gives a row of NaN there when
    asked to:

    >>> out = six_integrals(1.0, 2 - 0.5j, rho=[0.0, 1.0], z=0.0, zp=0.0, invalid="nan")
    >>> np.isnan(out).all(axis=-1)
    array([ True, False])

    A depth limit too low for the tolerance is reported, and the figures
    behind the verdict are there for the asking:

    >>> import warnings
    >>> with warnings.catch_warnings(record=True) as caught:
    ...     warnings.simplefilter("always")
    ...     out, figures = six_integrals(1.0, 2 - 0.5j, rho=[1.0, 30.0], z=0.0, zp=0.0,
    ...                                  depth=1, diagnostics=True)
    >>> [w.category.__name__ for w in caught]
    ['UnresolvedRowWarning']
    >>> figures.unresolved
    array([ True,  True])
    """
    kp, km = media(k_p, k_m)
    ctl = controls(rtol, gauss_nodes, depth, lam_mult, detour)
    workers = count("workers", workers)
    chunk_size = count("chunk_size", chunk_size)
    mode = invalid_mode(invalid)
    verdict = flag("verdict", verdict)
    diagnostics = flag("diagnostics", diagnostics)
    r, h, hp = broadcast(("rho", "z", "zp"), (rho, z, zp))
    triples, where = distinct_triples(r, h, hp)
    refused, not_finite = rejected(triples)

    def plain(rows: NDArray[np.intp]) -> NDArray[np.complex128]:
        # The module is looked up at each call, so a replaced batch function
        # (a test double, an instrumented build) is honoured.
        return _accel.near_interface_six_batch(
            kp, km, triples[rows, 0], triples[rows, 1], triples[rows, 2], *ctl.args())

    def judged(rows: NDArray[np.intp]) -> tuple[Any, ...]:
        return _ext.six_batch_diagnostics(
            kp, km, triples[rows, 0], triples[rows, 1], triples[rows, 2], *ctl.args())

    kind = Kind(
        judged_batch=judged, plain_batch=plain, width=6,
        describe=lambda flat: describe_point(flat, r.shape, triples[where[flat]]),
        bar="six integrals", not_finite="rho, z and zp must be finite",
        not_finite_valid=("valid points have finite rho, z and zp (for an infinite one the "
                          "compiled call returns a row of NaN or of zeros without saying so)"),
        nan_rows="rows of NaN", verdict_texts={})
    # The figures come from the diagnostics batch: always when asked for, and
    # for the verdict as long as the batch function is the genuine one.
    values, figures = evaluate(
        kind, triples, where, r.shape, refused, not_finite, rtol=ctl.rtol, invalid=mode,
        judged=diagnostics or (verdict and _accel.near_interface_six_batch is _GENUINE_BATCH),
        judge=verdict, finite_rows=False,
        advice=f"A larger depth (now {depth!r}) or more gauss_nodes (now {gauss_nodes!r}) "
               "may resolve them; invalid='nan' gives them rows of NaN and diagnostics=True "
               "returns the per-point figures.",
        workers=workers, chunk_size=chunk_size, progress=progress, stacklevel=2)
    out = values[where].reshape(r.shape + (6,))
    if diagnostics:
        return out, figures.figures()
    return out
