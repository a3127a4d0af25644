"""Generate tests/data/layered_reference.json: E and H of dipoles in stacks of
layers from ``layered_reference`` (arb at 128 bits), each row from contour
"A" with the largest difference to contour "B" as its own error estimate.

    python tests/reference/make_layered_reference.py [--out PATH] [--only NAME]

(--only regenerates the stacks whose name holds NAME and keeps the others'
rows in PATH as they are.)

The stacks are those the layered tests and the comparison with other codes
use: a marine survey (air, 1 km of sea water, sediments with a 100 m
resistive layer) at 0.1 to 10 Hz, a radar case (air, 0.3 m of wet topsoil,
dry rock) at 100 MHz and 1 GHz, a vertical antenna 10 m over lossy ground at
10 MHz with receivers in the air to 10 km, and stacks of two, three and five
layers (sea water, a thin resistor, a plasmonic film, a lossy top) from 1 Hz
to 1 GHz, and a lossless plasmonic film of 1 mm, whose slow wave lies on the
real axis some 90 free-space wavenumbers out. Points lie in every layer, on interfaces and at the source's
height, and for the antenna the far range's other placements (from the air into
the ground, both in it, from it into the air). Takes some 70 minutes on one
core.
"""
from __future__ import annotations

import argparse
import json
import math
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import layered_reference as lr  # noqa: E402

EPS0 = 8.8541878188e-12
C0 = 299_792_458.0


def eps(f, eps_r, sigma):
    """Complex relative permittivity of the exp(+j omega t) convention."""
    return complex(eps_r) - 1j * sigma / (2 * math.pi * f * EPS0)


def k0(f):
    return 2 * math.pi * f / C0


def stacks():
    """(name, frequency, eps_r, mu_r, interfaces[, slow_waves]) of every stack."""
    out = []
    for f in (0.1, 1.0, 10.0):
        out.append((f"marine {f:g} Hz", f, (1.0, eps(f, 81, 3.3), eps(f, 10, 1.0), eps(f, 10, 0.01),
                                             eps(f, 10, 1.0)), (1,) * 5,
                    (0.0, -1000.0, -2000.0, -2100.0)))
    for f in (1e8, 1e9):
        out.append((f"radar {f:g} Hz", f, (1.0, eps(f, 20, 0.01), eps(f, 6, 0.001)), (1,) * 3,
                    (0.0, -0.3)))
    out.append(("antenna 1e+07 Hz", 1e7, (1.0, eps(1e7, 15, 0.005)), (1, 1), (0.0,)))
    f = 1.0
    out.append(("sea and resistor 1 Hz", f, (1.0, eps(f, 81, 4.0), eps(f, 5, 1e-3), eps(f, 20, 0.5)),
                (1, 1, 1, 1), (0.0, -300.0, -320.0)))
    f = 1e9
    out.append(("plasmonic film 1e+09 Hz", f, (1.0, -2.0 - 0.1j, 2.25), (1, 1, 1), (0.0, -0.1)))
    # a lossless plasmonic film of 1 mm between air and glass: its slow TM
    # wave lies on the real axis near ln|r_air r_glass| / (2 d) with the
    # quasi-static face reflections r = (eps_film - eps) / (eps_film + eps)
    f, film, d = 1e9, -2.5, 1e-3
    slow = math.log(abs((film - 1) / (film + 1) * (film - 2.25) / (film + 2.25))) / (2 * d)
    out.append(("thin plasmonic film 1e+09 Hz", f, (1.0, film, 2.25), (1, 1, 1), (0.0, -d), (slow,)))
    f = 1e6
    out.append(("five layers 1e+06 Hz", f, (eps(f, 4, 0.01), 1.0, eps(f, 10, 0.1), eps(f, 3, 1e-4),
                                             eps(f, 81, 4.0)), (1, 2, 1, 1, 1),
                (10.0, 0.0, -5.0, -6.0)))
    return out


