"""The diagnostics batch of _near_interface_ext: its rows are the batch entry's
bit for bit (reference rows, thousands of random triples over many media and
controls, on the SIMD lanes and on the scalar path), its validation is the
batch entry's, a row whose tail does not go quiet is NaN instead of an error,
and its figures count what the integration did."""
import json
import os
import pathlib
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import _near_interface_accel as accel
import _near_interface_ext as ext

GX, GW = np.polynomial.legendre.leggauss(8)
GX4, GW4 = np.polynomial.legendre.leggauss(4)
DATA = pathlib.Path(__file__).resolve().parents[1] / "data" / "interface_reference.json"
TAIL = "rotated tail did not go quiet inside the panel budget"


def both(k_p, k_m, rho, z, zp, rtol=1e-8, lam_mult=10.0, depth=20, detour=0.1, gx=GX, gw=GW):
    args = (k_p, k_m, rho, z, zp, rtol, lam_mult, depth, detour, gx, gw)
    return accel.near_interface_six_batch(*args), ext.six_batch_diagnostics(*args)


def same_bits(a, b):
    return a.shape == b.shape and a.tobytes() == b.tobytes()


def random_triples(seed, n, rho_top=100.0):
    """rho log-uniform up to rho_top with some zeros, heights with some on the interface."""
    rng = np.random.default_rng(seed)
    rho = np.where(rng.random(n) < 0.1, 0.0, 10 ** rng.uniform(-2, np.log10(rho_top), n))
    z = np.where(rng.random(n) < 0.3, 0.0, 10 ** rng.uniform(-2, 1, n))
    zp = np.where(rng.random(n) < 0.3, 0.0, -(10 ** rng.uniform(-2, 1.3, n)))
    rho[(z == 0) & (zp == 0) & (rho == 0)] = 1.0
    return rho, z, zp


def test_result_layout():
    rows, nodes, limit_panels, limit_error, all_quiet, condition = ext.six_batch_diagnostics(
        1.0, 2 - 0.5j, [0.0, 1.0, 2.0], [0.5] * 3, [-0.1] * 3, 1e-8, 10.0, 20, 0.1, GX, GW)
    assert rows.shape == (3, 6) and rows.dtype == np.complex128 and rows.flags.c_contiguous
    for a, dtype in ((nodes, np.int64), (limit_panels, np.int64), (limit_error, np.float64),
                     (all_quiet, np.bool_), (condition, np.float64)):
        assert a.shape == (3,) and a.dtype == dtype
    rows, *figures = ext.six_batch_diagnostics(1.0, 2.0, [], [], [], 1e-8, 10.0, 20, 0.1, GX, GW)
    assert rows.shape == (0, 6) and all(f.shape == (0,) for f in figures)


def test_reference_rows_are_bit_identical_and_resolved():
    groups = {}
    for r in json.loads(DATA.read_text())["rows"]:
        groups.setdefault((r["k_p"], complex(*r["k_m"])), []).append((r["rho"], r["z"], r["zp"]))
    for (k_p, k_m), pts in groups.items():
        rho, z, zp = (np.array(c) for c in zip(*pts))
        plain, (rows, nodes, limit_panels, limit_error, all_quiet, _) = both(k_p, k_m, rho, z, zp)
        assert same_bits(plain, rows), (k_p, k_m)
        assert all_quiet.all() and (limit_panels == 0).all() and (limit_error == 0).all()
        assert (nodes > 0).all() and (nodes % 8 == 0).all()


# Lower media (k_p = 1) and controls: lossy, lossless, high contrast, plasmonic,
# near eps = -1, a good conductor; tolerances, rules and depths that bisect to
# the limit and ones that do not.
MEDIA = [2 - 0.5j, np.sqrt(4 - 1j), 1.5, 0.7, 9.0, np.sqrt(-2 - 0.1j), np.sqrt(-1.02 - 0.005j),
         np.sqrt(1 - 1e4j)]
CONTROLS = [
    dict(),
    dict(rtol=1e-6, gx=GX4, gw=GW4),
    dict(rtol=1e-10, lam_mult=6.0, detour=0.3),
    dict(depth=2),
    dict(rtol=1e-13, depth=1, gx=np.array([0.0]), gw=np.array([2.0])),
]


IDS = ["default", "rtol 1e-6, 4 nodes", "rtol 1e-10, lam 6, detour 0.3", "depth 2",
       "1 node, depth 1, rtol 1e-13"]


def check_random_rows(controls, per_medium, seed):
    for i, k_m in enumerate(MEDIA):
        rho, z, zp = random_triples(seed + i, per_medium, rho_top=100.0 if abs(k_m) < 50 else 2.0)
        plain, result = both(1.0, complex(k_m), rho, z, zp, **controls)
        assert same_bits(plain, result[0]), (k_m, controls)
        assert result[4].all()


