"""Write tests/data/far_range_reference.json: reference values of the six
interface integrals at large rho near the interface (the far range), for the
accuracy tests of the compiled module.

Every row comes from ``far_range_reference.far_row`` (the Hankel form around
the branch cuts, with the residue of the surface-wave pole, at 40 digits;
mpmath and python-flint as black boxes), with the quadrature's own error
estimate relative to the row's largest channel.

Regenerate (about 15 minutes on two idle cores):

    pip install mpmath python-flint
    python tests/reference/make_far_reference.py [--jobs 2]

The output is deterministic: the same mpmath and flint give the same file.
"""

from __future__ import annotations

import argparse
import cmath
import json
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import far_range_reference as far  # noqa: E402

DEFAULT_OUTPUT = os.path.join(os.path.dirname(HERE), "data", "far_range_reference.json")


def wavenumber(eps):
    """k_m = sqrt(eps) with Im <= 0, and Re >= 0 when lossless (the package's
    wavenumber() with k0 = 1)."""
    k = cmath.sqrt(complex(eps))
    if k.imag > 0 or (k.imag == 0 and k.real < 0):
        k = -k
    return k


# Lower media by relative permittivity under a lossless upper medium, k_p = 1.
MEDIA = {
    "lossy ground 4-1j": 4 - 1j,
    "sea water 81-7.19e4j": 81 - 7.19e4j,
    "good conductor 1-1e4j": 1 - 1e4j,
    "lossless dielectric 2.25": 2.25,
    "plasmonic -2-0.1j": -2 - 0.1j,
    "lossless plasmonic -3": -3.0,
    "low index 0.5": 0.5,
}
# k_p rho with the heights (z, zp) of each: both ends on the surface, and
# lifted by a few 1/k_p
GEOMETRIES = [(1e3, 0.0, 0.0), (1e4, 1.5, -0.7), (1e5, 0.0, 0.0), (1e6, 1.5, -0.7),
              (3e6, 0.0, 0.0), (1e7, 0.0, 0.0), (1e7, 1.5, -0.7), (1e8, 0.0, 0.0),
              (1e8, 3.0, -2.0)]
# a few rows nearer the criterion and higher up
EXTRA = [("lossy ground 4-1j", 150.0, 3.0, -2.0), ("lossless dielectric 2.25", 120.0, 0.5, -0.5),
         ("low index 0.5", 250.0, 2.0, -1.0), ("sea water 81-7.19e4j", 30.0, 0.2, -0.01)]


def cases():
    out = [(name, rho, z, zp) for name in MEDIA for rho, z, zp in GEOMETRIES]
    return out + EXTRA


def _row(case):
    name, rho, z, zp = case
    k_m = wavenumber(MEDIA[name])
    t = time.time()
    values, err = far.far_row(1.0, k_m, rho, z, zp, with_error=True)
    return {"medium": name, "k_p": 1.0, "k_m": [k_m.real, k_m.imag], "rho": rho, "z": z,
            "zp": zp, "values": [[v.real, v.imag] for v in values], "quad_error": err,
            "seconds": round(time.time() - t, 1)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    parser.add_argument("--jobs", type=int, default=1)
    args = parser.parse_args()
    with ProcessPoolExecutor(args.jobs) as pool:
        rows = list(pool.map(_row, cases()))
    for r in rows:
        r.pop("seconds")
    data = {
        "description": "Six interface integrals I_c(rho, z, zp) at large rho, columns c = 0..5, "
                       "each value [re, im], k_p = 1.",
        "generator": "tests/reference/make_far_reference.py",
        "regenerate": "python tests/reference/make_far_reference.py --jobs 2",
        "working_digits": far.WORKING_DPS,
        "quad_error": "mpmath's error estimate, largest over channels, over the row's largest "
                      "channel",
        "worst_quad_error": max(r["quad_error"] for r in rows),
        "rows": rows,
    }
    with open(args.output, "w") as f:
        json.dump(data, f, indent=1)
        f.write("\n")
    print(f"{len(rows)} rows, worst quadrature error {data['worst_quad_error']:.1e}")


if __name__ == "__main__":
    main()
