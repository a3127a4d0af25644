"""The verdict of six_integrals: silent on resolved rows, one warning naming
the unresolved ones, NaN for them with invalid='nan', the per-point figures
with diagnostics=True, the tail error passed on by default, and the plain
batch when the verdict is off or the batch function replaced."""
import json
import pathlib
import re
import warnings

import numpy as np
import pytest

import _near_interface_accel as accel
import _near_interface_ext as ext
import near_interface_accel as nia

K_P, K_M = 1.0, 2.0 - 0.5j
GX, GW = np.polynomial.legendre.leggauss(8)
TAIL = "rotated tail did not go quiet inside the panel budget"
DATA = pathlib.Path(__file__).resolve().parents[1] / "data" / "interface_reference.json"


def direct(rho, z, zp, depth=20):
    r, h, hp = (np.ravel(a) for a in np.broadcast_arrays(*(np.asarray(v, float)
                                                          for v in (rho, z, zp))))
    return accel.near_interface_six_batch(K_P, K_M, r, h, hp, 1e-8, 10.0, depth, 0.1, GX, GW)


def unresolved_warnings(caught):
    return [w for w in caught if issubclass(w.category, nia.UnresolvedRowWarning)]


def test_reference_rows_at_default_controls_are_silent():
    rows = json.loads(DATA.read_text())["rows"]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for r in rows:
            out, figures = nia.six_integrals(r["k_p"], complex(*r["k_m"]), r["rho"], r["z"],
                                             r["zp"], diagnostics=True)
            assert not figures.unresolved and figures.limit_panels == 0


# At depth 1 half of these points are unresolved (rho = 30 at either height,
# rho = 2 on the interface) and half resolved: the figures decide.
GRID = (np.array([[0.0], [30.0], [2.0]]), np.array([0.0, 5.0]), -0.1)


@pytest.mark.parametrize("chunk_size", [None, 1])
def test_one_warning_counts_and_names_the_unresolved_points(chunk_size):
    rho, z, zp = GRID
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        out, figures = nia.six_integrals(K_P, K_M, rho, z, zp, depth=1, chunk_size=chunk_size,
                                         diagnostics=True)
    [w] = unresolved_warnings(caught)
    assert w.filename == __file__          # attributed to the caller's line
    bad = np.argwhere(figures.unresolved)
    assert 0 < len(bad) < figures.unresolved.size
    text = str(w.message)
    assert text.startswith(f"{len(bad)} of 6 points were not resolved to rtol=1e-08")
    named = re.findall(r"point (\(\d+, \d+\)) of the broadcast shape \(3, 2\) has rho=", text)
    assert named == [str(tuple(int(i) for i in b)) for b in bad[:3]]
    assert "depth (now 1)" in text and "invalid='nan'" in text
    # the rows are returned as computed: the compiled call's, bit for bit
    np.testing.assert_array_equal(out.reshape(-1, 6), direct(rho, z, zp, depth=1))


def test_more_than_three_unresolved_points_are_counted_not_all_named():
    rho = np.linspace(20.0, 40.0, 7)
    with pytest.warns(nia.UnresolvedRowWarning, match=r"^7 of 7 points .*; 4 more\.") as rec:
        nia.six_integrals(K_P, K_M, rho, 0.0, 0.0, depth=1)
    assert len(rec) == 1 and str(rec[0].message).count("has rho=") == 3


def test_invalid_nan_turns_unresolved_rows_into_nan():
    rho, z, zp = GRID
    with pytest.warns(nia.UnresolvedRowWarning, match="they are NaN"):
        out, figures = nia.six_integrals(K_P, K_M, rho, z, zp, depth=1, invalid="nan",
                                         diagnostics=True)
    bad = figures.unresolved
    assert np.isnan(out[bad].real).all() and np.isnan(out[bad].imag).all()
    np.testing.assert_array_equal(out[~bad], direct(rho, z, zp, depth=1).reshape(3, 2, 6)[~bad])


def test_figures_follow_the_broadcast_shape_and_the_diagnostics_batch():
    rho = np.array([[1.0, 0.0, 1.0], [5.0, 1.0, -1.0]])          # a repeat and an invalid point
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        out, figures = nia.six_integrals(K_P, K_M, rho, 0.5, -0.1, invalid="nan",
                                         diagnostics=True)
    assert isinstance(figures, nia.RowDiagnostics)
    assert all(f.shape == (2, 3) for f in figures)
    valid = rho >= 0
    _, nodes, limit_panels, limit_error, all_quiet, condition = ext.six_batch_diagnostics(
        K_P, K_M, rho[valid], [0.5] * 5, [-0.1] * 5, 1e-8, 10.0, 20, 0.1, GX, GW)
    np.testing.assert_array_equal(figures.condition[valid], condition)
    assert np.isnan(figures.condition[1, 2])
    np.testing.assert_array_equal(figures.nodes[valid], nodes)
    np.testing.assert_array_equal(figures.limit_panels[valid], limit_panels)
    np.testing.assert_array_equal(figures.limit_error[valid], limit_error)
    np.testing.assert_array_equal(figures.all_quiet[valid], all_quiet)
    # the point never evaluated
    assert figures.nodes[1, 2] == 0 and np.isnan(figures.limit_error[1, 2])
    assert not figures.all_quiet[1, 2] and not figures.unresolved[1, 2]
    assert np.isnan(out[1, 2]).all()


