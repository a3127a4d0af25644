"""The point engine behind every friendly call: checks of the controls,
broadcast points, distinct triples, refusal of invalid points, chunks timed
so that Ctrl-C is heard, OpenMP thread limits, progress and the verdict.

A caller (six integrals, dipole fields) says what differs: the compiled batch
to call, how a point is described and what its refusals read like. Every
piece of state lives in one call's own objects; only the cache of Gauss rules
is shared, and it is filled idempotently.
"""

from __future__ import annotations

import contextlib
import math
import operator
import os
import time
import warnings
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from numbers import Complex, Real
from typing import Any, Literal, Protocol

import numpy as np
from numpy.typing import ArrayLike, NDArray

from ._verdict import RowVerdict

# The smallest rtol the friendly calls accept. Timed on single points with the
# default controls (lossy and lossless grounds, a high-contrast case, points on
# the interface, rho from 0 to 100): the cost of a point stays within a factor
# of ten of its cost at rtol 1e-12 down to 1e-13; at 1e-14 it grows 40 to 2700
# times (up to 8.5 s for one point), at 1e-15 a single point takes some 40 s,
# and at 1e-16 it does not finish. Below this floor the panels ask for more
# than double precision resolves, and every interval bisects to the depth limit.
RTOL_FLOOR = 1e-13

# What each of the compiled module's point tests asks for, said so that a user
# can mend the point.
VALID_POINT = {
    "need z >= 0 >= zp": "valid points have z >= 0 (the field point in the upper medium) and "
                         "zp <= 0 (the source in the lower medium), neither of them NaN",
    "need R > 0": "valid points have rho >= 0 and do not coincide with the source: rho > 0 "
                  "or z > zp, and no NaN",
}

# With progress shown and no chunk size given, no compiled call takes more
# than about this fraction of the batch, so the bar moves in steps of about
# one percent.
_PROGRESS_STEPS = 100
# Never fewer than this many triples per OpenMP thread in one call, so that
# the start of each parallel loop stays a small part of its cost.
_MIN_TRIPLES_PER_THREAD = 4
# Default chunks: the compiled call holds no Python frame (it releases the
# GIL and cannot see signals), so a Ctrl-C is heard only between calls. The
# first call takes a few triples per thread and each next one is sized from
# the time per triple measured so far, aiming at this many seconds, growing by
# at most _MAX_GROWTH at a time.
_FIRST_TRIPLES_PER_THREAD = 16
_CHUNK_SECONDS = 0.25
_MAX_GROWTH = 4.0


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


def media(k_p: float, k_m: complex) -> tuple[float, complex]:
    """Check the two wavenumbers and return them as the compiled calls take them."""
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


def count(name: str, value: int | None) -> int | None:
    """A positive int, or None."""
    if value is None:
        return None
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int or None")
    n = operator.index(value)
    if n < 1:
        raise ValueError(f"{name} must be at least 1 (or None), got {n}")
    return n


def flag(name: str, value: bool) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be True or False, got {type(value).__name__}")
    return bool(value)


def invalid_mode(invalid: str) -> Literal["raise", "nan"]:
    if invalid not in ("raise", "nan"):
        raise ValueError(f"invalid must be 'raise' or 'nan', got {invalid!r}")
    return "raise" if invalid == "raise" else "nan"


@dataclass(frozen=True)
class Controls:
    """The numerical controls as the compiled calls take them."""

    rtol: float
    lam_mult: float
    depth: int
    detour: float
    gx: NDArray[np.float64]
    gw: NDArray[np.float64]

    def args(self) -> tuple[Any, ...]:
        return self.rtol, self.lam_mult, self.depth, self.detour, self.gx, self.gw


