"""The slow guided waves of stacks with a layer of negative permittivity or
permeability: the poles the tail's rays must not sweep. The search's poles
against the textbook dispersion relation of a film between two half-spaces
(solved again by mpmath from each pole found), the single face's closed form
for a thick film, none for ordinary stacks; the short tail's check of the
band its falling ray sweeps; and fields whose tail starts before those waves
against a path whose tail starts far beyond them."""
import warnings

import mpmath as mp
import numpy as np
import pytest

import _near_interface_probe as probe
import near_interface_accel as nia

F = 1e9
K0 = 2 * np.pi * F / 299_792_458.0


def _film_relation(eps, mu, d, polarisation):
    """(Y1 + Y0)(Y1 + Y2) - (Y1 - Y0)(Y1 - Y2) exp(-2 gamma_1 d) of a film 1
    between half-spaces 0 and 2, Y = gamma / eps (TM) or gamma / mu (TE)."""
    a = [1 / mp.mpc(e if polarisation == "tm" else m) for e, m in zip(eps, mu)]
    k2 = [mp.mpf(K0) ** 2 * mp.mpc(e) * mp.mpc(m) for e, m in zip(eps, mu)]

    def relation(lam):
        y = [aj * mp.sqrt(lam ** 2 - kj) for aj, kj in zip(a, k2)]
        g1 = mp.sqrt(lam ** 2 - k2[1])
        return (y[1] + y[0]) * (y[1] + y[2]) - (y[1] - y[0]) * (y[1] - y[2]) * mp.exp(-2 * g1 * d)
    return relation


FILMS = [  # name, eps_r, mu_r, film thickness, slow waves (TM, TE)
    ("lossy silver-like film", (1, -2.5 - 0.01j, 2.25), (1, 1, 1), 1e-3, (1, 0)),
    ("lossless film", (1, -2.5, 2.25), (1, 1, 1), 1e-3, (1, 0)),
    ("nanometre film", (1, -2.5 - 0.01j, 2.25), (1, 1, 1), 1e-9, (1, 0)),
    ("negative permeability", (1, 1, 2.25), (1, -2.5 - 0.01j, 1), 1e-3, (0, 1)),
    ("gap between metals", (-20 - 1j, 2.25, -20 - 1j), (1, 1, 1), 1e-3, (1, 0)),
]


@pytest.mark.parametrize("name, eps, mu, d, counts", FILMS, ids=[f[0] for f in FILMS])
def test_slow_waves_of_a_film_solve_its_dispersion_relation(name, eps, mu, d, counts):
    poles = probe.guided_modes(K0, np.array(eps, complex), np.array(mu, complex),
                               np.array([0.0, -d]))
    assert len(poles) == sum(counts)
    kinds = ["tm"] * counts[0] + ["te"] * counts[1]
    with mp.workdps(30):
        for q, kind in zip(poles, kinds):
            root = complex(mp.findroot(_film_relation(eps, mu, d, kind), mp.mpc(q)))
            assert abs(root - q) <= 1e-6 * abs(root), (name, q, root)
            # beyond every wavenumber, on the real axis or below it
            assert q.real > 1.5 * K0 and q.imag <= 0.0


@pytest.mark.parametrize("eps, mu, interfaces, expected", [
    # a thick film: the glass face's wave alone, lambda^2 = k0^2 eps_m eps_g / (eps_m + eps_g)
    ((1, -2.5 - 0.01j, 2.25), (1, 1, 1), (0.0, -0.5),
     [K0 * np.sqrt((-2.5 - 0.01j) * 2.25 / (-2.5 - 0.01j + 2.25))]),
    # ordinary media, however lossy or layered: nothing to search
    ((1, 81 - 8.9e5j, 10 - 1.8e5j, 10 - 1.8e3j), (1, 1, 1, 1), (0.0, -1000.0, -2000.0), []),
    ((1, 20 - 0.9j, 6, 4), (1, 2, 1, 1), (0.0, -0.3, -0.31), []),
])
def test_a_thick_film_has_its_face_wave_and_ordinary_stacks_none(eps, mu, interfaces, expected):
    poles = probe.guided_modes(K0, np.array(eps, complex), np.array(mu, complex),
                               np.array(interfaces))
    assert len(poles) == len(expected)
    for q, e in zip(poles, expected):
        assert abs(q - e) <= 1e-6 * abs(e)


