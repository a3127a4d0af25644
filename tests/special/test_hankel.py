"""hankel0 and ZBESH against python-flint, with the failure and status rules.

Errors are reported (pytest -s) as worst and 99th-percentile relative error
per route: the right half-plane route (K0 by ZBKNU alone, which every tail
ray of the integrator takes) and the continuation route (K0 and I0 at the
reflected argument). Points whose true value lies outside the normal double
range are left out of the statistics; their handling is tested separately.
"""

import cmath
import math
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import _near_interface_probe as probe
from flint_reference import (
    LOSS_LIMIT,
    RANGE_LIMIT,
    RL,
    SERIES_RADIUS,
    T2,
    UFL,
    hankel_with_scale,
    i0_value,
    k0_value,
    rotated,
    takes_continuation,
)

NAN = float("nan")
INF = float("inf")

# Defended bounds, about three times the worst error seen on the sweeps.
RHP_BOUND = 5e-15  # worst seen 1.4e-15 (|w| just below 2: the series cancels ~10x)
CONT_BOUND = 3e-14  # worst seen 8.5e-15 (Miller's I0 in the oscillatory region)


def _ray_points(rng, count):
    """Tail-ray arguments rho * (tail_start + t e^{+-i pi/4}), kind 1 up, kind 2 down."""
    rho = 10 ** rng.uniform(-3, 3, count)
    start = 10 ** rng.uniform(-1, 2, count)
    t = 10 ** rng.uniform(-3, 3, count)
    up = rho * (start + t * cmath.exp(0.25j * math.pi))
    return [(1, z) for z in up] + [(2, z.conjugate()) for z in up]


def _switch_radii_points():
    """Both sides of every switch radius, in every direction of w."""
    pts = []
    eps = 2.0**-52
    for radius in (SERIES_RADIUS, RL, T2):
        for factor in (1 - 64 * eps, 1 - eps, 1.0, 1 + eps, 1 + 64 * eps, 0.999, 1.001):
            for phase in np.linspace(-math.pi, math.pi, 17):
                w = cmath.rect(radius * factor, phase)
                for kind in (1, 2):
                    # w = -i z (kind 1) or i z (kind 2), so z = i w or -i w.
                    pts.append((kind, 1j * w if kind == 1 else -1j * w))
    return pts