def controls(rtol: float, gauss_nodes: int, depth: int, lam_mult: float,
             detour: float) -> Controls:
    """Check the numerical controls the compiled calls do not range-test.

    A NaN or non-positive rtol, or a NaN or non-positive lam_mult, does not
    fail there: it silently truncates or misplaces the integration path.
    ``depth`` is left to the compiled call's own caster (its TypeError names
    the function users know).
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
    return Controls(rtol_v, lam_v, depth, detour_v, gx, gw)


def real_array(name: str, value: ArrayLike) -> NDArray[np.float64]:
    a = np.asarray(value)
    if a.dtype.kind == "c":
        raise TypeError(f"{name} must be real, got a complex array")
    if a.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be a real number or array of them, got dtype {a.dtype}")
    return a.astype(np.float64, copy=False)


def broadcast(names: tuple[str, ...], values: tuple[ArrayLike, ...]
              ) -> list[NDArray[np.float64]]:
    """The coordinates as float64 arrays of their common broadcast shape (views)."""
    arrays = [real_array(n, v) for n, v in zip(names, values)]
    try:
        return list(np.broadcast_arrays(*arrays))
    except ValueError:
        shapes = ", ".join(str(a.shape) for a in arrays)
        listed = ", ".join(names[:-1]) + " and " + names[-1]
        raise ValueError(f"{listed} cannot be broadcast together: shapes {shapes}") from None


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


def rejected(triples: NDArray[np.float64]) -> tuple[NDArray[np.bool_], NDArray[np.bool_]]:
    """Which triples the compiled call's validation would refuse, and which of
    the others are not finite (an infinite rho, z or zp passes that validation
    and comes back as a row of NaN)."""
    rho, z, zp = triples[:, 0], triples[:, 1], triples[:, 2]
    with np.errstate(invalid="ignore"):
        ok = (z >= 0) & ~(zp > 0) & (rho >= 0) & ((z - zp) + rho > 0)
    refused = ~ok
    return refused, ~refused & ~np.isfinite(triples).all(axis=1)


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
                      RuntimeWarning, stacklevel=4)
        yield
        return
    with controller.limit(limits=workers, user_api="openmp"):
        yield


@contextlib.contextmanager
def _progress_bar(show: bool, total: int, desc: str) -> Iterator[_Bar | None]:
    if not show:
        yield None
        return
    try:
        from tqdm.auto import tqdm  # type: ignore[import-untyped, unused-ignore]
    except ImportError:
        raise ImportError("progress=True needs tqdm: pip install tqdm "
                          "(or the package's 'progress' extra)") from None
    with tqdm(total=total, unit="point", desc=desc) as bar:
        yield bar


def chunks(n: int, chunk_size: int | None, progress: bool, workers: int | None
           ) -> Iterator[slice]:
    """Slices of the n triples to evaluate, one per compiled call.

    A given ``chunk_size`` cuts fixed slices. Otherwise the slices are timed:
    each one aims at _CHUNK_SECONDS from the time per triple of the one
    before, so that a Ctrl-C is heard within a fraction of a second whatever
    a triple costs, while no call is so short that the OpenMP team idles.
    """
    if chunk_size is not None:
        for start in range(0, n, chunk_size):
            yield slice(start, start + chunk_size)
        return
    threads = workers or os.cpu_count() or 1
    least = _MIN_TRIPLES_PER_THREAD * threads
    most = max(n, 1)
    if progress:
        most = max(-(-n // _PROGRESS_STEPS), least, 1)
    size = min(max(_FIRST_TRIPLES_PER_THREAD * threads, least), most)
    start = 0
    while start < n:
        began = time.perf_counter()
        yield slice(start, start + size)
        took = time.perf_counter() - began
        start += size
        growth = _MAX_GROWTH if took <= 0.0 else min(_CHUNK_SECONDS / took, _MAX_GROWTH)
        size = int(min(max(size * growth, least), most))


@dataclass(frozen=True)
class Kind:
    """What differs between the friendly calls: the compiled batch, the words
    for its points and values."""

    # (rows) -> the compiled diagnostics-shaped result for those triples:
    # (values, nodes, limit_panels, limit_error, all_quiet)
    judged_batch: Callable[[NDArray[np.intp]], tuple[Any, ...]]
    # (rows) -> the plain compiled call, whose ValueError and TypeError are
    # passed on word for word
    plain_batch: Callable[[NDArray[np.intp]], Any]
    width: int
    describe: Callable[[int], str]           # a point by its flat index
    bar: str                                 # the progress bar's label
    not_finite: str                          # message for a non-finite point
    not_finite_valid: str                    # ... and what a valid point is
    nan_rows: str                            # "rows of NaN", "fields of NaN"
    verdict_texts: dict[str, str]


def refusal(kind: Kind, message: str, flat: int) -> ValueError:
    valid = VALID_POINT.get(message, "")
    if message == kind.not_finite:
        valid = kind.not_finite_valid
    text = f"{message}: {kind.describe(flat)}"
    if valid:
        text += f"; {valid}"
    return ValueError(text + f". Pass invalid='nan' to get {kind.nan_rows} for such points "
                             "instead of this error.")


def evaluate(kind: Kind, triples: NDArray[np.float64], where: NDArray[np.intp],
             shape: tuple[int, ...], refused: NDArray[np.bool_], not_finite: NDArray[np.bool_],
             *, rtol: float, invalid: Literal["raise", "nan"], judged: bool, judge: bool,
             finite_rows: bool, advice: str, workers: int | None, chunk_size: int | None,
             progress: bool, stacklevel: int) -> tuple[NDArray[np.complex128], RowVerdict]:
    """Values per distinct triple (rows of ``kind.width``), settled by the
    verdict, and the verdict itself (for its figures).

    ``judged`` False calls the plain batch and records nothing.
    """
    skipped = refused | not_finite
    # The triples handed to the compiled call: all of them, or only the sound
    # ones when invalid points are to get values of NaN.
    todo = np.flatnonzero(~skipped) if invalid == "nan" else np.arange(triples.shape[0])
    n = todo.size
    verdict = RowVerdict(triples, where, shape, rtol=rtol, invalid=invalid, judge=judge,
                         advice=advice, describe=kind.describe, finite_rows=finite_rows,
                         nan_rows=kind.nan_rows, **kind.verdict_texts)

    def call(rows: NDArray[np.intp]) -> Any:
        if not judged:
            return kind.plain_batch(rows)
        try:
            result = kind.judged_batch(rows)
        except TypeError:
            # An argument the casters refuse (a float depth): the plain
            # batch's own TypeError, word for word, which names the function
            # users know. It fails in the same conversion, before any work.
            kind.plain_batch(rows)
            raise
        return verdict.record(rows, result)

    with _progress_bar(progress, where.size, kind.bar) as bar, openmp_threads(workers):
        if invalid == "raise" and skipped.any():
            # Distinct triples are in order of first appearance, so the first
            # skipped one belongs to the first invalid point in C order.
            bad = int(np.flatnonzero(skipped)[0])
            flat = int(np.flatnonzero(where == bad)[0])
            message = kind.not_finite
            if refused[bad]:
                # The compiled module refuses the triple with its own message.
                try:
                    kind.plain_batch(np.array([bad]))
                except ValueError as exc:
                    message = str(exc)
            raise refusal(kind, message, flat) from None
        values = np.full((triples.shape[0], kind.width), complex(np.nan, np.nan),
                         dtype=np.complex128)
        if triples.shape[0] == 0:
            values = np.asarray(call(todo)).reshape(0, kind.width)
        # The bar counts the points asked for: a triple stands for every point
        # that shares it, and a skipped one is done at once.
        points = np.bincount(where, minlength=triples.shape[0]) if bar is not None else None
        if bar is not None and points is not None and invalid == "nan" and skipped.any():
            bar.update(int(points[skipped].sum()))
        for part in chunks(n, chunk_size, progress, workers):
            rows = todo[part]
            values[rows] = call(rows)
            if bar is not None and points is not None:
                bar.update(int(points[rows].sum()))
    if judged:
        values = verdict.settle(values, stacklevel=stacklevel + 1)
    return values, verdict
