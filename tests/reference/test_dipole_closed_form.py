"""The closed-form dipole fields of dipole_closed_form.py: Maxwell's equations
by finite differences in mpmath, the textbook vertical dipole, the far field,
and the magnetic dipole as the limit of a small ring of current elements."""
import math
import sys
from pathlib import Path

import mpmath as mp
import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import dipole_closed_form as cf  # noqa: E402

K0 = 2 * math.pi * 10e6 / cf.SPEED_OF_LIGHT          # 10 MHz
MEDIA = {
    "air": 1.0,
    "lossy ground": complex(4.0, -1.0),
    "sea water": complex(81.0, -4.0 / (2 * math.pi * 10e6 * cf.EPSILON_0)),
}
DIRECTIONS = [(0, 0, 1), (1, 0, 0), (0.3, -0.5, 0.8)]


def _k(eps_r):
    k = K0 * complex(np.sqrt(complex(eps_r)))
    return k if k.imag <= 0 else -k


@pytest.mark.parametrize("source", cf.SOURCES)
@pytest.mark.parametrize("medium", list(MEDIA))
def test_maxwell_equations_hold_away_from_the_source(source, medium):
    # curl E = -j omega mu0 H, curl H = j omega eps E, div E = div H = 0, by
    # numerical differentiation at 30 digits at points near and far (kR 0.3 to 8)
    k = _k(MEDIA[medium])
    v = cf.unit_vector((0.3, -0.5, 0.8)) * (0.7 - 0.2j)
    with mp.workdps(30):
        kk = mp.mpc(k)
        omega_mu = mp.mpf(K0) * cf.ETA_0
        j_omega_eps = 1j * kk * kk / omega_mu
        vm = [mp.mpc(c) for c in v]

        def fields(r):
            e, h = cf.field_at(mp.mpf(K0), kk, r[0], r[1], r[2], source, vm, exp=mp.exp, sqrt=mp.sqrt)
            return e + h

        for kr in (0.3, 2.0, 8.0):
            r0 = [mp.mpf(kr) / abs(k) * c for c in (0.6, -0.48, 0.64)]
            d = []  # d[a][i]: d/dx_a of component i (E then H)
            for a in range(3):
                def comp(t, a=a, r0=r0):
                    r = list(r0)
                    r[a] = r0[a] + t
                    return fields(r)
                d.append([mp.diff(lambda t, i=i: comp(t)[i], 0) for i in range(6)])
            f0 = fields(r0)
            curl_e = [d[1][2] - d[2][1], d[2][0] - d[0][2], d[0][1] - d[1][0]]
            curl_h = [d[1][5] - d[2][4], d[2][3] - d[0][5], d[0][4] - d[1][3]]
            e_size = max(abs(c) for c in f0[:3])
            h_size = max(abs(c) for c in f0[3:])
            scale = abs(k)
            for i in range(3):
                assert abs(curl_e[i] + 1j * omega_mu * f0[3 + i]) <= 1e-20 * scale * e_size
                assert abs(curl_h[i] - j_omega_eps * f0[i]) <= 1e-20 * scale * h_size
            assert abs(d[0][0] + d[1][1] + d[2][2]) <= 1e-20 * scale * e_size
            assert abs(d[0][3] + d[1][4] + d[2][5]) <= 1e-20 * scale * h_size


@pytest.mark.parametrize("medium", list(MEDIA))
def test_vertical_electric_dipole_has_the_textbook_spherical_components(medium):
    # kR from 1e-3 to 1e3 (to 30 in the lossy media, where the field underflows
    # further out); the phase k R carries a rounding of about kR times epsilon
    k = _k(MEDIA[medium])
    r = np.array([1e-3, 0.1, 1.0, 30.0, 1e3 if k.imag == 0 else 5.0])[:, None] / abs(k)
    theta = np.array([0.0, 0.4, math.pi / 2, 2.5, math.pi])
    phi = 0.7
    st, ct = np.sin(theta), np.cos(theta)
    x, y, z = r * st * math.cos(phi), r * st * math.sin(phi), r * ct
    e, h = cf.dipole_field(K0, k, x, y, z, moment=2.5 - 1j)
    rh = np.stack(np.broadcast_arrays(st * math.cos(phi), st * math.sin(phi), ct + 0 * r), axis=-1)
    th = np.stack(np.broadcast_arrays(ct * math.cos(phi), ct * math.sin(phi), -st + 0 * r), axis=-1)
    ph = np.array([-math.sin(phi), math.cos(phi), 0.0])
    e_r, e_t, h_p = cf.vertical_spherical(K0, k, r, theta, moment=2.5 - 1j)
    e_ref = e_r[..., None] * rh + e_t[..., None] * th
    h_ref = h_p[..., None] * ph
    e_err = np.linalg.norm(e - e_ref, axis=-1) / np.linalg.norm(e_ref, axis=-1)
    h_size = np.linalg.norm(h_ref, axis=-1)
    h_err = np.linalg.norm(h - h_ref, axis=-1) / np.where(h_size > 0, h_size, np.abs(h_p).max())
    assert e_err.max() <= 1e-12
    assert h_err.max() <= 1e-12