MARINE_1HZ = ((1, 81 - 5.9e10j, 10 - 1.8e10j, 10 - 1.8e8j, 10 - 1.8e10j), (1,) * 5,
              (0.0, -1000.0, -2000.0, -2100.0), 2 * np.pi / 299_792_458.0)


@pytest.mark.parametrize("eps, mu, interfaces, k0, start, reach, clear", [
    # the marine survey at 1 Hz, 5 km out: its modes lie below Re + Im = 0
    MARINE_1HZ + (5e-4, 1e-2, True),
    # a thick plasmonic film: its glass face's wave at 4.74 k0, 0.085 k0 below the axis
    ((1, -2.5 - 0.01j, 2.25), (1, 1, 1), (0.0, -0.5), K0, 1.6 * K0, 2 * K0, False),
    # ... and none swept when the band ends above it
    ((1, -2.5 - 0.01j, 2.25), (1, 1, 1), (0.0, -0.5), K0, 1.6 * K0, 0.05 * K0, True),
    # ... inside the third step of the staircase
    ((1, -2.5 - 0.01j, 2.25), (1, 1, 1), (0.0, -0.5), K0, 4.5 * K0, 0.8 * K0, False),
    # ... under the first step, left of Re + Im = start: a ray from there passes it
    ((1, -2.5 - 0.01j, 2.25), (1, 1, 1), (0.0, -0.5), K0, 4.7 * K0, 0.8 * K0, True),
])
def test_the_short_tail_sees_the_modes_in_its_band(eps, mu, interfaces, k0, start, reach, clear):
    assert probe.sweeps_no_modes(k0, np.array(eps, complex), np.array(mu, complex),
                                 np.array(interfaces), start, reach / 8, reach) is clear
    # a band of more steps than the staircase holds is not searched: never clear
    assert probe.sweeps_no_modes(k0, np.array(eps, complex), np.array(mu, complex),
                                 np.array(interfaces), start, reach / 40, reach) is False


def _medium(eps, mu=1.0):
    eps = complex(eps)
    return nia.medium(F, eps_r=eps.real, sigma=-eps.imag * 2 * np.pi * F * nia.EPSILON_0, mu_r=mu)


STACKS = {
    "negative permeability": ([_medium(1), _medium(1, -2.5 - 0.01j), _medium(2.25)],
                              [0.0, -1e-3], 5e-4, -1.5e-3),
    "gap between metals": ([_medium(-20 - 1j), _medium(2.25), _medium(-20 - 1j)],
                           [0.0, -1e-3], 2e-4, -5e-4),
    "two films": ([_medium(1), _medium(-2.5 - 0.01j), _medium(2.25), _medium(-3 - 0.1j),
                   _medium(4)], [0.0, -2e-3, -4e-3, -5e-3], 1e-3, -4.5e-3),
}


@pytest.mark.parametrize("name", list(STACKS))
@pytest.mark.parametrize("source", ["electric", "magnetic"])
def test_fields_near_slow_waves_match_a_tail_far_beyond_them(name, source):
    media, interfaces, z, zp = STACKS[name]
    st = nia.stack(media, interfaces)
    x = np.array([0.0, 2e-3, 1e-2, 5e-2])
    out = []
    for lam_mult in (10.0, 3000.0):
        with warnings.catch_warnings():
            warnings.simplefilter("error", nia.UnresolvedRowWarning)
            e, h = nia.layered_field(st, x, 0.0, z, zp, source=source, direction=(0.6, 0.0, 0.8),
                                     rtol=1e-11, lam_mult=lam_mult)
        out.append(np.concatenate([e, h * 376.730313668], axis=-1))
    err = np.max(np.abs(out[0] - out[1]), axis=-1) / np.max(np.abs(out[1]), axis=-1)
    assert np.all(err <= 1e-10), err
