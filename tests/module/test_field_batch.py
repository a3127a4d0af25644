"""The compiled field batch _near_interface_ext.dipole_field_batch: its tuple,
its validation (the batch entry's, in the same order and words), the row of a
tail that does not go quiet, and the lane path against the scalar one."""
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import _near_interface_accel as accel
import _near_interface_ext as ext

GX, GW = np.polynomial.legendre.leggauss(8)
K_M = 2.0 - 0.5j
RHO = np.array([0.0, 0.5, 3.0, 40.0])
Z = np.array([0.5, 0.0, 0.2, 1.0])
ZP = np.array([-0.25, -0.1, 0.0, -0.5])


def batch(source, rho=RHO, z=Z, zp=ZP, rtol=1e-8, depth=20, gx=GX, gw=GW):
    return ext.dipole_field_batch(1.0, K_M, source, rho, z, zp, rtol, 10.0, depth, 0.1, gx, gw)


@pytest.mark.parametrize("source, alias, columns", [("electric", 0, ext.ELECTRIC_COLUMNS),
                                                    ("magnetic", 1, ext.MAGNETIC_COLUMNS)])
def test_tuple_layout_and_source_by_name_or_number(source, alias, columns):
    values, nodes, limit_panels, limit_error, quiet, _ = batch(source)
    assert values.shape == (4, columns) and values.dtype == np.complex128
    assert nodes.dtype == limit_panels.dtype == np.int64 and limit_error.dtype == np.float64
    assert quiet.dtype == np.bool_ and quiet.all()
    assert np.all(nodes > 0) and np.all(nodes % 8 == 0)
    assert np.all(limit_panels == 0) and np.all(limit_error == 0)
    again = batch(alias)
    assert np.array_equal(again[0], values) and np.array_equal(again[1], nodes)
    assert (ext.ELECTRIC_COLUMNS, ext.MAGNETIC_COLUMNS) == (10, 11)


@pytest.mark.parametrize("source, error", [("loop", ValueError), (6, ValueError),
                                           (-1, ValueError), (2**70, ValueError),
                                           ("electric x", ValueError), (True, TypeError),
                                           (1.0, TypeError), (None, TypeError)])
def test_a_source_that_is_neither_is_refused(source, error):
    with pytest.raises(error, match=r'source must be "electric" or "magnetic" \(or 0 or 1\), or '
                                    r'one of them followed by " vertical" or " horizontal" '
                                    r'\(2 to 5\)'):
        batch(source)


# (source, its number, the columns it integrates)
ORIENTATIONS = [("electric vertical", 2, [0, 1, 2]),
                ("electric horizontal", 3, [0, 3, 4, 5, 6, 7, 8, 9]),
                ("magnetic vertical", 4, [0, 1, 2]),
                ("magnetic horizontal", 5, [3, 4, 5, 6, 7, 8, 9, 10])]


@pytest.mark.parametrize("source, number, columns", ORIENTATIONS)
def test_one_orientation_integrates_its_own_columns(source, number, columns):
    full = batch(source.split()[0], rtol=1e-11)[0]
    values, nodes, _, _, quiet, _ = batch(source, rtol=1e-11)
    assert values.shape == full.shape and quiet.all()
    others = np.setdiff1d(np.arange(full.shape[1]), columns)
    assert np.all(values[:, others] == 0)
    scale = np.abs(full[:, columns]).max(axis=1)
    assert np.all(np.abs(values[:, columns] - full[:, columns]).max(axis=1) <= 1e-9 * scale)
    assert np.array_equal(batch(number, rtol=1e-11)[0], values)


# (rho, z, zp, gx, gw) of inputs both batches refuse, each with its message
BAD = [
    ([1.0], [0.5, 0.5], [-0.1], GX, GW),
    ([1.0], [-0.5], [-0.1], GX, GW),
    ([1.0], [0.5], [0.1], GX, GW),
    ([np.nan], [0.5], [-0.1], GX, GW),
    ([0.0], [0.0], [0.0], GX, GW),
    ([1.0], [0.5], [-0.1], GX, GW[:3]),
    ([[1.0]], [[0.5]], [[-0.1]], GX, GW),
]


