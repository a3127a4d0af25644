"""The fast complex square root, quotient and exponential of the inner loops
against the standard functions: special values (signed zeros, infinities,
NaN) exactly as the standard gives them, finite values to the last bits on
both sides of every switch between the short path and the standard one."""
import itertools
import math

import mpmath as mp
import numpy as np
import pytest

import _near_interface_probe as probe

pytestmark = pytest.mark.usefixtures("worst_errors")

INF = math.inf
NAN = math.nan
ULP = 2.0**-52
SPECIAL = [0.0, -0.0, 1.0, -1.0, 2.5e-3, -7.0, INF, -INF, NAN, 1e-200, -3e200]
GRID = np.array([complex(x, y) for x, y in itertools.product(SPECIAL, SPECIAL)])


def same(got, want):
    """Per element: equal values with equal signs of zero, or NaN in the same parts."""
    out = []
    for g, w in zip(np.ravel(got), np.ravel(want)):
        parts = []
        for a, b in ((g.real, w.real), (g.imag, w.imag)):
            if math.isnan(a) or math.isnan(b):
                parts.append(math.isnan(a) and math.isnan(b))
            else:
                parts.append(a == b and math.copysign(1, a) == math.copysign(1, b))
        out.append(all(parts))
    return np.array(out)


def mismatches(args, got, want):
    bad = ~same(got, want)
    return [(a, g, w) for a, g, w in zip(args[bad], np.ravel(got)[bad], np.ravel(want)[bad])]


@pytest.mark.parametrize("fast, standard", [
    (probe.principal_sqrt, np.sqrt),
    (probe.complex_exp, np.exp),
], ids=["sqrt", "exp"])
def test_special_values_as_the_standard_function(fast, standard):
    with np.errstate(all="ignore"):
        want = standard(GRID)
    got = fast(GRID)
    # finite, moderate arguments take the short path and may differ in the last bit
    short = np.isfinite(GRID) & (np.abs(GRID) > 1e-150) & (np.abs(GRID) < 1e150)
    assert not mismatches(GRID[~short], got[~short], want[~short])
    assert np.all(np.abs(got[short] - want[short]) <= 2 * ULP * np.abs(want[short]))
    # and where the standard result has a zero part, the same signed zero
    for part in (np.real, np.imag):
        zero = part(want[short]) == 0
        assert np.array_equal(np.signbit(part(got[short])[zero]), np.signbit(part(want[short])[zero]))


def test_quotient_special_values_as_the_standard_division():
    a = np.repeat(GRID, GRID.size)
    b = np.tile(GRID, GRID.size)
    got = probe.quotient(a, b)
    want = probe.standard_quotient(a, b)
    short = (np.isfinite(a) & np.isfinite(b) & (np.abs(a) > 1e-150) & (np.abs(b) > 1e-150)
             & (np.abs(a) < 1e150) & (np.abs(b) < 1e150))
    bad = mismatches(np.stack([a, b], axis=1)[~short], got[~short], want[~short])
    assert not bad, bad[:5]
    assert np.all(np.abs(got[short] - want[short]) <= 4 * ULP * np.abs(want[short]))


@pytest.mark.parametrize("w, root", [
    (complex(-4.0, 0.0), complex(0.0, 2.0)),      # the cut: the sign of a zero
    (complex(-4.0, -0.0), complex(0.0, -2.0)),    # imaginary part picks the side
    (complex(4.0, -0.0), complex(2.0, -0.0)),
    (complex(-0.0, 0.0), complex(0.0, 0.0)),
    (complex(NAN, INF), complex(INF, INF)),       # an infinite part wins over NaN
    (complex(-INF, 1.0), complex(0.0, INF)),
])
def test_principal_branch_at_the_cut(w, root):
    assert same(probe.principal_sqrt(w), np.array(root)).all()


def _exact(fn, *args):
    with mp.workprec(200):
        return complex(fn(*[mp.mpc(a.real, a.imag) for a in args]))


def _around(limit):
    """Doubles on both sides of a switch value: 1 - 8 ulp to 1 + 8 ulp of it."""
    return [limit * (1 + k * ULP) for k in (-8, -1, 0, 1, 8)]


def _ulps(got, want):
    return abs(got - want) / (abs(want) * ULP)


def _worst(cases, fast, exact):
    """The largest error in ulps of fast against exact over the argument tuples."""
    errors = [(_ulps(complex(fast(*c)), exact(*c)), c) for c in cases]
    return max(errors, key=lambda e: e[0])


SQRT_CASES = [(complex(s * x, t * y),) for x in _around(1e150) + _around(1e-150)
              for y in (0.5, 3e-151, 2e149) for s in (1, -1) for t in (1, -1)]
SQRT_CASES += [(complex(s * 1e-150, t * 1e-150) * f,) for f in (0.99, 1.01)
               for s in (1, -1) for t in (1, -1)]


def test_sqrt_on_both_sides_of_its_switches(worst_errors):
    err, where = _worst(SQRT_CASES, probe.principal_sqrt, lambda w: _exact(mp.sqrt, w))
    worst_errors.record("principal_sqrt, |parts| near 1e+-150", err, where)
    assert err <= 2.0, where


QUOTIENT_CASES = [(complex(x, -0.3 * x), complex(s * y, 0.7 * y))
                  for x in _around(1e150) + _around(1e-150) + [1.0]
                  for y in _around(1e150) + _around(1e-150) + [3.0] for s in (1, -1)]


def test_quotient_on_both_sides_of_its_switches(worst_errors):
    err, where = _worst(QUOTIENT_CASES, probe.quotient,
                        lambda a, b: _exact(lambda u, v: u / v, a, b))
    worst_errors.record("quotient, |parts| near 1e+-150", err, where)
    assert err <= 4.0, where


EXP_CASES = [(complex(x, y),) for x in _around(700.0) + _around(-700.0) + [0.0, -3.5]
             for y in _around(1e9) + _around(-1e9) + [0.0, 2.0]]


def test_exp_on_both_sides_of_its_switches(worst_errors):
    err, where = _worst(EXP_CASES, probe.complex_exp, lambda e: _exact(mp.exp, e))
    worst_errors.record("complex_exp, x near +-700, |y| near 1e9", err, where)
    assert err <= 4.0, where
