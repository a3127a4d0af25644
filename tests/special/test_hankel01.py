"""hankel01 (H0 and H1 from one pass) and the K1 / I1 routines behind it,
against python-flint.

H1 comes from K1 by the same rotation as H0 from K0: ZBKNU carries K1 along
(Temme's companion series for |w| <= 2, the ratio of the Miller sequence's
first two members above), and the continuation adds pi I1 of the reflected
argument. Errors are reported (pytest -s) as the worst case and its argument
per route; near a zero of H1 on the continuation side (where J1 and iY1
cancel) they are measured against |J1|, as for H0.
"""

import cmath
import math

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
    i_value,
    k_value,
    rotated,
    takes_continuation,
)

NAN = float("nan")
INF = float("inf")
EPS = 2.0**-52
# Defended bounds, about three times the worst error seen on the sweeps.
RHP_BOUND = 5e-15
CONT_BOUND = 3e-14
# From Re w > alim = 664.87 ZBKNU computes e^w K(w) and rescales by e^{-w}
# through a logarithm, whose rounding (|w| eps) is carried into the exponent:
# about 5e-14 at |w| = 690, for K0 as for K1.
SCALED_BOUND = 1.5e-13
ALIM = 664.8716455337102


def _from_w(kind, w):
    """The z whose rotated argument is w: z = i w (kind 1) or -i w (kind 2)."""
    return 1j * w if kind == 1 else -1j * w


