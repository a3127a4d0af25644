"""The layered field columns node by node against the arbitrary-precision
layered reference (an independent derivation: the interface conditions solved
as a linear system at each node, the angular integral as a discrete Fourier
transform): for stacks of three and five layers (lossy top, a magnetic layer,
sea water with a thin resistor, a plasmonic film), sources and receivers in
every placement (above, below, the same layer, on interfaces), both sources
and a tilted moment.

The Bessel factors are independent symbols here (every component is linear
in them): the reference takes J0, J1, J2 and the columns J0, J1 and
lambda (J0 + J2) / 2 in place of J1 / rho."""
import sys
from pathlib import Path

import flint
import numpy as np
import pytest

import _near_interface_probe as probe
from near_interface_accel import _layers

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reference"))
import dipole_interface_reference as dr  # noqa: E402
import layered_reference as lr  # noqa: E402

DIRECTION = np.array([0.3, -0.5, 0.8]) / np.sqrt(0.98)
BESSEL = (0.7 - 0.2j, -0.3 + 0.9j, 1.1 + 0.4j)          # J0, J1, J2 as symbols
RHO, PHI = 0.9, 0.7

STACKS = {
    "lossy top, magnetic middle": lr.Stack(1.3, (2.0 - 0.5j, 20 - 18j, 4.0),
                                           (1.0, 2.0 - 0.1j, 1.0), (0.3, -0.2)),
    "marine, thin resistor": lr.Stack(2e-3, (1.0, 81 - 8.9e5j, 1 - 1.8e5j, 1 - 1.8e3j,
                                             1 - 1.8e5j), (1.0,) * 5, (0.0, -40.0, -60.0, -61.0)),
    "plasmonic film": lr.Stack(1.0, (1.0, -10 - 1j, 2.25), (1.0,) * 3, (0.0, -0.05)),
}
# (z, zp) per stack: receiver above, below, in the source's layer, on an interface
PLACEMENTS = {
    "lossy top, magnetic middle": [(0.8, -0.5), (-0.6, 0.5), (0.1, -0.1), (0.3, -0.2), (-0.2, 0.3)],
    "marine, thin resistor": [(0.0, -30.0), (-60.5, -10.0), (-50.0, -45.0), (-70.0, -60.5)],
    "plasmonic film": [(0.2, -0.3), (-0.02, 0.1), (-0.01, -0.04), (-0.05, 0.0)],
}
# on the detour, the axis, the rays above and below it
LAMBDAS = [0.3, 0.9 + 0.2j, 1.7 - 0.1j, 4.0 + 0.0j, 9.0 + 3.0j, 4.2 - 0.2j, 2.5 - 0.3j]


def _cases():
    for name in STACKS:
        for z, zp in PLACEMENTS[name]:
            for source in ("electric", "magnetic"):
                yield pytest.param(name, z, zp, source, id=f"{name}-{z}-{zp}-{source}")


@pytest.mark.parametrize("name, z, zp, source", list(_cases()))
def test_columns_give_the_reference_integrand(name, z, zp, source):
    st = STACKS[name]
    scale = max(abs(k) for k in st.k)
    lams = np.array(LAMBDAS) * scale
    cols, s, r = probe.layered_columns(source, st.k0, st.eps_r, st.mu_r, st.interfaces, z, zp,
                                       lams)
    assert (s, r) == (st.source_layer(zp), st.receiver_layer(z))
    old = flint.ctx.prec
    flint.ctx.prec = 128
    try:
        prob = lr._Problem(st, RHO, PHI, z, zp, source, list(DIRECTION))
        bessel = [dr._acb(b) for b in BESSEL]
        worst = 0.0
        for lam, k in zip(lams, cols):
            ref = [complex(dr._to_mp(v)) for v in prob.spectrum(dr._acb(complex(lam)), bessel)]
            ref = np.array(ref) * lam / (2 * np.pi)           # the integrand of E and H
            b = np.array([BESSEL[0], BESSEL[1], lam * (BESSEL[0] + BESSEL[2]) / 2])
            factors = b[[0, 0, 2, 1, 0, 0, 2, 1, 1, 0, 1]] if source == "electric" else \
                b[[0, 2, 0, 1, 0, 2, 0, 1, 1, 1, 0]]
            e, h = _layers.compose_layered(source, (k * factors)[None, :],
                                           np.array([RHO * np.cos(PHI)]),
                                           np.array([RHO * np.sin(PHI)]), DIRECTION, 1.0)
            got = np.concatenate([e[0], h[0]])
            assert np.all(np.isfinite(got))
            for part in (slice(0, 3), slice(3, 6)):
                size = np.max(np.abs(ref[part]))
                if size == 0.0:                  # both underflow far out in a deep layer
                    assert np.max(np.abs(got[part])) < 1e-300
                    continue
                worst = max(worst, np.max(np.abs(got[part] - ref[part])) / size)
    finally:
        flint.ctx.prec = old
    assert worst < 1e-12
