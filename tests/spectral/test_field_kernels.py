"""The parts every field kernel is built from (gamma_p, gamma_m and the two
interface quotients), on the scalar path and on every lane target: the
quotients are the first two of the six kernels bit for bit, special values
and short blocks included, so that the field batch and the six-channel batch
see the same kernel at every node."""
import numpy as np
import pytest

import _near_interface_probe as probe

TARGETS = probe.lane_targets()
K_LOSSY = np.sqrt(4 - 1j)
MEDIA = [(0.5, -0.3, K_LOSSY), (0.0, 0.0, K_LOSSY), (3.0, -3.0, 1.5 + 0j), (0.1, -2.0, 3 - 0.01j),
         (0.0, -0.1, 250 - 250j)]
SPECIAL = [complex(np.nan, 0), complex(np.inf, 0), complex(1e200, 1e200), 0j, complex(-0.0, -0.0),
           1.0 + 0j, complex(K_LOSSY), 1e155 + 0j, 0.5 + 1e-320j]


def same_bits(a, b):
    return np.asarray(a).tobytes() == np.asarray(b).tobytes()


def nodes(k_m, n=203, seed=4):
    """Detour, axis and ray points, with special values mixed in (203 nodes: a
    short block at the end)."""
    rng = np.random.default_rng(seed)
    span = 2.0 * max(1.0, abs(k_m))
    t = rng.uniform(0, span, n)
    lam = np.concatenate([t + 0.1j * np.sin(np.pi * t / span), rng.uniform(0, 12 * span, n) + 0j,
                          10 * span + 10.0 ** rng.uniform(-2, 3, n) * np.exp(1j * rng.uniform(0.05, 1.5, n))])
    lam[rng.choice(lam.size, len(SPECIAL), replace=False)] = SPECIAL
    return lam


@pytest.mark.parametrize("target", TARGETS)
@pytest.mark.parametrize("z, zp, k_m", MEDIA)
def test_quotients_are_the_first_two_kernels_bit_for_bit(target, z, zp, k_m):
    lam = nodes(k_m)
    parts = probe.lane_kernel_parts(z, zp, 1.0, k_m, lam, target)
    six = probe.lane_kernel(z, zp, 1.0, k_m, lam, target)
    # where the six were recomputed by the scalar kernel the parts may come from the
    # lanes: compare those against the scalar kernel's parts within rounding instead
    scalar = probe.lane_kernel_parts(z, zp, 1.0, k_m, lam, "scalar")
    scalar_six = probe.spectral_kernel(z, zp, 1.0, k_m, lam)
    assert same_bits(scalar[..., 2:], scalar_six[..., :2])
    assert same_bits(scalar[..., 0], probe.vertical_wavenumber(lam, 1.0))
    assert same_bits(scalar[..., 1], probe.vertical_wavenumber(lam, k_m))
    finite = np.isfinite(scalar).all(axis=-1) & np.isfinite(six).all(axis=-1)
    assert same_bits(parts[finite][:, 2:], six[finite][:, :2])
    err = np.abs(parts[finite] - scalar[finite]) / np.abs(scalar[finite]).max(axis=-1, keepdims=True)
    assert err.max() <= 8 * np.finfo(float).eps
    assert same_bits(parts[~finite][:, 2:], six[~finite][:, :2])


# ---------------------------------------------------------------- field kernels and panel rules

import sys  # noqa: E402
from pathlib import Path  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reference"))
import field_reference  # noqa: E402

GX, GW = np.polynomial.legendre.leggauss(8)


