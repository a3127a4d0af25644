"""The friendly front of the compiled batch: broadcasting, de-duplication,
the Gauss rule, thread limits, chunks, progress and the per-row verdict."""

from __future__ import annotations

import contextlib
import math
import operator
import os
import warnings
from collections.abc import Iterator
from numbers import Complex, Real
from typing import Any, Literal, Protocol, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

import _near_interface_accel as _accel
import _near_interface_ext as _ext

from ._verdict import RowDiagnostics, RowVerdict, describe_point

__all__ = ["six_integrals", "gauss_rule", "RTOL_FLOOR"]

# The compiled batch as imported. The verdict needs the figures of the
# diagnostics batch, whose rows are bit for bit this function's; while the
# module attribute is replaced (a test double, an instrumented build) the
# friendly call calls the replacement instead and judges nothing.
_GENUINE_BATCH = _accel.near_interface_six_batch

# The smallest rtol the friendly call accepts. Timed on single points with the
# default controls (lossy and lossless grounds, a high-contrast case, points on
# the interface, rho from 0 to 100): the cost of a point stays within a factor
# of ten of its cost at rtol 1e-12 down to 1e-13; at 1e-14 it grows 40 to 2700
# times (up to 8.5 s for one point), at 1e-15 a single point takes some 40 s,
# and at 1e-16 it does not finish. Below this floor the panels ask for more
# than double precision resolves, and every interval bisects to the depth limit.
RTOL_FLOOR = 1e-13

# What each of the compiled module's point tests asks for, said so that a user
# can mend the point.
_VALID_POINT = {
    "need z >= 0 >= zp": "valid points have z >= 0 (the field point in the upper medium) and "
                         "zp <= 0 (the source in the lower medium), neither of them NaN",
    "need R > 0": "valid points have rho >= 0 and do not coincide with the source: rho > 0 "
                  "or z > zp, and no NaN",
}
_NOT_FINITE = "rho, z and zp must be finite"

# With progress shown and no chunk size given, a batch is cut into about this
# many calls, so the bar moves in steps of about one percent.
_PROGRESS_STEPS = 100
# ... but never into calls of fewer than this many triples per OpenMP thread,
# so that the start of each parallel loop stays a small part of its cost.
_MIN_TRIPLES_PER_THREAD = 4


class _Bar(Protocol):
    def update(self, n: int) -> Any: ...


# Rules built so far, by node count (a handful in practice; bounded all the same).
_RULES: dict[int, tuple[NDArray[np.float64], NDArray[np.float64]]] = {}
_MAX_RULES = 32


def gauss_rule(gauss_nodes: int) -> tuple[NDArray[np.float64], NDArray[np.float64]]:
    """Gauss-Legendre nodes and weights on [-1, 1] (read-only arrays).

    This is the rule :func:`six_integrals` hands to every panel of the
    compiled integration.

    Parameters
    ----------
    gauss_nodes : int
        Number of nodes, at least 1.

    Returns
    -------
    nodes, weights : numpy.ndarray of float64
        Both of length ``gauss_nodes``, read-only, shared between calls.

    Raises
    ------
    ValueError
        For fewer than one node.
    TypeError
        For a count that is not an int.

    Examples
    --------
    >>> nodes, weights = gauss_rule(3)
    >>> nodes
    array([-0.77459667,  0.        ,  0.77459667])
    >>> weights * 9
    array([5., 8., 5.])
    """
    if isinstance(gauss_nodes, bool):
        raise TypeError("gauss_nodes must be an int")
    n = operator.index(gauss_nodes)
    if n < 1:
        raise ValueError(f"gauss_nodes must be at least 1, got {n}")
    rule = _RULES.get(n)
    if rule is None:
        if len(_RULES) >= _MAX_RULES:
            _RULES.clear()
        gx, gw = np.polynomial.legendre.leggauss(n)
        gx.setflags(write=False)
        gw.setflags(write=False)
        rule = _RULES.setdefault(n, (gx, gw))
    return rule


