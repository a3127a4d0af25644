"""Write tests/data/dipole_interface_reference.json: E and H above an interface
of unit electric and magnetic dipoles along x, y and z below it, for the
field tests of the compiled module.

Every row is computed by ``dipole_interface_reference`` (TE/TM plane waves,
arb arithmetic at 128 bits) on two contours of its own; the file keeps the
values of contour A and the agreement of the two,

    max over the six dipoles of (|E_A - E_B| + eta |H_A - H_B|) / (|E_A| + eta |H_A|),

eta = omega mu0 / k_p the wave impedance of the upper medium.

Regenerate (about 20 minutes on one core, 10 with --jobs 2, with python-flint
and mpmath):

    pip install mpmath python-flint
    python tests/reference/make_dipole_reference.py [--jobs 2]

The output is deterministic: the same python-flint and mpmath give the same
file.

Reading it: ``media[name]`` holds the frequency, the relative permittivity
and conductivity the medium was made from (as ``near_interface_accel.medium``
takes them) and the k0, k_p, k_m used; build the Medium values from those
(``Medium(k0, k, eps_r, 1)``) to test with the very same wavenumbers. Each row
has the medium, the field point (x, y, z) and the source height zp in metres,
and ``fields["electric x"]["E"]`` etc.: three [re, im] pairs, V/m for E and
A/m for H, for a moment of 1 A m (electric) or 1 A m**2 (magnetic) at
(0, 0, zp). Time factor exp(+j omega t).
"""

import argparse
import cmath
import json
import math
import os
import sys
import time
from multiprocessing import Pool

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import mpmath as mp  # noqa: E402

import dipole_closed_form as cf  # noqa: E402
import dipole_interface_reference as dr  # noqa: E402

DEFAULT_OUTPUT = os.path.join(os.path.dirname(HERE), "data", "dipole_interface_reference.json")

# name: (frequency in Hz, relative permittivity, conductivity in S/m)
MEDIA = {
    "lossy ground 4-1j, 10 MHz": (10e6, 4 - 1j, 0.0),
    "sea water 81, 4 S/m, 1 MHz": (1e6, 81.0, 4.0),
    "good conductor 1-1e4j, 1 MHz": (1e6, 1 - 1e4j, 0.0),
    "plasmonic -2-0.1j, 474 THz": (4.74e14, -2 - 0.1j, 0.0),
}

# (medium, unit of the lengths: "1/k0" or "m", [(rho, z, zp), ...])
_NEAR_AND_FAR = [(0.0, 0.5, -0.25), (0.0, 0.0, -0.5), (0.5, 0.0, -0.3), (2.0, 0.0, 0.0),
                 (5.0, 1.0, -0.5), (30.0, 0.2, -0.1), (1000.0, 0.5, -0.2), (1000.0, 0.0, 0.0)]
POINTS = [
    ("lossy ground 4-1j, 10 MHz", "1/k0", _NEAR_AND_FAR),
    ("plasmonic -2-0.1j, 474 THz", "1/k0", _NEAR_AND_FAR[:-1]),
    # skin depth 0.25 m; the last point is k0 rho = 1000
    ("sea water 81, 4 S/m, 1 MHz", "m", [(0.0, 1.0, -0.2), (0.0, 0.0, -0.3), (0.5, 0.0, -0.1),
                                          (2.0, 0.0, 0.0), (10.0, 2.0, -0.3), (200.0, 0.5, -0.05),
                                          (47700.0, 1.0, -0.1)]),
    # skin depth 0.67 m
    ("good conductor 1-1e4j, 1 MHz", "m", [(0.0, 1.0, -0.5), (0.0, 0.0, -1.0), (1.0, 0.0, -0.3),
                                            (3.0, 0.0, 0.0), (20.0, 2.0, -0.5), (47700.0, 1.0, -0.2)]),
]

# Azimuths of the field points off the axis (none special, so that every
# Cartesian component is exercised).
PHIS = (0.6, -2.2)
AXES = {"x": (1.0, 0.0, 0.0), "y": (0.0, 1.0, 0.0), "z": (0.0, 0.0, 1.0)}


def medium(frequency, eps_r, sigma):
    """k0, k and the complex permittivity as near_interface_accel.medium makes them."""
    omega = 2.0 * math.pi * frequency
    k0 = omega / cf.SPEED_OF_LIGHT
    eps = complex(eps_r) - 1j * (sigma / (omega * cf.EPSILON_0))
    k = k0 * cmath.sqrt(eps)
    if k.imag > 0 or (k.imag == 0 and k.real < 0):
        k = -k
    return k0, k, eps


