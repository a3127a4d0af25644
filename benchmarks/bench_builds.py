"""Two builds side by side on one thread: the six-integral batch and the field
batch of a tilted dipole (every column of the source), alternated round by
round in one run so that both see the same load.

Each build is a folder holding the compiled modules (``_near_interface_accel``
and ``_near_interface_ext``), e.g. a copy of an installed site-packages taken
before a change; the second defaults to the modules this interpreter imports.
Each timing runs in a fresh process with OMP_NUM_THREADS=1; the best of the
rounds is kept. On a shared machine only the ratios mean anything.

    python benchmarks/bench_builds.py OLD_DIR [NEW_DIR] [--n 300] [--rounds 3]

Prints figures only; asserts nothing.
"""
from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys


def workloads() -> list[tuple[str, float, complex]]:
    """(label, k_p, k_m) in 1/m: wet ground at 10 MHz, sea water at 1 MHz, dry
    ground at 100 MHz."""
    import near_interface_accel as nia
    out = []
    for label, f, eps_r, sigma in (("wet ground 10 MHz", 10e6, 20.0, 0.01),
                                   ("sea water 1 MHz", 1e6, 81.0, 4.0),
                                   ("dry ground 100 MHz", 100e6, 4.0, 0.001)):
        out.append((label, nia.medium(f).k.real, nia.medium(f, eps_r, sigma).k))
    return out


CALLS = [("six integrals", None), ("electric field (tilted)", "electric"),
         ("magnetic field (tilted)", "magnetic")]

WORKER = r"""
import json, sys, time
import numpy as np
sys.path.insert(0, sys.argv[1])
import _near_interface_accel as accel, _near_interface_ext as ext
task = json.loads(sys.argv[2])
k_p, k_m = task["k_p"], complex(*task["k_m"])
rng = np.random.default_rng(7)
n = task["n"]
rho = 10 ** rng.uniform(-1, 2, n) / k_p * 0.1
z = rng.uniform(0, 2, n)
zp = -rng.uniform(0.05, 1, n)
gx, gw = np.polynomial.legendre.leggauss(8)
args = (rho, z, zp, task["rtol"], 10.0, 20, 0.1, gx, gw)
if task["source"] is None:
    call = lambda: accel.near_interface_six_batch(k_p, k_m, *args)
else:
    call = lambda: ext.dipole_field_batch(k_p, k_m, task["source"], *args)
best = float("inf")
for _ in range(2):
    t0 = time.perf_counter()
    call()
    best = min(best, time.perf_counter() - t0)
print(json.dumps(best))
"""


def timing(build: str, task: dict) -> float:
    env = dict(os.environ, OMP_NUM_THREADS="1")
    out = subprocess.run([sys.executable, "-c", WORKER, build, json.dumps(task)], check=True,
                         env=env, capture_output=True, text=True)
    return float(json.loads(out.stdout))


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("old")
    ap.add_argument("new", nargs="?")
    ap.add_argument("--n", type=int, default=300, help="triples per workload")
    ap.add_argument("--rounds", type=int, default=3)
    args = ap.parse_args()
    new = args.new
    if new is None:
        import _near_interface_accel
        new = os.path.dirname(_near_interface_accel.__file__)
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    print(f"one OpenMP thread; {platform.processor() or platform.machine()}; load {load:.1f}; "
          f"{args.n} triples per workload, rtol 1e-8 and 1e-11, best of {args.rounds} rounds")
    print(f"{'workload':<22}{'call':<26}{'rtol':>7}{'old ms':>10}{'new ms':>10}{'new/old':>9}")
    for label, k_p, k_m in workloads():
        for rtol in (1e-8, 1e-11):
            for name, source in CALLS:
                task = dict(k_p=k_p, k_m=[k_m.real, k_m.imag], n=args.n, rtol=rtol,
                            source=source)
                best = {"old": float("inf"), "new": float("inf")}
                for _ in range(args.rounds):
                    for key, build in (("old", args.old), ("new", new)):
                        best[key] = min(best[key], timing(build, task))
                print(f"{label:<22}{name:<26}{rtol:>7.0e}{1e3 * best['old']:>10.1f}"
                      f"{1e3 * best['new']:>10.1f}{best['new'] / best['old']:>9.3f}")


if __name__ == "__main__":
    main()
