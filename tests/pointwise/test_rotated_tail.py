"""rotated_tail through a synthetic integrand whose panel j integrates to values[j]."""
import numpy as np
import pytest

import _near_interface_probe as probe

GX, GW = np.polynomial.legendre.leggauss(3)
CH = np.array([1, -2, 1j, 0.5, 3, 1 + 1j])
SCALE = np.sqrt(2) / 2   # tail_scale at rho + (z - zp) = 2


def tail(values, scale=CH, start=20.0, tail_scale=SCALE, rtol=1e-8, depth=0,
         panel_length=None):
    out, ok, calls = probe.synthetic_tail(np.asarray(values, complex),
                                          np.asarray(scale, complex), start, tail_scale,
                                          rtol, depth, GX, GW, panel_length)
    return out, ok, calls // 3  # depth 0: three rule calls per panel


def test_zero_integrand_quiet_after_two_panels():
    out, ok, panels = tail([0.0])
    assert ok and panels == 2 and np.all(out == 0)


@pytest.mark.parametrize("values, panels", [
    ([1, 1e-12, 1e-12], 3),                  # loud, then two quiet
    ([1, 1e-12, 1, 1e-12, 1e-12], 5),        # a loud panel restarts the count
    ([1, 1e-12, 1e-3, 1e-12, 1e-12], 5),
    ([1, 1, 1, 1e-9, 1e-9], 5),              # a panel below rtol times the sum is quiet
    ([1, 1, 1, 1e-7, 1e-9, 1e-9], 6),        # a panel above it is loud
])
def test_two_consecutive_quiet_panels_end_the_ray(values, panels):
    out, ok, used = tail(values)
    assert ok and used == panels
    np.testing.assert_allclose(out, CH * np.sum(values[:panels]), rtol=1e-13)


def test_loud_ray_spends_the_budget():
    out, ok, panels = tail([1.0])
    assert not ok and panels == probe.panel_budget == 90


def test_nan_channel_is_passed_over_by_the_quiet_test():
    scale = CH.copy()
    scale[2] = np.nan
    out, ok, panels = tail([1, 1e-12, 1e-12], scale=scale)
    assert ok and panels == 3 and np.isnan(out[2])


@pytest.mark.parametrize("start, tail_scale, first", [
    (20.0, np.sqrt(2) / 2, np.sqrt(2) / 8),  # a quarter of the scale
    (0.1, 2.0, 0.1),                         # start below a quarter of the scale
])
def test_first_panel_length(start, tail_scale, first):
    # The integrand is constant on [first (2^j - 1), first (2^(j+1) - 1)]: the
    # Gauss sums of the tail's panels are exact only if its panels are these,
    # and a value pinned to panel 0 then integrates to values[0] alone.
    out, ok, panels = tail([1.0, 1e-20, 1e-20], start=start, tail_scale=tail_scale,
                           panel_length=first)
    assert ok and panels == 3
    np.testing.assert_allclose(out, CH * (1 + 2e-20), rtol=1e-13)


@pytest.mark.parametrize("factor", [0.8, 1.25])
def test_first_panel_of_another_length_is_seen(factor):
    # the same integrand with its panels a little shorter or longer than the
    # tail's: a jump inside a Gauss panel, so the sum is visibly off (a factor
    # of two would hide, since the tail's panels are halved)
    out, ok, _ = tail([1.0, 1e-20, 1e-20], panel_length=factor * np.sqrt(2) / 8)
    assert np.abs(out - CH).max() > 1e-3


@pytest.mark.parametrize("first", [1e-316, 3e-320])
def test_panels_that_add_nothing_are_quiet_under_a_subnormal_sum(first):
    # rtol times a subnormal sum rounds to zero; the empty panels after it
    # still end the ray (counted loud, they would run it out to where the
    # Hankel factor fails and the row turns to NaN)
    out, ok, panels = tail([first, 0.0], scale=np.ones(6))
    assert ok and panels == 3 and np.allclose(out, first, rtol=1e-2, atol=0.0)


def test_zero_rtol_still_never_goes_quiet_on_a_live_sum():
    out, ok, panels = tail([1.0, 0.0], rtol=0.0)
    assert not ok and panels == probe.panel_budget
