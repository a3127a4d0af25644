"""Write tests/data/interface_reference.json: reference values of the six
interface integrals for the accuracy tests of the compiled module.

Every value is computed twice by ``interface_integrals.reference_row``, on two
different contours (elliptic detour with +-30 degree rays, and trapezoidal
detour with +-60 degree rays, each with its own tail start), at 30 significant
digits; the file keeps the first and the relative agreement of the two.

Regenerate (about 13 minutes on one core with gmpy2 and python-flint installed;
mpmath alone gives the same values, several times slower):

    pip install mpmath gmpy2 python-flint
    python tests/reference/make_interface_reference.py

The output is deterministic: the same mpmath gives the same file.
"""

import argparse
import cmath
import json
import math
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import interface_integrals as ii  # noqa: E402

DEFAULT_OUTPUT = os.path.join(os.path.dirname(HERE), "data", "interface_reference.json")

TWO_PI = 2.0 * math.pi

# (regime, k_p, k_m, [(rho, z, zp), ...])
CASES = [
    ("lossy 2-0.5j", 1.0, 2 - 0.5j, [
        (0.0, 0.5, -0.25), (0.0, 0.0, -0.3), (0.0, 2.0, 0.0),
        (0.3, 0.0, 0.0), (1.0, 0.5, -0.25), (5.0, 0.0, 0.0), (5.0, 1.0, -1.0),
        (0.5, 3.0, 0.0), (40.0, 0.2, -0.1), (10.0, 20.0, -10.0), (200.0, 0.5, 0.0),
    ]),
    ("lossy 3-1j", 1.0, 3 - 1j, [
        (0.0, 0.4, -0.1), (0.7, 0.0, 0.0), (3.0, 0.25, -0.5), (20.0, 1.0, 0.0),
    ]),
    ("low loss 2-0.01j", 1.0, 2 - 0.01j, [
        (0.0, 0.5, -0.5), (1.0, 0.0, 0.0), (8.0, 0.3, -0.2), (30.0, 2.0, -1.0),
    ]),
    ("lossless 1.5", 1.0, 1.5 + 0j, [
        (0.0, 0.5, -0.25), (0.0, 1.0, 0.0), (0.3, 0.1, 0.0), (2.0, 0.0, 0.0),
        (5.0, 1.0, -0.5), (40.0, 0.0, 0.0), (3.0, 15.0, -15.0), (200.0, 0.0, 0.0),
    ]),
    ("lower than upper 0.7", 1.0, 0.7 + 0j, [
        (0.0, 0.6, -0.2), (0.5, 0.0, 0.0), (2.0, 0.5, -0.5), (12.0, 0.1, 0.0),
        (25.0, 5.0, -5.0), (1.0, 20.0, -10.0),
    ]),
    ("high contrast", TWO_PI, TWO_PI * cmath.sqrt(4 - 0.1j), [
        (0.0, 0.2, -0.1), (0.1, 0.0, 0.0), (0.5, 0.05, -0.02), (1.0, 0.1, -0.05),
        (3.0, 0.0, 0.0),
    ]),
    ("homogeneous 1", 1.0, 1.0 + 0j, [
        (0.0, 1.0, 0.0), (2.0, 0.5, -0.5),
    ]),
]


def pair(v):
    return [v.real, v.imag]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    parser.add_argument("--limit", type=int, default=None,
                        help="only the first N triples (for a quick look)")
    args = parser.parse_args()

    rows = []
    todo = [(regime, k_p, k_m, t) for regime, k_p, k_m, ts in CASES for t in ts]
    if args.limit is not None:
        todo = todo[:args.limit]
    started = time.time()
    for n, (regime, k_p, k_m, (rho, z, zp)) in enumerate(todo):
        t0 = time.time()
        r = ii.reference_row(k_p, k_m, rho, z, zp)
        row = {
            "regime": regime,
            "k_p": k_p,
            "k_m": pair(complex(k_m)),
            "rho": rho,
            "z": z,
            "zp": zp,
            "values": [pair(v) for v in r["values"]],
            "agreement": float("%.3g" % r["agreement"]),
            "contours": r["contours"],
        }
        if complex(k_m) == complex(k_p):
            closed = ii.homogeneous_closed_form(k_p, rho, z - zp)
            scale = max(abs(v) for v in closed)
            err = max(abs(a - b) for a, b in zip(r["values_mp"], closed)) / scale
            row["closed_form_agreement"] = float("%.3g" % err)
        rows.append(row)
        print("%2d/%d %-22s rho=%-6g z=%-5g zp=%-6g agreement %.1e  %.0f s"
              % (n + 1, len(todo), regime, rho, z, zp, r["agreement"], time.time() - t0),
              file=sys.stderr, flush=True)

    worst = max(rows, key=lambda r: r["agreement"])
    data = {
        "description": "Six interface integrals I_c(rho, z, zp) = int_0^inf K_c(lambda) "
                       "J0(rho lambda) d lambda, columns c = 0..5, each value [re, im].",
        "generator": "tests/reference/make_interface_reference.py",
        "regenerate": "python tests/reference/make_interface_reference.py",
        "working_digits": ii.WORKING_DPS,
        "values_from": "contour A",
        "agreement": "max over channels of |A - B| / max over channels of |A|, "
                     "A and B two different contours",
        "worst_agreement": worst["agreement"],
        "rows": rows,
    }
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    # One row per line keeps the file readable and its diffs small.
    head = json.dumps(data, indent=1)
    head = head[:head.index('"rows": [') + len('"rows": [')]
    body = ",\n".join("  " + json.dumps(row) for row in rows)
    with open(args.output, "w") as f:
        f.write(head + "\n" + body + "\n ]\n}\n")
    print("wrote %s: %d rows, worst agreement %.1e, %.0f s"
          % (args.output, len(rows), worst["agreement"], time.time() - started),
          file=sys.stderr)


if __name__ == "__main__":
    main()