def rows_for(name, f, eps_r, mu_r, interfaces):
    """(x, y, z, zp, source, direction) of one stack: points in every layer, on
    each interface and at the source's height."""
    if name.startswith("marine"):
        zp = -950.0
        offsets = (500.0, 2000.0, 5000.0, 10000.0) if f == 1.0 else (2000.0, 5000.0)
        pts = [(x, 0.0, -1000.0) for x in offsets] + ([(3000.0, 0.0, 0.0)] if f == 1.0 else [])
    elif name.startswith("radar"):
        zp = 0.5
        pts = [(1.0, 0.2, 0.5), (0.5, 0.0, 0.0), (1.0, 0.2, -0.1), (0.8, 0.0, -0.3), (1.0, 0.3, -0.8)]
    elif name.startswith("antenna"):
        zp = 10.0
        pts = [(x, 0.0, 2.0) for x in (100.0, 1000.0, 10000.0)] + [(50.0, 0.0, 0.0), (20.0, 0.0, -1.0)]
    else:
        top, bottom = interfaces[0], interfaces[-1]
        span = top - bottom
        zp = bottom + 0.5 * (interfaces[-2] - bottom)
        pts = [(0.3 * span, 0.1 * span, top + 0.2 * span), (0.5 * span, 0.0, top),
               (0.4 * span, -0.2 * span, zp), (0.2 * span, 0.0, bottom - 0.3 * span)]
    rows = []
    for x, y, z in pts:
        # a vertical current element and a vertical loop (horizontal normal)
        rows += [(x, y, z, zp, "electric", (0, 0, 1)), (x, y, z, zp, "magnetic", (1, 0, 0))]
    if name.startswith("antenna"):
        # the far range's other placements over the ground: from the air into
        # it, both in it, and from it into the air; tilted, every column
        for x, y, z, zq in [(300.0, 0.0, -1.0, 10.0), (1000.0, 0.0, -1.0, 10.0),
                            (300.0, 0.0, -1.0, -2.0), (1000.0, 0.0, -1.0, -2.0),
                            (1000.0, 0.0, 2.0, -2.0)]:
            rows += [(x, y, z, zq, source, (0.6, 0.0, 0.8)) for source in ("electric", "magnetic")]
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", default=str(HERE.parent / "data" / "layered_reference.json"))
    ap.add_argument("--only", default=None, help="stacks whose name contains this")
    args = ap.parse_args()
    data = {"generator": "tests/reference/make_layered_reference.py",
            "units": "SI: E in V/m, H in A/m for a moment of 1 A m (electric) or 1 A m^2 "
                     "(magnetic); heights in metres; exp(+j omega t)",
            "stacks": []}
    kept = []
    if args.only and Path(args.out).exists():
        # the other stacks' rows stay as they are
        kept = [s for s in json.loads(Path(args.out).read_text())["stacks"] if args.only not in s["name"]]
    for name, f, eps_r, mu_r, interfaces, *slow in stacks():
        if args.only and args.only not in name:
            continue
        st = lr.Stack(k0(f), eps_r, mu_r, interfaces, *slow)
        entry = {"name": name, "frequency": f, "eps_r": [[e.real, e.imag] for e in map(complex, eps_r)],
                 "mu_r": [float(m) for m in mu_r], "interfaces": list(interfaces), "rows": []}
        for x, y, z, zp, source, direction in rows_for(name, f, eps_r, mu_r, interfaces):
            t = time.time()
            e, h = lr.fields(st, x, y, z, zp, source, direction)
            e2, h2 = lr.fields(st, x, y, z, zp, source, direction, contour="B")
            scale = max(abs(v) for v in e + h)
            spread = max(abs(a - b) for a, b in zip(e + h, e2 + h2)) / scale
            entry["rows"].append({"x": x, "y": y, "z": z, "zp": zp, "source": source,
                                  "direction": list(direction),
                                  "E": [[v.real, v.imag] for v in e], "H": [[v.real, v.imag] for v in h],
                                  "contour_spread": spread})
            print(f"{name}: ({x:g}, {y:g}, {z:g}) zp {zp:g} {source} {direction}: "
                  f"spread {spread:.1e}, {time.time() - t:.0f} s", flush=True)
        data["stacks"].append(entry)
    order = [s[0] for s in stacks()]
    data["stacks"] = sorted(kept + data["stacks"], key=lambda s: order.index(s["name"]))
    Path(args.out).write_text(json.dumps(data, indent=1) + "\n")


if __name__ == "__main__":
    main()
