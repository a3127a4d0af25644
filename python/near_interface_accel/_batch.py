"""The friendly front of the compiled batch: broadcasting, de-duplication,
the Gauss rule, thread limits, chunks and progress."""

from __future__ import annotations

import contextlib
import math
import operator
import os
import warnings
from collections.abc import Iterator
from numbers import Complex, Real
from typing import Any, Literal, Protocol

import numpy as np
from numpy.typing import ArrayLike, NDArray

import _near_interface_accel as _accel

__all__ = ["six_integrals", "gauss_rule", "RTOL_FLOOR"]

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


def _describe_point(flat: int, shape: tuple[int, ...], triple: NDArray[np.float64]) -> str:
    rho, z, zp = (float(v) for v in triple)
    values = f"rho={rho!r}, z={z!r}, zp={zp!r}"
    if not shape:
        return f"the point has {values}"
    index = tuple(int(i) for i in np.unravel_index(flat, shape))
    return f"point {index} of the broadcast shape {shape} has {values}"


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
) -> NDArray[np.complex128]:
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
        non-finite ones): 'raise' (the default) refuses the whole batch with
        ValueError before any integral is evaluated; 'nan' evaluates the
        valid points and gives every invalid point a row of complex NaN.

    Returns
    -------
    numpy.ndarray of complex128, shape ``broadcast(rho, z, zp).shape + (6,)``
        ``out[..., c]`` is integral c at each point. Channel 0 has the
        dimension 1/length, channel 1 length, channel 2 none, channels 3, 4
        and 5 1/length.

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
        "rotated tail did not go quiet inside the panel budget", passed on
        from the compiled module; no partial result is returned.
    TypeError
        Complex or non-numeric heights, a float ``depth`` or ``gauss_nodes``.
    ImportError
        When progress is asked for without tqdm installed.

    Notes
    -----
    Each distinct triple (compared bit for bit) is evaluated once and its row
    copied to every point that shares it, so the result at each point is
    bit-identical to a direct call of the compiled module on that point.

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
    """
    kp, km = _media(k_p, k_m)
    rtol_v, lam_v, detour_v, gx, gw = _controls(rtol, gauss_nodes, lam_mult, detour)
    workers = _count("workers", workers)
    chunk_size = _count("chunk_size", chunk_size)
    if invalid not in ("raise", "nan"):
        raise ValueError(f"invalid must be 'raise' or 'nan', got {invalid!r}")
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
            values = batch(todo)
        for start in range(0, n, step):
            rows = todo[start:start + step]
            values[rows] = batch(rows)
            if bar is not None:
                bar.update(rows.size)
    return values[where].reshape(r.shape + (6,))
