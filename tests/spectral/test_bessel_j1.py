"""J1, the pair (J0, J1) and J1(z)/z against python-flint.

Errors are measured against max(|J0|, |J1|) at the argument, the size of the
pair, so that the zeros of J1 do not count as failures; the worst error and
its argument are printed (pytest -s). Methods switch at |z| = 8 (series /
recurrence) and |z| = 25 (recurrence / expansion), as for J0.
"""

import math
import sys
from pathlib import Path

import numpy as np
import pytest

import _near_interface_probe as probe

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "special"))
from flint_reference import bessel_j_value  # noqa: E402

EPS = 2.0**-52
SERIES_RADIUS, EXPANSION_RADIUS = 8.0, 25.0


def pair_errors(z):
    """Errors of J1 and J0 from bessel_j01, against max(|J0|, |J1|); values
    outside the normal range are left out."""
    z = np.asarray(z, complex)
    j0, j1 = probe.bessel_j01(z)
    rows = []
    for v, a, b in zip(z, j0, j1):
        r0, r1 = bessel_j_value(v, 0), bessel_j_value(v, 1)
        scale = max(abs(r0), abs(r1))
        if not 1e-300 < scale < 1e300:
            continue
        rows.append((abs(b - r1) / scale, abs(a - r0) / scale, v))
    return rows


def report(name, rows):
    worst = max(rows, key=lambda r: r[0])
    print(f"\n{name:22s} n={len(rows):5d} J1 worst {worst[0]:.2e} ({worst[0] / EPS:.0f} eps) at z={worst[2]!r}")


def both_sides(radius, imag, offsets=(-1e-3, -1e-9, -EPS, 0.0, EPS, 1e-9, 1e-3)):
    return np.array([math.sqrt((radius * (1 + d)) ** 2 - imag**2) + 1j * imag for d in offsets])


RNG = np.random.default_rng(15)
# The arguments the real-axis segment and the detour produce: real ones, and
# complex ones of small imaginary part; every method's range, both signs of
# the real part, and both sides of each switch radius.
STRIP = {
    "real, every magnitude": 10.0 ** RNG.uniform(-8, 4, 300) + 0j,
    "real, 0 to 40": RNG.uniform(-40, 40, 300) + 0j,
    "strip |Im z| <= 4": RNG.uniform(-40, 40, 300) + 1j * RNG.uniform(-4, 4, 300),
    "detour-like rays": np.outer(RNG.uniform(0.1, 40, 60), np.exp(1j * np.array([0.05, 0.25]))).ravel(),
    "both sides of 8": np.concatenate([both_sides(SERIES_RADIUS, y) for y in (0.0, 0.3, 3.0, -2.0)]),
    "both sides of 25": np.concatenate([both_sides(EXPANSION_RADIUS, y) for y in (0.0, 0.5, 4.0, -3.0)]),
}


@pytest.mark.parametrize("name", list(STRIP))
def test_j1_on_the_integration_path(name):
    # Just below |z| = 8 the alternating series cancels (its largest term is
    # about 28 against J1(8) / 4 = 0.06), as J0's does: up to ~100 eps there.
    z = STRIP[name]
    rows = pair_errors(z)
    report(name, rows)
    for e1, e0, v in rows:
        bound = 2e-13 if abs(v) < SERIES_RADIUS * (1 + 1e-3) else 3e-14
        assert e1 <= bound, (e1, v)
        assert e0 <= bound, (e0, v)


def test_j1_every_quadrant_and_magnitude():
    # Off the real axis, Miller's normalising sum J0 + 2 (J2 + J4 + ...) = 1
    # is a sum of terms of size e^|Im z| (8 <= |z| < 25): eps e^|Im z| is
    # lost there, as for J0. The series and the expansion keep full accuracy.
    rng = np.random.default_rng(16)
    z = 10.0 ** rng.uniform(-8, 3, 500) * np.exp(1j * rng.uniform(-np.pi, np.pi, 500))
    quadrants = np.concatenate([z, np.conj(z), -z, -np.conj(z)])
    rows = pair_errors(quadrants)
    report("all quadrants", rows)
    for e1, e0, v in rows:
        bound = 2e-13 + 1e-16 * math.exp(abs(v.imag)) if 8 <= abs(v) < 25 else 2e-13
        assert max(e1, e0) <= bound, (e1, e0, v)