def _media(k_p: float, k_m: complex) -> tuple[float, complex]:
    """Check the two wavenumbers and return them as the compiled call takes them."""
    for name, value in (("k_p", k_p), ("k_m", k_m)):
        if isinstance(value, bool) or not isinstance(value, Complex):
            raise TypeError(f"{name} must be a number, got {type(value).__name__}")
    kp = complex(k_p)
    km = complex(k_m)
    if kp.imag != 0.0 or not (math.isfinite(kp.real) and kp.real > 0.0):
        raise ValueError(
            f"k_p must be a positive, finite real wavenumber (the upper medium is "
            f"lossless), got {k_p!r}")
    if not (math.isfinite(km.real) and math.isfinite(km.imag)):
        raise ValueError(f"k_m must be finite, got {k_m!r}")
    if km.imag > 0.0:
        raise ValueError(
            f"k_m = {km} has a positive imaginary part. With the exp(+j omega t) "
            f"time convention of this package a lossy lower medium has Im(k_m) < 0; "
            f"near_interface_accel.wavenumber(k0, eps_r, mu_r) returns that branch.")
    return kp.real, km


def _positive(name: str, value: float) -> float:
    if isinstance(value, bool) or not isinstance(value, Real):
        raise TypeError(f"{name} must be a real number, got {type(value).__name__}")
    v = float(value)
    if not (math.isfinite(v) and v > 0.0):
        raise ValueError(f"{name} must be positive and finite, got {value!r}")
    return v


def _count(name: str, value: int | None) -> int | None:
    if value is None:
        return None
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int or None")
    n = operator.index(value)
    if n < 1:
        raise ValueError(f"{name} must be at least 1 (or None), got {n}")
    return n


def _flag(name: str, value: bool) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be True or False, got {type(value).__name__}")
    return bool(value)


def _controls(rtol: float, gauss_nodes: int, lam_mult: float, detour: float
              ) -> tuple[float, float, float, NDArray[np.float64], NDArray[np.float64]]:
    """Check the numerical controls the compiled call does not range-test.

    A NaN or non-positive rtol, or a NaN or non-positive lam_mult, does not
    fail there: it silently truncates or misplaces the integration path.
    """
    rtol_v = _positive("rtol", rtol)
    if rtol_v < RTOL_FLOOR:
        raise ValueError(
            f"rtol = {rtol!r} is below {RTOL_FLOOR:g}, the smallest tolerance double "
            f"precision resolves here: below it the adaptive panels bisect to their depth "
            f"limit and a single point takes seconds to minutes. Use rtol >= {RTOL_FLOOR:g}.")
    lam_v = _positive("lam_mult", lam_mult)
    if isinstance(detour, bool) or not isinstance(detour, Real):
        raise TypeError(f"detour must be a real number, got {type(detour).__name__}")
    detour_v = float(detour)
    if not math.isfinite(detour_v):
        raise ValueError(f"detour must be finite, got {detour!r}")
    gx, gw = gauss_rule(gauss_nodes)
    return rtol_v, lam_v, detour_v, gx, gw


def _real_array(name: str, value: ArrayLike) -> NDArray[np.float64]:
    a = np.asarray(value)
    if a.dtype.kind == "c":
        raise TypeError(f"{name} must be real, got a complex array")
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be a real number or array of them, got dtype {a.dtype}")
    return a.astype(np.float64, copy=False)


def broadcast_points(rho: ArrayLike, z: ArrayLike, zp: ArrayLike
                     ) -> tuple[NDArray[np.float64], NDArray[np.float64], NDArray[np.float64]]:
    """rho, z and zp as float64 arrays of their common broadcast shape (views)."""
    arrays = [_real_array(n, v) for n, v in (("rho", rho), ("z", z), ("zp", zp))]
    try:
        r, h, hp = np.broadcast_arrays(*arrays)
    except ValueError:
        shapes = ", ".join(str(a.shape) for a in arrays)
        raise ValueError(f"rho, z and zp cannot be broadcast together: shapes {shapes}") from None
    return r, h, hp


