"""The lossy-ground workload the way it is done without the module:
scipy.integrate.quad along the real lambda axis, against the module.

For 200 triples of the lossy-ground workload of bench_batch.py (k_p = 1,
k_m = sqrt(4 - 1j); the first 200 with z - zp >= 0.25, where the real-axis
integrand decays fast enough for quad), each of the six integrals

    I_c = int_0^inf K_c(lambda) J0(rho lambda) d lambda

is computed on the real axis in pure Python: the kernel with cmath (principal
square roots, gamma(lambda; k) = sqrt(i(k + lambda)) sqrt(i(k - lambda))),
J0 of a real argument from scipy.special.j0, and

  quad      one scipy.integrate.quad call per channel (complex_func=True, so
            12 real integrations per triple) over [0, lambda_cut] with the
            branch point k_p and Re k_m passed as `points`, limit 5000;
  quad_vec  one scipy.integrate.quad_vec call per triple for all six channels
            (norm 'max', the same points and cut).

lambda_cut = 1.1 max(k_p, |k_m|) + 50 / (z - zp): beyond it the integrand is
below exp(-50) of its size near the axis. Errors are taken per triple against
the module at rtol 1e-12 with 16 nodes and depth 30, relative to the triple's
largest channel (the tightest quad rows double as a check of that reference).
The module itself runs at the workload controls (rtol 1e-8, 8 nodes, depth
20), timed in the same run in fresh subprocesses, 1-thread and all-thread
calls alternating, best of 5 each. Prints figures only; asserts nothing.

    python benchmarks/bench_quad_baseline.py            # about 2.5 minutes on 2 cores
    python benchmarks/bench_quad_baseline.py --quick    # 30 triples
"""

import argparse
import cmath
import os
import platform
import sys
import tempfile
import time
import warnings

import numpy as np
import scipy
from scipy.integrate import IntegrationWarning, quad, quad_vec
from scipy.special import j0

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_batch as bb  # noqa: E402

EPSRELS = (1e-6, 1e-8, 1e-10, 1e-12)
MIN_DZ = 0.25
CUT_DECAYS = 50.0
LIMIT = 5000


def kernel(lam, z, zp, k_p, k_m):
    """The six interface kernels K_0 ... K_5 at real lambda."""
    g_p = cmath.sqrt(1j * (k_p + lam)) * cmath.sqrt(1j * (k_p - lam))
    g_m = cmath.sqrt(1j * (k_m + lam)) * cmath.sqrt(1j * (k_m - lam))
    n = 2.0 * lam * cmath.exp(zp * g_m - z * g_p)
    q = n / (k_m * k_m * g_p + k_p * k_p * g_m)
    k2 = q * (g_p - g_m)
    return (n / (g_p + g_m), q, k2, -k2 * g_p, -q * g_p * g_m, k2 * g_m)


def path(z, zp, k_p, k_m):
    breaks = sorted({k_p, abs(k_m.real)})
    cut = 1.1 * max(k_p, abs(k_m)) + CUT_DECAYS / (z - zp)
    return breaks, cut


def by_quad(rho, z, zp, k_p, k_m, epsrel):
    breaks, cut = path(z, zp, k_p, k_m)
    out = np.empty(6, dtype=complex)
    count = [0]
    for c in range(6):
        def f(lam, c=c):
            count[0] += 1
            return kernel(lam, z, zp, k_p, k_m)[c] * j0(rho * lam)
        out[c] = quad(f, 0.0, cut, points=breaks, epsabs=0.0, epsrel=epsrel, limit=LIMIT,
                      complex_func=True)[0]
    return out, count[0]


def by_quad_vec(rho, z, zp, k_p, k_m, epsrel):
    breaks, cut = path(z, zp, k_p, k_m)
    count = [0]

    def f(lam):
        count[0] += 1
        return np.array(kernel(lam, z, zp, k_p, k_m)) * j0(rho * lam)
    out = quad_vec(f, 0.0, cut, points=breaks, epsabs=0.0, epsrel=epsrel, norm="max",
                   limit=LIMIT)[0]
    return out, count[0]


def row_errors(got, ref):
    return np.abs(got - ref).max(axis=1) / np.abs(ref).max(axis=1)


