"""The lossy-ground example draws its six maps into a PNG."""
import runpy
from pathlib import Path
from types import SimpleNamespace

import numpy as np
import pytest

pytest.importorskip("matplotlib")

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "lossy_ground_map.py"


@pytest.fixture(scope="module")
def example():
    return SimpleNamespace(**runpy.run_path(str(EXAMPLE), run_name="lossy_ground_map"))


def test_maps_are_finite_on_the_grid(example):
    rho, z, six = example.compute(n_rho=4, n_z=3)
    assert six.shape == (3, 4, 6)
    assert np.isfinite(six).all()
    assert rho[0] == 0.0 and z[0] == 0.0          # the surface right over the source


def test_draw_writes_a_png(example, tmp_path):
    from matplotlib.image import imread

    out = example.draw(tmp_path / "maps.png", n_rho=5, n_z=3)
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    height, width, _ = imread(out).shape
    assert width > height > 300


FIELD_EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "dipole_field_map.py"


def test_field_map_is_finite_and_draws_a_png(tmp_path):
    from matplotlib.image import imread

    ex = SimpleNamespace(**runpy.run_path(str(FIELD_EXAMPLE), run_name="dipole_field_map"))
    x, z, (e, h), (e_line, h_line), _ = ex.compute(n_x=5, n_z=3)
    assert e.shape == h.shape == (3, 5, 3) and e_line.shape == (5, 3)
    assert np.isfinite(e).all() and np.isfinite(h).all()
    # over the plane y = 0 the element along x has no E_y, H_x or H_z
    assert np.all(e[..., 1] == 0) and np.all(h[..., 0] == 0) and np.all(h[..., 2] == 0)
    out = ex.draw(tmp_path / "field.png", n_x=5, n_z=3)
    height, width, _ = imread(out).shape
    assert width > height > 300


LAYERED_EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "layered_ground_map.py"


def test_layered_map_is_finite_continuous_and_draws_a_png(tmp_path):
    import near_interface_accel as nia
    from matplotlib.image import imread

    ex = SimpleNamespace(**runpy.run_path(str(LAYERED_EXAMPLE), run_name="layered_ground_map"))
    x, z, e, lines = ex.compute(n_x=5, n_z=4)
    assert e.shape == (4, 5, 3) and lines.shape == (2, 4, 3) and np.isfinite(e).all()
    # across each interface the tangential E (x and y) is continuous, the normal one jumps
    st = ex.ground()
    for h in ex.INTERFACES:
        above, _ = nia.layered_field(st, 0.7, 0.2, h, ex.HEIGHT, direction=ex.DIRECTION,
                                     rtol=1e-10)
        below, _ = nia.layered_field(st, 0.7, 0.2, h - 1e-12, ex.HEIGHT,
                                     direction=ex.DIRECTION, rtol=1e-10)
        assert np.max(np.abs(above[:2] - below[:2])) <= 1e-8 * np.max(np.abs(above))
        assert abs(above[2] - below[2]) > 0.1 * abs(above[2])
    out = ex.draw(tmp_path / "layers.png", n_x=5, n_z=4)
    height, width, _ = imread(out).shape
    assert width > height > 300


MARINE_EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "marine_response.py"


def test_marine_response_sees_the_resistor_far_out_only_and_draws_a_png(tmp_path):
    from matplotlib.image import imread

    ex = SimpleNamespace(**runpy.run_path(str(MARINE_EXAMPLE), run_name="marine_response"))
    x, plain, reservoir = ex.compute(n=6)
    assert plain.shape == reservoir.shape == (6, 3) and np.isfinite(plain).all()
    ratio = np.abs(reservoir[:, 0]) / np.abs(plain[:, 0])
    # a resistor 1 km under the floor: unseen 250 m out, several times the
    # field at 10 km
    assert abs(ratio[0] - 1.0) < 0.01 and ratio[-1] > 3.0
    # in line with an element along x the field has no y component
    assert np.max(np.abs(plain[:, 1])) <= 1e-12 * np.max(np.abs(plain))
    out = ex.draw(tmp_path / "marine.png", n=6)
    height, width, _ = imread(out).shape
    assert width > height > 300
