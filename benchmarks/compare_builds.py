"""Rows of two builds side by side: the six-integral batch bit for bit, the
field batch to a relative bound.

Each build is a folder holding the compiled modules (``_near_interface_accel``
and ``_near_interface_ext``), for instance a copy of an installed
site-packages taken before a change. The same random triples over eight media
go to both, on the SIMD lanes and on the scalar path (``NIA_SCALAR=1``), each
build in its own process.

    python benchmarks/compare_builds.py OLD_DIR [NEW_DIR] [--triples 6000] [--fields 1200]

NEW_DIR defaults to the modules the running interpreter imports. Prints, per
path, how many six-integral rows differ in any bit (NaN-ness compared, not NaN
bits) and the worst field-row difference relative to the row's largest
integral; exits 1 when a six-integral row differs.
"""
from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np

# (k_p, k_m): lossy ground, wet soil, lake water, a lossless dielectric, a
# low-index medium, sea water at 1 MHz in units of k0, a good conductor, a
# plasmonic medium and one medium on both sides.
MEDIA = [
    (1.0, complex(np.sqrt(4 - 1j))),
    (1.0, complex(np.sqrt(25 - 0.5j))),
    (1.0, complex(np.sqrt(81 - 1.8j))),
    (1.0, 1.5 + 0j),
    (1.0, complex(np.sqrt(0.5))),
    (1.0, complex(np.sqrt(81 - 71900j))),
    (1.0, complex(np.sqrt(-2 - 0.1j))),
    (1.0, 1.0 + 0j),
]
CONTROLS = [(1e-8, 10.0, 20, 0.1, 8), (1e-11, 10.0, 20, 0.1, 12), (1e-6, 3.0, 12, 0.1, 8)]
SOURCES = ["electric", "magnetic", "electric vertical", "magnetic horizontal"]


def triples(n: int, seed: int) -> np.ndarray:
    rng = np.random.default_rng(seed)
    rho = 10 ** rng.uniform(-3, 2.5, n)
    rho[rng.random(n) < 0.05] = 0.0
    z = np.where(rng.random(n) < 0.3, 0.0, rng.uniform(0, 3, n))
    zp = np.where(rng.random(n) < 0.3, 0.0, -rng.uniform(0, 3, n))
    zp[(rho == 0) & (z == 0) & (zp == 0)] = -0.5
    return np.stack([rho, z, zp], axis=1)


WORKER = r"""
import sys, numpy as np
sys.path.insert(0, sys.argv[1])
import _near_interface_accel as accel, _near_interface_ext as ext
data = np.load(sys.argv[2], allow_pickle=True)
media, controls, sources = data["media"], data["controls"], list(data["sources"])
six, fields = [], []
for m, (k_p, k_m) in enumerate(media):
    t = data["six_%d" % m]
    for (rtol, lam, depth, detour, nodes) in controls:
        gx, gw = np.polynomial.legendre.leggauss(int(nodes))
        six.append(ext.six_batch_diagnostics(k_p.real, k_m, t[:, 0], t[:, 1], t[:, 2], rtol,
                                             lam, int(depth), detour, gx, gw)[0])
    gx8, gw8 = np.polynomial.legendre.leggauss(8)
    f = data["field_%d" % m]
    for s in sources:
        fields.append(ext.dipole_field_batch(k_p.real, k_m, s, f[:, 0], f[:, 1], f[:, 2], 1e-10,
                                             10.0, 20, 0.1, gx8, gw8)[0])
np.savez(sys.argv[3], *six, **{"f%d" % i: v for i, v in enumerate(fields)})
"""


def run(build: str, plan: str, out: str, scalar: bool) -> None:
    env = dict(os.environ, NIA_SCALAR="1" if scalar else "0")
    subprocess.run([sys.executable, "-c", WORKER, build, plan, out], check=True, env=env)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("old")
    ap.add_argument("new", nargs="?")
    ap.add_argument("--triples", type=int, default=6000, help="six-integral triples in all")
    ap.add_argument("--fields", type=int, default=1200, help="field triples in all")
    args = ap.parse_args()
    new = args.new
    if new is None:
        import _near_interface_accel
        new = os.path.dirname(_near_interface_accel.__file__)
    per_medium = max(1, args.triples // (len(MEDIA) * len(CONTROLS)))
    per_field = max(1, args.fields // len(MEDIA))
    with tempfile.TemporaryDirectory() as tmp:
        plan = os.path.join(tmp, "plan.npz")
        arrays = {}
        for m in range(len(MEDIA)):
            arrays[f"six_{m}"] = triples(per_medium, m)
            arrays[f"field_{m}"] = triples(per_field, 100 + m)
        np.savez(plan, media=np.array([[complex(a), complex(b)] for a, b in MEDIA]),
                 controls=np.array(CONTROLS), sources=np.array(SOURCES), **arrays)
        failed = False
        for scalar in (False, True):
            paths = {}
            for name, build in (("old", args.old), ("new", new)):
                paths[name] = os.path.join(tmp, f"{name}-{int(scalar)}.npz")
                run(build, plan, paths[name], scalar)
            old, cur = np.load(paths["old"]), np.load(paths["new"])
            six_keys = sorted((k for k in old.files if k.startswith("arr_")),
                              key=lambda k: int(k[4:]))
            rows = differ = 0
            for k in six_keys:
                a, b = old[k], cur[k]
                same = (a.view(np.float64) == b.view(np.float64)) | (np.isnan(a.view(np.float64))
                                                                      & np.isnan(b.view(np.float64)))
                bad = ~same.reshape(a.shape[0], -1).all(axis=1)
                rows += a.shape[0]
                differ += int(bad.sum())
            worst = 0.0
            frows = 0
            for k in (k for k in old.files if k.startswith("f")):
                a, b = old[k], cur[k]
                scale = np.max(np.abs(a), axis=1)
                ok = np.isfinite(scale) & (scale > 0)
                d = np.max(np.abs(a - b), axis=1)[ok] / scale[ok]
                frows += a.shape[0]
                if d.size:
                    worst = max(worst, float(np.max(d)))
            path = "scalar" if scalar else "lanes"
            print(f"{path}: six-integral rows differing in any bit: {differ} of {rows}; "
                  f"field rows: worst difference {worst:.2e} of the row's largest ({frows} rows)")
            failed |= differ > 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
