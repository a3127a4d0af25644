"""Where the time of a Gauss node goes, and how it compares with the
elementary operations it is made of.

Every node of the path costs one evaluation of the six interface kernels
(four complex square roots, one complex exponential, two complex quotients
and a dozen products) and one Bessel-type factor: J0 of a complex argument
on the detour, J0 of a real argument on the real-axis segment, a Hankel
function on the tail rays. A C++ micro-benchmark (elementary_costs.cpp, built
with cmake on first use) times the kernel and its parts in a tight loop; the
probe times the Bessel-type factors on arguments sampled where the workload's
nodes sit; the node counts by piece come from the probe's rule counter; the
batch call is timed on one thread. The remainder (measured minus the sum) is the
integrator's and the panel rules' own work: mapping nodes, weighting and
summing the six channels, the tolerance tests, the recursion.

    OMP_NUM_THREADS=1 python benchmarks/bench_node_cost.py [--n 2000]

Prints figures only; asserts nothing. The elementary costs are measured on
representative arguments (a kernel on the detour, J0 up to |z| = 30, Hankel
arguments on a tail ray), so the split is an estimate; the total is measured.
"""
import os

os.environ.setdefault("OMP_NUM_THREADS", "1")

import argparse  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_batch import workload  # noqa: E402
from benchlib import add_json_argument, cpu_name, elementary_costs, load_average, write_json  # noqa: E402

import _near_interface_accel as accel  # noqa: E402
import _near_interface_probe as probe  # noqa: E402

CONTROLS = (1e-8, 10.0, 20, 0.1)   # rtol, lam_mult, depth, detour
NODES = 8


def ns_per_value(fn, values, repeat=5):
    """Best time per element of a vectorised probe call over many values."""
    fn(values[:16])
    best = np.inf
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn(values)
        best = min(best, time.perf_counter() - t0)
    return best / values.size * 1e9


def factor_costs(k_p, k_m, rho, z, zp, sample=200, j0=None, hankel=None):
    """ns per Bessel-type factor on arguments where the workload's nodes sit:
    rho times lambda on the detour, on the segment and on the tail rays
    (j0(z) and hankel(z) default to the probe's bessel_j0 and hankel0(1, z))."""
    j0 = j0 or probe.bessel_j0
    hankel = hankel or (lambda v: probe.hankel0(1, v))
    rng = np.random.default_rng(0)
    pick = rng.choice(rho.size, min(sample, rho.size), replace=False)
    detour, segment, rays = [], [], []
    u = np.linspace(0.0, 1.0, 24)
    for i in pick:
        p = probe.triple_plan(k_p, k_m, rho[i], z[i], zp[i], CONTROLS[1], CONTROLS[3])
        a, lam_end, h = p["axis_end"], p["tail_start"], p["detour_height"]
        t = a * u
        detour.append(rho[i] * (t + 1j * h * np.sin(np.pi * t / a)))
        segment.append(rho[i] * (a + (lam_end - a) * u) + 0j)
        s = p["tail_scale"] * np.geomspace(0.05, 40.0, 24)
        rays.append(rho[i] * (lam_end + s * np.exp(0.25j * np.pi)))
    return {
        "detour": ns_per_value(j0, np.concatenate(detour)),
        "segment": ns_per_value(j0, np.concatenate(segment)),
        "rays": ns_per_value(hankel, np.concatenate(rays)),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=2000, help="triples per workload")
    parser.add_argument("--repeat", type=int, default=3)
    add_json_argument(parser, "bench_node_cost")
    args = parser.parse_args()
    gx, gw = np.polynomial.legendre.leggauss(NODES)

    print(f"CPU: {cpu_name()}; OMP_NUM_THREADS={os.environ['OMP_NUM_THREADS']}; "
          f"load average {load_average()}")
    cost = elementary_costs()
    print("\nelementary operations, ns per call (best of 20 passes over 4096 arguments):")
    for name, ns in cost.items():
        print(f"  {name:32s} {ns:8.1f}")
    kernel_parts = (4 * cost["complex sqrt (kernel)"] + cost["complex exp (kernel)"]
                    + 2 * cost["complex quotient (kernel)"] + 12 * cost["complex product"])
    print(f"  kernel as the sum of its parts   {kernel_parts:8.1f}   "
          f"(4 sqrt + exp + 2 quotients + 12 products; measured whole: "
          f"{cost['spectral_kernel']:.1f})")

    figures = {"elementary_ns_per_call": cost, "kernel_as_sum_of_parts": kernel_parts,
               "workloads": []}
    for name in ("a", "b", "c"):
        label, k_p, k_m, rho, z, zp = workload(name, args.n)
        factor = factor_costs(k_p, k_m, rho, z, zp)
        per_piece = {
            "detour": cost["spectral_kernel"] + factor["detour"],
            "segment": cost["spectral_kernel"] + factor["segment"],
            "rays": cost["spectral_kernel"] + factor["rays"],
        }
        calls = probe.rule_calls(k_p, k_m, rho, z, zp, *CONTROLS, gx, gw).astype(float)
        nodes = calls.sum(axis=0) * NODES
        accel.near_interface_six_batch(k_p, k_m, rho[:8], z[:8], zp[:8], *CONTROLS, gx, gw)
        best = np.inf
        for _ in range(args.repeat):
            t0 = time.perf_counter()
            accel.near_interface_six_batch(k_p, k_m, rho, z, zp, *CONTROLS, gx, gw)
            best = min(best, time.perf_counter() - t0)
        measured = best * 1e9
        total_nodes = nodes.sum()
        share = {
            "kernel": cost["spectral_kernel"] * total_nodes,
            "J0 (detour, complex)": factor["detour"] * nodes[0],
            "J0 (segment, real)": factor["segment"] * nodes[1],
            "Hankel (rays)": factor["rays"] * nodes[2],
        }
        elementary = sum(share.values())
        share["integrator and rules (rest)"] = measured - elementary
        print(f"\n{label}: {args.n} triples, {total_nodes / args.n:.0f} nodes per triple "
              f"(detour {nodes[0] / args.n:.0f}, segment {nodes[1] / args.n:.0f}, "
              f"rays {nodes[2] / args.n:.0f}), {best:.3f} s on one thread")
        for part, ns in share.items():
            print(f"  {part:30s} {ns / measured * 100:6.1f} %")
        print(f"  ns per node: measured {measured / total_nodes:6.1f}, sum of its elementary "
              f"operations {elementary / total_nodes:6.1f}, ratio {measured / elementary:.2f}")
        print("  elementary sum per node by piece (kernel + factor on this workload's "
              "arguments): " + ", ".join(f"{k} {v:.0f} ns" for k, v in per_piece.items()))
        figures["workloads"].append({
            "workload": label, "triples": args.n, "seconds_1_thread": best,
            "nodes_by_piece": dict(zip(("detour", "segment", "rays"), nodes / args.n)),
            "share_percent": {k: v / measured * 100 for k, v in share.items()},
            "ns_per_node": measured / total_nodes, "elementary_ns_per_node": elementary / total_nodes,
            "factor_ns": factor, "elementary_sum_by_piece": per_piece})
    write_json(args.json, "bench_node_cost", figures)


if __name__ == "__main__":
    main()
