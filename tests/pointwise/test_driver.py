"""The per-point driver: where the path runs, which pieces it integrates, how
the row is assembled."""
import math

import numpy as np
import pytest

import _near_interface_accel as accel
import _near_interface_probe as probe

C = [0.14285714285714285, 0.2857142857142857, 0.42857142857142855,
     0.5714285714285714, 0.7142857142857142, 0.8571428571428571]


def plan(k_p=1.0, k_m=2.0, rho=1.0, z=0.0, zp=0.0, lam_mult=10.0, detour=0.1):
    return probe.triple_plan(k_p, k_m, rho, z, zp, lam_mult, detour)


def test_break_points_around_both_wavenumbers():
    p = plan()
    assert (p["axis_end"], p["tail_start"]) == (2.2, 20.0)
    candidates = [1, 0.85, 1.15, 0.6, 1.4, 2, 1.7, 1.2]  # 2.3 and 2.8 lie beyond axis_end
    expected = sorted(set([0.0, 2.2] + [2.2 * c for c in C] + [1.0 * f for f in candidates]))
    assert p["break_points"] == expected


def test_detour_is_cut_into_seven_equal_pieces():
    # candidates 10, 8.5, 6 lie inside axis_end = 11 and away from the cuts at k/7
    p = plan(k_p=10.0, k_m=10.0, lam_mult=10.0)
    a = p["axis_end"]
    cuts = [v for v in p["break_points"] if v not in (10.0, 8.5, 6.0)]
    assert len(cuts) == 8 and cuts[0] == 0.0 and cuts[-1] == a
    assert np.abs(np.diff(cuts) - a / 7).max() <= 4 * np.spacing(a)


def test_lower_real_part_is_taken_in_absolute_value():
    p = plan(k_p=1.0, k_m=-1.5 - 0.1j)
    for v in (1.5, 1.5 * 0.6):
        assert v in p["break_points"]


@pytest.mark.parametrize("kw, axis_end, tail_start", [
    (dict(z=0.0, zp=0.0), 2.2, 20.0),                    # touching heights: no far cut
    (dict(k_m=1.0, z=10.0, zp=-20.0), 2.2, 3.3),          # far cut 60/dz = 2 < 10: shortened
    (dict(k_m=1.0, z=5.0, zp=-5.0), 2.2, 6.0),            # far cut 6 > 1.5 axis_end
    (dict(k_m=1.0, z=1.0, zp=-1.0), 1.1, 10.0),           # far cut 30 >= 10: unchanged
    (dict(k_m=1.0, lam_mult=0.5), 1.1, 0.5),              # the segment runs backwards
])
def test_axis_end_and_tail_start(kw, axis_end, tail_start):
    p = plan(**kw)
    assert p["axis_end"] == pytest.approx(axis_end, rel=1e-15)
    assert p["tail_start"] == pytest.approx(tail_start, rel=1e-15)


@pytest.mark.parametrize("rho, detour, height", [
    (2.0, 0.1, 0.05),             # detour / rho between the bounds
    (1.0, -1.0, 2.2e-6),          # non-positive detour: the lower bound
    (1.0, 0.0, 2.2e-6),
    (0.0, 0.1, 0.77),             # rho = 0: 0.35 axis_end
    (1e-3, 10.0, 0.77),
])
def test_detour_height(rho, detour, height):
    assert plan(rho=rho, detour=detour, z=1.0)["detour_height"] == pytest.approx(height)


@pytest.mark.parametrize("rho, z, zp", [(0.0, 1.0, -0.5), (0.5, 1.0, -0.5), (3.0, 0.2, 0.0)])
def test_tail_scale_is_the_decay_length_on_the_rays(rho, z, zp):
    # Along the upper ray the kernel falls like exp(-(z - zp) Re lambda) and the
    # Hankel factor like exp(-rho Im lambda): over tail_scale in t, by about 1/e.
    p = plan(k_m=1.5, rho=rho, z=z, zp=zp, lam_mult=20.0)
    h, start = p["tail_scale"], p["tail_start"]
    d = np.exp(0.25j * np.pi)
    kind = 1 if rho > 0 else 0
    near = [probe.hankel_ray_rule(z, zp, 1.0, 1.5, start, d, rho, kind, t, t + 1e-6 * h, [0.0],
                                  [2.0])[0] for t in (0.0, h)]
    assert abs(near[1]) / abs(near[0]) == pytest.approx(math.exp(-1), rel=0.05)


