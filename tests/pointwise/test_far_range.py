"""The far range: large rho near the interface, from the integrals around the
branch cuts and the residue of the surface-wave pole.

* rows of the batch entry against tests/data/far_range_reference.json (made
  by tests/reference/make_far_reference.py, apart from the C++): within 1e-9
  of the row's largest channel at rtol 1e-10, within 10 rtol at the default
  rtol 1e-8;
* the large-rho laws of the ground wave: rho^2 I_0 tends to
  2 i k_p e^{-i k_p rho} / (k_p^2 - k_m^2), and over a good conductor
  k_m^2 rho e^{i k_p rho} I_1 / 2 follows Norton's attenuation function;
* the J0 form where it is still sound;
* the criterion, and near-side rows bit for bit those of the J0-form path.
"""

import cmath
import json
import math
import pathlib
import sys
from collections import defaultdict

import mpmath as mp
import numpy as np
import pytest

import _near_interface_accel as accel

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "reference"))
import far_range_reference  # noqa: E402

probe = pytest.importorskip("_near_interface_probe")

DATA = pathlib.Path(__file__).resolve().parents[1] / "data" / "far_range_reference.json"
REFERENCE = json.loads(DATA.read_text())
ROWS = REFERENCE["rows"]
DEPTH, LAM_MULT, DETOUR = 20, 10.0, 0.1


def _groups():
    groups = defaultdict(list)
    for row in ROWS:
        groups[row["medium"]].append(row)
    return sorted(groups.items())


def _batch(k_p, k_m, rho, z, zp, rtol, gauss, nodes=8):
    gx, gw = gauss(nodes)
    return accel.near_interface_six_batch(k_p, k_m, np.asarray(rho, float), np.asarray(z, float),
                                          np.asarray(zp, float), rtol, LAM_MULT, DEPTH, DETOUR,
                                          gx, gw)


def _row_errors(values, rows):
    ref = np.array([[complex(*v) for v in r["values"]] for r in rows])
    return np.abs(values - ref).max(axis=1) / np.abs(ref).max(axis=1)


def test_reference_is_converged():
    assert REFERENCE["worst_quad_error"] < 1e-15


@pytest.mark.slow
def test_reference_against_j0_reference():
    """The far reference against the 30-digit J0-form reference at rho = 20
    (lossy ground, and a lossy plasmonic medium with its pole): a few minutes."""
    assert far_range_reference.check() < 1e-12


@pytest.mark.parametrize("rtol, bound", [(1e-10, 1e-9), (1e-8, 1e-7)])
@pytest.mark.parametrize("medium, rows", _groups(), ids=[g[0] for g in _groups()])
def test_rows_against_reference(medium, rows, rtol, bound, gauss, worst_errors):
    k_m = complex(*rows[0]["k_m"])
    t = np.array([(r["rho"], r["z"], r["zp"]) for r in rows])
    for rho, z, zp in t:
        assert probe.far_range_applies(1.0, k_m, rho, z, zp)
    err = _row_errors(_batch(1.0, k_m, t[:, 0], t[:, 1], t[:, 2], rtol, gauss), rows)
    worst = int(np.argmax(err))
    worst_errors.record(f"{medium} rtol {rtol:g}", err[worst], tuple(t[worst]))
    assert err.max() <= bound, (t[worst], err[worst])


# The rows of the ground-wave report: lossy ground, both ends at the surface.
# rho^2 |I_0| was 1666 at k_p rho = 3e6 and six orders off at 1e7 along the
# J0 form; it tends to 2 k_p / |k_p^2 - k_m^2| (the transmitted field falls
# like 1/rho^2 along a lossy interface).
@pytest.mark.parametrize("k_p, eps, z, zp", [(1.0, 4 - 1j, 0.0, 0.0), (0.3, 9 - 2j, 0.5, -0.4),
                                             (2.0, 15 - 4j, 0.0, -0.2)])
def test_inverse_square_law(k_p, eps, z, zp, gauss):
    """At the branch point k_p the cut's jump of K_0 starts as
    -4 k_p gamma_p (1 + z gamma_m) e^{zp gamma_m} / gamma_m^2, so that
    rho^2 e^{i k_p rho} I_0 tends to 2 i k_p (1 + z gamma_m) e^{zp gamma_m} / gamma_m^2,
    gamma_m = sqrt(k_p^2 - k_m^2) on the kernel's sheet; the next term is
    smaller by about 1 / (k_p rho)."""
    k_m = k_p * cmath.sqrt(eps)
    g_m = cmath.sqrt(1j * (k_m + k_p)) * cmath.sqrt(1j * (k_m - k_p))
    rho = np.array([1e5, 1e6, 3e6, 1e7, 3e7, 1e8]) / k_p
    v = _batch(k_p, k_m, rho, np.full(rho.shape, z), np.full(rho.shape, zp), 1e-10, gauss)
    limit = 2j * k_p * (1 + z * g_m) * cmath.exp(zp * g_m) / g_m ** 2
    law = v[:, 0] * rho ** 2 * np.exp(1j * k_p * rho)
    assert np.abs(law / limit - 1).max() < 1e-3


