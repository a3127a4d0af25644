"""J0 of real and complex argument and Hankel's P, Q, against mpmath."""
import mpmath as mp
import numpy as np
import pytest

import _near_interface_probe as probe

mp.mp.dps = 30


def j0_ref(z):
    return complex(mp.besselj(0, mp.mpc(z)))


def rel_err(got, z):
    ref = np.array([j0_ref(v) for v in z])
    return np.abs(got - ref) / np.abs(ref)


def around(radius, imag):
    """Points just inside and outside |z| = radius at the given imaginary part."""
    eps = np.array([-1e-9, -1e-3, 0.0, 1e-3, 1e-9])
    re = np.sqrt((radius + eps) ** 2 - imag**2)
    return re + 1j * imag


@pytest.mark.parametrize("z", [
    np.geomspace(1e-8, 7.99, 60),                       # two terms and series
    np.linspace(8.0, 24.99, 60),                        # recurrence
    np.geomspace(25.0, 1e4, 60),                        # asymptotic expansion
    around(8.0, 0.0), around(25.0, 0.0),
    around(8.0, 0.5), around(8.0, 3.0), around(25.0, 0.5), around(25.0, 3.0),
    np.linspace(0.1, 40, 80) + 0.2j,
    np.linspace(0.1, 40, 80) * np.exp(0.25j),           # the detour's argument range
], ids=["series", "recurrence", "asymptotic", "r8", "r25", "r8i.5", "r8i3", "r25i.5",
        "r25i3", "lineish", "ray"])
def test_j0_small_imaginary_part(z):
    # Just below |z| = 8 the alternating series cancels: its largest term is
    # about 113 against J0(8) = 0.17, which costs ~1.2e-13; elsewhere 1e-13.
    z = np.asarray(z, complex)
    bound = np.where(np.abs(z) < 8, 2e-13, 1e-13)
    assert np.all(rel_err(probe.bessel_j0(z), z) <= bound)


def test_j0_real_form():
    x = np.concatenate([np.linspace(0.001, 60, 500), [-3.0, -10.0, -30.0]])
    got = probe.bessel_j0(x.astype(complex))
    assert np.all(got.imag == 0)
    ref = np.array([float(mp.besselj(0, v)) for v in x])
    # relative error where J0 is not near a zero, absolute near zeros
    assert np.all(np.abs(got.real - ref) <= 1e-13 * np.maximum(np.abs(ref), 0.05))


def test_j0_even_and_large_imaginary_part():
    z = np.array([3 + 4j, 12 + 9j, 30 + 20j, 0.5 + 15j])
    np.testing.assert_array_equal(probe.bessel_j0(z), probe.bessel_j0(-z))
    # the recurrence's normalising sum cancels as e^|Im z| grows: a few digits
    # go, but the series and the expansion hold
    assert rel_err(probe.bessel_j0(z), z).max() < 1e-9


@pytest.mark.parametrize("z, expected", [
    (0.0, 1.0),
    (1e-7, 1.0 - 0.25e-14),
    (1e-7j, 1.0 + 0.25e-14),
    (float("nan"), float("nan")),
])
def test_j0_tiny_and_nan(z, expected):
    got = probe.bessel_j0(complex(z))
    if np.isnan(expected):
        assert np.isnan(got.real)
    else:
        assert got == pytest.approx(expected, rel=1e-16)


def test_j0_switch_points_use_neighbouring_methods_consistently():
    # q exactly 64 and 625: the methods on either side agree to ~1e-13
    for r in (8.0, 25.0):
        below, at = probe.bessel_j0(np.array([np.nextafter(r, 0), r], complex))
        assert abs(below - at) <= 1e-13 * abs(at)


def test_hankel_pq_coefficients():
    for z in (30.0, 100.0, 30 + 5j):
        p, q = probe.hankel_pq(z, 0.0)
        z = complex(z)
        # the next terms are 0.57/z^6 and 0.02/z^5 (DLMF 10.17.1)
        assert abs(p - (1 - 9 / (128 * z**2) + 3675 / (32768 * z**4))) < 0.6 / abs(z) ** 6
        assert abs(q - (-1 / (8 * z) + 75 / (1024 * z**3))) < 0.6 / abs(z) ** 5
    p, q = probe.hankel_pq(30.0, 0.0)
    assert isinstance(p, float) and isinstance(q, float)
    p, q = probe.hankel_pq(30 + 0j, 0.0)
    assert isinstance(p, complex)


@pytest.mark.parametrize("nu", [0.0, 1.0, 0.5])
def test_hankel_pq_other_orders(nu):
    # for half-integer order the expansion terminates: P = 1, Q = 0 exactly
    x = 40.0
    p, q = probe.hankel_pq(x, 4 * nu * nu)
    ref = (mp.besselj(nu, x) * mp.cos(x - (2 * nu + 1) * mp.pi / 4)
           + mp.bessely(nu, x) * mp.sin(x - (2 * nu + 1) * mp.pi / 4)) * mp.sqrt(mp.pi * x / 2)
    assert abs(p - float(ref)) < 1e-14
    if nu == 0.5:
        assert (p, q) == (1.0, 0.0)


@pytest.mark.parametrize("n", [1, 2, 5, 12])
def test_hankel_pq_terminates_for_half_integer_orders(n):
    # For order n + 1/2 the expansion ends after n + 1 terms, so P and Q are
    # exact (DLMF 10.17.3-4 inverted: P = sqrt(pi x/2) (J cos w + Y sin w),
    # Q = sqrt(pi x/2) (Y cos w - J sin w), w = x - (2 nu + 1) pi/4); x is large
    # enough that the terms fall from the first on and none is cut off.
    nu = n + 0.5
    mu = 4 * nu * nu
    x = 4.0 * mu
    w = x - (2 * nu + 1) * mp.pi / 4
    j, y = mp.besselj(nu, x), mp.bessely(nu, x)
    f = mp.sqrt(mp.pi * x / 2)
    p, q = probe.hankel_pq(x, mu)
    assert abs(p - float(f * (j * mp.cos(w) + y * mp.sin(w)))) < 2e-16
    assert abs(q - float(f * (y * mp.cos(w) - j * mp.sin(w)))) < 2e-16
