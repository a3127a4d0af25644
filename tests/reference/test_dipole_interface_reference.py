"""The arbitrary-precision interface reference of dipole_interface_reference.py:
its homogeneous limit against the closed forms, reciprocity with the media
exchanged (electric, magnetic and mixed), its J0 channels against the
six-integral reference of an independent derivation, its Hankel functions,
and the committed data set against a fresh evaluation.

The long sweeps are marked slow; the default run keeps a few cheap points."""
import cmath
import json
import math
import sys
from pathlib import Path

import flint
import mpmath as mp
import numpy as np
import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import dipole_closed_form as cf  # noqa: E402
import dipole_interface_reference as dr  # noqa: E402

DATA = HERE.parent / "data"
F = 10e6
K0 = 2 * math.pi * F / cf.SPEED_OF_LIGHT
MIRROR = np.diag([1.0, 1.0, -1.0])


def _k(eps_r):
    k = K0 * cmath.sqrt(complex(eps_r))
    return k if k.imag <= 0 else -k


def _rel(got, ref):
    return np.linalg.norm(np.asarray(got) - ref) / np.linalg.norm(ref)


def test_hankel_functions_through_k_agree_with_mpmath():
    worst = 0.0
    with mp.workdps(60):
        for w in (0.4 + 0.1j, 7 + 12j, 150 + 3j, 2.5 - 0.8j):
            for kind, ref_fn in ((1, mp.hankel1), (2, mp.hankel2)):
                arg = complex(w) if kind == 1 else complex(w).conjugate()
                old = flint.ctx.prec
                flint.ctx.prec = dr.PREC
                try:
                    got = dr.hankel(kind, flint.acb(arg.real, arg.imag))
                finally:
                    flint.ctx.prec = old
                for n in range(3):
                    ref = ref_fn(n, mp.mpc(arg))
                    worst = max(worst, float(abs(complex(got[n]) - complex(ref)) / abs(complex(ref))))
    assert worst <= 1e-15


def test_each_term_is_a_trigonometric_polynomial_of_its_degree():
    # the assembly takes only the orders ORDERS[degree] of each term
    with mp.workdps(dr.ASSEMBLY_DPS):
        consts = {"wm": mp.mpf(3.1), "kp2": mp.mpc(0.7, 0), "km2": mp.mpc(2.0, -0.4)}
        vec = [mp.mpc(0.3, 0.1), mp.mpc(-0.5, 0.2), mp.mpc(0.8, -0.3)]
        for _, _, _, degree, v in dr.TERMS:
            coef = dr.fourier_coefficients(v, vec, consts)
            size = max(abs(c) for n in coef for c in coef[n])
            for n in coef:
                if n not in dr.ORDERS[degree]:
                    assert max(abs(c) for c in coef[n]) <= 1e-30 * size


def _homogeneous_errors(eps_r, x, y, z, zp):
    """Worst error of E and H against the closed forms, relative to the field's
    size (|E| + eta |H|, so that a vanishing component counts too)."""
    k = _k(eps_r)
    eta = K0 * cf.ETA_0 / abs(k)
    rho, phi = math.hypot(x, y), math.atan2(y, x)
    chan = dr.channels(k, k, rho, z, zp)
    worst = 0.0
    for source in dr.SOURCES:
        for direction in ((0, 0, 1), (1, 0, 0), (0.3, -0.4, 0.5)):
            e, h = dr.assemble(chan, K0, k, k, phi, source, cf.unit_vector(direction))
            e_ref, h_ref = cf.dipole_field(K0, k, x, y, z - zp, source=source, direction=direction)
            size = np.linalg.norm(e_ref) + eta * np.linalg.norm(h_ref)
            worst = max(worst, np.linalg.norm(np.array(e, complex) - e_ref) / size,
                        eta * np.linalg.norm(np.array(h, complex) - h_ref) / size)
    return worst