@pytest.mark.slow
def test_j1_dense_sweep():
    rng = np.random.default_rng(17)
    z = np.concatenate([
        rng.uniform(0, 60, 3000) + 1j * rng.uniform(-4, 4, 3000),
        np.concatenate([both_sides(r, y) for r in (8.0, 25.0) for y in np.linspace(-4, 4, 41)]),
    ])
    rows = pair_errors(z)
    report("dense strip", rows)
    assert max(max(r[0], r[1]) for r in rows) <= 2e-13


def test_j0_of_the_pair_is_bessel_j0_bit_for_bit():
    z = np.concatenate([v for v in STRIP.values()] + [
        10.0 ** RNG.uniform(-8, 3, 300) * np.exp(1j * RNG.uniform(-np.pi, np.pi, 300)),
        [0j, complex(-0.0, 0.0), 1e-7 + 1e-7j, complex(np.nan, 0), complex(np.inf, 0), 8.0 + 0j, 25.0 + 0j],
    ])
    j0, j1 = probe.bessel_j01(z)
    assert j0.tobytes() == probe.bessel_j0(z).tobytes()
    assert j1.tobytes() == probe.bessel_j1(z).tobytes()


def test_j1_is_odd_and_real_on_the_real_axis():
    z = np.array([0.3, 5.0, 7.99, 8.0, 12.0, 24.99, 25.0, 60.0, 3 + 4j, 12 + 9j, 30 + 2j, 0.5 + 15j, 1e-7 + 1e-8j])
    np.testing.assert_array_equal(probe.bessel_j1(-z), -probe.bessel_j1(z))
    x = np.concatenate([np.linspace(-60, 60, 241), [1e-300, -1e-300]]).astype(complex)
    got = probe.bessel_j1(x)
    assert np.all(got.imag == 0)


@pytest.mark.parametrize("z, expected", [
    (0.0, 0.0),
    (1e-7, 0.5e-7 * (1 - 1e-14 / 8)),
    (1e-7j, 0.5e-7j * (1 + 1e-14 / 8)),
    (1e-300, 0.5e-300),
])
def test_j1_tiny(z, expected):
    assert complex(probe.bessel_j1(complex(z))) == pytest.approx(expected, rel=2e-16, abs=0)


@pytest.mark.parametrize("z", [complex(np.nan, 0), complex(0, np.nan), complex(np.nan, 1.0), complex(3.0, np.nan)])
def test_nan_argument_gives_nan(z):
    j0, j1 = probe.bessel_j01(z)
    assert np.isnan(complex(j1).real) and np.isnan(complex(j0).real)
    assert np.isnan(complex(probe.bessel_j1_over_z(z)).real)


def test_switch_points_agree_across_methods():
    for r in (SERIES_RADIUS, EXPANSION_RADIUS):
        for phase in (0.0, 0.1, -0.4):
            a, b = probe.bessel_j1(np.array([np.nextafter(r, 0), r]) * np.exp(1j * phase))
            assert abs(a - b) <= 2e-13 * max(abs(a), abs(b), 0.1)


# ---------------------------------------------------------------- J1(z)/z

def test_j1_over_z_at_and_near_the_origin():
    # the entire function: 1/2 at 0, and neither cancellation nor underflow
    # near it (the series, without the division)
    z = np.array([0.0, -0.0, 1e-310, 1e-200, 1e-8j, 1e-7 + 1e-7j, 1e-5, 0.01 - 0.02j], complex)
    got = probe.bessel_j1_over_z(z)
    assert got[0] == 0.5 and got[1] == 0.5 and got[2] == 0.5
    for g, v in zip(got[3:], z[3:]):
        ref = bessel_j_value(v, 1) / v
        assert abs(g - ref) <= EPS * abs(ref)


@pytest.mark.parametrize("z", [
    np.geomspace(1e-4, 7.99, 40) * np.exp(0.3j), np.geomspace(8.0, 1e3, 40) + 0j,
    both_sides(8.0, 1.0), both_sides(25.0, 0.0), np.array([-3.0 + 0j, -9 - 1j, 2j, -30 + 0j]),
], ids=["series", "division", "r8", "r25", "left"])
def test_j1_over_z_against_flint(z):
    got = probe.bessel_j1_over_z(z)
    for g, v in zip(got, z):
        ref = bessel_j_value(v, 1) / v
        scale = max(abs(ref), abs(bessel_j_value(v, 0) / v))
        assert abs(g - ref) <= 2e-13 * scale, (g, ref, v)
    # away from the origin it is J1(z) / z to rounding
    far = np.abs(z) >= 8
    j1 = probe.bessel_j1(z[far])
    assert np.allclose(got[far], j1 / z[far], rtol=4 * EPS, atol=0)