@pytest.mark.parametrize("controls", CONTROLS, ids=IDS)
def test_random_rows_are_bit_identical(controls):
    # 8 media x 100 triples per control set: 4000 rows in all
    check_random_rows(controls, 100, 100)


@pytest.mark.slow
@pytest.mark.parametrize("controls", CONTROLS, ids=IDS)
def test_more_random_rows_are_bit_identical(controls):
    check_random_rows(controls, 1000, 1000)


CHILD = textwrap.dedent("""
    import sys
    import numpy as np
    sys.path.insert(0, {here!r})
    from test_diagnostics_batch import both, random_triples, same_bits, MEDIA
    ok = True
    for i, k_m in enumerate(MEDIA[:4]):
        for depth in (20, 2):
            plain, result = both(1.0, complex(k_m), *random_triples(200 + i, 120), depth=depth)
            ok = ok and same_bits(plain, result[0])
    print("identical" if ok else "DIFFERENT")
""")


def test_rows_are_bit_identical_on_the_scalar_path_too():
    env = dict(os.environ, NIA_SCALAR="1")
    out = subprocess.run([sys.executable, "-c", CHILD.format(here=os.path.dirname(__file__))],
                         env=env, capture_output=True, text=True, timeout=600)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "identical"


NAN = float("nan")


@pytest.mark.parametrize("rho, z, zp, gx, gw", [
    (np.zeros((2, 1)), [1.0], [-1.0], GX, GW),
    ([1.0], [1.0, 2.0], np.zeros((1, 1, 1)), GX, GW),
    ([1.0, 2.0], [1.0, 2.0], [-1.0], GX, GW),
    ([1.0], [-1.0], [-1.0], GX[:3], GW),
    ([], [], [], [], []),
    ([1.0, 1.0], [0.5, -0.5], [-1.0, -1.0], GX, GW),
    ([1.0], [NAN], [-1.0], GX, GW),
    ([1.0], [0.5], [0.25], GX, GW),
    ([2.0, -1.0], [0.5, 0.5], [-0.25, -0.25], GX, GW),
    ([0.0], [0.0], [0.0], GX, GW),
    ([NAN], [0.5], [-0.5], GX, GW),
])
def test_validation_is_the_batch_entry_s(rho, z, zp, gx, gw):
    args = (1.0, 2 - 0.5j, rho, z, zp, 1e-6, 10.0, 8, 0.1, gx, gw)
    with pytest.raises(ValueError) as expected:
        accel.near_interface_six_batch(*args)
    with pytest.raises(ValueError) as got:
        ext.six_batch_diagnostics(*args)
    assert str(got.value) == str(expected.value)


# Separated heights make every tail value underflow to zero, so even rtol = 0
# lets the tail go quiet; touching heights keep the tail loud for ever.
QUIET = (0.0, 0.0, -1e4)
LOUD = (0.0, 0.5, -0.25)


def test_a_tail_that_does_not_go_quiet_gives_a_nan_row_not_an_error():
    rho, z, zp = (np.array(v) for v in zip(QUIET, LOUD, QUIET))
    with pytest.raises(RuntimeError, match=TAIL):
        accel.near_interface_six_batch(1.0, 2 - 0.5j, rho, z, zp, 0.0, 10.0, 0, 0.1, GX, GW)
    rows, nodes, limit_panels, limit_error, all_quiet, _ = ext.six_batch_diagnostics(
        1.0, 2 - 0.5j, rho, z, zp, 0.0, 10.0, 0, 0.1, GX, GW)
    assert all_quiet.tolist() == [True, False, True]
    assert np.isnan(rows[1].real).all() and np.isnan(rows[1].imag).all()
    quiet = accel.near_interface_six_batch(1.0, 2 - 0.5j, rho[[0]], z[[0]], zp[[0]], 0.0, 10.0,
                                           0, 0.1, GX, GW)
    assert same_bits(rows[[0, 2]], np.vstack([quiet, quiet]))
    # the failed ray took its whole budget of 90 panels, 3 rule calls each at depth 0
    assert nodes[1] > 90 * 3 * 8


def test_nodes_count_every_rule_call():
    probe = pytest.importorskip("_near_interface_probe")
    rho, z, zp = random_triples(5, 60)
    # the probe counts the calls of the three-piece path: triples on its side
    # of the far range
    near = np.array([not probe.far_range_applies(1.0, 2 - 0.5j, *t) for t in zip(rho, z, zp)])
    rho, z, zp = rho[near], z[near], zp[near]
    assert rho.size > 30
    for depth in (20, 3):
        args = (1.0, 2 - 0.5j, rho, z, zp, 1e-8, 10.0, depth, 0.1, GX, GW)
        calls = probe.rule_calls(*args)
        assert (ext.six_batch_diagnostics(*args)[1] == calls.sum(axis=1) * 8).all()