@pytest.mark.parametrize("rho, z, zp, gx, gw", BAD)
def test_validation_is_the_batch_entry_s(rho, z, zp, gx, gw):
    with pytest.raises(Exception) as six_error:
        accel.near_interface_six_batch(1.0, K_M, rho, z, zp, 1e-8, 10.0, 20, 0.1, gx, gw)
    with pytest.raises(type(six_error.value)) as field_error:
        ext.dipole_field_batch(1.0, K_M, "electric", rho, z, zp, 1e-8, 10.0, 20, 0.1, gx, gw)
    assert str(field_error.value) == str(six_error.value)


def test_a_tail_that_does_not_go_quiet_gives_a_row_of_nan():
    # a negative rtol keeps every tail panel loud, so the ray of rho = 0 runs out of
    # panels (on the Hankel rays the factors give out first, far along)
    rho, z, zp = np.zeros(3), np.array([0.5, 0.0, 1.0]), np.array([-0.25, -0.1, 0.0])
    values, nodes, _, limit_error, quiet, _ = batch("magnetic", rho, z, zp, rtol=-1.0, depth=0)
    assert not quiet.any()
    assert np.isnan(values).all()
    assert np.all(nodes > 0) and np.all(np.isfinite(limit_error))


def test_depth_limited_rows_report_their_panels():
    values, nodes, limit_panels, limit_error, quiet, _ = batch("electric", rtol=1e-12, depth=1)
    assert quiet.all() and np.isfinite(values).all()
    assert np.all(limit_panels > 0)
    # the summed estimates, relative to the row's largest integral
    assert np.all(np.isfinite(limit_error) & (limit_error > 0))
    loose = batch("electric", rtol=1e-6, depth=1)
    assert np.all(loose[2] <= limit_panels)


def test_rows_do_not_depend_on_the_thread_count():
    rng = np.random.default_rng(5)
    rho = rng.uniform(0, 20, 40)
    z = rng.uniform(0, 2, 40)
    zp = -rng.uniform(0, 2, 40)
    code = textwrap.dedent(f"""
        import numpy as np, _near_interface_ext as ext
        gx, gw = np.polynomial.legendre.leggauss(8)
        rho, z, zp = (np.array(v) for v in ({rho.tolist()}, {z.tolist()}, {zp.tolist()}))
        out = ext.dipole_field_batch(1.0, {K_M!r}, "electric", rho, z, zp, 1e-8, 10.0, 20, 0.1,
                                     gx, gw)
        print(out[0].tobytes().hex())
    """)
    runs = [subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                           env=dict(os.environ, OMP_NUM_THREADS=n), timeout=300).stdout
            for n in ("1", "2")]
    assert runs[0] == runs[1]


@pytest.mark.parametrize("source", ["electric", "magnetic"])
def test_lanes_agree_with_the_scalar_path(source):
    rng = np.random.default_rng(6)
    rho = np.concatenate([[0.0, 1e-9], rng.uniform(0, 30, 30)])
    z = rng.uniform(0, 2, rho.size)
    zp = -rng.uniform(0, 1, rho.size)
    code = textwrap.dedent(f"""
        import numpy as np, _near_interface_ext as ext
        gx, gw = np.polynomial.legendre.leggauss(8)
        rho, z, zp = (np.array(v) for v in ({rho.tolist()}, {z.tolist()}, {zp.tolist()}))
        out = ext.dipole_field_batch(1.0, {K_M!r}, {source!r}, rho, z, zp, 1e-10, 10.0, 20, 0.1,
                                     gx, gw)
        np.save(__import__("sys").stdout.buffer, out[0])
    """)

    def run(scalar):
        env = dict(os.environ, NIA_SCALAR="1" if scalar else "0")
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, check=True,
                             env=env, timeout=300).stdout
        import io
        return np.load(io.BytesIO(out))

    lanes, scalar = run(False), run(True)
    err = np.abs(lanes - scalar).max(axis=1) / np.abs(scalar).max(axis=1)
    assert err.max() <= 1e-10