@pytest.mark.parametrize("eps_r, x, y, z, zp", [
    (1.0, 0.0, 0.0, 1.0, -0.5),        # on the axis
    (4 - 1j, 0.0, 0.0, 0.0, -2.0),     # on the axis, at z = 0, lossy
    (1.0, 0.6, -0.8, 0.0, -2.0),       # at z = 0
])
def test_one_medium_gives_the_closed_form_fields(eps_r, x, y, z, zp):
    assert _homogeneous_errors(eps_r, x, y, z, zp) <= 1e-14


@pytest.mark.slow
@pytest.mark.parametrize("eps_r, x, y, z, zp", [
    (1.0, 5.0, 0.0, 0.0, 0.0),          # both on the interface
    (1.0, 300.0, 400.0, 3.0, -1.0),     # kR about 100
    (1.0, 1e-4, 2e-4, 1e-4, -1e-4),     # kR about 1e-4
    (4 - 1j, -20.0, 7.0, 0.5, -0.5),
    (81 - 7.19e3j, 0.3, 0.1, 0.05, -0.05),
])
def test_one_medium_gives_the_closed_form_fields_far_and_near(eps_r, x, y, z, zp):
    # the closed form's own rounding of the phase kR is about kR times epsilon
    assert _homogeneous_errors(eps_r, x, y, z, zp) <= 1e-13


def _reciprocity(k_p, k_m, x, y, z, zp):
    """Both sides of the three reciprocity relations between a dipole at
    (0, 0, zp) below and one at (x, y, z) above, the second one evaluated by
    the mirrored problem (media exchanged, heights negated)."""
    p1 = cf.unit_vector((0.4, -0.3, 0.8))
    p2 = cf.unit_vector((-0.6, 0.5, 0.2))
    rho, phi = math.hypot(x, y), math.atan2(y, x)
    mirror_phi = math.atan2(-y, -x)
    up = dr.channels(k_p, k_m, rho, z, zp)
    down = dr.channels(k_m, k_p, rho, -zp, -z)
    j_omega_mu = 1j * K0 * cf.ETA_0

    def field(chan, kp, km, ph, source, vec):
        e, h = dr.assemble(chan, K0, kp, km, ph, source, vec)
        return np.array(e, complex), np.array(h, complex)

    # electric-electric: p2 . E1(r2) = p1 . E2(r1); a polar moment mirrors as M p
    e1, _ = field(up, k_p, k_m, phi, "electric", p1)
    e2, _ = field(down, k_m, k_p, mirror_phi, "electric", MIRROR @ p2)
    ee = (p2 @ e1, (MIRROR @ p1) @ e2)
    # magnetic-magnetic: m2 . H1(r2) = m1 . H2(r1); an axial moment mirrors as -M m
    _, h1 = field(up, k_p, k_m, phi, "magnetic", p1)
    _, h2 = field(down, k_m, k_p, mirror_phi, "magnetic", -MIRROR @ p2)
    mm = (p2 @ h1, -(MIRROR @ p1) @ h2)
    # electric 1, magnetic 2 (J_m = j omega mu0 m): p1 . E2(r1) = -j omega mu0 m2 . H1(r2)
    _, h1 = field(up, k_p, k_m, phi, "electric", p1)
    e2, _ = field(down, k_m, k_p, mirror_phi, "magnetic", -MIRROR @ p2)
    em = ((MIRROR @ p1) @ e2, -j_omega_mu * (p2 @ h1))
    return ee, mm, em


@pytest.mark.parametrize("eps_r, x, y, z, zp", [
    (4 - 1j, 0.3, -0.4, 1.0, -2.0),
    pytest.param(4 - 1j, 0.7, -0.4, 0.3, -0.6, marks=pytest.mark.slow),
    pytest.param(-2 - 0.1j, 1.5, 2.0, 0.0, -0.4, marks=pytest.mark.slow),
    pytest.param(81 - 7.19e3j, 0.0, 0.0, 0.5, -0.05, marks=pytest.mark.slow),
    pytest.param(2.25, 8.0, -3.0, 1.0, 0.0, marks=pytest.mark.slow),
])
def test_fields_are_reciprocal_with_the_media_exchanged(eps_r, x, y, z, zp):
    for a, b in _reciprocity(K0, _k(eps_r), x, y, z, zp):
        assert abs(a - b) <= 1e-14 * abs(a)


