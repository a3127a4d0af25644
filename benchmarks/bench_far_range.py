"""Time per point at large rho near the interface: the far range (the batch
entry, which takes it there) against the J0-form path (forced through the
test probe), one thread, default controls (rtol 1e-8, 8 Gauss nodes, depth
20, lam_mult 10, detour 0.1).

For each medium and k_p rho = 1e3 ... 1e8 (k_p = 1), points with z in
[0, 2] and zp in [-2, 0]: the far range's time per point is the best of three
calls on a block of points; the J0 form's is one call on one point, run only
while the previous decade took less than --j0-limit seconds (its cost grows
like k_max rho). Also printed: the relative difference of the two rows where
both ran. Prints figures only; asserts nothing.

    python benchmarks/bench_far_range.py                 # about two minutes
    python benchmarks/bench_far_range.py --j0-limit 20   # the J0 form further out
"""

import os

os.environ["OMP_NUM_THREADS"] = "1"  # before the OpenMP runtime starts

import argparse  # noqa: E402
import cmath  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402

import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import add_json_argument, cpu_name, load_average, write_json  # noqa: E402

import _near_interface_accel as accel  # noqa: E402
import _near_interface_probe as probe  # noqa: E402

MEDIA = {
    "lossy ground 4-1j": 4 - 1j,
    "sea water 81-7.19e4j": 81 - 7.19e4j,
    "good conductor 1-1e4j": 1 - 1e4j,
    "lossless dielectric 2.25": 2.25,
    "plasmonic -2-0.1j": -2 - 0.1j,
    "lossless plasmonic -3": -3.0,
    "low index 0.5": 0.5,
}
RHOS = [1e3, 1e4, 1e5, 1e6, 1e7, 1e8]
RTOL, NODES, DEPTH, LAM_MULT, DETOUR = 1e-8, 8, 20, 10.0, 0.1


def wavenumber(eps):
    k = cmath.sqrt(complex(eps))
    return -k if k.imag > 0 or (k.imag == 0 and k.real < 0) else k


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=200, help="far-range points per block")
    parser.add_argument("--j0-limit", type=float, default=2.0,
                        help="run the J0 form at the next decade only while it took less (s)")
    add_json_argument(parser, "bench_far_range")
    args = parser.parse_args()
    gx, gw = np.polynomial.legendre.leggauss(NODES)
    rng = np.random.default_rng(16)
    print(f"CPU {cpu_name()}, 1 thread, load {load_average()}")
    print(f"{'medium':26s} {'k_p rho':>8s} {'far ms/pt':>10s} {'far nodes':>10s} "
          f"{'J0 ms/pt':>10s} {'ratio':>8s} {'|far-J0|':>9s}")
    figures = []
    for name, eps in MEDIA.items():
        k_m = wavenumber(eps)
        j0_time = 0.0
        for rho in RHOS:
            n = args.points
            r = rho * (1.0 + 0.1 * rng.random(n))
            z = 2.0 * rng.random(n)
            zp = -2.0 * rng.random(n)
            best = np.inf
            for _ in range(3):
                t = time.perf_counter()
                rows = accel.near_interface_six_batch(1.0, k_m, r, z, zp, RTOL, LAM_MULT, DEPTH,
                                                      DETOUR, gx, gw)
                best = min(best, time.perf_counter() - t)
            far_ms = 1e3 * best / n
            nodes = probe.far_row(1.0, k_m, r[0], z[0], zp[0], RTOL, DEPTH, gx, gw)["nodes"]
            entry = {"medium": name, "k_p_rho": rho, "far_ms": far_ms, "far_nodes": nodes}
            j0_text, ratio_text, diff_text = "-", "-", "-"
            if j0_time < args.j0_limit:
                t = time.perf_counter()
                j0 = probe.j0_form_rows(1.0, k_m, r[:1], z[:1], zp[:1], RTOL, LAM_MULT, DEPTH,
                                        DETOUR, gx, gw)[0]
                j0_time = time.perf_counter() - t
                diff = np.abs(j0 - rows[0]).max() / np.abs(rows[0]).max()
                entry.update(j0_ms=1e3 * j0_time, difference=diff)
                j0_text = f"{1e3 * j0_time:10.2f}"
                ratio_text = f"{1e3 * j0_time / far_ms:8.0f}"
                diff_text = f"{diff:9.1e}"
            figures.append(entry)
            print(f"{name:26s} {rho:8.0e} {far_ms:10.3f} {nodes:10d} {j0_text:>10s} "
                  f"{ratio_text:>8s} {diff_text:>9s}")
    print(f"load after: {load_average()}")
    write_json(args.json, "bench_far_range", {"rows": figures, "rtol": RTOL, "gauss_nodes": NODES})


if __name__ == "__main__":
    main()
