"""The six interface kernels and the branch of the vertical wavenumbers."""
import cmath
import math

import mpmath as mp
import numpy as np
import pytest

import _near_interface_probe as probe

S3 = math.sqrt(3.0)


@pytest.mark.parametrize("lam, k, expected", [
    (2.0, 1.0, S3),                  # beyond the branch point: positive real
    (-2.0, 1.0, S3),                 # even in real lambda
    (0.5, 1.0, 1j * S3 / 2),         # inside: positive imaginary
    (1.0, 1.0, 0.0),                 # at the branch point
    (0.0, 2 - 0.5j, 1j * (2 - 0.5j)),  # gamma(0; k) = i k for every k
    (0.0, 3 + 1j, 1j * (3 + 1j)),
    (1.5, 2 - 0.5j, (1 + 2j) / math.sqrt(2)),
])
def test_vertical_wavenumber_values(lam, k, expected):
    assert probe.vertical_wavenumber(lam, k) == pytest.approx(expected, abs=1e-15)


def test_vertical_wavenumber_cuts_are_vertical():
    # just left and right of the cut falling from +k the value jumps;
    # across the real axis between the branch points it does not
    k = 2 - 0.5j
    left = probe.vertical_wavenumber(2 - 1e-12 - 1j, k)
    right = probe.vertical_wavenumber(2 + 1e-12 - 1j, k)
    assert abs(left + right) < 1e-9  # opposite sides of a square-root cut
    above = probe.vertical_wavenumber(1.0 + 1e-12j, k)
    below = probe.vertical_wavenumber(1.0 - 1e-12j, k)
    assert abs(above - below) < 1e-9
    lam = np.array([0.3, 1.2, 2.5, 10.0])
    g = probe.vertical_wavenumber(lam, 2 - 0.5j)
    assert (g.real > 0).all()  # lossy medium: decays on the real axis
    np.testing.assert_allclose(g * g, lam**2 - (2 - 0.5j) ** 2, rtol=1e-14)


def kernel_reference(z, zp, k_p, k_m, lam):
    gp = mp.sqrt(1j * (k_p + lam)) * mp.sqrt(1j * (k_p - lam))
    gm = mp.sqrt(1j * (k_m + lam)) * mp.sqrt(1j * (k_m - lam))
    s = mp.exp(zp * gm - z * gp)
    n = 2 * lam * s
    q = n / (k_m**2 * gp + k_p**2 * gm)
    k2 = q * (gp - gm)
    return [complex(v) for v in (n / (gp + gm), q, k2, -k2 * gp, -q * gp * gm, k2 * gm)]


def test_kernel_at_lower_branch_point():
    k = probe.spectral_kernel(0.0, 0.0, 1.0, 2.0, 2.0)
    expected = [4 / S3, 1 / S3, 1.0, -S3, 0.0, 0.0]
    np.testing.assert_allclose(k, expected, rtol=1e-15, atol=1e-15)


def test_kernel_lossy_between_branch_points():
    z, zp, k_p, k_m, lam = 0.5, -0.25, 1.0, 2 - 0.5j, 1.5
    gp, gm = math.sqrt(5) / 2, (1 + 2j) / math.sqrt(2)
    s = cmath.exp(-0.25 * gm - 0.5 * gp)
    q = 2 * lam * s / (k_m**2 * gp + gm)
    expected = [2 * lam * s / (gp + gm), q, q * (gp - gm), -q * gp * (gp - gm),
                -q * gp * gm, q * gm * (gp - gm)]
    np.testing.assert_allclose(probe.spectral_kernel(z, zp, k_p, k_m, lam), expected,
                               rtol=1e-14)


@pytest.mark.parametrize("z, zp, k_p, k_m", [
    (0.5, -0.25, 1.0, 2 - 0.5j), (0.0, 0.0, 1.0, 1.5), (2.0, -1.0, 1.0, 0.7),
    (0.1, -0.3, 2 * math.pi, 2 * math.pi * cmath.sqrt(4 - 0.1j)),
])
def test_kernel_against_mpmath_along_the_path(z, zp, k_p, k_m):
    # real axis, the detour above it, and both tail rays
    lam = np.array([0.05, 0.9, 1.6, 3.0, 12.0, 0.4 + 0.3j, 1.7 + 0.1j,
                    15 + 5j, 15 - 5j, 30 + 30j, 30 - 30j])
    got = probe.spectral_kernel(z, zp, k_p, k_m, lam)
    assert got.shape == (lam.size, 6)
    mp.mp.dps = 30
    for row, value in zip(got, lam):
        ref = np.array(kernel_reference(mp.mpf(z), mp.mpf(zp), mp.mpf(k_p), mp.mpc(k_m),
                                        mp.mpc(value)))
        scale = np.abs(ref).max()
        assert np.abs(row - ref).max() <= 1e-13 * scale


def test_kernel_zero_at_origin_and_homogeneous_symmetry():
    assert np.all(probe.spectral_kernel(0.3, -0.2, 1.0, 2 - 0.5j, 0.0) == 0)
    lam = np.array([0.2, 0.99, 1.7, 5.0, 20 + 20j])
    k = probe.spectral_kernel(0.3, -0.2, 1.3, 1.3, lam)
    assert np.all(k[:, [2, 3, 5]] == 0)
    np.testing.assert_allclose(k[:, 1], k[:, 0] / 1.3**2, rtol=1e-14)


def test_kernel_does_not_guard_denominators():
    # gamma_p = gamma_m = 0 at lambda = k_p = k_m: the quotients are not finite
    k = probe.spectral_kernel(0.0, 0.0, 1.0, 1.0, 1.0)
    assert not np.isfinite(k).any()
