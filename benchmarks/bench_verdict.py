"""What the per-row verdict costs: the default friendly call before and after.

"Before" is ``six_integrals(..., verdict=False)``, the plain compiled batch
as the friendly call drove it before the verdict; "after" is the default
call (the diagnostics batch and the verdict). Both run on the workloads of
bench_batch.py (fixed-seed triples, rtol 1e-8, 8 nodes, depth 20, lam_mult
10, detour 0.1) and on batches small enough for the Python side to show:
one point, and 20 triples. The compiled calls alone are compared too
(``near_interface_six_batch`` against ``six_batch_diagnostics``), which
isolates the cost of the tally in the integration. The two alternate call
by call in one process, so that both see the same load; each figure is the
median over the rounds, and the ratio is taken round by round (median of
after / before).

    OMP_NUM_THREADS=1 python benchmarks/bench_verdict.py     # about 2 minutes
    python benchmarks/bench_verdict.py --n 4000 --rounds 15

Prints figures only; asserts nothing. On a shared machine only the ratios
mean anything.
"""
import argparse
import os
import sys
import time
import warnings

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_batch import workload  # noqa: E402
from benchlib import add_json_argument, build_info, write_json  # noqa: E402

import _near_interface_accel as accel  # noqa: E402
import _near_interface_ext as ext  # noqa: E402
import near_interface_accel as nia  # noqa: E402


def timed(call):
    t0 = time.perf_counter()
    call()
    return time.perf_counter() - t0


def friendly(k_p, k_m, rho, z, zp):
    before = lambda: nia.six_integrals(k_p, k_m, rho, z, zp, verdict=False)  # noqa: E731
    after = lambda: nia.six_integrals(k_p, k_m, rho, z, zp)  # noqa: E731
    return before, after, lambda out: out


def compiled(k_p, k_m, rho, z, zp):
    gx, gw = nia.gauss_rule(8)
    args = (k_p, k_m, np.atleast_1d(rho), np.atleast_1d(z), np.atleast_1d(zp), 1e-8, 10.0, 20,
            0.1, gx, gw)
    return (lambda: accel.near_interface_six_batch(*args),
            lambda: ext.six_batch_diagnostics(*args), lambda out: out[0])


def compare(pair, rounds):
    """Median wall time of the before and the after call, and the median ratio."""
    before, after, rows = pair
    assert np.array_equal(before().view(np.float64), rows(after()).view(np.float64))
    t_before, t_after = [], []
    for i in range(rounds):
        # alternate which goes first, so that neither always follows the other
        pair = (before, after) if i % 2 == 0 else (after, before)
        times = [timed(f) for f in pair]
        if i % 2:
            times.reverse()
        t_before.append(times[0])
        t_after.append(times[1])
    t_before, t_after = np.array(t_before), np.array(t_after)
    return float(np.median(t_before)), float(np.median(t_after)), float(
        np.median(t_after / t_before))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=1000, help="triples per workload")
    parser.add_argument("--rounds", type=int, default=11, help="alternated rounds per case")
    add_json_argument(parser, "bench_verdict")
    args = parser.parse_args()

    info = build_info()
    print(f"verdict cost on {info['cpu']} ({info['usable_cores']} usable cores, "
          f"OMP_NUM_THREADS={info['omp_num_threads']}), commit {info['commit'][:12]}, "
          f"load {info['load_average']}")
    print(f"{'case':<50} {'before':>10} {'after':>10} {'after/before':>13}")
    figures = {}
    cases = []
    short = {"a": "(a) lossy ground", "b": "(b) lossless dielectric", "c": "(c) on the interface"}
    for name in ("a", "b", "c"):
        _, k_p, k_m, rho, z, zp = workload(name, args.n)
        for kind, make in (("friendly", friendly), ("compiled", compiled)):
            cases.append((f"{kind}, {short[name]}, {args.n} triples",
                          make(k_p, k_m, rho, z, zp), args.rounds))
    label, k_p, k_m, rho, z, zp = workload("a", 20)
    cases.append(("friendly, (a) lossy ground, 20 triples", friendly(k_p, k_m, rho, z, zp),
                  20 * args.rounds))
    cases.append(("friendly, (a) lossy ground, one point",
                  friendly(k_p, k_m, rho[0], z[0], zp[0]), 50 * args.rounds))
    with warnings.catch_warnings():
        warnings.simplefilter("error", nia.UnresolvedRowWarning)   # none expected here
        for label, pair, rounds in cases:
            b, a, ratio = compare(pair, rounds)
            figures[label] = {"before_s": b, "after_s": a, "ratio": ratio, "rounds": rounds}
            print(f"{label:<50} {b * 1e3:8.2f}ms {a * 1e3:8.2f}ms {ratio:13.3f}")
    print(f"load after: {build_info()['load_average']}")
    write_json(args.json, "bench_verdict", figures)


if __name__ == "__main__":
    main()
