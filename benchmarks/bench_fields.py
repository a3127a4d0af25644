"""Cost of the dipole fields: one dipole_field call against six_integrals on
the same points, and nanoseconds per Gauss node of the field batch.

Three workloads of fixed-seed field points, a dipole 1 m deep:

  (a) wet ground at 10 MHz (eps_r 20, 0.01 S/m), x, y in [-50, 50] m, z in [0, 3] m
  (b) sea water at 1 MHz (eps_r 81, 4 S/m), the same points
  (c) dry ground at 100 MHz (eps_r 4, 0.001 S/m), x, y in [-20, 20] m

For each workload and rtol (1e-8 and 1e-11), on one thread, in one process:
the time of six_integrals(k_p, k_m, rho, z, zp) on the N points and of
dipole_field(upper, lower, x, y, z, zp) for the electric and the magnetic
source, vertical (the default direction, which integrates the vertical
dipole's columns alone) and tilted (every column of the source), alternated,
best of a few; their ratio (the goal is at most 2). Then
the Gauss nodes of a row (from the batch's own tally), and ns per node of
the field batch and of the six-channel batch (nodes from the test probe, when
installed), on the SIMD lanes and on the scalar path (NIA_SCALAR=1): each in
a fresh subprocess, since the lane choice is made once per process. Prints
figures only; asserts nothing. On a shared machine compare only ratios taken
in one run.

    python benchmarks/bench_fields.py            # about 2 minutes on 2 cores
    python benchmarks/bench_fields.py --quick    # about 20 seconds
"""

import argparse
import json
import os
import subprocess
import sys
import time
from functools import partial

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import add_json_argument, cpu_name, load_average, write_json  # noqa: E402

WORKLOADS = {
    "wet ground 10 MHz": (10e6, dict(eps_r=20, sigma=0.01), 50.0),
    "sea water 1 MHz": (1e6, dict(eps_r=81, sigma=4.0), 50.0),
    "dry ground 100 MHz": (100e6, dict(eps_r=4, sigma=0.001), 20.0),
}
ZP = -1.0
RTOLS = (1e-8, 1e-11)
TILTED = (0.6, 0.0, 0.8)


def points(n, half_width, seed=7):
    rng = np.random.default_rng(seed)
    return (rng.uniform(-half_width, half_width, n), rng.uniform(-half_width, half_width, n),
            rng.uniform(0.0, 3.0, n))


def best(f, repeats):
    times = []
    for _ in range(repeats):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


def measure(upper, lower, x, y, z, rtol, repeats, probe):
    """The figures of one workload and rtol."""
    import _near_interface_accel as accel
    import _near_interface_ext as ext
    import near_interface_accel as nia
    n = x.size
    rho = np.hypot(x, y)
    zp = np.full(n, ZP)
    gx, gw = nia.gauss_rule(8)
    k_p = upper.k.real
    calls = {
        "six_integrals": partial(nia.six_integrals, upper.k, lower.k, rho, z, ZP, rtol=rtol),
        "dipole_field electric": partial(nia.dipole_field, upper, lower, x, y, z, ZP, rtol=rtol),
        "dipole_field magnetic": partial(nia.dipole_field, upper, lower, x, y, z, ZP,
                                         source="magnetic", rtol=rtol),
        # a tilted dipole takes every column of its source (the vertical and the
        # horizontal ones integrate their own columns alone)
        "dipole_field electric tilted": partial(nia.dipole_field, upper, lower, x, y, z, ZP,
                                                direction=TILTED, rtol=rtol),
        "dipole_field magnetic tilted": partial(nia.dipole_field, upper, lower, x, y, z, ZP,
                                                source="magnetic", direction=TILTED, rtol=rtol),
    }
    times = {k: float("inf") for k in calls}
    for _ in range(repeats):          # alternate the calls, keep the best of each
        for k, call in calls.items():
            times[k] = min(times[k], best(call, 1))
    row = {"seconds": times}
    for source in ("electric", "magnetic"):
        call = partial(ext.dipole_field_batch, k_p, lower.k, source, rho, z, zp, rtol, 10.0, 20,
                       0.1, gx, gw)
        nodes = float(call()[1].sum())
        row[f"nodes per row {source}"] = nodes / n
        row[f"ns per node {source}"] = 1e9 * best(call, repeats) / nodes
    if probe is not None:
        nodes = float(probe.rule_calls(k_p, lower.k, rho, z, zp, rtol, 10.0, 20, 0.1, gx,
                                       gw).sum()) * gx.size
        call = partial(accel.near_interface_six_batch, k_p, lower.k, rho, z, zp, rtol, 10.0, 20,
                       0.1, gx, gw)
        row["nodes per row six"] = nodes / n
        row["ns per node six"] = 1e9 * best(call, repeats) / nodes
    return row