def _sweep_points(seed, count):
    rng = np.random.default_rng(seed)
    pts = []
    moduli = np.concatenate([10 ** rng.uniform(-300, math.log10(4e7), count // 2), rng.uniform(0.5, 40, count // 2)])
    for r in moduli:
        z = cmath.rect(r, rng.uniform(-math.pi, math.pi))
        # Each point in all four quadrants, on both axes and on both sides of
        # the negative real axis (the branch cut).
        quads = [z, z.conjugate(), -z, -z.conjugate(), complex(r, 0), complex(0, r), complex(0, -r),
                 complex(-r, 0.0), complex(-r, -0.0), complex(-r, 1e-9 * r), complex(-r, -1e-9 * r)]
        for q in quads:
            pts.append((int(rng.integers(1, 3)), q))
    pts += _switch_radii_points()
    pts += _ray_points(rng, count // 4)
    return pts


def _errors(points):
    """Relative errors split by route, skipping values outside the normal range."""
    by_route = {"right half-plane": [], "continuation": []}
    for kind, z in points:
        ref, j0 = hankel_with_scale(kind, z)
        if not (1e-300 < abs(ref) < 1e300):
            continue
        got = complex(probe.hankel0(kind, z))
        rel = abs(got - ref) / abs(ref) if np.isfinite(got) else INF
        # Near a zero of H on the continuation side its halves J0 and iY0
        # cancel; the error is then measured against their size.
        scaled = abs(got - ref) / max(abs(ref), j0) if np.isfinite(got) else INF
        route = "continuation" if takes_continuation(kind, z) else "right half-plane"
        by_route[route].append((rel, scaled, kind, z))
    return by_route


def _report(by_route):
    for route, rows in by_route.items():
        rel = np.array([r[0] for r in rows])
        worst = rows[int(np.argmax(rel))]
        print(f"\n{route:17s} n={len(rows):6d} worst={rel.max():.2e} p99={np.percentile(rel, 99):.2e} "
              f"at kind {worst[2]}, z={worst[3]!r}")


def _check(by_route):
    _report(by_route)
    rhp = by_route["right half-plane"]
    cont = by_route["continuation"]
    assert rhp and cont
    assert max(r[0] for r in rhp) < RHP_BOUND
    assert max(r[1] for r in cont) < CONT_BOUND


def test_accuracy_sweep():
    _check(_errors(_sweep_points(seed=20240601, count=240)))


@pytest.mark.slow
def test_accuracy_sweep_large():
    _check(_errors(_sweep_points(seed=7, count=4000)))


@pytest.mark.parametrize("radius", [SERIES_RADIUS, RL, T2])
def test_switch_radii_continuous(radius):
    # Neighbouring doubles on the two sides of a switch give values that
    # differ by no more than the methods' accuracy.
    for phase in np.linspace(-math.pi, math.pi, 33):
        for kind in (1, 2):
            lo = cmath.rect(np.nextafter(radius, 0), phase)
            hi = cmath.rect(np.nextafter(radius, 10 * radius), phase)
            a = complex(probe.hankel0(kind, 1j * lo if kind == 1 else -1j * lo))
            b = complex(probe.hankel0(kind, 1j * hi if kind == 1 else -1j * hi))
            assert abs(a - b) <= CONT_BOUND * max(abs(a), abs(b))


@pytest.mark.parametrize(
    "w",
    [0.5, 2.0, 1.9 + 0.5j, 2.0000000000000004, 10j, -10j, 28.0 + 3j, T2, T2 + 1e-9j, 50 + 50j, 1.5 - 3e6j, 4e7j],
)
def test_k0_right_half_plane(w):
    got, nz = probe.zbknu(w)
    ref = k0_value(w)
    assert nz == 0
    assert abs(got - ref) <= RHP_BOUND * abs(ref)


@pytest.mark.parametrize(
    "w", [1e-200, 1.0 + 1j, 2.0, 2j, 2.0000000000000004, 8 + 8j, 15.0, RL, RL * (1 - 2**-52), 30j, 600.0]
)
def test_i0_right_half_plane(w):
    got, nz = probe.zbinu(w)
    ref = i0_value(w)
    assert nz == 0
    # Absolute against max(1, |I0|): on the imaginary axis I0 = J0 has zeros.
    assert abs(got - ref) <= CONT_BOUND * max(1.0, abs(ref))


# (kind, z, expected value class, expected nz, expected ierr); value classes:
# 'nan' = (NaN, NaN), 'kind2zero' = (NaN, 1e300), 'zero' = 0, 'finite' = accurate.
EDGE_CASES = [
    (1, complex(NAN, 0.0), "nan", None, None),
    (2, complex(0.0, NAN), "nan", None, None),
    (1, complex(3.0, NAN), "nan", None, None),
    (1, 0j, "nan", 0, 1),
    (2, 0j, "kind2zero", None, None),
    (1, complex(1e-306, 0), "nan", 0, 2),
    (2, complex(0, -1e-306), "nan", 0, 2),
    (1, complex(UFL, 0), "finite", 0, 0),
    (1, complex(LOSS_LIMIT * (1 + 1e-15), 0), "finite", 0, 3),
    (2, complex(-LOSS_LIMIT * 1.5, 0), "finite", 0, 3),
    (1, complex(0, LOSS_LIMIT), "zero", 1, 0),
    (1, complex(RANGE_LIMIT * (1 + 1e-15), 0), "nan", 0, 4),
    (2, complex(INF, 0), "nan", 0, 4),
    (1, complex(-3.0, INF), "nan", 0, 4),
    (1, 800j, "zero", 1, 0),
    (1, -800j, "nan", 0, 2),
    (2, -800j, "zero", 1, 0),
    (2, 800j, "nan", 0, 2),
    (1, 680j, "finite", 0, 0),  # K0 on the scaled path (Re w > alim), rescaled on range
    (2, -680j, "finite", 0, 0),
    (1, -680j, "finite", 0, 0),  # continuation with I0 near overflow
]


@pytest.mark.parametrize("kind,z,expect,nz,ierr", EDGE_CASES)
def test_edge_cases(kind, z, expect, nz, ierr):
    got = complex(probe.hankel0(kind, z))
    if expect == "nan":
        assert math.isnan(got.real) and math.isnan(got.imag)
    elif expect == "kind2zero":
        assert math.isnan(got.real) and got.imag == 1e300
    elif expect == "zero":
        assert got == 0
    else:
        ref, _ = hankel_with_scale(kind, z)
        tol = 1e-7 if abs(z) > LOSS_LIMIT else CONT_BOUND
        assert abs(got - ref) <= tol * abs(ref)
    if nz is not None:
        cy, got_nz, got_ierr = probe.zbesh(z, kind)
        assert (got_nz, got_ierr) == (nz, ierr)


def test_zbesh_leaves_preset_on_refusal():
    for z, kind in [(0j, 1), (0j, 2), (1e-310 + 0j, 1), (complex(INF, 0), 2), (-800j, 1), (3.0, 3)]:
        cy, nz, ierr = probe.zbesh(z, kind)
        assert nz == 0 and ierr != 0
        assert math.isnan(cy.real) and math.isnan(cy.imag)


# One argument for each outcome of ZBESH: its status, and what hankel0 makes of it.
@pytest.mark.parametrize(
    "kind,z,status,value",
    [
        (1, 5.0 + 0j, "normal", "finite"),
        (1, 800j, "underflow", "zero"),
        (1, complex(0, LOSS_LIMIT * 1.5), "underflow", "zero"),  # nz decides over ierr 3
        (1, complex(1e-306, 0), "overflow", "nan"),
        (1, -800j, "overflow", "nan"),  # the continuation overflows
        (2, complex(-LOSS_LIMIT * 1.5, 0), "reduced_accuracy", "finite"),
        (2, complex(RANGE_LIMIT * 2, 0), "not_computed", "nan"),
        (1, 0j, "bad_input", "nan"),
    ],
)
def test_status_of_each_outcome_decides_the_value(kind, z, status, value):
    _, nz, ierr = probe.zbesh(z, kind)
    assert probe.hankel_status(nz, ierr) == probe.zbesh_status[status]
    got = complex(probe.hankel0(kind, z))
    if value == "nan":
        assert math.isnan(got.real) and math.isnan(got.imag)
    elif value == "zero":
        assert got == 0
    else:
        assert np.isfinite(got) and got != 0


def test_an_unknown_kind_is_bad_input():
    _, nz, ierr = probe.zbesh(3.0 + 0j, 3)
    assert probe.hankel_status(nz, ierr) == probe.zbesh_status["bad_input"]


def _rotate(kind, k0):
    """i rhpi K0 as ZBESH forms it, rhpi = -2/pi (kind 1) or 2/pi (kind 2)."""
    rhpi = 1.0 / (-math.pi / 2 if kind == 1 else math.pi / 2)
    return complex(k0.real * -0.0 - k0.imag * rhpi, k0.real * rhpi + k0.imag * -0.0)


@pytest.mark.parametrize(
    "kind,z,route",
    [
        (1, 5.0, "rhp"), (2, 5.0, "rhp"),  # positive real axis: both kinds on K0 alone
        (1, complex(-5.0, 0.0), "rhp"),  # negative real axis, kind 1: zn = 5i
        (1, complex(-5.0, -0.0), "rhp"),
        (2, complex(-5.0, 0.0), "cont"),  # kind 2: zn = -5i, continued
        (2, complex(-5.0, -0.0), "cont"),
        (1, 3j, "rhp"), (2, -3j, "rhp"), (1, -3j, "cont"), (2, 3j, "cont"),
        (1, 2 - 1e-12j, "cont"), (2, 2 + 1e-12j, "cont"),
        (1, -25 - 0.5j, "cont"), (2, -25 + 0.5j, "cont"),
    ],
)
def test_route(kind, z, route):
    # The value is exactly the rotated K0 of the route the argument belongs to.
    zn = rotated(kind, z)
    if route == "rhp":
        k0, nz = probe.zbknu(zn)
    else:
        k0, nz = probe.zacon(zn, 2 * kind - 3)
    assert nz == 0
    assert takes_continuation(kind, z) == (route == "cont")
    expected = _rotate(kind, k0)
    got = complex(probe.hankel0(kind, z))
    assert got == expected
    ref, _ = hankel_with_scale(kind, z)
    assert abs(got - ref) <= CONT_BOUND * abs(ref)


def test_mirror_symmetry():
    # H0^(2)(conj z) = conj H0^(1)(z) off the negative real axis.
    rng = np.random.default_rng(3)
    z = 10 ** rng.uniform(-3, 3, 400) * np.exp(1j * rng.uniform(-3.1, 3.1, 400))
    h1 = probe.hankel0(1, z)
    h2 = probe.hankel0(2, np.conj(z))
    ok = np.isfinite(h1) & (np.abs(h1) > 1e-290)
    assert np.all(np.abs(h2[ok] - np.conj(h1[ok])) <= 1e-15 * np.abs(h1[ok]))


def test_vectorised_shapes():
    assert probe.hankel0(1, 2.0).shape == ()
    z = (np.arange(12.0) + 1).reshape(3, 4) * (1 + 0.5j)
    out = probe.hankel0(2, z)
    assert out.shape == (3, 4)
    assert out[1, 2] == complex(probe.hankel0(2, z[1, 2]))


def test_concurrent_calls_bit_identical():
    rng = np.random.default_rng(11)
    chunks = [10 ** rng.uniform(-2, 4, 4000) * np.exp(1j * rng.uniform(-math.pi, math.pi, 4000)) for _ in range(16)]
    serial = [(probe.hankel0(1, c), probe.hankel0(2, c)) for c in chunks]
    with ThreadPoolExecutor(max_workers=8) as pool:
        for _ in range(3):
            parallel = list(pool.map(lambda c: (probe.hankel0(1, c), probe.hankel0(2, c)), chunks))
            for (a1, a2), (b1, b2) in zip(serial, parallel):
                assert a1.tobytes() == b1.tobytes() and a2.tobytes() == b2.tobytes()