def run_baseline(method, triples, k_p, k_m, epsrel, ref):
    rho, z, zp = triples
    got = np.empty((rho.size, 6), dtype=complex)
    evals = np.empty(rho.size)
    warned = 0
    t0 = time.perf_counter()
    for i in range(rho.size):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", IntegrationWarning)
            got[i], evals[i] = method(rho[i], z[i], zp[i], k_p, k_m, epsrel)
        warned += any(issubclass(w.category, IntegrationWarning) for w in caught)
    wall = time.perf_counter() - t0
    return row_errors(got, ref), wall / rho.size, evals, warned


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="30 triples")
    parser.add_argument("--triples", type=int, default=None, help="default 200 (quick 30)")
    parser.add_argument("--repeat", type=int, default=5, help="timed calls of the module per thread count")
    bb.add_json_argument(parser, "bench_quad_baseline")
    args = parser.parse_args()
    m = args.triples or (30 if args.quick else 200)
    threads_all = bb.usable_cores()

    import _near_interface_accel as accel

    label, k_p, k_m, rho, z, zp = bb.workload("a", 10_000)
    keep = np.flatnonzero(z - zp >= MIN_DZ)[:m]
    triples = (rho[keep].copy(), z[keep].copy(), zp[keep].copy())

    started = time.perf_counter()
    print("CPU: %s; usable cores: %d; threads measured for the module: 1 and %d"
          % (bb.cpu_name(), bb.usable_cores(), threads_all))
    print("Python %s, numpy %s, scipy %s; quad and quad_vec run on 1 thread (pure Python integrand)"
          % (platform.python_version(), np.__version__, scipy.__version__))
    print("load average at start: %s" % bb.load_average())
    print("%s: the first %d triples with z - zp >= %g" % (label, m, MIN_DZ))
    print("  rho in [%.3g, %.3g], z - zp in [%.3g, %.3g]"
          % (triples[0].min(), triples[0].max(), (triples[1] - triples[2]).min(),
             (triples[1] - triples[2]).max()))

    gx16, gw16 = np.polynomial.legendre.leggauss(16)
    ref = accel.near_interface_six_batch(k_p, k_m, *triples, 1e-12, bb.LAM_MULT, 30, bb.DETOUR, gx16, gw16)
    gx24, gw24 = np.polynomial.legendre.leggauss(24)
    tighter = accel.near_interface_six_batch(k_p, k_m, *triples, 1e-13, bb.LAM_MULT, 40, bb.DETOUR, gx24, gw24)
    ref_check = row_errors(tighter, ref).max()
    gx, gw = np.polynomial.legendre.leggauss(bb.NODES)
    mod = accel.near_interface_six_batch(k_p, k_m, *triples, bb.RTOL, bb.LAM_MULT, bb.DEPTH, bb.DETOUR, gx, gw)
    mod_err = row_errors(mod, ref)

    with tempfile.TemporaryDirectory() as workdir:
        timed = bb.time_interleaved(k_p, k_m, *triples, threads_all, args.repeat, workdir)
    one, many = timed[1], timed[threads_all]
    t_one, t_many = min(one["walls"]) / m, min(many["walls"]) / m

    results = []
    for name, method in (("quad", by_quad), ("quad_vec", by_quad_vec)):
        for epsrel in EPSRELS:
            errs, per_triple, evals, warned = run_baseline(method, triples, k_p, k_m, epsrel, ref)
            results.append((name, epsrel, errs, per_triple, evals, warned))

    print("  reference: module at rtol 1e-12, 16 nodes, depth 30; it differs from rtol 1e-13, 24 nodes,")
    print("  depth 40 by at most %.1e of a triple's largest channel" % ref_check)
    print()
    print("errors relative to each triple's largest channel, against that reference;")
    print("time per triple; speed-up = baseline time / module time per triple; warned = triples on which")
    print("quad raised an IntegrationWarning (its estimate is still used)")
    head = "  %-36s %10s %10s %12s %12s %9s %12s %12s"
    print(head % ("method", "worst err", "median err", "ms/triple", "evals/triple", "warned",
                  "x vs 1 thr", "x vs %d thr" % threads_all))
    row = "  %-36s %10.2e %10.2e %12.3f %12s %9s %12s %12s"
    print(row % ("module rtol %g, %d nodes, 1 thr" % (bb.RTOL, bb.NODES), mod_err.max(), np.median(mod_err),
                 1e3 * t_one, "", "", "1.0", ""))
    print(row % ("module rtol %g, %d nodes, %d thr" % (bb.RTOL, bb.NODES, threads_all), mod_err.max(),
                 np.median(mod_err), 1e3 * t_many, "", "", "", "1.0"))
    for name, epsrel, errs, per_triple, evals, warned in results:
        print(row % ("%s epsrel %g" % (name, epsrel), errs.max(), np.median(errs), 1e3 * per_triple,
                     "%.0f" % evals.mean(), "%d" % warned, "%.0f" % (per_triple / t_one),
                     "%.0f" % (per_triple / t_many)))

    print()
    print("matched accuracy: for each baseline, the loosest epsrel whose worst error is at most the")
    print("module's worst error (%.2e) at rtol %g:" % (mod_err.max(), bb.RTOL))
    for name in ("quad", "quad_vec"):
        rows = [r for r in results if r[0] == name]
        ok = [r for r in rows if r[2].max() <= mod_err.max()]
        pick = max(ok, key=lambda r: r[1]) if ok else min(rows, key=lambda r: r[2].max())
        note = "" if ok else " (none reaches it; its most accurate row shown)"
        print("  %-8s epsrel %-6g worst err %.2e, %.1f ms/triple: module faster by %.0fx on 1 thread, "
              "%.0fx on %d threads%s"
              % (name, pick[1], pick[2].max(), 1e3 * pick[3], pick[3] / t_one, pick[3] / t_many,
                 threads_all, note))
    print()
    print("module wall time per call over the %d triples (s): 1 thread %s; %d threads %s"
          % (m, " ".join("%.3f" % w for w in one["walls"]), threads_all,
             " ".join("%.3f" % w for w in many["walls"])))
    print("module CPU time / wall time of the best call: 1 thread %.2f; %d threads %.2f"
          % (one["cpu_of_best"] / min(one["walls"]), threads_all, many["cpu_of_best"] / min(many["walls"])))
    note = bb.contention_note(threads_all, many)
    if note:
        print(note)
    print("load average at end: %s; total run %.0f s" % (bb.load_average(), time.perf_counter() - started))
    bb.write_json(args.json, "bench_quad_baseline", {
        "workload": label, "triples": m, "scipy": scipy.__version__,
        "module": {"rtol": bb.RTOL, "nodes": bb.NODES, "worst_error": mod_err.max(),
                   "median_error": np.median(mod_err), "ms_per_triple_1_thread": 1e3 * t_one,
                   "ms_per_triple_%d_threads" % threads_all: 1e3 * t_many},
        "baselines": [{"method": name, "epsrel": epsrel, "worst_error": errs.max(),
                       "median_error": np.median(errs), "ms_per_triple": 1e3 * per_triple,
                       "evals_per_triple": evals.mean(), "warned": warned}
                      for name, epsrel, errs, per_triple, evals, warned in results]})


if __name__ == "__main__":
    main()
