"""Nanoseconds per hankel0 call, by region of the argument; and per call of
the order-one functions (H0 with H1, J0 with J1), scalar and on SIMD lanes.

Times the vectorised probe `_near_interface_probe.hankel0` over large arrays,
so the per-call Python overhead is amortised (the figure includes the
probe's array handling, a few ns per element). One thread: the probe loop is
serial. The order-one table sets hankel01 and bessel_j01 beside their
order-zero siblings, scalar and by the lane code of this process's target,
on the arguments the integrator gives them (tail rays; the real segment and
the detour). Prints figures only; asserts nothing.

    python benchmarks/bench_hankel.py [--n 200000] [--repeat 5]
"""

import argparse
import cmath
import math
import os
import sys
import time

import numpy as np

import _near_interface_probe as probe

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import add_json_argument, cpu_name, write_json  # noqa: E402


def ray(n, rho, start, t_max, sign):
    t = np.linspace(0.0, t_max, n)
    return rho * (start + t * cmath.exp(sign * 0.25j * math.pi))


def annulus(rng, n, r_lo, r_hi, ph_lo, ph_hi):
    return rng.uniform(r_lo, r_hi, n) * np.exp(1j * rng.uniform(ph_lo, ph_hi, n))


def regions(n):
    rng = np.random.default_rng(0)
    pi = math.pi
    return [
        ("tail ray up, kind 1 (rho=1, start 2, t<=60)", 1, ray(n, 1.0, 2.0, 60.0, +1)),
        ("tail ray down, kind 2 (rho=1, start 2, t<=60)", 2, ray(n, 1.0, 2.0, 60.0, -1)),
        ("tail ray up, kind 1 (rho=30, start 5, t<=600)", 1, ray(n, 30.0, 5.0, 600.0, +1)),
        ("positive real axis, |z| in (0.1, 1e3)", 1, 10 ** rng.uniform(-1, 3, n) + 0j),
        ("imaginary axis up, kind 1 (K0 on real w)", 1, 1j * 10 ** rng.uniform(-1, 2.5, n)),
        ("K0 series, |w| <= 2 (kind 1, Im z >= 0)", 1, annulus(rng, n, 0.1, 2.0, 0.0, pi)),
        ("K0 Miller, estimate, 2 < |w| < 28.7", 1, annulus(rng, n, 2.0, 28.6, 0.0, pi)),
        ("K0 Miller, forward index, |w| >= 28.7", 1, annulus(rng, n, 28.7, 1e4, 0.0, pi)),
        ("continuation, I0 series, |w| <= 2", 1, annulus(rng, n, 0.1, 2.0, -pi, 0.0)),
        ("continuation, I0 Miller, 2 < |w| < rl", 1, annulus(rng, n, 2.0, 21.7, -pi, 0.0)),
        ("continuation, I0 expansion, |w| >= rl", 1, annulus(rng, n, 21.8, 600.0, -pi, 0.0)),
        ("negative real axis, kind 2 (continued)", 2, -(10 ** rng.uniform(-1, 3, n)) + 0j),
    ]


def order_one_cases(n):
    """(name, order-zero call, order-one call) on the integrator's arguments."""
    rng = np.random.default_rng(1)
    up = ray(n, 1.0, 2.0, 60.0, +1)
    segment = rng.uniform(0.0, 60.0, n) + 0j
    detour = rng.uniform(0.0, 20.0, n) + 1j * rng.uniform(0.0, 1.0, n)
    target = probe.lane_target()
    return [
        ("H, tail ray kind 1, scalar", lambda: probe.hankel0(1, up), lambda: probe.hankel01(1, up)),
        (f"H, tail ray kind 1, {target} lanes", lambda: probe.lane_hankel0(1, up, target),
         lambda: probe.lane_hankel01(1, up, target)),
        ("J, real segment |x| < 60, scalar", lambda: probe.bessel_j0(segment), lambda: probe.bessel_j01(segment)),
        (f"J, real segment |x| < 60, {target} lanes", lambda: probe.lane_j0(segment, target),
         lambda: probe.lane_j01(segment, target)),
        ("J, detour |z| < 20, scalar", lambda: probe.bessel_j0(detour), lambda: probe.bessel_j01(detour)),
        (f"J, detour |z| < 20, {target} lanes", lambda: probe.lane_j0(detour, target),
         lambda: probe.lane_j01(detour, target)),
    ]


def best_cpu_time(call, repeat):
    """Best CPU time of the process over repeat calls: the probe loops are
    serial, and CPU time is steadier than wall time on a shared machine."""
    call()  # warm up
    best = math.inf
    for _ in range(repeat):
        t0 = time.process_time()
        call()
        best = min(best, time.process_time() - t0)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=200_000)
    parser.add_argument("--repeat", type=int, default=5)
    add_json_argument(parser, "bench_hankel")
    args = parser.parse_args()
    print(f"CPU: {cpu_name()}; threads: 1 (serial probe loop); os.cpu_count() = {os.cpu_count()}")
    print(f"{args.n} arguments per region, best of {args.repeat}")
    print(f"{'region':48s} {'ns/call':>9s}")
    figures = {}
    for name, kind, z in regions(args.n):
        z = np.ascontiguousarray(z, dtype=complex)
        probe.hankel0(kind, z[:1000])  # warm up
        best = math.inf
        for _ in range(args.repeat):
            t0 = time.perf_counter()
            probe.hankel0(kind, z)
            best = min(best, time.perf_counter() - t0)
        print(f"{name:48s} {1e9 * best / z.size:9.1f}")
        figures[name] = 1e9 * best / z.size
    print(f"\norder one ({args.n} arguments, best of {args.repeat}): CPU ns per argument")
    print(f"{'arguments, code':44s} {'order 0':>9s} {'0 and 1':>9s} {'ratio':>6s}")
    order_one = {}
    for name, zero, one in order_one_cases(args.n):
        t0 = 1e9 * best_cpu_time(zero, args.repeat) / args.n
        t1 = 1e9 * best_cpu_time(one, args.repeat) / args.n
        print(f"{name:44s} {t0:9.1f} {t1:9.1f} {t1 / t0:6.2f}")
        order_one[name] = {"order_zero_ns": t0, "orders_zero_and_one_ns": t1}
    write_json(args.json, "bench_hankel",
               {"arguments_per_region": args.n, "ns_per_call": figures, "order_one_ns_per_argument": order_one})


if __name__ == "__main__":
    main()
