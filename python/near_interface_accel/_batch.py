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
from typing import Any, Protocol

import numpy as np
from numpy.typing import ArrayLike, NDArray

import _near_interface_accel as _accel

__all__ = ["six_integrals", "gauss_rule"]

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


def _first_rejected(triples: NDArray[np.float64]) -> int | None:
    """Index of the first triple the compiled call's validation would refuse."""
    rho, z, zp = triples[:, 0], triples[:, 1], triples[:, 2]
    with np.errstate(invalid="ignore"):
        ok = (z >= 0) & ~(zp > 0) & (rho >= 0) & ((z - zp) + rho > 0)
    bad = np.flatnonzero(~ok)
    return int(bad[0]) if bad.size else None


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
def _progress_bar(show: bool, total: int) -> Iterator[_Bar | None]:
    if not show:
        yield None
        return
    try:
        from tqdm.auto import tqdm  # type: ignore[import-untyped, unused-ignore]
    except ImportError:
        raise ImportError("progress=True needs tqdm: pip install tqdm "
                          "(or the package's 'progress' extra)") from None
    with tqdm(total=total, unit="triple", desc="six integrals") as bar:
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
) -> NDArray[np.complex128]:
    """The six Sommerfeld-type integrals near a planar interface, for points
    (rho, z, zp) of any shape.

    Parameters
    ----------
    k_p : float
        Wavenumber of the upper medium (z >= 0), real and positive. A complex
        value with zero imaginary part (as :func:`wavenumber` returns) is
        accepted.
    k_m : complex
        Wavenumber of the lower medium (z <= 0), Im(k_m) <= 0 for a lossy
        medium; :func:`wavenumber` builds it from eps_r and mu_r.
    rho, z, zp : array_like of float
        Horizontal distance (>= 0), field height (>= 0) and source height
        (<= 0), in the reciprocal unit of the wavenumbers; scalars or arrays
        broadcast against each other.
    rtol : float
        Relative tolerance of every adaptive integration and of the tail's
        convergence test, positive.
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

    Returns
    -------
    numpy.ndarray of complex128, shape ``broadcast(rho, z, zp).shape + (6,)``
        ``out[..., c]`` is integral c at each point.

    Raises
    ------
    ValueError, RuntimeError, TypeError
        The compiled module's errors, unchanged in type and message: e.g.
        ValueError "need z >= 0 >= zp" or "need R > 0" for the first invalid
        point (in C order of the broadcast points), raised before any
        integral is evaluated, and RuntimeError "rotated tail did not go quiet
        inside the panel budget". Besides, ValueError or TypeError for
        wavenumbers, controls or shapes this layer refuses (a k_m with a
        positive imaginary part, a non-positive rtol, shapes that do not
        broadcast, complex heights). ImportError when progress is asked for
        without tqdm installed.

    Notes
    -----
    Each distinct triple (compared bit for bit) is evaluated once and its row
    copied to every point that shares it, so the result at each point is
    bit-identical to a direct call of the compiled module on that point.
    """
    kp, km = _media(k_p, k_m)
    rtol_v, lam_v, detour_v, gx, gw = _controls(rtol, gauss_nodes, lam_mult, detour)
    workers = _count("workers", workers)
    chunk_size = _count("chunk_size", chunk_size)
    r, h, hp = broadcast_points(rho, z, zp)
    triples, where = distinct_triples(r, h, hp)
    n = triples.shape[0]
    step = _step(n, chunk_size, progress, workers)

    def batch(rows: slice | NDArray[np.intp]) -> NDArray[np.complex128]:
        # The module is looked up at each call, so a replaced batch function
        # (a test double, an instrumented build) is honoured.
        return _accel.near_interface_six_batch(
            kp, km, triples[rows, 0], triples[rows, 1], triples[rows, 2],
            rtol_v, lam_v, depth, detour_v, gx, gw)

    with _progress_bar(progress, n) as bar, openmp_threads(workers):
        bad = _first_rejected(triples)
        if bad is not None:
            # Let the compiled module refuse the first invalid triple with its
            # own exception before any chunk is evaluated.
            batch(np.array([bad]))
        values = np.empty((n, 6), dtype=np.complex128)
        if n == 0:
            values = batch(slice(0, 0))
        for start in range(0, n, step):
            stop = min(start + step, n)
            values[start:stop] = batch(slice(start, stop))
            if bar is not None:
                bar.update(stop - start)
    return values[where].reshape(r.shape + (6,))