@pytest.mark.parametrize("source", ["electric horizontal", "magnetic horizontal"])
def test_low_frequency_horizontal_columns_meet_tight_tolerances(source):
    # Wet ground at 1 kHz in metres (k_p 2.1e-5, k_m 0.0063 - 0.0063j), the point
    # 1 m up and 1 m out, the source 0.5 m deep: lambda runs to some 40 while
    # gamma_p - gamma_m is of order k_m^2 / lambda. Formed directly it was noise
    # of 1e-8 of the horizontal columns, every panel bisected to the depth limit
    # below rtol 1e-8, and a point took 160 million nodes (30 s) at rtol 1e-10.
    k_p, k_m = 2.0958450219516817e-05, 0.006283534865807889 - 0.006282835767160502j
    rows = {}
    for rtol in (1e-8, 1e-10, 1e-12):
        values, nodes, limit_panels, _, quiet, _ = ext.dipole_field_batch(
            k_p, k_m, source, [1.0], [1.0], [-0.5], rtol, 10.0, 20, 0.1, GX, GW)
        assert quiet.all() and limit_panels[0] == 0 and nodes[0] < 20_000
        rows[rtol] = values[0]
    scale = np.abs(rows[1e-12]).max()
    assert np.abs(rows[1e-10] - rows[1e-12]).max() <= 1e-10 * scale
    assert np.abs(rows[1e-8] - rows[1e-12]).max() <= 1e-8 * scale


@pytest.mark.parametrize("source, j1_columns", [("electric", [1, 2, 5, 9]),
                                                ("magnetic", [1, 2, 6, 10])])
@pytest.mark.parametrize("z, zp", [(0.1, -0.05), (0.0, -0.01), (0.64, -0.63)])
def test_rows_next_to_the_axis_tend_to_the_axis_row(source, j1_columns, z, zp):
    # Close to the axis the two Hankel rays' H1 halves are some 1/(rho lambda)^2
    # times their sum J1: at rho = 1e-9 they lost 1e-2 of the row. The tail takes
    # one ray with the J factors there; the J1 columns grow like rho, the others
    # tend to the row on the axis.
    axis, tiny, twice = (batch(source, [r], [z], [zp], rtol=1e-12)[0][0] for r in (0.0, 1e-9, 2e-9))
    scale = np.abs(axis).max()
    others = [c for c in range(axis.size) if c not in j1_columns]
    assert np.abs(tiny[others] - axis[others]).max() <= 1e-10 * scale
    assert np.abs(axis[j1_columns]).max() == 0.0
    assert np.abs(twice[j1_columns] - 2 * tiny[j1_columns]).max() <= 1e-6 * np.abs(tiny[j1_columns]).max()


@pytest.mark.parametrize("source", ["electric", "magnetic"])
def test_rows_are_smooth_where_the_tail_changes_its_rays(source):
    # the tail's single Bessel ray hands over to the Hankel pair where rho passes
    # (z - zp) / 40 (0.00375 here): a jump in the third differences of a fine
    # sweep across it would show the seam; neither side is costly
    rho = 0.0035 * (1 + np.arange(30) * 0.005)
    rows, nodes, limit_panels, _, _, _ = batch(source, rho, np.full(rho.size, 0.1),
                                            np.full(rho.size, -0.05), rtol=1e-12)
    third = np.abs(np.diff(rows, n=3, axis=0)).max()
    assert third <= 1e-10 * np.abs(rows).max()
    assert np.all(limit_panels == 0) and nodes.max() < 3 * nodes.min()