def _norton(p):
    """Norton's attenuation function F(p) = 1 - i sqrt(pi p) e^{-p} erfc(i sqrt p)."""
    return complex(1 - 1j * mp.sqrt(mp.pi * p) * mp.exp(-p) * mp.erfc(1j * mp.sqrt(p)))


@pytest.mark.parametrize("eps", [81 - 7.19e4j, 1 - 1e4j, 15 - 3e3j])
def test_norton_attenuation(eps, gauss):
    """Over a good conductor the surface field of channel 1 (a vertical dipole
    on the interface) is 2 e^{-i k rho} F(p) / (k_m^2 rho), with the numerical
    distance p = -i k rho Delta^2 / 2 and Delta = sqrt(eps - 1) / eps, up to
    terms of the order of 1/|eps|."""
    k_m = cmath.sqrt(eps)
    delta = cmath.sqrt(eps - 1) / eps
    rho = np.geomspace(1e3, 1e8, 11)
    v = _batch(1.0, k_m, rho, np.zeros_like(rho), np.zeros_like(rho), 1e-10, gauss)
    f_module = v[:, 1] * k_m ** 2 / 2 * rho * np.exp(1j * rho)
    f_norton = np.array([_norton(-1j * r * delta ** 2 / 2) for r in rho])
    assert np.abs(f_module - f_norton).max() < 0.02 / abs(eps) ** 0.5


# Where the J0 form is still sound (k rho of a few hundred), both paths agree.
@pytest.mark.parametrize("eps", [4 - 1j, 2.25, -3.0, 0.5, -2 - 0.1j])
def test_agrees_with_j0_form(eps, gauss):
    k_m = cmath.sqrt(eps)
    if k_m.imag > 0 or (k_m.imag == 0 and k_m.real < 0):
        k_m = -k_m
    gx, gw = gauss(8)
    for rho, z, zp in [(150.0, 0.0, 0.0), (300.0, 2.0, -1.0), (120.0, 0.3, -3.0)]:
        far = probe.far_row(1.0, k_m, rho, z, zp, 1e-12, 30, gx, gw)
        assert far["ok"]
        j0 = probe.j0_form_rows(1.0, k_m, [rho], [z], [zp], 1e-12, LAM_MULT, 30, DETOUR, gx, gw)[0]
        assert np.abs(far["values"] - j0).max() <= 1e-10 * np.abs(j0).max()


@pytest.mark.parametrize("eps", [4 - 1j, 81 - 7.19e4j, -3.0])
def test_cost_does_not_grow_with_rho(eps, gauss):
    """Gauss nodes per row at the default rtol stay bounded from k rho = 1e3 to
    1e8 (along the J0 form they grow like rho: some 4e5 at 1e5 on lossy ground)."""
    gx, gw = gauss(8)
    nodes = [probe.far_row(1.0, _k(eps), rho, 0.0, 0.0, 1e-8, DEPTH, gx, gw)["nodes"]
             for rho in (1e3, 1e4, 1e5, 1e6, 1e7, 1e8)]
    assert max(nodes) < 1500, nodes


@pytest.mark.parametrize("k_m", [2.015329455153383 - 0.24809839340235612j, -1.7320508075688772j,
                                 1.5 + 0j])
def test_order_one_factors(k_m, gauss):
    """The whole-axis form with H1 (even kernels): since d/drho J0(lambda rho)
    = -lambda J1(lambda rho), lambda K_0 against J1 is -dI_0/drho and lambda K_1
    against J1/rho is -(1/rho) dI_1/drho (fourth-order central differences of
    the six-channel far range)."""
    gx, gw = gauss(8)
    for rho, z, zp in [(1e3, 0.0, 0.0), (3e4, 1.0, -0.5)]:
        (j1, j1_rho), ok = probe.far_row_order_one(1.0, k_m, rho, z, zp, 1e-12, 30, gx, gw)
        assert ok

        def i(r, z=z, zp=zp):
            return probe.far_row(1.0, k_m, r, z, zp, 1e-13, 30, gx, gw)["values"]

        h = 1e-3
        d = (8 * (i(rho + h) - i(rho - h)) - (i(rho + 2 * h) - i(rho - 2 * h))) / (12 * h)
        assert abs(j1 + d[0]) <= 1e-8 * abs(j1)
        assert abs(j1_rho + d[1] / rho) <= 1e-8 * abs(j1_rho)


def test_kernels_are_odd(gauss):
    """The whole-axis form needs K(-lambda) = -K(lambda) on the kernel's sheet."""
    lam = np.array([0.3 - 0.2j, 1.7 - 0.01j, 2.5 + 0.4j, 40 - 3j, 0.9 + 1e-3j])
    for k_m in (2.015 - 0.248j, 1.5 + 0j, -1.7320508075688772j, 70.7 - 70.7j):
        plus = probe.spectral_kernel(0.3, -0.2, 1.0, k_m, lam)
        minus = probe.spectral_kernel(0.3, -0.2, 1.0, k_m, -lam)
        assert np.array_equal(minus, -plus)