def worker(n, repeats):
    """One process: the timings of one lane setting, as JSON on stdout."""
    import near_interface_accel as nia
    try:
        import _near_interface_probe as probe
    except ImportError:
        probe = None
    out = {}
    for name, (f, lower_args, half) in WORKLOADS.items():
        upper, lower = nia.medium(f), nia.medium(f, **lower_args)
        x, y, z = points(n, half)
        for rtol in RTOLS:
            out[f"{name}, rtol {rtol:g}"] = measure(upper, lower, x, y, z, rtol, repeats, probe)
    print(json.dumps(out))


def run(n, repeats, scalar):
    env = dict(os.environ, OMP_NUM_THREADS="1", NIA_SCALAR="1" if scalar else "0")
    proc = subprocess.run([sys.executable, __file__, "--worker", "--n", str(n), "--repeats",
                           str(repeats)], env=env, capture_output=True, text=True, check=True)
    return json.loads(proc.stdout.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer points and repeats")
    parser.add_argument("--n", type=int, default=None, help="field points per workload")
    parser.add_argument("--repeats", type=int, default=None)
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    add_json_argument(parser, "bench_fields")
    args = parser.parse_args()
    n = args.n or (100 if args.quick else 400)
    repeats = args.repeats or (2 if args.quick else 3)
    if args.worker:
        worker(n, repeats)
        return
    print(f"CPU: {cpu_name()}; one OpenMP thread; {n} points per workload, best of {repeats}")
    print(f"load average before: {load_average()}")
    lanes = run(n, repeats, scalar=False)
    scalar = run(n, repeats, scalar=True)
    print(f"load average after:  {load_average()}")
    print()
    print(f"{'workload':<34} {'six s':>7} {'E-dip s':>8} {'ratio':>6} {'M-dip s':>8} {'ratio':>6}"
          f"   tilted: {'E s':>6} {'ratio':>6} {'M s':>6} {'ratio':>6}  (SIMD lanes; vertical "
          f"dipoles, then tilted {TILTED})")
    for key, row in lanes.items():
        s = row["seconds"]
        six, e, m = s["six_integrals"], s["dipole_field electric"], s["dipole_field magnetic"]
        et, mt = s["dipole_field electric tilted"], s["dipole_field magnetic tilted"]
        print(f"{key:<34} {six:7.3f} {e:8.3f} {e / six:6.2f} {m:8.3f} {m / six:6.2f}"
              f"           {et:6.3f} {et / six:6.2f} {mt:6.3f} {mt / six:6.2f}")
    print()
    print(f"{'workload':<34} {'nodes/row':>9} {'ns/node: field E':>17} {'field M':>8} "
          f"{'six':>6}   {'scalar: field E':>15} {'field M':>8} {'six':>6}")
    for key, row in lanes.items():
        srow = scalar[key]
        print(f"{key:<34} {row['nodes per row electric']:9.0f} "
              f"{row['ns per node electric']:17.0f} {row['ns per node magnetic']:8.0f} "
              f"{row.get('ns per node six', float('nan')):6.0f}   "
              f"{srow['ns per node electric']:15.0f} {srow['ns per node magnetic']:8.0f} "
              f"{srow.get('ns per node six', float('nan')):6.0f}")
    write_json(args.json, "bench_fields", {"points": n, "repeats": repeats, "lanes": lanes,
                                           "scalar": scalar})


if __name__ == "__main__":
    main()
