"""Where the tail rays start: never before a branch cut or pole they would
sweep, and exactly where planned whenever the planned start is clear."""
import cmath
import math
import sys
from pathlib import Path

import numpy as np
import pytest

import _near_interface_accel as accel
import _near_interface_probe as probe

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reference"))
import cheap_reference  # noqa: E402

GX, GW = np.polynomial.legendre.leggauss(8)
WATER = 9.000555469843894 - 0.09999382849374402j      # sqrt(81 - 1.8j)
WET_SOIL = 5.000249993750469 - 0.04999750018749219j   # sqrt(25 - 0.5j)
DRY_GROUND = 2.015329455153383 - 0.24809839340235612j  # sqrt(4 - 1j)
NEAR_MINUS_ONE = cmath.sqrt(-1.005 - 0.001j)          # a surface-wave pole near 14 - 1.4i
if NEAR_MINUS_ONE.imag > 0:
    NEAR_MINUS_ONE = -NEAR_MINUS_ONE


def plan(k_m, rho, z, zp, lam_mult=10.0):
    return probe.triple_plan(1.0, k_m, rho, z, zp, lam_mult, 0.1)


# Rows whose planned rays cross the lower medium's cut (or sweep the interface
# pole): deep sources under water and wet soil, a lossless high-index medium,
# a small lam_mult, and a medium near eps = -1 whose surface wave lies beyond
# 10 k_max.
CROSSING_ROWS = [
    (WATER, 1.0, 0.0, -14.0, 10.0),
    (WATER, 3.0, 0.5, -20.0, 10.0),
    (9.0, 1.0, 0.3, -11.0, 10.0),
    (WET_SOIL, 1.0, 0.0, -20.0, 10.0),
    (DRY_GROUND, 2.0, 0.5, -0.25, 0.5),
    (NEAR_MINUS_ONE, 2.0, 0.0, 0.0, 10.0),
]


@pytest.mark.parametrize("k_m, rho, z, zp, lam_mult", CROSSING_ROWS)
def test_rows_whose_planned_rays_cross_a_cut(k_m, rho, z, zp, lam_mult):
    p = plan(k_m, rho, z, zp, lam_mult)
    assert p["clear_tail_start"] > p["tail_start"]
    got = accel.near_interface_six_batch(1.0, k_m, [rho], [z], [zp], 1e-8, lam_mult, 20, 0.1,
                                         GX, GW)[0]
    ref = cheap_reference.integrals(1.0, k_m, rho, z, zp)
    assert np.abs(got - ref).max() <= 1e-7 * np.abs(ref).max()


def _crosses_a_cut(lam, k):
    """Whether gamma(lambda; k), followed along the points lam, jumps to the
    other sheet (gamma -> -gamma) between neighbours."""
    g = probe.vertical_wavenumber(lam, k)
    return bool(np.any(np.abs(g[1:] + g[:-1]) < np.abs(g[1:] - g[:-1])))


def _ray_points(start, direction, reach):
    # fine enough steps that no sheet change between neighbours goes unseen
    t = np.linspace(0.0, reach, 4001)
    return start + t * direction


@pytest.mark.parametrize("seed", range(2))
def test_rays_from_the_clear_start_stay_on_one_sheet(seed):
    rng = np.random.default_rng(seed)
    for _ in range(40):
        k_m = complex(10 ** rng.uniform(-1, 1.5), -10 ** rng.uniform(-3, 1))
        rho = 0.0 if rng.random() < 0.2 else 10 ** rng.uniform(-2, 2)
        z, zp = rng.uniform(0, 3), -10 ** rng.uniform(-2, 1.7)
        lam_mult = rng.choice([10.0, rng.uniform(0.2, 3.0)])
        start = plan(k_m, rho, z, zp, lam_mult)["clear_tail_start"]
        reach = 3 * max(abs(k_m), 1.0) + start
        rays = [cmath.exp(1j * math.pi / 4)] + ([cmath.exp(-1j * math.pi / 4)] if rho else [])
        for d in rays:
            lam = _ray_points(start, d, reach)
            for k in (1.0, k_m):
                assert not _crosses_a_cut(lam, k), (k_m, rho, z, zp, lam_mult, d)