def distinct_triples(rho: NDArray[np.float64], z: NDArray[np.float64], zp: NDArray[np.float64]
                     ) -> tuple[NDArray[np.float64], NDArray[np.intp]]:
    """The distinct (rho, z, zp) triples in order of first appearance, and the
    index of each point's triple among them.

    Triples are compared bit for bit, so every point gets exactly the row a
    direct call on its own triple would give (also for -0.0 and NaN), and the
    first invalid triple of the batch is also the first one the compiled call
    sees.
    """
    points = np.empty((rho.size, 3), dtype=np.float64)
    points[:, 0] = rho.reshape(-1)
    points[:, 1] = z.reshape(-1)
    points[:, 2] = zp.reshape(-1)
    if points.shape[0] == 0:
        return points, np.zeros(0, dtype=np.intp)
    keys = points.view(np.dtype((np.void, points.itemsize * 3))).reshape(-1)
    _, first, inverse = np.unique(keys, return_index=True, return_inverse=True)
    order = np.argsort(first, kind="stable")
    rank = np.empty_like(order)
    rank[order] = np.arange(order.size)
    return points[first[order]], rank[inverse.reshape(-1)]


def _rejected(triples: NDArray[np.float64]) -> tuple[NDArray[np.bool_], NDArray[np.bool_]]:
    """Which triples the compiled call's validation would refuse, and which of
    the others are not finite (an infinite rho, z or zp passes that validation
    and comes back as a row of NaN)."""
    rho, z, zp = triples[:, 0], triples[:, 1], triples[:, 2]
    with np.errstate(invalid="ignore"):
        ok = (z >= 0) & ~(zp > 0) & (rho >= 0) & ((z - zp) + rho > 0)
    refused = ~ok
    return refused, ~refused & ~np.isfinite(triples).all(axis=1)


_describe_point = describe_point


def _refuse_point(compiled_message: str, flat: int, shape: tuple[int, ...],
                  triple: NDArray[np.float64]) -> ValueError:
    valid = _VALID_POINT.get(compiled_message, "")
    if compiled_message == _NOT_FINITE:
        valid = ("valid points have finite rho, z and zp (for an infinite one the "
                 "compiled call returns a row of NaN or of zeros without saying so)")
    text = f"{compiled_message}: {_describe_point(flat, shape, triple)}"
    if valid:
        text += f"; {valid}"
    return ValueError(text + ". Pass invalid='nan' to get rows of NaN for such points "
                             "instead of this error.")


@contextlib.contextmanager
def openmp_threads(workers: int | None) -> Iterator[None]:
    """Limit the OpenMP team of the compiled calls made inside the block.

    None leaves the runtime's default (OMP_NUM_THREADS, else all cores). The
    previous setting is restored on leaving, also after an error or Ctrl-C.
    The setting belongs to the calling thread, so concurrent calls from
    different Python threads do not disturb each other.
    """
    if workers is None:
        yield
        return
    from threadpoolctl import ThreadpoolController  # type: ignore[import-untyped, unused-ignore]

    controller = ThreadpoolController().select(user_api="openmp")
    if not controller.lib_controllers:
        warnings.warn("no OpenMP runtime found in this process: workers= has no effect",
                      RuntimeWarning, stacklevel=3)
        yield
        return
    with controller.limit(limits=workers, user_api="openmp"):
        yield


@contextlib.contextmanager
def _progress_bar(show: bool, total: int, desc: str = "six integrals") -> Iterator[_Bar | None]:
    if not show:
        yield None
        return
    try:
        from tqdm.auto import tqdm  # type: ignore[import-untyped, unused-ignore]
    except ImportError:
        raise ImportError("progress=True needs tqdm: pip install tqdm "
                          "(or the package's 'progress' extra)") from None
    with tqdm(total=total, unit="triple", desc=desc) as bar:
        yield bar


