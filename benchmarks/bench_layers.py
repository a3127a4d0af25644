"""Cost of a stack of layers: layered_field against dipole_field on the
same points, and a five-layer stack against the two-media one.

The points are bench_fields' first workload: x, y in [-50, 50] m, z in
[0, 3] m over wet ground at 10 MHz (eps_r 20, 0.01 S/m), a dipole 1 m deep.
Three calls on those points, each on one thread:

  dipole_field(air, wet ground)               the two half-spaces' engine
  layered_field(stack([air, wet ground]))     the same problem as a stack
  layered_field(five layers)                  air, 2 m of wet ground, 1 m of
                                              sand, 2 m of clay, rock below

for the electric and the magnetic source, vertical and tilted, at rtol 1e-8.
Each figure is the least CPU time (time.process_time, so that a shared
machine's waiting is left out) of several rounds in which the three calls
alternate; the printout gives the time per point of dipole_field, the two
ratios (the goals are 1.25 and 2) and the Gauss nodes per row of each call,
which separate the cost of a node from the number of them. Prints figures
only; asserts nothing.

    OMP_NUM_THREADS=1 python benchmarks/bench_layers.py            # about 1 minute
    OMP_NUM_THREADS=1 python benchmarks/bench_layers.py --quick    # about 15 seconds
"""
import os

os.environ.setdefault("OMP_NUM_THREADS", "1")

import argparse  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402
from functools import partial  # noqa: E402

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import add_json_argument, cpu_name, load_average, write_json  # noqa: E402

import _near_interface_ext as ext  # noqa: E402
import near_interface_accel as nia  # noqa: E402

F = 10e6
ZP = -1.0
SOURCES = [("electric", (0.0, 0.0, 1.0)), ("electric", (0.6, 0.0, 0.8)),
           ("magnetic", (0.0, 0.0, 1.0)), ("magnetic", (0.6, 0.0, 0.8))]


def media():
    air = nia.medium(F)
    wet = nia.medium(F, eps_r=20, sigma=0.01)
    layers = [air, wet, nia.medium(F, eps_r=10, sigma=3e-3), nia.medium(F, eps_r=30, sigma=0.05),
              nia.medium(F, eps_r=6, sigma=1e-3)]
    return air, wet, nia.stack([air, wet], [0.0]), nia.stack(layers, [0.0, -2.0, -3.0, -5.0])


def nodes_per_row(st, rho, z, source):
    """Mean Gauss nodes per row of the layered batch (the tilted source's columns)."""
    gx, gw = np.polynomial.legendre.leggauss(8)
    ks = np.array([complex(m.k) for m in st.media])
    eps = np.array([complex(m.eps_r) for m in st.media])
    mus = np.array([complex(m.mu_r) for m in st.media])
    out = ext.layered_field_batch(st.k0, ks, eps, mus, np.array(st.interfaces), source, rho, z,
                                  np.full(rho.shape, ZP), 1e-8, 10.0, 20, 0.1, gx, gw)
    return float(out[1].mean())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=None, help="points (default 100, quick 40)")
    parser.add_argument("--rounds", type=int, default=None, help="rounds (default 5, quick 3)")
    parser.add_argument("--quick", action="store_true")
    add_json_argument(parser, "bench_layers")
    args = parser.parse_args()
    n = args.n or (40 if args.quick else 100)
    rounds = args.rounds or (3 if args.quick else 5)
    rng = np.random.default_rng(7)
    x, y, z = rng.uniform(-50, 50, n), rng.uniform(-50, 50, n), rng.uniform(0.0, 3.0, n)
    air, wet, two, five = media()
    print(f"cpu: {cpu_name()}, load {load_average()}, {n} points, {rounds} rounds, one thread")
    print(f"{'source':10s} {'direction':>16s} {'dipole_field':>14s} {'two/dipole':>11s} "
          f"{'five/two':>9s}   nodes per row (two, five)")
    figures = []
    for source, direction in SOURCES:
        kw = dict(source=source, direction=direction, rtol=1e-8, workers=1)
        calls = [partial(nia.dipole_field, air, wet, x, y, z, ZP, **kw),
                 partial(nia.layered_field, two, x, y, z, ZP, **kw),
                 partial(nia.layered_field, five, x, y, z, ZP, **kw)]
        best = [np.inf] * 3
        for _ in range(rounds):
            for i, call in enumerate(calls):
                t = time.process_time()
                call()
                best[i] = min(best[i], time.process_time() - t)
        rho = np.hypot(x, y)
        nodes = (nodes_per_row(two, rho, z, source), nodes_per_row(five, rho, z, source))
        row = dict(source=source, direction=direction, dipole_us=best[0] / n * 1e6,
                   two_over_dipole=best[1] / best[0], five_over_two=best[2] / best[1],
                   nodes_two=nodes[0], nodes_five=nodes[1])
        figures.append(row)
        print(f"{source:10s} {str(direction):>16s} {row['dipole_us']:11.0f} us "
              f"{row['two_over_dipole']:10.2f}x {row['five_over_two']:8.2f}x   "
              f"{nodes[0]:.0f}, {nodes[1]:.0f}", flush=True)
    write_json(args.json, "bench_layers", {"points": n, "rounds": rounds, "rows": figures})


if __name__ == "__main__":
    main()