@pytest.mark.parametrize("k_m, rho, z, zp, lam_mult, moved", [
    (WATER, 1.0, 0.0, -14.0, 10.0, True),     # far cut: L = 6.4 < Re k_m - |Im k_m|
    (WATER, 1.0, 0.0, -5.0, 10.0, False),     # shortened to L = 14.9, past the cut
    (WATER, 0.0, 0.0, -14.0, 10.0, False),    # rho = 0: one rising ray, no cut above
    (DRY_GROUND, 2.0, 0.5, -0.25, 0.5, True),  # L = 1.02 < Re k_m - |Im k_m| = 1.77
    (DRY_GROUND, 2.0, 0.5, -0.25, 1.5, False),
    (2.0 - 2.0j, 2.0, 0.5, -0.25, 0.8, False),  # the lossy cut lies left of L = 2.2
    (NEAR_MINUS_ONE, 2.0, 0.0, 0.0, 10.0, True),  # the pole near 14 - 1.4i lies beyond L = 10
    (NEAR_MINUS_ONE, 0.0, 0.5, 0.0, 10.0, False),  # ... but below the real axis
    (1.0, 1.0, 0.0, 0.0, 0.5, True),          # homogeneous: L = 0.5 < k_p
])
def test_which_starts_move(k_m, rho, z, zp, lam_mult, moved):
    p = plan(k_m, rho, z, zp, lam_mult)
    assert (p["clear_tail_start"] != p["tail_start"]) is moved


def test_pole_is_not_swept():
    # the surface-wave pole of a medium near eps = -1, and a start beyond it
    p = cmath.sqrt(NEAR_MINUS_ONE ** 2 / (1 + NEAR_MINUS_ONE ** 2))
    denominator = (NEAR_MINUS_ONE ** 2 * probe.vertical_wavenumber(p, 1.0)
                   + probe.vertical_wavenumber(p, NEAR_MINUS_ONE))
    assert abs(denominator) < 1e-9 and p.imag < 0
    start = plan(NEAR_MINUS_ONE, 2.0, 0.0, 0.0)["clear_tail_start"]
    assert start > p.real + p.imag      # outside the wedge below the real axis


@pytest.mark.parametrize("k_m", [complex("nan"), complex(2.0, float("inf"))])
def test_non_finite_media_keep_the_planned_start(k_m):
    p = plan(k_m, 1.0, 0.0, -14.0)
    assert p["clear_tail_start"] == p["tail_start"] or math.isnan(p["tail_start"])


def _pole_swept(k_m, start, rho):
    p = cheap_reference.interface_pole(1.0, k_m)
    if p is None:
        return False
    below = p.imag <= 0 and start <= p.real + p.imag
    above = p.imag > 0 and start <= p.real - p.imag
    return above or (below and rho != 0)


@pytest.mark.parametrize("seed", range(2))
def test_the_planned_start_is_kept_exactly_when_it_is_clear(seed):
    # whether the planned rays cross a cut is found by following the sheet
    # along them, independently of how the driver decides it
    rng = np.random.default_rng(100 + seed)
    for _ in range(40):
        k_m = complex(10 ** rng.uniform(-1, 1.5), -10 ** rng.uniform(-3, 1))
        rho = 0.0 if rng.random() < 0.2 else 10 ** rng.uniform(-2, 2)
        z, zp = rng.uniform(0, 3), -10 ** rng.uniform(-2, 1.7)
        lam_mult = rng.choice([10.0, rng.uniform(0.2, 3.0)])
        p = plan(k_m, rho, z, zp, lam_mult)
        start = p["tail_start"]
        rays = [cmath.exp(1j * math.pi / 4)] + ([cmath.exp(-1j * math.pi / 4)] if rho else [])
        reach = 3 * max(abs(k_m), 1.0) + start
        crossing = any(_crosses_a_cut(_ray_points(start, d, reach), k)
                       for d in rays for k in (1.0, k_m))
        expected = crossing or _pole_swept(k_m, start, rho)
        assert (p["clear_tail_start"] != start) is expected, (k_m, rho, z, zp, lam_mult)
        assert p["clear_detour_height"] == p["detour_height"]


# eps_r = -4 - 0.2j, mu_r = -1 - 0.05j: the branch point -k_m = 2 + 0.1j lies
# above the real axis, and the surface-wave pole near 0.89 + 0.009j too
NEGATIVE_INDEX = -2.0 - 0.1j


@pytest.mark.parametrize("rho, z, zp", [(0.0, 1.0, -1.0), (1.0, 1.0, -1.0), (0.5, 0.0, -3.0)])
def test_negative_index_rows_pass_below_the_raised_singularities(rho, z, zp):
    p = plan(NEGATIVE_INDEX, rho, z, zp)
    assert p["clear_detour_height"] < p["detour_height"]
    got = accel.near_interface_six_batch(1.0, NEGATIVE_INDEX, [rho], [z], [zp], 1e-8, 10.0, 20,
                                         0.1, GX, GW)[0]
    # a trapezoid low enough to pass below the pole and the branch point
    ref = cheap_reference.integrals(1.0, NEGATIVE_INDEX, rho, z, zp, height=0.004)
    assert np.abs(got - ref).max() <= 1e-7 * np.abs(ref).max()