def test_a_single_point_gives_zero_dimensional_figures():
    out, figures = nia.six_integrals(K_P, K_M, 1.0, 0.5, -0.1, diagnostics=True)
    assert out.shape == (6,) and all(f.shape == () for f in figures)


class FailingRay:
    """Stands in for the diagnostics batch: the rows of the real one, with the
    tail of the triples at `fail` reported as not quiet (and NaN)."""

    def __init__(self, fail):
        self.fail, self.calls = fail, 0

    def __call__(self, k_p, k_m, rho, *rest):
        self.calls += 1
        rows, nodes, limit_panels, limit_error, all_quiet, _ = REAL_DIAGNOSTICS(k_p, k_m, rho, *rest)
        hit = np.isin(rho, self.fail)
        rows[hit] = complex(np.nan, np.nan)
        all_quiet[hit] = False
        return rows, nodes, limit_panels, limit_error, all_quiet


REAL_DIAGNOSTICS = ext.six_batch_diagnostics


def test_a_tail_that_does_not_go_quiet_raises_and_names_the_point(monkeypatch):
    double = FailingRay([2.0])
    monkeypatch.setattr(ext, "six_batch_diagnostics", double)
    with pytest.raises(RuntimeError) as info:
        nia.six_integrals(K_P, K_M, [0.0, 1.0, 2.0, 3.0, 2.0], 0.5, -0.1, chunk_size=2)
    assert str(info.value).startswith(
        TAIL + ": point (2,) of the broadcast shape (5,) has rho=2.0, z=0.5, zp=-0.1.")
    assert double.calls == 2                # the chunk after the failure never ran


def test_with_invalid_nan_such_a_tail_gives_nan_rows_and_the_warning(monkeypatch):
    monkeypatch.setattr(ext, "six_batch_diagnostics", FailingRay([2.0]))
    with pytest.warns(nia.UnresolvedRowWarning, match="a tail ray did not go quiet"):
        out = nia.six_integrals(K_P, K_M, [1.0, 2.0], 0.5, -0.1, invalid="nan")
    assert np.isnan(out[1]).all()
    np.testing.assert_array_equal(out[0], direct(1.0, 0.5, -0.1)[0])


def test_verdict_off_calls_the_plain_batch_and_judges_nothing(monkeypatch):
    calls = []
    monkeypatch.setattr(ext, "six_batch_diagnostics", lambda *a: calls.append(a))
    rho, z, zp = GRID
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        out = nia.six_integrals(K_P, K_M, rho, z, zp, depth=1, verdict=False)
    assert calls == []
    np.testing.assert_array_equal(out.reshape(-1, 6), direct(rho, z, zp, depth=1))


def test_verdict_off_keeps_the_figures_when_asked_for(monkeypatch):
    monkeypatch.setattr(ext, "six_batch_diagnostics", FailingRay([2.0]))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        out, figures = nia.six_integrals(K_P, K_M, [1.0, 30.0], 0.0, 0.0, depth=1,
                                         invalid="nan", verdict=False, diagnostics=True)
        # ... and a tail that does not go quiet raises whatever invalid says
        with pytest.raises(RuntimeError, match=TAIL):
            nia.six_integrals(K_P, K_M, [2.0], 0.0, 0.0, invalid="nan", verdict=False,
                              diagnostics=True)
    assert (figures.limit_panels > 0).all() and not figures.unresolved.any()
    assert np.isfinite(out).all()


def test_a_replaced_batch_function_is_called_and_nothing_judged(monkeypatch):
    seen = []

    def double(*args):
        seen.append(len(args[2]))
        return accel_batch(*args)

    accel_batch = accel.near_interface_six_batch
    monkeypatch.setattr(accel, "near_interface_six_batch", double)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        nia.six_integrals(K_P, K_M, [1.0, 30.0], 0.0, 0.0, depth=1)
    assert seen == [2]


def test_depth_one_rows_known_to_be_wrong_are_all_flagged():
    # Against the 30-digit reference: every row that depth 1 gets wrong by
    # more than 1e-7 is flagged, and nothing at the default depth.
    for r in json.loads(DATA.read_text())["rows"]:
        ref = np.array([complex(*v) for v in r["values"]])
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", nia.UnresolvedRowWarning)
            out, figures = nia.six_integrals(r["k_p"], complex(*r["k_m"]), r["rho"], r["z"],
                                             r["zp"], depth=1, diagnostics=True)
        err = np.abs(out - ref).max() / np.abs(ref).max()
        if err > 1e-7:
            assert figures.unresolved, (r["regime"], r["rho"], err)