def _points(seed, count):
    rng = np.random.default_rng(seed)
    pts = []
    moduli = np.concatenate([10 ** rng.uniform(-300, math.log10(4e7), count // 2), rng.uniform(0.5, 40, count // 2)])
    for r in moduli:
        z = cmath.rect(r, rng.uniform(-math.pi, math.pi))
        for q in (z, z.conjugate(), -z, -z.conjugate(), complex(r, 0), complex(0, r), complex(0, -r),
                  complex(-r, 0.0), complex(-r, -0.0), complex(-r, 1e-9 * r)):
            pts.append((int(rng.integers(1, 3)), q))
    # both sides of each switch radius of w, in every direction
    for radius in (SERIES_RADIUS, RL, T2):
        for factor in (1 - 64 * EPS, 1 - EPS, 1.0, 1 + EPS, 1.001, 0.999):
            for phase in np.linspace(-math.pi, math.pi, 17):
                for kind in (1, 2):
                    pts.append((kind, _from_w(kind, cmath.rect(radius * factor, phase))))
    # the tail rays: kind 1 above the real axis, kind 2 below
    n = count // 4
    rho, start, t = 10 ** rng.uniform(-3, 3, n), 10 ** rng.uniform(-1, 2, n), 10 ** rng.uniform(-3, 3, n)
    up = rho * (start + t * cmath.exp(0.25j * math.pi))
    pts += [(1, z) for z in up] + [(2, z.conjugate()) for z in up]
    return pts


def _reference(kind, z):
    """(H1^(kind)(z), |J1(z)|). On the right half-plane route H1 decays and
    J1 -+ iY1 cancel, by up to e^|Im z|: there H1 = -(2/pi) K1 of the rotated
    argument (DLMF 10.27.8) is the well-conditioned form of the reference."""
    if takes_continuation(kind, z):
        return hankel_with_scale(kind, z, order=1)
    return -2 / math.pi * k_value(rotated(kind, z), 1), 0.0


def _errors(points):
    by_route = {"right half-plane": [], "continuation": []}
    for kind, z in points:
        ref, j1 = _reference(kind, z)
        if not 1e-300 < abs(ref) < 1e300:
            continue
        _, got = probe.hankel01(kind, z)
        got = complex(got)
        diff = abs(got - ref) if np.isfinite(got) else INF
        route = "continuation" if takes_continuation(kind, z) else "right half-plane"
        by_route[route].append((diff / abs(ref), diff / max(abs(ref), j1), kind, z))
    return by_route


def _check(by_route):
    for route, rows in by_route.items():
        worst = max(rows, key=lambda r: r[1])
        print(f"\nH1 {route:17s} n={len(rows):6d} worst {worst[1]:.2e} ({worst[1] / EPS:.1f} eps) "
              f"at kind {worst[2]}, z={worst[3]!r}")
    assert by_route["right half-plane"] and by_route["continuation"]
    assert max(r[0] for r in by_route["right half-plane"]) < RHP_BOUND
    assert max(r[1] for r in by_route["continuation"]) < CONT_BOUND


def test_h1_accuracy_sweep():
    _check(_errors(_points(seed=15, count=160)))


@pytest.mark.slow
def test_h1_accuracy_sweep_large():
    _check(_errors(_points(seed=16, count=3000)))


def test_h0_of_the_pair_is_hankel0_bit_for_bit():
    pts = _points(seed=17, count=400)
    special = [complex(NAN, 1), complex(1, NAN), 0j, complex(-0.0, 0.0), complex(0.0, -0.0), complex(INF, 0),
               complex(1e-306, 0), complex(UFL, 0), complex(0, LOSS_LIMIT), complex(RANGE_LIMIT * 2, 0),
               800j, -800j, 680j, -680j, complex(-LOSS_LIMIT * 1.5, 0)]
    for kind in (1, 2, 3):
        z = np.array([p[1] for p in pts] + special, complex)
        h0, h1 = probe.hankel01(kind, z)
        assert h0.tobytes() == probe.hankel0(kind, z).tobytes()
        assert h1.tobytes() == probe.hankel1(kind, z).tobytes()


@pytest.mark.parametrize("w", [1e-300, 1e-10, 0.5, 1.9 + 0.5j, 2.0, 2.0000000000000004, 2j, -2j, 10j, 28.0 + 3j,
                               T2, T2 + 1e-9j, 50 + 50j, 1.5 - 3e6j, 4e7j, 600.0, 690 + 5j])
def test_k1_right_half_plane(w):
    k0, k1, nz = probe.zbknu01(w)
    assert nz == 0
    bound = SCALED_BOUND if complex(w).real > ALIM else RHP_BOUND
    assert abs(k1 - k_value(w, 1)) <= bound * abs(k_value(w, 1))
    # K0 of the two-member call is the one-member K0, bit for bit
    one, _ = probe.zbknu(w)
    assert (k0.real, k0.imag) == (one.real, one.imag)


@pytest.mark.parametrize("w", [1e-200, 1.0 + 1j, 2.0, 2j, 2.0000000000000004, 8 + 8j, 15.0, 15j, RL,
                               RL * (1 - 2**-52), 30j, 30 - 20j, 600.0])
def test_i1_right_half_plane(w):
    i0, i1, nz = probe.zbinu01(w)
    assert nz == 0
    ref = i_value(w, 1)
    # against max(1, |I1|) and |I0|: on the imaginary axis I1 = i J1 has zeros
    assert abs(i1 - ref) <= CONT_BOUND * max(abs(ref), abs(i_value(w, 0)))
    one, _ = probe.zbinu(w)
    assert (i0.real, i0.imag) == (one.real, one.imag)


# (kind, z, expected class of H1): 'nan', 'zero' or 'finite' (accurate)
EDGE_CASES = [
    (1, complex(NAN, 0.0), "nan"),
    (2, complex(0.0, NAN), "nan"),
    (1, 0j, "nan"),
    (2, 0j, "nan"),  # the pole; H0 keeps its (NaN, 1e300)
    (1, complex(1e-306, 0), "nan"),  # refused as too small
    (1, complex(UFL, 0), "finite"),  # H1 ~ -2i/(pi z) = 2.9e304: still finite
    (2, complex(0, -UFL * 10), "finite"),
    (1, complex(LOSS_LIMIT * (1 + 1e-15), 0), "finite"),
    (2, complex(-LOSS_LIMIT * 1.5, 0), "finite"),
    (1, complex(RANGE_LIMIT * 2, 0), "nan"),
    (2, complex(INF, 0), "nan"),
    (1, 800j, "zero"),  # K underflows
    (2, -800j, "zero"),
    (1, -800j, "nan"),  # the continuation overflows
    (2, 800j, "nan"),
    (1, 680j, "finite"),  # the scaled path of ZBKNU, rescaled on range
    (2, -680j, "finite"),
    (1, -680j, "finite"),  # continuation with I1 near overflow
]


@pytest.mark.parametrize("kind,z,expect", EDGE_CASES)
def test_edge_cases(kind, z, expect):
    h0, h1 = (complex(v) for v in probe.hankel01(kind, z))
    if expect == "nan":
        assert math.isnan(h1.real) and math.isnan(h1.imag)
    elif expect == "zero":
        assert h1 == 0
    else:
        ref, _ = _reference(kind, z)
        tol = 1e-7 if abs(z) > LOSS_LIMIT else SCALED_BOUND if abs(z) > ALIM else CONT_BOUND
        assert abs(h1 - ref) <= tol * abs(ref)
    if kind == 2 and z == 0:
        assert math.isnan(h0.real) and h0.imag == 1e300


@pytest.mark.parametrize(
    "kind,z,route",
    [(1, 5.0, "rhp"), (2, 5.0, "rhp"), (1, complex(-5.0, 0.0), "rhp"), (2, complex(-5.0, 0.0), "cont"),
     (2, complex(-5.0, -0.0), "cont"), (1, 3j, "rhp"), (2, -3j, "rhp"), (1, -3j, "cont"), (2, 3j, "cont"),
     (1, 1.5 - 0.5j, "cont"), (2, 1.5 + 0.5j, "cont"), (1, -25 - 0.5j, "cont"), (2, -25 + 0.5j, "cont"),
     (1, 12 + 0.5j, "rhp"), (2, 40 - 3j, "rhp")],
)
def test_route(kind, z, route):
    # H1 is exactly -(2/pi) K1 of the route the argument belongs to
    zn = rotated(kind, z)
    if route == "rhp":
        _, k1, nz = probe.zbknu01(zn)
    else:
        _, k1, nz = probe.zacon01(zn, 2 * kind - 3)
    assert nz == 0
    assert takes_continuation(kind, z) == (route == "cont")
    factor = -(1.0 / (math.pi / 2))
    _, h1 = probe.hankel01(kind, z)
    assert complex(h1) == complex(k1.real * factor, k1.imag * factor)
    ref, _ = _reference(kind, z)
    assert abs(h1 - ref) <= CONT_BOUND * abs(ref)


def test_zbesh_two_members():
    cy0, cy1, nz, ierr = probe.zbesh01(3 + 4j, 1)
    one, nz1, ierr1 = probe.zbesh(3 + 4j, 1)
    assert (nz, ierr) == (nz1, ierr1) == (0, 0) and cy0 == one
    # refusals leave both members at their preset
    for z, kind in [(0j, 1), (1e-310 + 0j, 1), (complex(INF, 0), 2), (-800j, 1), (3.0, 3)]:
        cy0, cy1, nz, ierr = probe.zbesh01(z, kind)
        assert nz == 0 and ierr != 0
        assert all(math.isnan(c.real) and math.isnan(c.imag) for c in (cy0, cy1))


def test_mirror_symmetry_and_wronskian():
    # H1^(2)(conj z) = conj H1^(1)(z) off the negative real axis, and
    # H0^(1) H1^(2) - H1^(1) H0^(2) = 4i / (pi z) (DLMF 10.5.5 with
    # H'_0 = -H_1) to rounding, with |H0 H1| as the scale of the cancellation.
    rng = np.random.default_rng(3)
    z = 10 ** rng.uniform(-3, 2.5, 400) * np.exp(1j * rng.uniform(0.01, 3.1, 400))
    a0, a1 = probe.hankel01(1, z)
    b0, b1 = probe.hankel01(2, np.conj(z))
    ok = np.isfinite(a1) & (np.abs(a1) > 1e-290)
    assert np.all(np.abs(b1[ok] - np.conj(a1[ok])) <= 1e-15 * np.abs(a1[ok]))
    c0, c1 = probe.hankel01(2, z)
    w = a0 * c1 - a1 * c0
    scale = np.abs(a0 * c1) + np.abs(a1 * c0)
    fin = np.isfinite(scale)
    assert np.all(np.abs(w - 4j / (np.pi * z))[fin] <= 1e-14 * scale[fin])