@pytest.mark.parametrize("source", cf.SOURCES)
@pytest.mark.parametrize("direction", DIRECTIONS)
def test_far_field_is_a_transverse_plane_wave(source, direction):
    # E = eta H x Rh and Rh . E = 0 up to terms of order 1/(kR)
    k = _k(MEDIA["air"])
    eta = K0 * cf.ETA_0 / k
    rh = cf.unit_vector((0.2, 0.9, -0.4))
    worst = []
    for kr in (1e2, 1e4):
        e, h = cf.dipole_field(K0, k, *(rh * kr / abs(k)), source=source, direction=direction)
        size = np.linalg.norm(e)
        worst.append((np.linalg.norm(e - eta * np.cross(h, rh)) / size, abs(rh @ e) / size))
    assert max(worst[1]) <= 3e-4
    assert worst[1][0] <= 0.02 * worst[0][0] + 1e-12   # falls like 1/(kR)


@pytest.mark.parametrize("medium", ["air", "lossy ground"])
@pytest.mark.parametrize("direction", DIRECTIONS)
def test_magnetic_dipole_is_a_small_ring_of_current_elements(medium, direction):
    # a ring of radius a, current I, circulating right-handed about the normal,
    # as 64 current elements: the loop of moment I pi a^2 up to (k a)^2, (a/R)^2
    k = _k(MEDIA[medium])
    n = cf.unit_vector(direction)
    u = np.cross(n, [0.31, 0.17, 0.93])
    u /= np.linalg.norm(u)
    w = np.cross(n, u)
    a = 1e-4 / abs(k)
    current = 1.3
    pts = np.array([[0.7, -0.2, 0.5], [-0.1, 0.3, -1.2], [2.0, 1.0, 0.4]]) / abs(k)
    t = 2 * math.pi * np.arange(64) / 64
    e_sum = np.zeros((len(pts), 3), complex)
    h_sum = np.zeros((len(pts), 3), complex)
    for ti in t:
        pos = a * (math.cos(ti) * u + math.sin(ti) * w)
        tangent = -math.sin(ti) * u + math.cos(ti) * w
        e, h = cf.dipole_field(K0, k, pts[:, 0], pts[:, 1], pts[:, 2], direction=tangent,
                               moment=current * 2 * math.pi * a / 64, source_point=pos)
        e_sum += e
        h_sum += h
    e, h = cf.dipole_field(K0, k, pts[:, 0], pts[:, 1], pts[:, 2], source="magnetic", direction=n,
                           moment=current * math.pi * a * a)
    for got, ref in ((e_sum, e), (h_sum, h)):
        err = np.linalg.norm(got - ref, axis=-1) / np.linalg.norm(ref, axis=-1)
        assert err.max() <= 1e-6


def test_fields_broadcast_and_are_linear_in_the_moment():
    k = _k(MEDIA["lossy ground"])
    x = np.linspace(-3, 3, 4)[:, None]
    z = np.array([0.5, 2.0])
    e1, h1 = cf.dipole_field(K0, k, x, 1.0, z, source="magnetic", direction=(2, 0, 0), moment=1.0)
    e2, h2 = cf.dipole_field(K0, k, x, 1.0, z, source="magnetic", direction=(1, 0, 0), moment=-2j)
    assert e1.shape == h1.shape == (4, 2, 3)
    np.testing.assert_allclose(e2, -2j * e1, rtol=1e-15)
    np.testing.assert_allclose(h2, -2j * h1, rtol=1e-15)
