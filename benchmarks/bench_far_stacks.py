"""Time per point of the far range over two half-spaces as a stack, for every
placement of source and receiver, from k0 rho = 1e3 to 1e8.

Two stacks of two media at 10 MHz (air over lossy ground, eps_r 15 and
0.005 S/m; air over sea water, eps_r 81 and 4 S/m) and four placements: the
buried source seen from the air (source 0.5 m deep, points 1 m up), an
antenna over the ground (source 10 m up, points 2 m up), a source in the air
seen in the ground (10 m up, 1 m deep) and both in the ground (2 m and 1 m
deep). For each k0 rho, 20 points spread over [1, 1.5] times that distance;
each point is one call of the compiled layered batch on one thread (the
tilted current element's columns, rtol 1e-10), and the figure is the median
of the points' times (the least of three calls each) with the Gauss nodes of
a row. Prints figures only; asserts nothing.

    python benchmarks/bench_far_stacks.py      # about 10 seconds
"""
import os

os.environ.setdefault("OMP_NUM_THREADS", "1")

import argparse  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import add_json_argument, cpu_name, load_average, write_json  # noqa: E402

import _near_interface_ext as ext  # noqa: E402
import near_interface_accel as nia  # noqa: E402

F = 10e6
GROUNDS = {"lossy ground": dict(eps_r=15, sigma=0.005), "sea water": dict(eps_r=81, sigma=4.0)}
PLACEMENTS = {"buried source, points in the air": (1.0, -0.5),
              "antenna over the ground": (2.0, 10.0),
              "from the air into the ground": (-1.0, 10.0),
              "both in the ground": (-1.0, -2.0)}
K0_RHO = (1e3, 1e4, 1e5, 1e6, 1e7, 1e8)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=20)
    add_json_argument(parser, "bench_far_stacks")
    args = parser.parse_args()
    gx, gw = np.polynomial.legendre.leggauss(8)
    air = nia.medium(F)
    print(f"cpu: {cpu_name()}, load {load_average()}, one thread; median ms per point "
          f"(nodes per row) at k0 rho =", ", ".join(f"{v:.0e}" for v in K0_RHO))
    figures = []
    for ground_name, ground in GROUNDS.items():
        st = nia.stack([air, nia.medium(F, **ground)], [0.0])
        ks = np.array([complex(m.k) for m in st.media])
        eps = np.array([complex(m.eps_r) for m in st.media])
        mus = np.array([complex(m.mu_r) for m in st.media])
        for place, (z, zp) in PLACEMENTS.items():
            cells = []
            for k0_rho in K0_RHO:
                rho = np.linspace(1.0, 1.5, args.points) * k0_rho / st.k0
                times, nodes = [], []
                for r in rho:
                    best = np.inf
                    for _ in range(3):
                        t = time.perf_counter()
                        out = ext.layered_field_batch(st.k0, ks, eps, mus, np.array([0.0]),
                                                      "electric", np.array([r]), np.array([z]),
                                                      np.array([zp]), 1e-10, 10.0, 20, 0.1, gx, gw)
                        best = min(best, time.perf_counter() - t)
                    times.append(best)
                    nodes.append(int(out[1][0]))
                median = float(np.median(times)) * 1e3
                figures.append(dict(ground=ground_name, placement=place, k0_rho=k0_rho,
                                    median_ms=median, nodes=float(np.median(nodes))))
                cells.append(f"{median:6.3f} ({np.median(nodes):5.0f})")
            print(f"{ground_name:12s} {place:34s}", "  ".join(cells), flush=True)
    write_json(args.json, "bench_far_stacks", {"points": args.points, "rows": figures})


if __name__ == "__main__":
    main()
