"""DGAMLN (ln Gamma for x > 0) against mpmath and math.lgamma."""

import math

import mpmath
import numpy as np
import pytest

import _near_interface_probe as probe


def _exact(x):
    with mpmath.workprec(200):
        return float(mpmath.loggamma(mpmath.mpf(float(x))))


def test_table_at_integers_is_correctly_rounded():
    k = np.arange(1.0, 101.0)
    got = probe.dgamln(k)
    assert [float(g) for g in got] == [_exact(x) for x in k]
    assert got[0] == 0.0 and got[1] == 0.0


@pytest.mark.parametrize(
    "x",
    [0.5, 1.5, 2.5, 6.5, 7.5, 30.5, 100.5, 101.0, 102.0, 150.0,  # half-integers, just past the table
     1e-300, 1e-10, 0.1, 0.9999999, 1.0000001, 1.9999999, 2.0000001, 3.3, 6.999999999, 7.0000001,
     1e3, 1e5 + 0.25, 1e15, 1e100, 1e300],
)
def test_against_lgamma(x):
    got = float(probe.dgamln(x))
    # Absolute near the zeros of ln Gamma at 1 and 2, relative elsewhere; the
    # shift to x' >= 7 costs a few units where ln Gamma(x) is small.
    scale = max(1.0, abs(_exact(x)))
    assert abs(got - _exact(x)) <= 4e-15 * scale
    assert abs(got - math.lgamma(x)) <= 8e-15 * scale


def test_sweep():
    rng = np.random.default_rng(2)
    x = np.concatenate([rng.uniform(0.0, 12.0, 400), 10 ** rng.uniform(-20, 300, 200)])
    x = x[x > 0]
    got = probe.dgamln(x)
    err = [abs(g - _exact(v)) / max(1.0, abs(_exact(v))) for g, v in zip(got, x)]
    assert max(err) <= 4e-15


@pytest.mark.parametrize("x,expect", [(0.0, "nan"), (-0.0, "nan"), (-1.0, "nan"), (-2.5, "nan"),
                                      (-math.inf, "nan"), (math.nan, "nan"), (math.inf, "inf")])
def test_outside_domain(x, expect):
    got = float(probe.dgamln(x))
    assert math.isnan(got) if expect == "nan" else got == math.inf
