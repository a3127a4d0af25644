"""Before/after throughput of two builds of the extension, alternated in one run.

Takes two directories that each hold a build's two extension modules
(_near_interface_accel and _near_interface_probe, e.g. copies of the .so files
from two installs); "after" defaults to the modules the interpreter imports.
Each figure comes from a fresh subprocess with that directory first on
PYTHONPATH and OMP_NUM_THREADS set; the two builds alternate round by round
so that both see the same load, and the best of the rounds is kept. On a
shared machine only the ratios mean anything.

Printed per workload (those of bench_batch.py: rtol 1e-8, 8 nodes, lam_mult
10, depth 20, detour 0.1): triples per second on one thread for each build
and their ratio, ns per Gauss node, the speed-up on two threads, and the split
of a node's cost by piece (ns per node of the kernel, J0 on the detour and
the segment, the Hankel function on the rays, as the probe times them on the
workload's own arguments; the lane versions where the build has them), with
the rest (integrator and rules) as measured total minus those.

    python benchmarks/bench_before_after.py --before DIR [--after DIR] [--n 1500] [--rounds 3]
    NIA_SCALAR=1 python benchmarks/bench_before_after.py --before DIR   # the scalar path as "after"

Prints figures only; asserts nothing.
"""
import argparse
import json
import os
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from bench_batch import cpu_name, load_average  # noqa: E402

WORKER = r"""
import json, os, sys, time
import numpy as np
sys.path.insert(1, {here!r})
from bench_batch import workload
from bench_node_cost import factor_costs, ns_per_value, CONTROLS
import _near_interface_accel as accel
import _near_interface_probe as probe

task = json.loads(sys.argv[1])
gx, gw = np.polynomial.legendre.leggauss(8)
label, k_p, k_m, rho, z, zp = workload(task["workload"], task["n"])
call = lambda: accel.near_interface_six_batch(k_p, k_m, rho, z, zp, *CONTROLS, gx, gw)
accel.near_interface_six_batch(k_p, k_m, rho[:8], z[:8], zp[:8], *CONTROLS, gx, gw)
best = np.inf
for _ in range(task["repeat"]):
    t0 = time.perf_counter()
    call()
    best = min(best, time.perf_counter() - t0)
out = {{"label": label, "wall": best,
        "target": probe.lane_target() if hasattr(probe, "lane_target") else "scalar (no lanes)"}}
if task["split"]:
    calls = probe.rule_calls(k_p, k_m, rho, z, zp, *CONTROLS, gx, gw).astype(float)
    out["nodes"] = (calls.sum(axis=0) * 8).tolist()
    lanes = hasattr(probe, "lane_kernel")
    hankel = (lambda v: probe.lane_hankel0(1, v)) if lanes else (lambda v: probe.hankel0(1, v))
    j0 = probe.lane_j0 if hasattr(probe, "lane_j0") else probe.bessel_j0
    f = factor_costs(k_p, k_m, rho, z, zp, j0=j0, hankel=hankel)
    rng = np.random.default_rng(0)
    lam = rng.uniform(0.0, 20.0, 4096) + 1j * rng.uniform(0.0, 2.0, 4096)
    kern = ((lambda v: probe.lane_kernel(z[0], zp[0], k_p, k_m, v)) if lanes
            else (lambda v: probe.spectral_kernel(z[0], zp[0], k_p, k_m, v)))
    out["kernel"] = ns_per_value(kern, lam)
    out.update(f)
print(json.dumps(out))
"""


def measure(directory, task, threads):
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    if directory:
        env["PYTHONPATH"] = os.pathsep.join([directory, env.get("PYTHONPATH", "")])
    code = WORKER.format(here=HERE)
    res = subprocess.run([sys.executable, "-c", code, json.dumps(task)], env=env,
                         capture_output=True, text=True, timeout=3600)
    if res.returncode != 0:
        raise RuntimeError(res.stderr)
    return json.loads(res.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--before", required=True, help="directory of the old build's modules")
    parser.add_argument("--after", default="", help="directory of the new build's modules "
                        "(default: the installed ones)")
    parser.add_argument("--n", type=int, default=1500, help="triples per workload")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--workloads", default="abc")
    args = parser.parse_args()
    builds = {"before": os.path.abspath(args.before),
              "after": os.path.abspath(args.after) if args.after else ""}
    print(f"CPU: {cpu_name()}; load average {load_average()}; {args.n} triples per workload, "
          f"{args.rounds} alternating rounds, best kept")
    best = {}
    for r in range(args.rounds):
        for name, directory in builds.items():
            for w in args.workloads:
                for threads in (1, 2):
                    task = {"workload": w, "n": args.n, "repeat": 2,
                            "split": r == 0 and threads == 1}
                    res = measure(directory, task, threads)
                    key = (name, w, threads)
                    old = best.get(key)
                    if old is None:
                        best[key] = res
                    else:
                        old["wall"] = min(old["wall"], res["wall"])
    for name in builds:
        print(f"  {name}: {builds[name] or 'installed modules'} "
              f"(lane target {best[(name, args.workloads[0], 1)]['target']})")
    for w in args.workloads:
        b1, a1 = best[("before", w, 1)], best[("after", w, 1)]
        b2, a2 = best[("before", w, 2)], best[("after", w, 2)]
        nodes = np.array(a1["nodes"])
        per_triple = nodes.sum() / args.n
        print(f"\n{a1['label']}: {per_triple:.0f} nodes per triple "
              f"(detour {nodes[0] / args.n:.0f}, segment {nodes[1] / args.n:.0f}, "
              f"rays {nodes[2] / args.n:.0f})")
        print(f"  {'':24s} {'before':>10s} {'after':>10s} {'ratio':>7s}")
        tb, ta = args.n / b1["wall"], args.n / a1["wall"]
        print(f"  {'triples/s, 1 thread':24s} {tb:10.0f} {ta:10.0f} {ta / tb:7.2f}")
        nb = b1["wall"] * 1e9 / nodes.sum()
        na = a1["wall"] * 1e9 / nodes.sum()
        print(f"  {'ns per node, 1 thread':24s} {nb:10.1f} {na:10.1f} {nb / na:7.2f}")
        sb, sa = b1["wall"] / b2["wall"], a1["wall"] / a2["wall"]
        print(f"  {'speed-up on 2 threads':24s} {sb:10.2f} {sa:10.2f}")
        print("  ns per node by piece (probe timings on this workload's arguments):")
        for res, name in ((b1, "before"), (a1, "after")):
            n = np.array(res["nodes"])
            split = {"kernel": res["kernel"],
                     "J0 detour": res["detour"] * n[0] / n.sum(),
                     "J0 segment": res["segment"] * n[1] / n.sum(),
                     "Hankel rays": res["rays"] * n[2] / n.sum()}
            total = res["wall"] * 1e9 / n.sum()
            split["rest"] = total - sum(split.values())
            print(f"    {name:7s} " + ", ".join(f"{k} {v:.0f}" for k, v in split.items())
                  + f"  (total {total:.0f})")
    print(f"\nload average after: {load_average()}")


if __name__ == "__main__":
    main()
