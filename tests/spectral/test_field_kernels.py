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
