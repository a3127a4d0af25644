"""near_interface_accel.wavenumber: the root with Im(k) <= 0 under exp(+j omega t),
refusal of gain media, and agreement with the kernel's decay."""
import cmath
import math

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import near_interface_accel as nia


@pytest.mark.parametrize("k0, eps_r, mu_r, expected", [
    (1.0, 1.0, 1, 1.0),                                  # free space
    (2.0, 4.0, 1, 2.0),                                  # lossless dielectric
    (1.0, 4 - 1j, 1, cmath.sqrt(4 - 1j)),                # lossy ground
    (1.0, 1.0, 4 - 1j, cmath.sqrt(4 - 1j)),              # lossy magnetic medium
    (1.0, -4.0, 1, -2j),                                 # plasma below its frequency
    (1.0, -4 - 0.0j, 1, -2j),
    (1.0, -1 - 0.01j, -1 - 0.01j, -cmath.sqrt((-1 - 0.01j) ** 2)),  # negative index
    (3.0, 0.0, 1, 0.0),
])
def test_branch_table(k0, eps_r, mu_r, expected):
    k = nia.wavenumber(k0, eps_r, mu_r)
    assert isinstance(k, complex)
    assert k == pytest.approx(k0 * expected, rel=1e-15, abs=1e-300)
    assert k.imag <= 0.0


def test_negative_index_medium_travels_backwards():
    k = nia.wavenumber(1.0, -1 - 0.01j, -1 - 0.01j)
    assert k.real < 0 and k.imag < 0


lower_half = st.complex_numbers(max_magnitude=1e6, allow_nan=False, allow_infinity=False).map(
    lambda c: complex(c.real, -abs(c.imag)))


@given(k0=st.floats(1e-6, 1e6), eps_r=lower_half, mu_r=lower_half)
def test_square_and_sign_for_any_passive_medium(k0, eps_r, mu_r):
    k = nia.wavenumber(k0, eps_r, mu_r)
    assert k.imag <= 0.0
    if k.imag == 0.0:
        assert k.real >= 0.0 or k == 0
    target = k0 * k0 * eps_r * mu_r
    assert abs(k * k - target) <= 1e-12 * max(abs(target), 1e-300)


@pytest.mark.parametrize("k0, eps_r, mu_r, exc, match", [
    (1.0, 4 + 1j, 1, ValueError, r"eps_r = \(4\+1j\) has a positive imaginary part.*\(4-1j\)"),
    (1.0, 4.0, 1 + 1e-9j, ValueError, "mu_r .* has a positive imaginary part"),
    (1.0, 4 - 1j, 1 + 0.5j, ValueError, "mu_r"),       # no loss in one to make up for gain
    (0.0, 4.0, 1, ValueError, "k0 must be a positive"),
    (-1.0, 4.0, 1, ValueError, "k0 must be a positive"),
    (math.inf, 4.0, 1, ValueError, "k0 must be a positive"),
    (1 + 0j, 4.0, 1, TypeError, "k0 must be a real number"),
    (1.0, complex(4, math.nan), 1, ValueError, "eps_r must be finite"),
    (1.0, "4", 1, TypeError, "eps_r must be a real or complex number"),
])
def test_refusals(k0, eps_r, mu_r, exc, match):
    with pytest.raises(exc, match=match):
        nia.wavenumber(k0, eps_r, mu_r)


def test_kernel_branch_agrees_fields_decay_into_lossy_ground():
    # With k_m from wavenumber, the source's contribution falls off the deeper
    # it sits; the opposite branch is refused rather than silently growing.
    k_m = nia.wavenumber(1.0, 4 - 1j)
    zp = np.array([-0.1, -1.0, -3.0, -6.0])
    mags = np.abs(nia.six_integrals(1.0, k_m, 0.0, 0.5, zp)[:, 0])
    assert np.all(np.diff(mags) < 0)
    assert mags[-1] < mags[0] * math.exp(-abs(k_m.imag) * 5.0)
    with pytest.raises(ValueError, match="positive imaginary part"):
        nia.six_integrals(1.0, k_m.conjugate(), 0.0, 0.5, zp)
