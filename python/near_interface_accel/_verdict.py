"""The per-row verdict of a batch: which rows the integration did not resolve,
one warning that names them, NaN for them on request, and the per-row figures
for callers who want them.

A compiled diagnostics batch returns ``(rows, nodes, limit_panels,
limit_error, all_quiet, condition)`` for distinct triples (a batch of five
members, without ``condition``, is judged on the first four figures alone); :class:`RowVerdict` collects
those figures chunk by chunk (``record``), settles the verdict once all
chunks are in (``settle``) and gives the figures per point (``figures``).
"""

from __future__ import annotations

import warnings
from collections.abc import Callable
from typing import Any, Literal, NamedTuple

import numpy as np
from numpy.typing import NDArray

__all__ = ["UnresolvedRowWarning", "RowDiagnostics", "RowVerdict", "UNRESOLVED_FACTOR",
           "UNRESOLVED_FLOOR", "CANCELLATION_FACTOR", "unresolved_threshold",
           "cancellation_error", "cancellation_threshold", "row_unresolved", "describe_point"]

# A row is unresolved when the summed error estimate of its panels accepted at
# the depth limit exceeds UNRESOLVED_FACTOR times rtol, relative to the row's
# largest channel, but never less than UNRESOLVED_FLOOR. The estimate compares
# a panel's Gauss sum with its two halves', so it measures the error of the
# coarser of the two and runs 10 to 10^4 times above the error of the row,
# which keeps the finer. Measured (benchmarks/verdict_rates.py): at the default
# controls no right row reaches the depth limit with an estimate above 5.6e-9;
# rows known to be wrong (depth 1, one node, k_p rho of 1e6 and more on the
# interface) carry 8e-7 to 5e6, and all but 3 of 2,471 wrong depth-1 rows
# more than 1e-6. 10 rtol would flag nearly twice as many right rows at depth
# 1 and 3, 1000 rtol would miss 4 to 5% of the wrong ones. Near the rtol floor right
# rows carry up to 4.5e-10, while at rtol 1e-12 rows wrong by 7.5e-10 and more
# carry 1.7e-9 and more: hence the floor.
UNRESOLVED_FACTOR = 100.0
UNRESOLVED_FLOOR = 1e-9

# Cancellation. A row's condition is the largest channel's sum of the moduli
# of its accepted panels over its largest channel modulus: 1 when the
# integrand keeps one sign, up to 1e7 where the integral is a small remainder
# of what it sums. Each panel meets its tolerance relative to itself, but the
# rounding of the integrand values (the kernels' differences of nearly equal
# square roots, the Bessel factors) is relative to the panels too, so the row
# keeps about condition times that rounding, whatever rtol: a row is
# unresolved when condition * CANCELLATION_FACTOR * 2**-53 exceeds
# max(10 rtol, 1e-9). Measured (benchmarks/verdict_rates.py, default controls
# at every decade of rtol from 1e-4 to 1e-13): on the surface over a good
# conductor with the source a hair below (condition 3e6 to 1.3e7) the rows
# are wrong by 1.3e-9 to 3.3e-8, 3 to 45 roundoffs times the condition; over
# sea water (condition 1.4e5 to 3.1e5) by 4.5e-10 to 8e-10, 20 to 25 of them;
# right rows carry 5 to 8 (the dielectric and one medium, condition 130 to
# 270). Condition times rtol is no measure: J0 rows at large k rho and rows
# over conductors that are right to 1e-10 carry conditions of 1e5 to 4e6
# (4.2e6 at rtol 1e-7), far above 100 at every rtol. The estimate follows the
# error to a factor of a few, so it is held to the accuracy asked for, 10
# rtol, with the verdict's floor; 100 rtol missed the good conductor at rtol
# 1e-9. 200 roundoffs flag 2 to 3 right random rows at rtol 1e-9 and 1e-10
# (none of 3,400 to 3,480 with 50, nor of the 40 reference rows); 10 miss
# the good conductor at rtol 1e-9 and sea water at 1e-11 to 1e-13. With 50
# the cancelling field rows warn wherever they are wrong (15 of 16 row and
# rtol pairs, from 1e-9 on) but sea water's electric row at rtol 1e-11
# (estimate 1.0e-9, just below the floor; wrong by 4.5e-10), and its
# magnetic row warns at rtol 1e-10 where it is within 10 rtol (6e-10).
CANCELLATION_FACTOR = 50.0
CANCELLATION_RTOL_FACTOR = 10.0
_UNIT_ROUNDOFF = 2.0**-53