def test_nan_wavenumber_gives_ordered_break_points_and_a_nan_row(gauss):
    # NaN sorts last and is never merged: 0, then axis_end and its six fractions
    bp = plan(k_p=float("nan"))["break_points"]
    assert bp[0] == 0.0 and len(bp) == 8 and all(math.isnan(v) for v in bp[1:])
    out = accel.near_interface_six_batch(float("nan"), 2 - 0.5j, [0.0, 0.0], [1.0, 1.0],
                                         [0.0, 0.0], 1e-6, 10.0, 6, 0.1, *gauss(8))
    assert np.isnan(out).all()
    # a NaN k_m leaves k_max = k_p (NaN never wins the comparison) and adds no cut
    bp = plan(k_m=complex(float("nan"), 0.0))["break_points"]
    assert bp == sorted(set([0.0, 1.1] + [1.1 * c for c in C] + [1.0, 0.85, 0.6]))


def test_rho_zero_runs_one_ray(gauss):
    # with depth 0 each tail panel costs three rule calls, and a zero-rtol ray
    # stays loud for its whole budget: exactly one budget for the single ray
    t = probe.trace_triple(1.0, 2 - 0.5j, 0.0, 0.5, -0.25, 0.0, 10.0, 0, 0.1, *gauss(8))
    assert not t["ok"] and t["ray_calls"] == 3 * 90


def test_rho_positive_runs_two_rays(gauss):
    # the two rays mirror each other; each takes at least two panels
    t = probe.trace_triple(1.0, 1.5, 2.0, 0.5, -0.25, 1e-8, 10.0, 0, 0.1, *gauss(8))
    assert t["ok"] and t["ray_calls"] % 3 == 0 and t["ray_calls"] >= 2 * 2 * 3
    one = probe.trace_triple(1.0, 1.5, 0.0, 0.5, -0.25, 1e-8, 10.0, 0, 0.1, *gauss(8))
    assert t["ray_calls"] > one["ray_calls"]


def test_row_is_the_sum_of_the_pieces(gauss):
    args = (1.0, 2 - 0.5j, 0.0, 0.5, -0.25, 1e-8, 10.0, 20, 0.1, *gauss(8))
    t = probe.trace_triple(*args)
    assert t["ok"] and t["detour_calls"] > 0 and t["axis_calls"] >= 3 and t["ray_calls"] >= 6
    row = accel.near_interface_six_batch(1.0, 2 - 0.5j, [0.0], [0.5], [-0.25], 1e-8, 10.0, 20,
                                         0.1, *gauss(8))[0]
    np.testing.assert_array_equal(row, (t["segment"] + t["detour"]) + t["tail"])


def test_rho_zero_tail_is_the_plain_kernel_integral(gauss):
    # one kind-0 ray: the integral of K_c along the ray from tail_start, which
    # for separated heights is the real-axis integral of K_c from tail_start
    t = probe.trace_triple(1.0, 1.5, 0.0, 1.0, -1.0, 1e-10, 10.0, 20, 0.1, *gauss(8))
    p = plan(k_m=1.5, rho=0.0, z=1.0, zp=-1.0)
    axis = probe.axis_panel(1.0, -1.0, 1.0, 1.5, 0.0, p["tail_start"], p["tail_start"] + 40.0,
                            *gauss(60))
    np.testing.assert_allclose(t["tail"], axis, rtol=1e-9, atol=1e-14)


def test_backward_segment_keeps_the_path_continuous(gauss):
    # lam_mult below 1.1 puts tail_start before axis_end; the row does not depend
    # on where the segment and the tail meet
    rows = [accel.near_interface_six_batch(1.0, 1.5, [0.0], [1.0], [-1.0], 1e-10, lm, 20, 0.1,
                                           *gauss(8))[0] for lm in (0.8, 4.0, 10.0)]
    for r in rows[1:]:
        np.testing.assert_allclose(r, rows[0], rtol=1e-8, atol=1e-8 * np.abs(rows[0]).max())
