"""adaptive_panel through synthetic rules f_c(t) = coef_c exp(alpha_c t) that count their calls."""
import numpy as np
import pytest

import _near_interface_probe as probe

GX, GW = np.polynomial.legendre.leggauss(4)
ONES = np.ones(6, complex)
ZEROS = np.zeros(6, complex)
SMOOTH = np.array([1, 2j, -1, 0.5, 3 - 1j, 1e-3])
RATES = np.array([-1, 0.5j, 2, -3 + 1j, 0.1, 4j])


def exact(coef, alpha, a, b):
    out = []
    for c, al in zip(coef, alpha):
        out.append(c * (b - a) if al == 0 else c * (np.exp(al * b) - np.exp(al * a)) / al)
    return np.array(out)


def run(coef=SMOOTH, alpha=RATES, a=0.0, b=2.0, rtol=1e-10, depth=20, gx=GX, gw=GW, floor=0.0):
    return probe.synthetic_adaptive(np.asarray(coef, complex), np.asarray(alpha, complex),
                                    a, b, rtol, depth, gx, gw, floor)


@pytest.mark.parametrize("a, b", [(0.0, 2.0), (2.0, 0.0), (-1.0, 3.5)])
def test_converges_to_the_integral_in_either_direction(a, b):
    out, calls = run(a=a, b=b)
    ref = exact(SMOOTH, RATES, a, b)
    assert np.abs(out - ref).max() <= 1e-10 * np.abs(ref).max()
    assert calls % 2 == 1 and calls >= 3


def gauss_sum(coef, alpha, a, b, gx=GX, gw=GW):
    """The Gauss estimate of one panel, as the synthetic rule forms it."""
    half, mid = (b - a) / 2, (a + b) / 2
    t = mid + half * np.asarray(gx)
    return np.array([np.sum(c * np.exp(al * t) * (half * np.asarray(gw)))
                     for c, al in zip(coef, alpha)])


@pytest.mark.parametrize("depth", [0, -5])
def test_exhausted_depth_takes_the_two_half_sum(depth):
    # fast rates, so that the estimate of the whole and the sum of the estimates
    # of its two halves differ by far more than rounding
    out, calls = run(alpha=RATES * 3, rtol=0.0, depth=depth)
    assert calls == 3
    halves = gauss_sum(SMOOTH, RATES * 3, 0.0, 1.0) + gauss_sum(SMOOTH, RATES * 3, 1.0, 2.0)
    whole = gauss_sum(SMOOTH, RATES * 3, 0.0, 2.0)
    scale = np.abs(halves).max()
    assert np.abs(whole - halves).max() > 1e-6 * scale
    np.testing.assert_allclose(out, halves, rtol=0, atol=1e-13 * scale)


@pytest.mark.parametrize("depth", [1, 2, 5])
def test_zero_rtol_refines_to_the_depth_limit(depth):
    _, calls = run(rtol=0.0, depth=depth)
    assert calls == 2 ** (depth + 2) - 1


def test_zero_integrand_is_accepted_at_once():
    out, calls = run(coef=ZEROS, rtol=0.0)
    assert calls == 3 and np.all(out == 0)


def test_nan_channel_is_left_alone():
    coef = SMOOTH.copy()
    coef[3] = np.nan
    out, calls = run(coef=coef, alpha=np.zeros(6), rtol=1e-12)
    # linear integrands are exact on the first split: no refinement for the NaN
    assert calls == 3
    assert np.isnan(out[3]) and np.isfinite(np.delete(out, 3)).all()


def test_all_nan_channels_accept_at_once():
    out, calls = run(coef=np.full(6, np.nan))
    assert calls == 3 and np.isnan(out).all()


def test_empty_gauss_rule_gives_zeros_after_three_calls():
    out, calls = run(gx=np.empty(0), gw=np.empty(0))
    assert calls == 3 and np.all(out == 0)


def test_no_change_is_accepted_even_at_zero_rtol():
    # a constant's halves agree exactly with the whole: err = 0 <= tol = 0
    out, calls = run(coef=ONES, alpha=np.zeros(6), rtol=0.0, gx=[0.0], gw=[2.0])
    assert calls == 3
    np.testing.assert_array_equal(out, 2 * ONES)


def test_floor_turns_the_test_absolute():
    coef = 1e-9 * SMOOTH
    _, fine = run(coef=coef, rtol=1e-6)
    _, coarse = run(coef=coef, rtol=1e-6, floor=1.0)
    assert coarse == 3 < fine


def test_rule_calls_bounded_by_depth():
    for depth in range(0, 8):
        _, calls = run(alpha=RATES * 10, rtol=1e-14, depth=depth)
        assert 3 <= calls <= 2 ** (depth + 2) - 1