# Points named in the warning and the error.
_NAMED_POINTS = 3

_TAIL = "rotated tail did not go quiet inside the panel budget"
_NOT_FINITE_ROW = "the field integrals are not finite"


def unresolved_threshold(rtol: float) -> float:
    """The largest summed limit-panel error estimate, relative to the row's
    largest channel, that a row of tolerance ``rtol`` may carry and still
    count as resolved: ``max(100 rtol, 1e-9)``.

    Examples
    --------
    >>> unresolved_threshold(1e-8)
    1e-06
    >>> unresolved_threshold(1e-13)
    1e-09
    """
    return max(UNRESOLVED_FACTOR * rtol, UNRESOLVED_FLOOR)


def cancellation_error(condition: Any) -> NDArray[np.float64]:
    """The error, relative to the row's largest channel, that rounding leaves
    in a row of the given condition: ``condition * 50 * 2**-53``.

    Examples
    --------
    >>> f"{cancellation_error(1e6):.1e}"
    '5.6e-09'
    """
    return np.asarray(condition, dtype=np.float64) * (CANCELLATION_FACTOR * _UNIT_ROUNDOFF)


def cancellation_threshold(rtol: float) -> float:
    """The largest cancellation error a row of tolerance ``rtol`` may carry:
    ``max(10 rtol, 1e-9)``, the accuracy a row is held to, with the floor of
    :func:`unresolved_threshold`."""
    return max(CANCELLATION_RTOL_FACTOR * rtol, UNRESOLVED_FLOOR)


def row_unresolved(all_quiet: Any, limit_error: Any, condition: Any,
                   rtol: float) -> NDArray[np.bool_]:
    """The verdict per row: a tail ray did not go quiet, or the summed
    limit-panel error estimate exceeds :func:`unresolved_threshold` of
    ``rtol``, or the cancellation error of the row's condition
    :func:`cancellation_threshold` (a NaN figure included). ``condition``
    None judges without it."""
    threshold = unresolved_threshold(rtol)
    bad: NDArray[np.bool_] = (~np.asarray(all_quiet, dtype=np.bool_)
                              | ~(np.asarray(limit_error, dtype=np.float64) <= threshold))
    if condition is not None:
        bad |= ~(cancellation_error(condition) <= cancellation_threshold(rtol))
    return bad


class UnresolvedRowWarning(UserWarning):
    """Rows whose integration stopped short of the tolerance: panels accepted
    at the depth limit with a large error estimate, an integral cancelling so
    far below the integrand it sums that rounding alone exceeds the
    tolerance, or a tail ray that did not go quiet. Issued at most once per call; it counts the points and names
    the first few."""


class RowDiagnostics(NamedTuple):
    """Per-point figures of the integration, each an array of the broadcast
    shape of the points.

    Points that were not evaluated (invalid points with ``invalid='nan'``)
    have ``nodes`` and ``limit_panels`` 0, ``limit_error`` and ``condition``
    NaN, ``all_quiet`` False and ``unresolved`` False.
    """

    nodes: NDArray[np.int64]
    """Gauss nodes evaluated for the point's row, over the whole path."""
    limit_panels: NDArray[np.int64]
    """Panels accepted at the depth limit while their two estimates still
    differed by more than the tolerance."""
    limit_error: NDArray[np.float64]
    """Summed error estimate of those panels over the row's largest channel
    (0 when none)."""
    all_quiet: NDArray[np.bool_]
    """Every tail ray of the row went quiet within its panel budget."""
    unresolved: NDArray[np.bool_]
    """The verdict: a ray did not go quiet, or ``limit_error`` or
    :func:`cancellation_error` of ``condition`` exceeds
    :func:`unresolved_threshold` of the call's ``rtol``."""
    condition: NDArray[np.float64]
    """The largest channel's summed modulus of the accepted panels over the
    row's largest channel modulus: at least 1, about 1 for an integrand of one
    sign, large where the integral cancels far below its integrand."""


def _why(quiet: bool, limit_error: float, condition: float, threshold: float) -> str:
    """Why one row is unresolved, in the words of the warning."""
    if not quiet:
        return "a tail ray did not go quiet"
    if not (limit_error <= threshold):
        return f"estimated error {limit_error:.1e}"
    return (f"cancellation: the integral is {1.0 / condition:.0e} of the integrand summed, "
            f"rounding leaves about {float(cancellation_error(condition)):.1e}")