def test_limit_figures_appear_only_when_the_depth_runs_out():
    rho, z, zp = random_triples(6, 200)
    _, _, at_20, err_20, _, _ = ext.six_batch_diagnostics(1.0, 2 - 0.5j, rho, z, zp, 1e-8, 10.0, 20,
                                                       0.1, GX, GW)
    _, _, at_0, err_0, _, _ = ext.six_batch_diagnostics(1.0, 2 - 0.5j, rho, z, zp, 1e-8, 10.0, 0, 0.1,
                                                     GX, GW)
    assert (at_20 == 0).all() and (err_20 == 0).all()
    # with no bisection at all every piece is one panel at the limit: most miss rtol
    assert (at_0 > 0).mean() > 0.9
    assert ((at_0 > 0) == (err_0 > 0)).all()


def test_short_depth_at_large_rho_is_flagged_by_its_figures_and_far_rows_are_not():
    # k_p rho = 30 on the interface over lossy ground, on the three-piece path:
    # the segment's J0 oscillates faster than depth 3 resolves, so panels stop
    # at the limit with an error estimate far above rtol.
    k_m = complex(np.sqrt(4 - 1j))
    _, _, limit_panels, limit_error, all_quiet, _ = ext.six_batch_diagnostics(
        1.0, k_m, [30.0], [0.0], [0.0], 1e-8, 10.0, 3, 0.1, GX, GW)
    assert all_quiet[0] and limit_panels[0] > 10 and limit_error[0] > 1.0
    # k_p rho = 1e5 takes the far range: a few hundred nodes, nothing at the limit
    _, nodes, limit_panels, limit_error, all_quiet, _ = ext.six_batch_diagnostics(
        1.0, k_m, [1e5], [0.0], [0.0], 1e-8, 10.0, 10, 0.1, GX, GW)
    assert all_quiet[0] and limit_panels[0] == 0 and limit_error[0] == 0.0 and nodes[0] < 2000


def test_interpreter_lock_is_released_during_the_loop():
    # progress of the main thread while the call runs, not time (as for the batch entry)
    n = 400
    rho, z, zp = np.zeros(n), np.linspace(0.01, 0.02, n), np.zeros(n)
    started, done = threading.Event(), threading.Event()

    def work():
        started.set()
        ext.six_batch_diagnostics(1.0, 2 - 0.5j, rho, z, zp, 1e-13, 10.0, 25, 0.1, GX, GW)
        done.set()

    worker = threading.Thread(target=work)
    worker.start()
    assert started.wait(60)
    steps = 0
    while steps < 200 and not done.is_set():
        time.sleep(0)           # give the lock up; taking it back needs the worker to let go
        steps += 1
    finished_first = done.is_set()
    worker.join()
    assert not finished_first, "the call ended before the main thread took %d steps" % steps


# The condition of a row (its largest channel's summed panel modulus over its
# largest channel): about 1 on the axis (J0 = 1, a kernel of nearly one phase),
# and on the far range's cuts, where the lower cut counts with its factor
# e^{Im k_m rho} (without it the row over lossy ground would read e^{500});
# large along the J0 form on the interface, whose panels alternate in sign.
@pytest.mark.parametrize("k_m", [2 - 0.5j, 3 - 0.01j, 9.0])
@pytest.mark.parametrize("entry", ["six", "magnetic", "electric vertical"])
def test_the_condition_measures_cancellation_along_the_path(k_m, entry):
    rho, z, zp = np.array([0.0, 10.0, 1000.0]), np.array([0.5, 0.0, 0.0]), np.array([-0.1, 0, 0])
    if entry == "six":
        res = ext.six_batch_diagnostics(1.0, k_m, rho, z, zp, 1e-8, 10.0, 20, 0.1, GX, GW)
    else:
        res = ext.dipole_field_batch(1.0, k_m, entry, rho, z, zp, 1e-8, 10.0, 20, 0.1, GX, GW)
    axis, interface, far = res[5]
    assert 1.0 <= axis < 1.5 and 1.0 <= far < 1.2
    assert 30.0 < interface < 1e5
    # the sum of the moduli bounds the modulus of the sum: never below 1
    again = ext.six_batch_diagnostics(1.0, k_m, *random_triples(5, 200), 1e-10, 10.0, 20,
                                      0.1, GX, GW)[5]
    assert np.all(again >= 1.0) and np.all(np.isfinite(again))