def test_dask_blocks_carry_the_verdict():
    pytest.importorskip("dask.array")
    lazy = nia.six_integrals_dask(K_P, K_M, [1.0, 30.0, 0.5, 40.0], 0.0, 0.0, chunks=2, depth=1,
                                  invalid="nan")
    with pytest.warns(nia.UnresolvedRowWarning):
        out = lazy.compute(scheduler="synchronous")
    assert np.isnan(out[[1, 3]]).all()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        lazy = nia.six_integrals_dask(K_P, K_M, [1.0, 30.0], 0.0, 0.0, depth=1, verdict=False)
        np.testing.assert_array_equal(lazy.compute(scheduler="synchronous"),
                                      direct([1.0, 30.0], 0.0, 0.0, depth=1))


@pytest.mark.parametrize("k_rho", [3e6, 1e7])
def test_far_rows_on_the_interface_are_silent_and_a_short_depth_is_flagged(k_rho):
    # Wrong by a factor of thousands and more on the J0 form, which took 20 s
    # to 2 min each and said nothing: the far range now takes them, in well
    # under a millisecond, and they are right (tests/pointwise/test_far_range.py).
    k_m = nia.wavenumber(1.0, 4 - 1j)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        out, figures = nia.six_integrals(1.0, k_m, k_rho, 0.0, 0.0, diagnostics=True)
    assert np.isfinite(out).all() and not figures.unresolved
    # On the J0 form's side of the criterion, a depth too small for rho is
    # the same failure, and is flagged.
    with pytest.warns(nia.UnresolvedRowWarning, match=r"^1 of 1 points"):
        nia.six_integrals(1.0, k_m, 30.0, 0.0, 0.0, depth=3)


# The cancellation rule: condition times 50 unit roundoffs against
# max(10 rtol, 1e-9), beside the limit-panel estimate against max(100 rtol,
# 1e-9); NaN figures are unresolved, a batch without conditions is judged
# without them.
@pytest.mark.parametrize("limit_error, condition, rtol, unresolved", [
    (0.0, 1.0, 1e-13, False),
    (0.0, 4.2e6, 1e-7, False),          # J0 rows right to 1e-10 carry such conditions
    (0.0, 3.0e6, 1e-9, True),           # the good conductor, wrong by 2.3e-8
    (0.0, 1.7e5, 1e-12, False),
    (0.0, 2.1e5, 1e-12, True),          # sea water, wrong by 4.7e-10
    (5e-7, 1.0, 1e-8, False),
    (2e-6, 1.0, 1e-8, True),
    (0.0, np.nan, 1e-8, True),
    (0.0, None, 1e-13, False),
])
def test_the_rule_for_cancelling_rows(limit_error, condition, rtol, unresolved):
    got = nia._verdict.row_unresolved(np.array([True]), np.array([limit_error]),
                                      None if condition is None else np.array([condition]), rtol)
    assert got.tolist() == [unresolved]


class Cancelling:
    """The real diagnostics batch with the condition of the triples at `rho`
    set to `condition`."""

    def __init__(self, rho, condition):
        self.rho, self.condition = rho, condition

    def __call__(self, k_p, k_m, rho, *rest):
        result = REAL_DIAGNOSTICS(k_p, k_m, rho, *rest)
        result[5][np.isin(rho, self.rho)] = self.condition
        return result


def test_a_cancelling_row_warns_says_why_and_becomes_nan_on_request(monkeypatch):
    monkeypatch.setattr(ext, "six_batch_diagnostics", Cancelling([2.0], 1e8))
    with pytest.warns(nia.UnresolvedRowWarning) as caught:
        out, figures = nia.six_integrals(K_P, K_M, [1.0, 2.0], 0.5, -0.1, invalid="nan",
                                         diagnostics=True)
    [w] = unresolved_warnings(caught)
    text = str(w.message)
    assert text.startswith("1 of 2 points were not resolved")
    assert "point (1,) of the broadcast shape (2,) has rho=2.0" in text
    assert "(cancellation: the integral is 1e-08 of the integrand summed, rounding leaves " \
           "about 5.6e-07)" in text
    assert figures.unresolved.tolist() == [False, True] and figures.condition[1] == 1e8
    assert np.isfinite(out[0]).all() and np.isnan(out[1]).all()


def test_dipole_fields_a_hair_above_a_good_conductor_warn_of_cancellation():
    f = nia.SPEED_OF_LIGHT / (2 * np.pi)                  # k_0 = 1 per metre
    air = nia.medium(f)
    conductor = nia.medium(f, eps_r=1.0, sigma=1e6 * 2 * np.pi * f * nia.EPSILON_0)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        nia.dipole_field(air, conductor, 1.0, 0.0, 0.0, -0.001, rtol=1e-8)
    with pytest.warns(nia.UnresolvedRowWarning, match=r"1 of 2 field points .* \(cancellation: "
                      r"the integral is 9e-08 of the integrand summed"):
        e, h = nia.dipole_field(air, conductor, [1.0, 3.0], 0.0, [0.0, 0.5], -0.001, rtol=1e-10,
                                invalid="nan")
    assert np.isnan(e[0]).all() and np.isfinite(e[1]).all()
