"""Write tests/data/seawater_surface_reference.json: E and H on the surface of
sea water (eps_r = 81, sigma = 4 S/m, air above) of small loops half a metre
down, along the surface from 100 m to 2 km and from 100 Hz to 10 kHz.

There k0 rho << 1 but |k_m| rho >> 1: the air field is the lateral wave
riding on a near-static cancellation, and the field integrals are many orders
below the integrands they sum (see the accuracy page of the guide).

Every row comes from ``dipole_interface_reference`` (TE/TM plane waves, arb
arithmetic at 128 bits) on its two contours; the file keeps contour A's
values and the agreement of the two,

    max over the loops of |H_A - H_B| / |H_A|.

Regenerate (about 2 minutes on one core, with python-flint and mpmath):

    pip install mpmath python-flint
    python tests/reference/make_seawater_reference.py

Reading it: ``frequencies`` are in Hz; each row has the frequency, the field
point (x, y, z) and the source height zp in metres, and
``fields["magnetic x"]["H"]`` etc.: three [re, im] pairs, A/m for H and V/m
for E, for a loop of moment 1 A m**2 at (0, 0, zp). Time factor exp(+j omega t).
Build the media with ``near_interface_accel.medium(f)`` and
``medium(f, eps_r=81, sigma=4.0)``; ``k_p`` and ``k_m`` record the
wavenumbers used.
"""

import json
import math
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parents[1] / "python"))

import dipole_interface_reference as ref  # noqa: E402

OUT = HERE.parent / "data" / "seawater_surface_reference.json"
FREQUENCIES = (100.0, 1e3, 1e4)
EPS_R, SIGMA = 81.0, 4.0
ZP = -0.5
#: The point of the outside comparison and its neighbours along the surface,
#: at one azimuth (that point's own).
ISSUE_POINT = (249.72920645, -826.1705296)
RHOS = (100.0, 300.0, math.hypot(*ISSUE_POINT), 1500.0, 2000.0)
AXES = {"x": (1.0, 0.0, 0.0), "z": (0.0, 0.0, 1.0)}


def _media(f):
    import near_interface_accel as nia

    up, lo = nia.medium(f), nia.medium(f, eps_r=EPS_R, sigma=SIGMA)
    return up.k0, complex(up.k).real, complex(lo.k)


def _pairs(v):
    return [[c.real, c.imag] for c in v]


def main():
    phi = math.atan2(ISSUE_POINT[1], ISSUE_POINT[0])
    rows = []
    t0 = time.time()
    for f in FREQUENCIES:
        k0, k_p, k_m = _media(f)
        for rho in RHOS:
            if rho == RHOS[2]:
                x, y = ISSUE_POINT
            else:
                x, y = rho * math.cos(phi), rho * math.sin(phi)
            out, agree = {}, 0.0
            for name, d in AXES.items():
                e_a, h_a = ref.fields(k0, k_p, k_m, x, y, 0.0, ZP, "magnetic", d, contour="A")
                e_b, h_b = ref.fields(k0, k_p, k_m, x, y, 0.0, ZP, "magnetic", d, contour="B")
                size = math.sqrt(sum(abs(c) ** 2 for c in h_a))
                agree = max(agree, max(abs(a - b) for a, b in zip(h_a, h_b)) / size)
                out["magnetic " + name] = {"E": _pairs(e_a), "H": _pairs(h_a)}
            rows.append({"frequency": f, "k0": k0, "k_p": k_p, "k_m": [k_m.real, k_m.imag],
                         "x": x, "y": y, "z": 0.0, "zp": ZP, "agreement": agree,
                         "fields": out})
            print(f"f={f:g} rho={rho:.6g} agreement {agree:.1e} ({time.time() - t0:.0f} s)",
                  flush=True)
    doc = {
        "description": "E and H of unit small loops 0.5 m under sea water (eps_r 81, "
                       "sigma 4 S/m), on the surface from 100 m to 2 km, 100 Hz to 10 kHz",
        "generator": "tests/reference/make_seawater_reference.py",
        "regenerate": "python tests/reference/make_seawater_reference.py",
        "method": "dipole_interface_reference (TE/TM plane waves, arb at 128 bits), contour A; "
                  "agreement = max |H_A - H_B| / |H_A| over the loops",
        "frequencies": list(FREQUENCIES),
        "rows": rows,
    }
    OUT.write_text(json.dumps(doc, indent=1) + "\n")


if __name__ == "__main__":
    main()