def describe_point(flat: int, shape: tuple[int, ...], triple: NDArray[np.float64]) -> str:
    """'point (i, j) of the broadcast shape (m, n) has rho=..., z=..., zp=...'."""
    rho, z, zp = (float(v) for v in triple)
    values = f"rho={rho!r}, z={z!r}, zp={zp!r}"
    if not shape:
        return f"the point has {values}"
    index = tuple(int(i) for i in np.unravel_index(flat, shape))
    return f"point {index} of the broadcast shape {shape} has {values}"


class RowVerdict:
    """The figures of a batch's distinct triples, filled chunk by chunk from a
    diagnostics batch, and the verdict on them.

    Parameters
    ----------
    triples : (n, 3) float64 array
        The distinct (rho, z, zp) triples of the call.
    where : intp array
        For every point of the broadcast shape (flattened, C order), the index
        of its triple in ``triples``.
    shape : tuple of int
        The broadcast shape of the points.
    rtol : float
        The call's tolerance, which sets the threshold.
    invalid : {'raise', 'nan'}
        'raise': a row whose ray did not go quiet raises RuntimeError as soon
        as its chunk is in; 'nan': unresolved rows become NaN.
    judge : bool
        False records the figures only: no warning and no NaN for unresolved
        rows, and a ray that did not go quiet raises whatever ``invalid`` says.
    advice : str
        What the caller can change, appended to the warning.
    describe : callable, optional
        A point by its flat index (default: its index, rho, z and zp).
    finite_rows : bool
        A row of a valid point that is not finite fails like a ray that did
        not go quiet (RuntimeError, or NaN with ``invalid='nan'``).
    nan_rows, what, largest, fate_nan, fate_kept, reasons : str
        The words of the error hint and of the warning.
    """

    def __init__(self, triples: NDArray[np.float64], where: NDArray[np.intp],
                 shape: tuple[int, ...], *, rtol: float, invalid: Literal["raise", "nan"],
                 judge: bool = True, advice: str = "",
                 describe: Callable[[int], str] | None = None, finite_rows: bool = False,
                 nan_rows: str = "rows of NaN", what: str = "points",
                 largest: str = "the row's largest channel",
                 fate_nan: str = "they are NaN",
                 fate_kept: str = "their rows are returned as computed",
                 reasons: str = "or a tail ray did not go quiet") -> None:
        self.triples, self.where, self.shape = triples, where, shape
        self.threshold = unresolved_threshold(rtol)
        self.rtol, self.invalid, self.judge, self.advice = rtol, invalid, judge, advice
        self.describe = describe or (lambda flat: describe_point(
            flat, self.shape, self.triples[self.where[flat]]))
        self.finite_rows, self.nan_rows, self.what = finite_rows, nan_rows, what
        self.largest, self.fate_nan, self.fate_kept = largest, fate_nan, fate_kept
        self.reasons = reasons
        # The chunks' figures as they came; gathered per triple only when a
        # row is unresolved or the figures are asked for, so that the common
        # case (every row resolved) costs a few comparisons per chunk.
        self._chunks: list[tuple[NDArray[np.intp], tuple[Any, ...]]] = []
        self._any_unresolved = False
        self._gathered: dict[str, NDArray[Any]] | None = None

    def record(self, rows: NDArray[np.intp], result: tuple[Any, ...]) -> NDArray[Any]:
        """Take the figures of the triples ``rows`` from a diagnostics batch's
        result and return its values (the first member).

        Raises RuntimeError, with the batch entry's message followed by the
        first such point, when a ray did not go quiet and rows are not to
        become NaN.
        """
        values, nodes, limit_panels, limit_error, all_quiet = result[:5]
        condition = result[5] if len(result) > 5 else None
        values = np.asarray(values)
        quiet = np.asarray(all_quiet, dtype=np.bool_)
        finite = (np.isfinite(values).all(axis=1) if self.finite_rows
                  else np.ones(quiet.shape, dtype=np.bool_))
        self._chunks.append((rows, (nodes, limit_panels, limit_error, all_quiet, finite,
                                    condition)))
        self._gathered = None
        failed = ~quiet | ~finite
        if failed.any():
            self._any_unresolved = True
            if self.invalid == "raise" or not self.judge:
                at = int(np.flatnonzero(failed)[0])
                first = int(rows[at])
                # The first point in C order whose triple failed.
                flat = int(np.flatnonzero(self.where == first)[0])
                hint = (f". Pass invalid='nan' to get {self.nan_rows} for such points instead "
                        "of this error." if self.judge else ".")
                what = _TAIL if not quiet[at] else _NOT_FINITE_ROW
                raise RuntimeError(f"{what}: {self.describe(flat)}" + hint)
        elif row_unresolved(quiet, limit_error, condition, self.rtol).any():
            self._any_unresolved = True
        return values

    def _per_triple(self) -> dict[str, NDArray[Any]]:
        """The figures gathered per distinct triple (unevaluated ones: 0
        nodes and panels, NaN error, not quiet)."""
        if self._gathered is None:
            n = self.triples.shape[0]
            g = {"nodes": np.zeros(n, dtype=np.int64),
                 "limit_panels": np.zeros(n, dtype=np.int64),
                 "limit_error": np.full(n, np.nan),
                 "all_quiet": np.zeros(n, dtype=np.bool_),
                 "finite": np.ones(n, dtype=np.bool_),
                 "condition": np.full(n, np.nan),
                 "judged_condition": np.zeros(n, dtype=np.bool_),
                 "evaluated": np.zeros(n, dtype=np.bool_)}
            for rows, (nodes, limit_panels, limit_error, all_quiet, finite,
                       condition) in self._chunks:
                g["nodes"][rows] = nodes
                g["limit_panels"][rows] = limit_panels
                g["limit_error"][rows] = limit_error
                g["all_quiet"][rows] = all_quiet
                g["finite"][rows] = finite
                if condition is not None:
                    g["condition"][rows] = condition
                    g["judged_condition"][rows] = True
                g["evaluated"][rows] = True
            self._gathered = g
        return self._gathered

    def unresolved(self) -> NDArray[np.bool_]:
        """Per distinct triple: evaluated, and a ray did not go quiet, the row
        is not finite (when finite rows are asked for), or the limit-panel
        error or the cancellation error exceeds its threshold (a NaN figure
        included; a row from a batch without conditions is judged without
        it)."""
        g = self._per_triple()
        condition = np.where(g["judged_condition"], g["condition"], 1.0)
        failed: NDArray[np.bool_] = ~g["finite"] | row_unresolved(
            g["all_quiet"], g["limit_error"], condition, self.rtol)
        return g["evaluated"] & failed

    def settle(self, values: NDArray[Any], *, stacklevel: int = 2) -> NDArray[Any]:
        """Warn once about unresolved points and turn their rows into NaN when
        asked to; returns the values (per distinct triple, rows along the
        first axis)."""
        if not (self.judge and self._any_unresolved):
            return values
        bad = self.unresolved()
        bad_points = bad[self.where]
        count = int(np.count_nonzero(bad_points))
        if count:
            warnings.warn(UnresolvedRowWarning(self._message(bad_points, count)),
                          stacklevel=stacklevel + 1)
            if self.invalid == "nan":
                values = values.copy()
                values[bad] = complex(np.nan, np.nan)
        return values

    def figures(self) -> RowDiagnostics:
        """The per-point figures in the broadcast shape."""
        g = self._per_triple()
        bad = self.unresolved() if self.judge else np.zeros_like(g["evaluated"])
        return RowDiagnostics(
            nodes=self._per_point(g["nodes"]),
            limit_panels=self._per_point(g["limit_panels"]),
            limit_error=self._per_point(g["limit_error"]),
            all_quiet=self._per_point(g["all_quiet"]),
            unresolved=self._per_point(bad),
            condition=self._per_point(g["condition"]),
        )

    def _per_point(self, a: NDArray[Any]) -> NDArray[Any]:
        return a[self.where].reshape(self.shape)

    def _message(self, bad_points: NDArray[np.bool_], count: int) -> str:
        named = []
        g = self._per_triple()
        for flat in np.flatnonzero(bad_points)[:_NAMED_POINTS]:
            t = int(self.where[flat])
            if g["all_quiet"][t] and not g["finite"][t]:
                why = "its integrals are not finite"
            else:
                why = _why(g["all_quiet"][t], g["limit_error"][t], g["condition"][t],
                           self.threshold)
            named.append(f"{self.describe(int(flat))} ({why})")
        more = f"; {count - len(named)} more" if count > len(named) else ""
        fate = self.fate_nan if self.invalid == "nan" else self.fate_kept
        text = (f"{count} of {bad_points.size} {self.what} were not resolved to "
                f"rtol={self.rtol:g}: panels accepted at the depth limit leave a summed error "
                f"estimate above {self.threshold:g} relative to {self.largest}, the integrals cancel "
                f"so far below their integrands that rounding leaves more than "
                f"{cancellation_threshold(self.rtol):g}, {self.reasons}; "
                f"{fate}. " + "; ".join(named) + more + ".")
        if self.advice:
            text += " " + self.advice
        return text
