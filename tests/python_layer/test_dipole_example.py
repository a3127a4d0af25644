"""The field of a vertical electric dipole below an interface from the six
integrals and finite differences (finite_difference_dipole.py, the way the
worked example took it before the field integrals): in one medium it must be
the closed-form dipole field; with the media exchanged (both lossless) E_z is
reciprocal. And the worked example itself, which now prints dipole_field."""
import runpy
import sys
from pathlib import Path
from types import SimpleNamespace

import numpy as np
import pytest

import near_interface_accel as nia

sys.path.insert(0, str(Path(__file__).resolve().parent))
import finite_difference_dipole  # noqa: E402

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "buried_dipole.py"
WORST_ERRORS = {}
WORST_ERRORS_TITLE = "dipole field in one medium against the closed form (relative to |E| or |H|):"


@pytest.fixture(scope="module")
def example():
    return finite_difference_dipole


@pytest.fixture(scope="module")
def worked_example():
    return SimpleNamespace(**runpy.run_path(str(EXAMPLE), run_name="buried_dipole"))


RHO = np.array([0.0, 0.3, 1.0, 2.0, 5.0, 10.0, 20.0])[:, None]
Z = np.array([0.0, 0.01, 0.1, 1.0, 3.0])


@pytest.mark.parametrize("frequency, eps_r", [(10e6, 1.0), (10e6, 4.0), (300e6, 1.0)],
                         ids=["10MHz-air", "10MHz-eps4", "300MHz-air"])
def test_one_medium_gives_the_closed_form_dipole_field(example, frequency, eps_r):
    m = nia.medium(frequency, eps_r=eps_r)
    zp = -0.5
    got = example.ved_field(m, m, RHO, Z, zp)
    ref = example.free_space_ved(m, RHO, Z - zp)
    e_size = np.hypot(np.abs(ref[0]), np.abs(ref[1]))
    for name, g, r, size in zip(("E_rho", "E_z", "H_phi"), got, ref,
                                (e_size, e_size, np.abs(ref[2]))):
        err = np.abs(g - r) / np.where(size > 0, size, 1.0)
        key = f"{name} {frequency / 1e6:g} MHz eps {eps_r:g}"
        WORST_ERRORS[key] = float(err.max())
        assert err.max() <= 1e-9, (name, err.max())


@pytest.mark.parametrize("rho", [0.0, 1.5, 8.0])
def test_vertical_field_is_reciprocal_when_the_media_are_exchanged(example, rho):
    # E_z at height z of a dipole at depth zp equals, for the same moment,
    # E_z at depth zp of a dipole at height z: mirrored, the glass is on top.
    f = 100e6
    air, glass = nia.medium(f), nia.medium(f, eps_r=2.25)
    z, zp = 0.4, -0.7
    _, forward, _ = example.ved_field(air, glass, rho, z, zp)
    _, backward, _ = example.ved_field(glass, air, rho, -zp, -z)
    assert backward == pytest.approx(forward, rel=1e-12)


def test_ground_case_is_finite_and_axially_symmetric(example):
    f = 10e6
    air, ground = nia.medium(f), nia.medium(f, eps_r=20, sigma=0.01)
    e_rho, e_z, h_phi = example.ved_field(air, ground, [0.0, 2.0, 50.0], [0.0, 1.0, 0.0], -2.0)
    assert np.isfinite(e_rho).all() and np.isfinite(e_z).all() and np.isfinite(h_phi).all()
    # on the axis over the dipole only E_z is left
    assert abs(e_rho[0]) <= 1e-9 * abs(e_z[0]) and abs(h_phi[0]) <= 1e-12 * abs(e_z[0])
    # the ground screens: weaker than the same dipole in free space
    _, free_z, _ = example.free_space_ved(air, [0.0, 2.0, 50.0], np.array([2.0, 3.0, 2.0]))
    assert np.all(np.abs(e_z) < np.abs(free_z))


def test_main_prints_the_table(worked_example, capsys):
    worked_example.main()
    out = capsys.readouterr().out.splitlines()
    assert out[0].startswith("vertical electric dipole, 1 A m, 10 MHz, 2 m deep")
    assert len(out) == 2 + 6 + 1 + 2 + 4


def test_worked_example_line_is_the_finite_difference_field(worked_example, example):
    air, ground = nia.medium(10e6), nia.medium(10e6, eps_r=20, sigma=0.01)
    rho = np.array([2.0, 5.0, 10.0])
    got = worked_example.vertical_dipole_line(air, ground, rho, 1.0, -2.0)
    ref = example.ved_field(air, ground, rho, 1.0, -2.0)
    size = np.hypot(np.abs(ref[0]), np.abs(ref[1]))
    for g, r, s in zip(got, ref, (size, size, np.abs(ref[2]))):
        assert np.all(np.abs(g - r) <= 1e-8 * s)
