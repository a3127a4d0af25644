"""Stacks of layers: what stack() refuses and how it says so, the layer a
point on an interface belongs to, and the direct field of a dipole in its own
layer against the closed-form reference."""
import sys
from pathlib import Path

import numpy as np
import pytest

import near_interface_accel as nia
from near_interface_accel import _layers

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reference"))
import dipole_closed_form as closed  # noqa: E402

F = 200e6
AIR, SOIL, ROCK = nia.medium(F), nia.medium(F, eps_r=20, sigma=0.05), nia.medium(F, eps_r=6)


@pytest.mark.parametrize("media, interfaces, error, words", [
    ([AIR], [], ValueError, "2 to 64 media, got 1"),
    ([AIR] * 65, [-float(i) for i in range(64)], ValueError, "2 to 64 media, got 65"),
    ([AIR, SOIL, ROCK], [0.0], ValueError, "has 2 interfaces, got 1"),
    ([AIR, SOIL, ROCK], [0.0, 0.0], ValueError, "interfaces[0] = 0.0 and interfaces[1] = 0.0"),
    ([AIR, SOIL, ROCK], [-1.0, 0.0], ValueError, "strictly decreasing"),
    ([AIR, SOIL], [float("nan")], ValueError, "interfaces[0] must be a finite height"),
    ([AIR, SOIL], [float("inf")], ValueError, "interfaces[0] must be a finite height"),
    ([AIR, nia.medium(2 * F)], [0.0], ValueError, "media[1] has the free-space wavenumber"),
    ([AIR, SOIL._replace(eps_r=20 + 1j)], [0.0], ValueError,
     "media[1].eps_r = (20+1j) has a positive imaginary part"),
    ([AIR, SOIL._replace(eps_r=20 + 1j)], [0.0], ValueError, "complex conjugate, (20-1j)"),
    ([SOIL._replace(mu_r=0j), AIR], [0.0], ValueError, "media[0].mu_r is zero"),
    ([AIR, SOIL._replace(eps_r=0j)], [0.0], ValueError, "media[1].eps_r is zero"),
    ([AIR, (1.0, 2.0, 3.0, 4.0)], [0.0], TypeError, "media[1] must be a Medium"),
    (AIR, [0.0], TypeError, "media must be a sequence of Medium values"),
    ([AIR, SOIL], ["top"], TypeError, "interfaces must be a sequence of real heights"),
    ([AIR, SOIL], [[0.0]], TypeError, "interfaces must be a sequence of real heights"),
])
def test_stack_refuses_with_a_message_naming_the_input(media, interfaces, error, words):
    with pytest.raises(error) as info:
        _layers.stack(media, interfaces)
    assert words in str(info.value)


def test_points_on_an_interface_take_their_side():
    st = _layers.stack([AIR, SOIL, ROCK], np.array([0.0, -0.3]))
    assert st.interfaces == (0.0, -0.3) and st.k0 == AIR.k0
    heights = [0.5, 0.0, -0.1, -0.3, -2.0]
    # a field point on an interface belongs to the medium above, a source to the one below
    assert list(_layers.receiver_layers(st, heights)) == [0, 0, 1, 1, 2]
    assert list(_layers.source_layers(st, heights)) == [0, 1, 1, 2, 2]


@pytest.mark.parametrize("source", ["electric", "magnetic"])
@pytest.mark.parametrize("mu_r", [1.0, 2.0 - 0.3j])
def test_direct_field_is_the_closed_form(source, mu_r):
    m = nia.medium(F, eps_r=20, sigma=0.05, mu_r=mu_r)
    rng = np.random.default_rng(7)
    sep = rng.uniform(-2.0, 2.0, size=(3, 40))
    direction = closed.unit_vector((0.3, -0.5, 0.8))
    e, h = _layers.direct_field(m, source, direction.astype(complex), *sep)
    ref_e, ref_h = closed.field_at(m.k0, m.k, *sep, source, list(direction),
                                   exp=np.exp, sqrt=np.sqrt)
    # the reference's medium has mu0: omega mu_r enters E of both sources alone
    ref_e = np.stack(ref_e, axis=-1) * mu_r
    ref_h = np.stack(ref_h, axis=-1)
    scale = np.max(np.abs(ref_e), axis=-1, keepdims=True)
    assert np.max(np.abs(e - ref_e) / scale) < 1e-13
    scale = np.max(np.abs(ref_h), axis=-1, keepdims=True)
    assert np.max(np.abs(h - ref_h) / scale) < 1e-13