def _step(n: int, chunk_size: int | None, progress: bool, workers: int | None) -> int:
    if chunk_size is not None:
        return chunk_size
    if not progress:
        return max(n, 1)
    threads = workers or os.cpu_count() or 1
    return max(-(-n // _PROGRESS_STEPS), _MIN_TRIPLES_PER_THREAD * threads, 1)


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
        is returned). None evaluates the batch in one call, or in steps of
        about one percent when ``progress`` is set.
    progress : bool
        Show a tqdm progress bar over the distinct triples (needs tqdm).
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
    kp, km = _media(k_p, k_m)
    rtol_v, lam_v, detour_v, gx, gw = _controls(rtol, gauss_nodes, lam_mult, detour)
    workers = _count("workers", workers)
    chunk_size = _count("chunk_size", chunk_size)
    if invalid not in ("raise", "nan"):
        raise ValueError(f"invalid must be 'raise' or 'nan', got {invalid!r}")
    verdict = _flag("verdict", verdict)
    diagnostics = _flag("diagnostics", diagnostics)
    r, h, hp = broadcast_points(rho, z, zp)
    triples, where = distinct_triples(r, h, hp)
    refused, not_finite = _rejected(triples)
    skipped = refused | not_finite
    # The triples handed to the compiled call: all of them, or only the sound
    # ones when invalid points are to become rows of NaN.
    todo = np.flatnonzero(~skipped) if invalid == "nan" else np.arange(triples.shape[0])
    n = todo.size
    step = _step(n, chunk_size, progress, workers)

    def batch(rows: NDArray[np.intp]) -> NDArray[np.complex128]:
        # The module is looked up at each call, so a replaced batch function
        # (a test double, an instrumented build) is honoured.
        return _accel.near_interface_six_batch(
            kp, km, triples[rows, 0], triples[rows, 1], triples[rows, 2],
            rtol_v, lam_v, depth, detour_v, gx, gw)

    # The figures come from the diagnostics batch: always when asked for, and
    # for the verdict as long as the batch function is the genuine one.
    judged = diagnostics or (verdict and _accel.near_interface_six_batch is _GENUINE_BATCH)
    rows_verdict = RowVerdict(
        triples, where, r.shape, rtol=rtol_v, invalid=invalid, judge=verdict,
        advice=f"A larger depth (now {depth!r}) or more gauss_nodes (now {gauss_nodes!r}) "
               "may resolve them; invalid='nan' gives them rows of NaN and diagnostics=True "
               "returns the per-point figures.")

    def judged_batch(rows: NDArray[np.intp]) -> NDArray[np.complex128]:
        try:
            result = _ext.six_batch_diagnostics(
                kp, km, triples[rows, 0], triples[rows, 1], triples[rows, 2],
                rtol_v, lam_v, depth, detour_v, gx, gw)
        except TypeError:
            # An argument the casters refuse (a float depth): the compiled
            # batch's own TypeError, word for word, which names the function
            # users know. It fails in the same conversion, before any work.
            batch(rows)
            raise
        return rows_verdict.record(rows, result)

    evaluate = judged_batch if judged else batch

    with _progress_bar(progress, n) as bar, openmp_threads(workers):
        if invalid == "raise" and skipped.any():
            # Distinct triples are in order of first appearance, so the first
            # skipped one belongs to the first invalid point in C order.
            bad = int(np.flatnonzero(skipped)[0])
            flat = int(np.flatnonzero(where == bad)[0])
            message = _NOT_FINITE
            if refused[bad]:
                # The compiled module refuses the triple with its own message,
                # before any chunk is evaluated.
                try:
                    batch(np.array([bad]))
                except ValueError as exc:
                    message = str(exc)
            raise _refuse_point(message, flat, r.shape, triples[bad]) from None
        values = np.full((triples.shape[0], 6), complex(np.nan, np.nan), dtype=np.complex128)
        if n == 0 and triples.shape[0] == 0:
            values = evaluate(todo)
        for start in range(0, n, step):
            rows = todo[start:start + step]
            values[rows] = evaluate(rows)
            if bar is not None:
                bar.update(rows.size)
    if judged:
        values = rows_verdict.settle(values, stacklevel=2)
    out = values[where].reshape(r.shape + (6,))
    if diagnostics:
        return out, rows_verdict.figures()
    return out
