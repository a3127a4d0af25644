"""Write tests/data/field_reference.json: reference values of the field
integrals (the columns of ``_near_interface_ext.dipole_field_batch``) for the
accuracy tests of the field batch.

Every row is computed by ``field_reference.integrals`` (numpy kernels,
python-flint Bessel and Hankel functions, the contour of
``cheap_reference.py``) twice, with the trapezoid's top at 1/(rho + z - zp)
(at most 0.3 of its length) and at half that, at tol 1e-12. Where the two
agree worse than 1e-11 (the integrals small against an oscillating
integrand: sea water, a good conductor, points on the surface) the row is
taken from ``interface_integrals.reference_row`` (mpmath at 30 digits,
contours A and B) instead; the rows of lossy ground and of the plasmonic
medium up to rho = 2 are computed that way too, as a check of the double
evaluation. The file keeps each row's value, where it came from, and the
agreement of the evaluations relative to the row's largest integral.

Regenerate (about two hours on one core):

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
# Rows whose two double evaluations agree worse than this are taken from the
# 30-digit reference instead.
DOUBLE_ENOUGH = 1e-11
# Rows of these media up to this rho are also computed at 30 digits.
MPMATH_RHO = 2.0
MPMATH_MEDIA = ("lossy ground", "plasmonic")

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
    dz = z - zp
    big = 1.5 * max(1.0, abs(k_m)) + 0.5
    # a top that lets J0 grow by at most about e: a higher one loses digits to
    # the oscillating integrand where the integrals are small against it
    height = min(0.3 * big, 1.0 / (rho + dz))
    first = field_reference.integrals(source, 1.0, k_m, rho, z, zp, tol=TOL, height=height)
    second = field_reference.integrals(source, 1.0, k_m, rho, z, zp, tol=TOL,
                                       height=0.5 * height)
    scale = float(np.abs(first).max())
    agreement = float(np.abs(first - second).max() / scale) if scale > 0 else 0.0
    out = {
        "medium": medium, "source": source, "k_p": 1.0, "k_m": [k_m.real, k_m.imag],
        "rho": rho, "z": z, "zp": zp,
        "values": [[v.real, v.imag] for v in first],
        "values_from": "double",
        "agreement": agreement,
    }
    if agreement > DOUBLE_ENOUGH or (rho <= MPMATH_RHO and medium in MPMATH_MEDIA):
        ref = interface_integrals.reference_row(1.0, k_m, rho, z, zp, source=source)
        values = np.array(ref["values"])
        out["mpmath_agreement"] = float(np.abs(first - values).max() / scale)
        if agreement > DOUBLE_ENOUGH:
            out["values"] = [[v.real, v.imag] for v in values]
            out["values_from"] = "mpmath"
            out["agreement"] = ref["agreement"]
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    parser.add_argument("--media", nargs="*", metavar="MEDIUM",
                        help="compute only these media's rows (into the partial file; "
                             "a last run without it writes the data set)")
    args = parser.parse_args()
    # rows already computed (an interrupted run) are taken from the partial file
    partial = args.output + ".partial"
    done = {}
    if os.path.exists(partial):
        with open(partial) as f:
            for line in f:
                r = json.loads(line)
                done[(r["medium"], r["source"], r["rho"], r["z"], r["zp"])] = r
    rows = []
    for medium, k_m, points in CASES:
        if args.media and medium not in args.media:
            continue
        for rho, z, zp in points:
            for source in ("electric", "magnetic"):
                t = time.time()
                key = (medium, source, rho, z, zp)
                if key in done:
                    rows.append(done[key])
                    continue
                rows.append(row(medium, k_m, rho, z, zp, source))
                with open(partial, "a") as f:
                    f.write(json.dumps(rows[-1]) + "\n")
                print(f"{medium:>15} {source:>8} rho={rho:<7g} z={z:<5g} zp={zp:<7g} "
                      f"agreement {rows[-1]['agreement']:.1e}  {time.time() - t:6.1f} s",
                      flush=True)
    if args.media:
        return
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
    os.remove(partial)


if __name__ == "__main__":
    main()
