"""The identities between the six channels that follow from their kernels,
checked on the module's own results.

With Q = K_1 and the heights entering only through S = exp(zp gamma_m - z gamma_p)
(d/dz brings -gamma_p, d/dzp brings gamma_m):

* I3 = dI2/dz, I5 = dI2/dzp, I4 = d2 I1/(dz dzp), I2 = -(d/dz + d/dzp) I1,
  I3 + I4 = -d2 I1/dz2 (finite differences in z and zp, sixth order);
* I0 + I3 = k_p^2 I1, I0 + I5 = k_m^2 I1, hence I5 - I3 = (k_m^2 - k_p^2) I1
  (exact kernel algebra, since gamma_p^2 - gamma_m^2 = k_m^2 - k_p^2);
* exchanging the media and mirroring the heights, (k_p, k_m, z, zp) ->
  (k_m, k_p, -zp, -z), leaves I0, I1 and I4 unchanged, turns I2 into -I2 and
  swaps I3 and I5 (both media lossless, so that both may be the upper one);
* the channels scale with the length unit as lengths^(-1, 1, 0, -1, -1, -1).

The worst agreements are printed at the end of the run (``pytest -s``) and
quoted in the user guide.
"""
import numpy as np
import pytest

import near_interface_accel as nia

RTOL = 1e-11
# sixth-order central differences: first and second derivative
D1 = (np.array([-3, -2, -1, 1, 2, 3]), np.array([-1, 9, -45, 45, -9, 1]) / 60.0)
D2 = (np.array([-3, -2, -1, 0, 1, 2, 3]), np.array([2, -27, 270, -490, 270, -27, 2]) / 180.0)

CASES = [
    # k_p, k_m, rho, z, zp
    (1.0, nia.wavenumber(1.0, 4 - 1j), 1.0, 0.5, -0.3),        # lossy ground
    (1.0, 2 - 0.5j, 0.0, 0.4, -0.25),                          # on the axis
    (1.0, 1.5, 5.0, 0.2, -0.3),                                # lossless dielectric
    (1.0, 0.7, 2.0, 1.0, -0.5),                                # lower medium faster
    (1.0, 3 - 1j, 10.0, 0.05, -0.05),                          # far, near the interface
    (2 * np.pi, 2 * np.pi * np.sqrt(4 - 0.1j), 3.0, 0.1, -0.1),  # high contrast
]
IDS = ["lossy", "axis", "dielectric", "faster", "far", "contrast"]

WORST_ERRORS = {}
WORST_ERRORS_TITLE = f"channel identities at rtol {RTOL:g}: worst error relative to the channel"


def _agree(name, got, want, bound):
    err = float(np.max(np.abs(np.asarray(got) - want) / np.max(np.abs(want))))
    WORST_ERRORS[name] = max(WORST_ERRORS.get(name, 0.0), err)
    assert err <= bound, (name, got, want)


def six(k_p, k_m, rho, z, zp):
    return nia.six_integrals(k_p, k_m, rho, z, zp, rtol=RTOL)


def step(k_p, k_m, c):
    return c / max(abs(k_p), abs(k_m))


@pytest.mark.parametrize("k_p, k_m, rho, z, zp", CASES, ids=IDS)
def test_height_derivatives(k_p, k_m, rho, z, zp):
    h = step(k_p, k_m, 1e-2)
    s, c = D1
    base = six(k_p, k_m, rho, z, zp)
    d_z = c @ six(k_p, k_m, rho, z + s * h, zp) / h
    d_zp = c @ six(k_p, k_m, rho, z, zp + s * h) / h
    _agree("I3 = dI2/dz", d_z[2], base[3], 1e-10)
    _agree("I5 = dI2/dzp", d_zp[2], base[5], 1e-10)
    _agree("I2 = -(d/dz + d/dzp) I1", -(d_z[1] + d_zp[1]), base[2], 1e-10)
    s2, c2 = D2
    d_zz = c2 @ six(k_p, k_m, rho, z + s2 * h, zp) / h**2
    _agree("I3 + I4 = -d2I1/dz2", -d_zz[1], base[3] + base[4], 2e-9)
    grid = six(k_p, k_m, rho, z + s[:, None] * h, zp + s[None, :] * h)
    mixed = np.einsum("i,j,ijc->c", c, c, grid) / h**2
    _agree("I4 = d2I1/(dz dzp)", mixed[1], base[4], 2e-10)


@pytest.mark.parametrize("k_p, k_m, rho, z, zp", CASES, ids=IDS)
def test_kernel_algebra(k_p, k_m, rho, z, zp):
    i0, i1, _, i3, _, i5 = six(k_p, k_m, rho, [z, 2 * z + 0.5], zp).T
    km2, kp2 = complex(k_m) ** 2, k_p ** 2
    _agree("I0 + I3 = k_p^2 I1", i0 + i3, kp2 * i1, 1e-13)
    _agree("I0 + I5 = k_m^2 I1", i0 + i5, km2 * i1, 1e-13)
    _agree("I5 - I3 = (k_m^2 - k_p^2) I1", i5 - i3, (km2 - kp2) * i1, 1e-13)


@pytest.mark.parametrize("k_p, k_m", [(1.0, 1.5), (1.0, 0.7), (2.0, 2.0 * np.sqrt(6.0))])
@pytest.mark.parametrize("rho, z, zp", [(0.0, 0.5, -0.25), (2.0, 0.3, -1.0), (8.0, 0.0, 0.0)])
def test_exchanging_the_media_mirrors_the_heights(k_p, k_m, rho, z, zp):
    a = six(k_p, k_m, rho, z, zp)
    b = six(k_m, k_p, rho, -zp + 0.0, -z + 0.0)
    scale = np.max(np.abs(a))
    _agree("media exchanged", b / scale, a[[0, 1, 2, 5, 4, 3]] * [1, 1, -1, 1, 1, 1] / scale,
           1e-10)


@pytest.mark.parametrize("k_p, k_m, rho, z, zp", CASES, ids=IDS)
def test_results_scale_with_the_length_unit(k_p, k_m, rho, z, zp):
    # lengths in units 1000 times smaller (um -> nm): wavenumbers / 1000
    a = six(k_p, k_m, rho, z, zp)
    b = six(k_p / 1e3, k_m / 1e3, rho * 1e3, z * 1e3, zp * 1e3)
    _agree("unit scaling", b, a * np.array([1e-3, 1e3, 1.0, 1e-3, 1e-3, 1e-3]), 1e-11)
