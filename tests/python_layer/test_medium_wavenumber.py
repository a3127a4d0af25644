"""near_interface_accel.wavenumber: the root with Im(k) <= 0 under exp(+j omega t),
refusal of gain media, and agreement with the kernel's decay."""
import cmath
import math

import numpy as np
import pytest
from hypothesis import example, given
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


def test_a_subnormal_product_keeps_its_digits():
    # eps_r mu_r underflows to the one subnormal 5e-324 when formed first
    k = nia.wavenumber(636243.0, 1.5, 5e-324)
    target = 636243.0 ** 2 * 1.5 * 5e-324
    assert abs(k * k - target) <= 1e-11 * target


def test_negative_index_medium_travels_backwards():
    k = nia.wavenumber(1.0, -1 - 0.01j, -1 - 0.01j)
    assert k.real < 0 and k.imag < 0


lower_half = st.complex_numbers(max_magnitude=1e6, allow_nan=False, allow_infinity=False).map(
    lambda c: complex(c.real, -abs(c.imag)))


@given(k0=st.floats(1e-6, 1e6), eps_r=lower_half, mu_r=lower_half)
# a lossy negative-index medium whose Im k underflows to -0: still the
# backward branch (Re k < 0); only a lossless medium takes Re k >= 0
@example(k0=0.5, eps_r=-1 - 5e-324j, mu_r=-1 - 5e-324j)
def test_square_and_sign_for_any_passive_medium(k0, eps_r, mu_r):
    k = nia.wavenumber(k0, eps_r, mu_r)
    assert k.imag <= 0.0
    if eps_r.imag == 0.0 and mu_r.imag == 0.0 and k.imag == 0.0:
        assert k.real >= 0.0 or k == 0
    target = k0 * k0 * eps_r * mu_r
    # a subnormal target carries an absolute rounding of its own (a few of 5e-324)
    assert abs(k * k - target) <= 1e-12 * max(abs(target), 1e-300) + 4 * 5e-324


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


# Hand values, worked from k = (omega / c) sqrt(eps_r - j sigma / (omega eps0)):
# sea water at 1 MHz, sigma / (omega eps0) = 4 / (2 pi 1e6 * 8.8541878188e-12) = 71900.41,
# k0 = 2 pi 1e6 / c = 0.0209585 rad/m, k0 * sqrt(81 - 71900.41j) = 3.97607 - 3.97160j 1/m
# (a good conductor, (1 - j) sqrt(omega mu0 sigma / 2) = 3.97384 (1 - j), to 6e-4);
# wet soil at 10 MHz, eps_r 20, 0.01 S/m: 20 - 17.9751j, k = 1.01482 - 0.389021j 1/m.
@pytest.mark.parametrize("f, eps_r, sigma, k0, eps, k, good_conductor", [
    (1e6, 81, 4.0, 0.0209585, 81 - 71900.41j, 3.97607 - 3.97160j, 3.97384 * (1 - 1j)),
    (1e7, 20, 0.01, 0.209585, 20 - 17.9751j, 1.01482 - 0.389021j, None),
    (1e9, 1, 0.0, 20.9585, 1 + 0j, 20.9585 + 0j, None),                  # air
    (1e9, 2.25 - 0.01j, 0.0, 20.9585, 2.25 - 0.01j, 31.4376 - 0.0698614j, None),
])
def test_medium_from_si_against_hand_values(f, eps_r, sigma, k0, eps, k, good_conductor):
    m = nia.medium(f, eps_r=eps_r, sigma=sigma)
    assert m.k0 == pytest.approx(k0, rel=1e-5)
    assert m.eps_r == pytest.approx(eps, rel=1e-6)
    assert m.k == pytest.approx(k, rel=1e-5)
    assert m.k.imag <= 0 and m.mu_r == 1
    # the same as the wavenumber of the complex permittivity, bit for bit
    assert m.k == nia.wavenumber(m.k0, m.eps_r, m.mu_r)
    if good_conductor is not None:
        assert m.k == pytest.approx(good_conductor, rel=1e-3)


def test_medium_wavenumbers_give_lengths_in_metres():
    # one medium both sides: channel 0 is exp(-j k R) / R with R in metres
    air = nia.medium(300e6)                      # wavelength 0.9993 m
    six = nia.six_integrals(air.k, air.k, 3.0, 1.0, -3.0, rtol=1e-11)
    assert six[0] == pytest.approx(cmath.exp(-1j * air.k0 * 5.0) / 5.0, rel=1e-9)


@pytest.mark.parametrize("args, exc, match", [
    ((0.0,), ValueError, "frequency must be positive"),
    ((float("inf"),), ValueError, "frequency must be positive"),
    ((-1e6,), ValueError, "frequency must be positive"),
    (("1e6",), TypeError, "frequency must be a real number"),
    ((1e6, 4.0, -0.1), ValueError, "sigma must be a finite conductivity >= 0"),
    ((1e6, 4.0, float("nan")), ValueError, "sigma must be a finite"),
    ((1e6, 4.0, 1j), TypeError, "sigma must be a real number"),
    ((1e6, 4 + 1j, 0.0), ValueError, r"positive imaginary part.*conjugate, \(4-1j\)"),
    ((1e6, 4.0, 0.0, 1 + 0.5j), ValueError, "mu_r .* positive imaginary part"),
])
def test_medium_refuses_what_is_not_a_passive_medium(args, exc, match):
    with pytest.raises(exc, match=match):
        nia.medium(*args)


@pytest.mark.parametrize("eps_r, sigma, mu_r, match", [
    (0.0, 0.0, 1.0, "relative permittivity of zero"),
    (0j, 0.0, 1.0, "relative permittivity of zero"),
    (4.0, 0.0, 0.0, "relative permeability of zero"),
])
def test_medium_refuses_a_zero_permittivity_or_permeability(eps_r, sigma, mu_r, match):
    with pytest.raises(ValueError, match=match):
        nia.medium(1e6, eps_r=eps_r, sigma=sigma, mu_r=mu_r)
    # a pure conductor (eps_r 0 with loss) is a medium
    assert nia.medium(1e6, eps_r=0.0, sigma=1.0).k.imag < 0


def test_the_namespace_holds_only_the_package_s_names():
    names = {n for n in dir(nia) if not n.startswith("_")}
    assert not names & {"version", "PackageNotFoundError", "metadata"}
    assert set(nia.__all__) - {"__version__"} <= names