@pytest.mark.slow
def test_a_wrong_transmission_factor_breaks_reciprocity(monkeypatch):
    # reciprocity sees a factor that treats the two sides unequally: the TE
    # transmission factor of the wrong side, 2 gamma_p / (gamma_p + gamma_m),
    # fails it. (A slip symmetric in the media, such as exchanging the
    # permittivities in k_m**2 gamma_p + k_p**2 gamma_m, passes; the check
    # against the six-integral reference below catches that one.)
    monkeypatch.setitem(dr.FACTORS, "1/DE", lambda lam, gp, gm, de, dh: gp / (gm * de))
    ee, _, _ = _reciprocity(K0, _k(4 - 1j), 0.3, -0.4, 1.0, -2.0)
    assert abs(ee[0] - ee[1]) > 1e-3 * abs(ee[0])


@pytest.mark.parametrize("regime, triple", [
    ("lossy 2-0.5j", (1.0, 0.5, -0.25)),
    pytest.param("high contrast", (0.5, 0.05, -0.02), marks=pytest.mark.slow),
    pytest.param("lossless 1.5", (5.0, 1.0, -0.5), marks=pytest.mark.slow),
])
def test_vertical_channels_agree_with_the_six_integral_reference(regime, triple):
    # (2 pi)^-1 int lambda S g J0 = I_c / (4 pi) for g = 1/D_E (I0), 1/D_H (I1),
    # -gamma_p gamma_m / D_H (I4), lambda^2 / D_H (k_p^2 I1 - I3 - I4), from
    # tests/data/interface_reference.json (Hertz potentials, 30 digits)
    rows = json.loads((DATA / "interface_reference.json").read_text())["rows"]
    picked = [r for r in rows if r["regime"] == regime and (r["rho"], r["z"], r["zp"]) == triple]
    assert len(picked) == 1
    for row in picked:
        k_p, k_m = row["k_p"], complex(*row["k_m"])
        six = [complex(*v) for v in row["values"]]
        chan = dr.channels(k_p, k_m, row["rho"], row["z"], row["zp"])
        pairs = [("1/DE", six[0]), ("1/DH", six[1]), ("gpgm/DH", -six[4]),
                 ("l2/DH", k_p**2 * six[1] - six[3] - six[4])]
        for g, ref in pairs:
            got = 4 * math.pi * complex(chan[(g, 0)])
            assert abs(got - ref) <= 1e-14 * abs(ref), g


def test_committed_data_matches_a_fresh_evaluation():
    # the cheapest committed row on the axis, recomputed; the generator's
    # own two-contour agreement for every row
    doc = json.loads((DATA / "dipole_interface_reference.json").read_text())
    assert doc["generator"] == "tests/reference/make_dipole_reference.py"
    assert max(r["agreement"] for r in doc["rows"]) <= 1e-13
    row = min((r for r in doc["rows"] if r["x"] == r["y"] == 0), key=lambda r: r["seconds"])
    med = doc["media"][row["medium"]]
    k0, k_p, k_m = med["k0"], complex(*med["k_p"]), complex(*med["k_m"])
    chan = dr.channels(k_p, k_m, 0.0, row["z"], row["zp"])
    for key, fields in row["fields"].items():
        source, axis = key.split()
        vec = [1.0 if a == axis else 0.0 for a in "xyz"]
        e, h = dr.assemble(chan, k0, k_p, k_m, 0.0, source, vec)
        for got, ref in ((e, fields["E"]), (h, fields["H"])):
            ref = np.array([complex(*c) for c in ref])
            scale = max(np.linalg.norm(ref), 1e-300)
            assert np.linalg.norm(np.array(got, complex) - ref) <= 1e-15 * scale