@pytest.mark.parametrize("order", [0, 1])
def test_scaled_hankel(order):
    """H^(2)(w) e^{i w} against arb's K (through the reference module), on |w|
    from 1e-3 to 1e8 in the lower half-plane: from the full-range functions
    below the switch radius 25, from Hankel's expansion above it."""
    worst = 0.0
    for mod in (1e-3, 0.2, 3.0, 24.9, 25.0, 31.0, 40.0, 1e3, 1e5, 1e8):
        for arg in (0.0, -0.3, -math.pi / 2, -2.5):
            w = cmath.rect(mod, arg)
            with mp.workdps(40):
                ref = far_range_reference.hankel2(order, mp.mpc(w)) * mp.exp(1j * mp.mpc(w))
            got = probe.hankel2_scaled(order, w)
            worst = max(worst, abs(got - complex(ref)) / abs(complex(ref)))
    assert worst < 5e-15


def _k(eps):
    k = cmath.sqrt(complex(eps))
    return -k if k.imag > 0 or (k.imag == 0 and k.real < 0) else k


@pytest.mark.parametrize("k_m, rho, z, zp, expected", [
    (_k(4 - 1j), 1e4, 0.0, 0.0, True),
    (_k(4 - 1j), 1e4, 3.0, -2.0, True),
    (_k(4 - 1j), 30.0, 0.0, 0.0, False),          # J0 form cheap: k_max rho < 100
    (_k(81 - 7.19e4j), 30.0, 0.0, 0.0, True),     # J0 form costly: k_max rho ~ 8000
    (_k(81 - 7.19e4j), 20.0, 0.0, 0.0, False),    # k_p rho < 25
    (_k(4 - 1j), 1e4, 250.0, 0.0, False),         # k z^2 > 4 rho
    (_k(2.25), 1e3, 0.0, -70.0, False),           # |k_m| zp^2 > 4 rho, cut counts
    (_k(81 - 7.19e4j), 1e3, 0.0, -70.0, True),    # the lower cut underflows
    (_k(1.01 - 0.05j), 1e5, 0.0, 0.0, False),     # cuts nearly coincide
    (-2.0 - 0.1j, 1e5, 0.0, 0.0, False),          # negative index
    (2.0 + 0.1j, 1e5, 0.0, 0.0, False),           # active lower medium
    (_k(4 - 1j), 0.0, 1.0, 0.0, False),
    (_k(-3.0), 1e6, 0.5, -0.5, True),             # lossless plasmonic (-0.0 real part)
    (_k(4 - 1j), math.inf, 0.0, 0.0, False),
])
def test_criterion(k_m, rho, z, zp, expected):
    assert probe.far_range_applies(1.0, k_m, rho, z, zp) is expected


def test_near_side_rows_bit_for_bit(gauss):
    """Rows of triples the criterion leaves to the J0 form are those of the
    J0-form path, bit for bit: small rho, and large rho with heights beyond
    the criterion's bound. The far side really takes the other path."""
    rng = np.random.default_rng(16)
    gx, gw = gauss(8)
    n = 1200
    for eps in (4 - 1j, -2 - 0.1j):
        k_m = _k(eps)
        rho = rng.uniform(0.0, 60.0, n) * rng.integers(0, 2, n)
        z = rng.uniform(0, 3, n) * rng.integers(0, 2, n)
        zp = -rng.uniform(0, 3, n) * rng.integers(0, 2, n)
        high = rng.random(n) < 0.2  # large rho, heights beyond sqrt(4 rho / k)
        rho[high] = rng.uniform(50.0, 400.0, high.sum())
        z[high] = np.sqrt(4.0 * rho[high]) * rng.uniform(1.01, 1.5, high.sum())
        rho[(rho + z - zp) == 0] = 1.0
        near = np.array([not probe.far_range_applies(1.0, k_m, *t) for t in zip(rho, z, zp)])
        assert near.sum() > 1100
        rho, z, zp = rho[near], z[near], zp[near]
        rows = _batch(1.0, k_m, rho, z, zp, 1e-8, gauss)
        j0 = probe.j0_form_rows(1.0, k_m, rho, z, zp, 1e-8, LAM_MULT, DEPTH, DETOUR, gx, gw)
        assert np.array_equal(rows.view(np.uint64), j0.view(np.uint64))
    far = _batch(1.0, _k(4 - 1j), [1e4], [0.0], [0.0], 1e-8, gauss)
    j0 = probe.j0_form_rows(1.0, _k(4 - 1j), [1e4], [0.0], [0.0], 1e-8, LAM_MULT, DEPTH, DETOUR,
                            gx, gw)
    assert not np.array_equal(far, j0)
