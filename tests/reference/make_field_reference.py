"""Write tests/data/field_reference.json: reference values of the field
integrals (the columns of ``_near_interface_ext.dipole_field_batch``) for the
accuracy tests of the field batch.

Rows with rho below 100 are computed by ``field_reference.integrals``
(numpy kernels, python-flint Bessel and Hankel functions, the contour of
``cheap_reference.py``) twice, with the default trapezoid and with one of
half its height, at tol 1e-12. Farther out the integrals are small against
the oscillating integrand, and double-precision sums lose digits to it: those
rows come from ``interface_integrals.reference_row`` (mpmath at 30 digits,
contours A and B). The file keeps the first value of each row, where it came
from, and the agreement of the two evaluations relative to the row's largest
integral.

Regenerate (about an hour on one core):

    pip install numpy mpmath gmpy2 python-flint
    python tests/reference/make_field_reference.py

Lengths are in units of 1/k0 (k_p = 1 for air).
"""

import argparse
import cmath
import json
import os
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import field_reference  # noqa: E402
import interface_integrals  # noqa: E402

DEFAULT_OUTPUT = os.path.join(os.path.dirname(HERE), "data", "field_reference.json")
TOL = 1e-12
# From this rho on, the rows come from the 30-digit reference.
FAR = 100.0

# (medium, k_m, [(rho, z, zp), ...]) under air, k_p = 1
CASES = [
    ("lossy ground", cmath.sqrt(10 - 3j), [
        (0.0, 0.5, -0.25), (0.0, 0.0, -0.3), (0.3, 0.0, 0.0), (2.0, 0.5, -0.5),
        (5.0, 0.0, -0.1), (30.0, 0.2, -0.1), (200.0, 0.0, -0.05), (1000.0, 0.5, -0.2),
    ]),
    ("sea water", cmath.sqrt(81 - 71900j), [
        (0.0, 0.2, -0.01), (0.5, 0.1, -0.005), (5.0, 0.0, -0.01), (50.0, 0.5, -0.002),
    ]),
    ("good conductor", cmath.sqrt(1 - 1e6j), [
        (0.0, 0.1, -0.001), (1.0, 0.0, -0.001), (10.0, 0.2, -0.0005),
    ]),
    ("plasmonic", cmath.sqrt(-4 - 0.1j), [
        (0.0, 0.3, -0.2), (1.0, 0.1, -0.1), (10.0, 0.0, -0.1), (100.0, 0.2, 0.0),
    ]),
    ("dielectric", 2.0 + 0j, [
        (0.0, 1.0, 0.0), (3.0, 0.0, 0.0), (20.0, 1.0, -1.0),
    ]),
    ("homogeneous", 1.0 + 0j, [
        (0.0, 1.0, -1.0), (5.0, 0.0, 0.0),
    ]),
]


def row(medium, k_m, rho, z, zp, source):
    if rho >= FAR:
        ref = interface_integrals.reference_row(1.0, k_m, rho, z, zp, source=source)
        first, agreement, values_from = np.array(ref["values"]), ref["agreement"], "mpmath"
    else:
        first = field_reference.integrals(source, 1.0, k_m, rho, z, zp, tol=TOL)
        dz = z - zp
        big = 1.5 * max(1.0, abs(k_m)) + 0.5
        height = 0.5 * min(0.3 * big, 5.0 / (rho + dz))
        second = field_reference.integrals(source, 1.0, k_m, rho, z, zp, tol=TOL, height=height)
        scale = float(np.abs(first).max())
        agreement = float(np.abs(first - second).max() / scale) if scale > 0 else 0.0
        values_from = "double"
    return {
        "medium": medium, "source": source, "k_p": 1.0, "k_m": [k_m.real, k_m.imag],
        "rho": rho, "z": z, "zp": zp,
        "values": [[v.real, v.imag] for v in first],
        "values_from": values_from,
        "agreement": agreement,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    args = parser.parse_args()
    rows = []
    for medium, k_m, points in CASES:
        for rho, z, zp in points:
            for source in ("electric", "magnetic"):
                t = time.time()
                rows.append(row(medium, k_m, rho, z, zp, source))
                print(f"{medium:>15} {source:>8} rho={rho:<7g} z={z:<5g} zp={zp:<7g} "
                      f"agreement {rows[-1]['agreement']:.1e}  {time.time() - t:6.1f} s",
                      flush=True)
    out = {
        "description": "Field integrals of buried electric and magnetic dipoles (the columns "
                       "of _near_interface_ext.dipole_field_batch), k_p = 1",
        "generator": "tests/reference/make_field_reference.py",
        "regenerate": "python tests/reference/make_field_reference.py",
        "tol": TOL,
        "worst_agreement": max(r["agreement"] for r in rows),
        "rows": rows,
    }
    with open(args.output, "w") as f:
        json.dump(out, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
