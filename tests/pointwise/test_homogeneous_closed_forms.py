"""One medium on both sides (k_m = k_p = k): the six integrals in closed form.

With dz = z - zp and R = sqrt(rho**2 + dz**2), and gamma(0; k) = ik:

* channel 0 is the Sommerfeld identity, exp(-ikR) / R;
* channel 1 is channel 0 / k**2 (the interface denominator becomes 2 k**2 gamma);
* channels 2, 3 and 5 carry gamma_p - gamma_m and vanish;
* channel 4 is -(1/k**2) d**2/d dz**2 of channel 0, since its kernel is
  -lambda gamma exp(-gamma dz) / k**2.

At z = zp = 0 the channel-4 integral converges only in the sense of the
rotated tail; its value is still the closed form at dz = 0.
"""
import cmath
import math

import numpy as np
import pytest

import _near_interface_accel as accel

RTOL = 1e-10

def closed_form(k, rho, dz):
    r = math.hypot(rho, dz)
    e = cmath.exp(-1j * k * r)
    g = e / r
    g1 = e * (-1j * k / r - 1 / r**2)                          # dg/dR
    g2 = e * (-k * k / r + 2j * k / r**2 + 2 / r**3)           # d2g/dR2
    d2 = g2 * dz**2 / r**2 + g1 * (1 / r - dz**2 / r**3)       # d2g/d dz2
    return np.array([g, g / k**2, 0, 0, -d2 / k**2, 0], dtype=complex)


TRIPLES = [
    (0.0, 0.5, -0.25),
    (0.0, 0.0, -2.0),
    (0.0, 3.0, 0.0),
    (0.5, 0.0, 0.0),
    (3.0, 0.0, 0.0),
    (20.0, 0.0, 0.0),
    (1.0, 0.3, -0.2),
    (5.0, 2.0, -1.0),
    (2.0, 10.0, -5.0),
    (50.0, 0.5, 0.0),
]


@pytest.fixture(scope="module", params=[1.0, 2 * math.pi], ids=["k=1", "k=2pi"])
def homogeneous(request, gauss):
    k = request.param
    rho, z, zp = (np.array(v) for v in zip(*TRIPLES))
    got = accel.near_interface_six_batch(k, complex(k), rho, z, zp, RTOL, 10.0, 20, 0.1,
                                         *gauss(8))
    return k, dict(zip(TRIPLES, got))


@pytest.mark.parametrize("triple", TRIPLES)
@pytest.mark.parametrize("channel", [0, 1, 4], ids=["sommerfeld", "over_k2", "d2_dz2"])
def test_channel_matches_closed_form(homogeneous, triple, channel, worst_errors):
    k, rows = homogeneous
    got = rows[triple]
    ref = closed_form(k, triple[0], triple[1] - triple[2])
    err = abs(got[channel] - ref[channel]) / np.max(np.abs(ref))
    worst_errors.record("k = %-8.5g channel %d, rtol %g, GL8, relative to the row"
                        % (k, channel, RTOL), err, "(rho, z, zp) = %s" % (triple,))
    assert err <= 10 * RTOL, (got[channel], ref[channel])


@pytest.mark.parametrize("triple", TRIPLES)
def test_contrast_channels_vanish(homogeneous, triple):
    k, rows = homogeneous
    got = rows[triple]
    scale = np.max(np.abs(closed_form(k, triple[0], triple[1] - triple[2])))
    assert np.all(np.abs(got[[2, 3, 5]]) <= 1e-14 * scale), got[[2, 3, 5]]