@pytest.mark.parametrize("source", ["electric", "magnetic"])
@pytest.mark.parametrize("z, zp, k_m", MEDIA)
def test_field_kernels_against_the_reference_kernels(source, z, zp, k_m):
    lam = nodes(k_m)
    lam = lam[np.isfinite(lam) & (np.abs(lam) < 1e5) & (np.abs(lam) > 1e-100)]
    got = probe.field_kernels(source, z, zp, 1.0, k_m, lam)
    with np.errstate(all="ignore"):
        ref = field_reference.kernels(source, lam, 1.0, k_m, z, zp).T
    ok = np.isfinite(ref).all(axis=-1) & (np.abs(ref).max(axis=-1) > 1e-280)
    err = np.abs(got[ok] - ref[ok]).max(axis=-1) / np.abs(ref[ok]).max(axis=-1)
    # gamma_p - gamma_m, formed directly, would keep only |k_m^2 - k_p^2| / lambda^2
    # of its digits far out on the rays (1e-10 here): both codes form it from
    # the sum of the two there, and agree to rounding, that of exp(zp gamma_m -
    # z gamma_p) included (eps times its exponent)
    bound = 64 * np.finfo(float).eps * (1 + np.abs(lam[ok]) * (z - zp))
    assert np.all(err <= bound)


def six_panels(z, zp, k_m, rho, a, b, span, height, origin, direction, kind):
    return (probe.detour_panel(z, zp, 1.0, k_m, rho, span, height, a, b, GX, GW),
            probe.axis_panel(z, zp, 1.0, k_m, rho, a, b, GX, GW),
            probe.hankel_ray_rule(z, zp, 1.0, k_m, origin, direction, rho, kind, a, b, GX, GW))


# (z, zp, k_m, rho, a, b): panels across the branch points, on the axis and on a ray
PANELS = [(0.5, -0.3, K_LOSSY, 1.7, 0.2, 1.9), (0.0, 0.0, K_LOSSY, 3.0, 1.5, 2.5),
          (0.1, -2.0, 3 - 0.01j, 0.0, 0.5, 4.0), (1.0, -0.5, 250 - 250j, 0.05, 100.0, 300.0)]


@pytest.mark.parametrize("z, zp, k_m, rho, a, b", PANELS)
def test_field_columns_repeat_the_six_channels_on_the_same_nodes(z, zp, k_m, rho, a, b):
    # the vertical dipole's E_z kernel lambda^2 q is k_p^2 K_1 - K_3 - K_4, and the
    # horizontal dipole's K_0 column is K_0 itself: on the same nodes, with the
    # same Bessel factor, they agree to rounding
    span, height = 1.1 * b, 0.3
    origin, direction = complex(b, 0), np.exp(0.25j * np.pi)
    kind = 1 if rho > 0 else 0
    field = probe.field_panels("electric", z, zp, 1.0, k_m, rho, span, height, origin, direction,
                               kind, a, b, GX, GW)
    six = six_panels(z, zp, k_m, rho, a, b, span, height, origin, direction, kind)
    for f, s in zip(field, six):
        scale = np.abs(s).max()
        assert abs(f[0] - (s[1] - s[3] - s[4])) <= 1e-13 * scale
        assert abs(f[3] - s[0]) <= 4 * np.finfo(float).eps * scale


@pytest.mark.parametrize("source", ["electric", "magnetic"])
def test_on_the_axis_j1_columns_vanish_and_j1_over_rho_is_lambda_over_two(source):
    z, zp, k_m = 0.5, -0.3, K_LOSSY
    factors = field_reference.FACTORS[source]
    j1 = [c for c, f in enumerate(factors) if f == field_reference.J1]
    over = [c for c, f in enumerate(factors) if f == field_reference.J1_OVER_RHO]
    for rho in (0.0, 1e-120):
        panels = probe.field_panels(source, z, zp, 1.0, k_m, rho, 3.0, 0.3, 3.0 + 0j,
                                    np.exp(0.25j * np.pi), 0, 0.2, 2.9, GX, GW)
        for p in panels[:2]:
            assert np.all(p[j1] == 0) or rho > 0
            assert np.abs(p[j1]).max() <= 1e-100 * np.abs(p).max()
    # the J1/rho column of lambda q equals half the lambda^2 q column at rho = 0
    if source == "electric":
        d, x, t = probe.field_panels(source, z, zp, 1.0, k_m, 0.0, 3.0, 0.3, 3.0 + 0j,
                                     np.exp(0.25j * np.pi), 0, 0.2, 2.9, GX, GW)
        for p in (d, x, t):
            assert abs(p[4] - 0.5 * p[0]) <= 1e-15 * abs(p[0])
    assert over
