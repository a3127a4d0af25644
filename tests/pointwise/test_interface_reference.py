"""The six integrals against independent high-precision reference values.

tests/data/interface_reference.json holds the integrals for about forty
triples, computed with mpmath at 30 digits along two contours of its own
(tests/reference/make_interface_reference.py regenerates it); each row also
records how well the two contours agreed.  Errors are measured per row,
against its largest channel:

    max_c |module_c - ref_c| <= 10 * rtol * max_c |ref_c|.

The worst error of each regime is printed after the module's tests (pytest -s).
"""
import json
import pathlib
from collections import defaultdict

import numpy as np
import pytest

import _near_interface_accel as accel

DATA = pathlib.Path(__file__).resolve().parents[1] / "data" / "interface_reference.json"
REFERENCE = json.loads(DATA.read_text())
ROWS = REFERENCE["rows"]

DEPTH = 20
LAM_MULT = 10.0
DETOUR = 0.1


def _values(row):
    return np.array([complex(re, im) for re, im in row["values"]])


def _k_m(row):
    return complex(*row["k_m"])


def _groups(rows):
    """Rows with the same media, so that one batch call serves them."""
    groups = defaultdict(list)
    for row in rows:
        groups[(row["regime"], row["k_p"], _k_m(row))].append(row)
    return list(groups.items())


def _row_errors(rows, rtol, nodes, lam_mult=LAM_MULT, detour=DETOUR):
    """Per row: (row, error relative to the row's largest channel)."""
    out = []
    gx, gw = np.polynomial.legendre.leggauss(nodes)
    for (_, k_p, k_m), group in _groups(rows):
        rho = np.array([r["rho"] for r in group])
        z = np.array([r["z"] for r in group])
        zp = np.array([r["zp"] for r in group])
        got = accel.near_interface_six_batch(k_p, k_m, rho, z, zp, rtol, lam_mult,
                                             DEPTH, detour, gx, gw)
        for row, values in zip(group, got):
            ref = _values(row)
            err = np.max(np.abs(values - ref)) / np.max(np.abs(ref))
            out.append((row, float(err)))
    return out


def _check(worst_errors, label, rows, rtol, nodes):
    errors = _row_errors(rows, rtol, nodes)
    for row, err in errors:
        worst_errors.record("%-14s %-22s rtol %-6g GL%-3d" % (label, row["regime"], rtol, nodes),
                            err, "(rho, z, zp) = %s" % ((row["rho"], row["z"], row["zp"]),))
    bad = [(row["regime"], row["rho"], row["z"], row["zp"], "%.2e" % err)
           for row, err in errors if not err <= 10 * rtol]
    assert not bad, "error above 10 * rtol = %g relative to the row: %s" % (10 * rtol, bad)


def _select(regimes, on_axis):
    rows = [r for r in ROWS if r["regime"] in regimes and (r["rho"] == 0) == on_axis]
    assert rows, "no reference rows for %s" % (regimes,)
    return rows


def test_reference_contours_agree():
    # The two contours of the generator must agree far below any tolerance
    # tested here, or the reference cannot judge the module.
    worst = max(ROWS, key=lambda r: r["agreement"])
    assert worst["agreement"] < 1e-20, worst
    assert all(r["contours"][c]["unconverged"] == 0 for r in ROWS for c in "AB")
    # Where the medium is homogeneous the generator also checked the closed forms.
    closed = [r["closed_form_agreement"] for r in ROWS if "closed_form_agreement" in r]
    assert closed and max(closed) < 1e-20


@pytest.mark.parametrize("regime", ["lossy 2-0.5j", "lossless 1.5"])
def test_on_axis_rows(regime, worst_errors):
    # rho = 0: one tail ray without a Bessel factor.
    _check(worst_errors, "rho = 0", _select([regime], on_axis=True), 1e-8, 8)


@pytest.mark.parametrize("regime", ["lossy 2-0.5j", "lossless 1.5", "lower than upper 0.7"])
def test_off_axis_rows(regime, worst_errors):
    # rho > 0: J0 on the detour and the axis, Hankel functions on the rays.
    rows = [r for r in _select([regime], on_axis=False)
            if 0.3 <= r["rho"] <= 40 and r["z"] - r["zp"] <= 30]
    _check(worst_errors, "rho > 0", rows, 1e-8, 8)


@pytest.mark.parametrize("nodes", [6, 12])
@pytest.mark.parametrize("rtol", [1e-6, 1e-10])
@pytest.mark.parametrize("regime", sorted({r["regime"] for r in ROWS}))
def test_every_row(regime, rtol, nodes, worst_errors):
    _check(worst_errors, "all rows", [r for r in ROWS if r["regime"] == regime], rtol, nodes)


@pytest.mark.parametrize("detour", [0.02, 1.0])
@pytest.mark.parametrize("lam_mult", [1.5, 3.0, 30.0])
def test_value_does_not_depend_on_the_path(lam_mult, detour):
    # Where the tail starts and how high the detour runs change the path,
    # not the integral, as long as the tail starts beyond both branch points.
    rtol = 1e-8
    errors = _row_errors(ROWS, rtol, 8, lam_mult=lam_mult, detour=detour)
    bad = [(row["regime"], row["rho"], row["z"], row["zp"], "%.2e" % err)
           for row, err in errors if not err <= 10 * rtol]
    assert not bad


def _reference_module():
    import sys
    folder = str(pathlib.Path(__file__).resolve().parents[1] / "reference")
    sys.path.insert(0, folder)
    try:
        import interface_integrals
    finally:
        sys.path.remove(folder)
    return interface_integrals


@pytest.mark.slow
@pytest.mark.parametrize("index", [0, 16, 38])
def test_stored_rows_are_reproduced(index):
    # The data file and its generator still agree (mpmath, a few seconds each).
    pytest.importorskip("mpmath")
    ii = _reference_module()
    row = ROWS[index]
    got = ii.reference_row(row["k_p"], _k_m(row), row["rho"], row["z"], row["zp"])
    ref = _values(row)
    assert np.max(np.abs(np.array(got["values"]) - ref)) <= 1e-15 * np.max(np.abs(ref))


@pytest.mark.slow
def test_reference_self_check():
    # Hankel functions through K0, both contours against the homogeneous
    # closed forms, and the channel-4 closed form against a derivative.
    pytest.importorskip("mpmath")
    for what, err in _reference_module().self_check():
        assert err < 1e-20, what