def pair(v):
    v = complex(v)
    return [v.real, v.imag]


def _norm(v):
    return mp.sqrt(sum(abs(c) ** 2 for c in v))


def compute_point(task):
    name, rho, z, zp = task
    k0, k_m, _ = medium(*MEDIA[name])
    k_p = complex(k0)
    phis = (0.0,) if rho == 0 else PHIS
    start = time.time()
    stats = {}
    vals = {c: dr.all_fields(k0, k_p, k_m, rho, z, zp, phis, contour=c, stats=stats.setdefault(c, {}))
            for c in "AB"}
    seconds = time.time() - start
    eta = cf.ETA_0   # wave impedance of the upper medium, air
    rows = []
    with mp.workdps(dr.ASSEMBLY_DPS):
        for i, phi in enumerate(phis):
            a_row, b_row = vals["A"][i], vals["B"][i]
            agreement = mp.mpf(0)
            fields = {}
            for (source, axis), (e, h) in sorted(a_row.items()):
                eb, hb = b_row[(source, axis)]
                size = _norm(e) + eta * _norm(h)
                diff = _norm([p - q for p, q in zip(e, eb)]) + eta * _norm([p - q for p, q in zip(h, hb)])
                agreement = max(agreement, diff / size)
                fields["%s %s" % (source, axis)] = {"E": [pair(c) for c in e], "H": [pair(c) for c in h]}
            rows.append({
                "medium": name, "x": rho * math.cos(phi), "y": rho * math.sin(phi), "z": z, "zp": zp,
                "rho": rho, "phi": phi, "fields": fields, "agreement": float("%.2e" % agreement),
                "seconds": round(seconds, 1),
                "contours": {c: dict(dr.Contour(c, k_p, k_m, rho).describe(), **stats[c]) for c in "AB"},
            })
    return rows


def tasks():
    out = []
    for name, unit, points in POINTS:
        k0 = medium(*MEDIA[name])[0]
        scale = 1.0 / k0 if unit == "1/k0" else 1.0
        out += [(name, rho * scale, z * scale, zp * scale) for rho, z, zp in points]
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    parser.add_argument("--jobs", type=int, default=1, help="worker processes (default 1)")
    parser.add_argument("--limit", type=int, default=None, help="only the first N points (a quick look)")
    args = parser.parse_args()
    todo = tasks()[:args.limit]
    rows = []
    with Pool(args.jobs) as pool:
        for point_rows in pool.imap(compute_point, todo):
            r = point_rows[0]
            print("%-30s rho %-10.4g z %-8.4g zp %-8.4g agreement %.1e  %.0f s"
                  % (r["medium"], r["rho"], r["z"], r["zp"], max(p["agreement"] for p in point_rows),
                     r["seconds"]), flush=True)
            rows += point_rows
    media = {}
    for name, (f, eps_r, sigma) in MEDIA.items():
        k0, k_m, eps = medium(f, eps_r, sigma)
        media[name] = {"frequency": f, "eps_r": pair(eps_r), "sigma": sigma, "k0": k0,
                       "k_p": pair(k0), "k_m": pair(k_m), "eps_m": pair(eps)}
    doc = {
        "description": "E (V/m) and H (A/m) at (x, y, z), z >= 0, in the upper medium (air) of unit "
                       "electric (1 A m) and magnetic (1 A m^2) dipoles along x, y, z at (0, 0, zp), "
                       "zp <= 0, in the lower medium; time factor exp(+j omega t); each value [re, im].",
        "generator": "tests/reference/make_dipole_reference.py",
        "regenerate": "python tests/reference/make_dipole_reference.py --jobs 2",
        "method": "TE/TM plane waves, channels of J0, J1, J2 in arb at %d bits, contour A; "
                  "agreement with contour B as stated" % dr.PREC,
        "agreement": "max over the six dipoles of (|E_A - E_B| + eta |H_A - H_B|) / (|E_A| + eta |H_A|)",
        "worst_agreement": max(r["agreement"] for r in rows),
        "media": media,
        "rows": rows,
    }
    with open(args.output, "w") as fh:
        fh.write("{\n")
        items = list(doc.items())
        for i, (key, value) in enumerate(items):
            if key == "rows":
                fh.write(' "rows": [\n')
                fh.write(",\n".join("  " + json.dumps(r) for r in value))
                fh.write("\n ]")
            else:
                fh.write(" %s: %s" % (json.dumps(key), json.dumps(value)))
            fh.write(",\n" if i < len(items) - 1 else "\n")
        fh.write("}\n")
    print("wrote %d rows to %s" % (len(rows), args.output))


if __name__ == "__main__":
    main()
