"""Throughput, work and memory of near_interface_six_batch on fixed workloads.

Three workloads of fixed-seed triples, evaluated at rtol 1e-8 with an 8-node
Gauss-Legendre rule, depth 20, lam_mult 10 and detour 0.1:

  (a) lossy ground:        k_p = 1, k_m = sqrt(4 - 1j)
  (b) lossless dielectric: k_p = 1, k_m = 1.5
  (c) on the interface:    lossy ground, z = zp = 0, rho > 0

rho is log-uniform in [0.01, 50]; in (a) and (b) z is uniform in [0, 3] and
zp in [-3, 0]. Every timed call runs in a fresh subprocess with
OMP_NUM_THREADS set (the OpenMP team size is fixed at first use); 1-thread
and all-thread calls alternate, and the best of a few is kept.

Printed per workload: triples per second on one thread and on all threads,
the speed-up (with the cores the all-thread call actually got, CPU time /
wall time), panel-rule calls and Gauss nodes per triple by path piece (from
the test probe), and nanoseconds per Gauss node on one thread. Then the peak
resident memory of one call on 10^6 triples, and how the cost of a triple
grows with rho and with z - zp. Prints figures only; asserts nothing. The
machine's load average is printed before and after: on a shared machine
compare only ratios taken in one run.

    python benchmarks/bench_batch.py            # about 4 to 5 minutes on 2 cores
    python benchmarks/bench_batch.py --quick    # about half a minute
"""

import argparse
import cmath
import importlib.util
import json
import os
import platform
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import add_json_argument, cpu_name, load_average, usable_cores, write_json  # noqa: E402, F401

K_P = 1.0
K_LOSSY = cmath.sqrt(4 - 1j)
K_LOSSLESS = 1.5 + 0j

# Controls of every timed workload.
RTOL = 1e-8
NODES = 8
DEPTH = 20
LAM_MULT = 10.0
DETOUR = 0.1

RHO_RANGE = (0.01, 50.0)
HEIGHT = 3.0

# One call on 10^6 triples for the memory figure. The numeric layer allocates
# nothing per triple, so the controls only decide how long the call takes:
# rho = 0 (one tail ray without a Bessel factor), well separated heights,
# rtol 1e-2, 4 nodes and no bisection make the cheapest triple there is.
MEMORY_TRIPLES = 1_000_000
MEMORY_CONTROLS = dict(rtol=1e-2, nodes=4, depth=0, lam_mult=LAM_MULT, detour=DETOUR)

PIECES = ("detour", "segment", "rays")

SWEEP_RHO = [float(r) for r in np.logspace(-2, 3, 11)]
SWEEP_DZ = [0.0, 0.1, 0.3, 1.0, 3.0, 10.0, 30.0]


def workload(name, n):
    """(label, k_p, k_m, rho, z, zp) of a fixed-seed workload of n triples."""
    lo, hi = np.log10(RHO_RANGE[0]), np.log10(RHO_RANGE[1])

    def spread(seed):
        rng = np.random.default_rng(seed)
        rho = 10.0 ** rng.uniform(lo, hi, n)
        z = rng.uniform(0.0, HEIGHT, n)
        zp = -rng.uniform(0.0, HEIGHT, n)
        return rho, z, zp

    if name == "a":
        return ("(a) lossy ground, k_m = sqrt(4 - 1j)", K_P, K_LOSSY) + spread(1)
    if name == "b":
        return ("(b) lossless dielectric, k_m = 1.5", K_P, K_LOSSLESS) + spread(2)
    if name == "c":
        rng = np.random.default_rng(3)
        rho = 10.0 ** rng.uniform(lo, hi, n)
        zero = np.zeros(n)
        return "(c) on the interface z = zp = 0, lossy ground", K_P, K_LOSSY, rho, zero, zero.copy()
    raise ValueError(name)


def memory_triples(n):
    rng = np.random.default_rng(4)
    rho = np.zeros(n)
    z = rng.uniform(5.0, 10.0, n)
    zp = -rng.uniform(5.0, 10.0, n)
    return rho, z, zp


# ---------------------------------------------------------------- worker side

def _maxrss_mib():
    # ru_maxrss is in KiB on Linux.
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0


def _gauss(nodes):
    return np.polynomial.legendre.leggauss(nodes)


def _time_calls(fn, repeat):
    walls, cpus = [], []
    for _ in range(repeat):
        c0, w0 = time.process_time(), time.perf_counter()
        fn()
        walls.append(time.perf_counter() - w0)
        cpus.append(time.process_time() - c0)
    return walls, cpus


def _worker_batch(task):
    import _near_interface_accel as accel

    data = np.load(task["arrays"])
    rho, z, zp = data["rho"], data["z"], data["zp"]
    k_p, k_m = task["k_p"], complex(*task["k_m"])
    c = task["controls"]
    gx, gw = _gauss(c["nodes"])
    args = (c["rtol"], c["lam_mult"], c["depth"], c["detour"], gx, gw)

    def call(sl=slice(None)):
        return accel.near_interface_six_batch(k_p, k_m, rho[sl], z[sl], zp[sl], *args)

    call(slice(0, min(16, rho.size)))  # starts the OpenMP team
    out = {}
    if task["repeat"] > 0:
        walls, cpus = _time_calls(call, task["repeat"])
        out = {"walls": walls, "cpus": cpus, "cpu_of_best": cpus[int(np.argmin(walls))]}
    if task.get("rule_calls"):
        import _near_interface_probe as probe
        calls = probe.rule_calls(k_p, k_m, rho, z, zp, *args)
        out["calls"] = calls.tolist()
    return out


def _worker_memory(task):
    import _near_interface_accel as accel

    c = task["controls"]
    gx, gw = _gauss(c["nodes"])
    accel.near_interface_six_batch(K_P, K_LOSSY, np.zeros(1), np.ones(1), np.zeros(1),
                                   c["rtol"], c["lam_mult"], c["depth"], c["detour"], gx, gw)
    after_import = _maxrss_mib()
    rho, z, zp = memory_triples(task["n"])
    after_inputs = _maxrss_mib()
    w0 = time.perf_counter()
    result = accel.near_interface_six_batch(K_P, K_LOSSY, rho, z, zp, c["rtol"], c["lam_mult"],
                                            c["depth"], c["detour"], gx, gw)
    wall = time.perf_counter() - w0
    return {"after_import": after_import, "after_inputs": after_inputs, "peak": _maxrss_mib(),
            "wall": wall, "input_bytes": rho.nbytes + z.nbytes + zp.nbytes,
            "result_bytes": result.nbytes, "finite": bool(np.isfinite(result).all())}


def _worker(path):
    with open(path) as fh:
        task = json.load(fh)
    if task["mode"] == "batch":
        out = _worker_batch(task)
    else:
        out = _worker_memory(task)
    print(json.dumps(out))


# ---------------------------------------------------------------- parent side

def run_in_subprocess(task, threads, workdir):
    """Run one measurement in a fresh interpreter with OMP_NUM_THREADS = threads."""
    path = os.path.join(workdir, "task.json")
    with open(path, "w") as fh:
        json.dump(task, fh)
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    proc = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker", path],
                          env=env, capture_output=True, text=True)
    if proc.returncode != 0:
        sys.stderr.write(proc.stderr)
        raise RuntimeError("benchmark worker failed (threads = %d)" % threads)
    return json.loads(proc.stdout.strip().splitlines()[-1])


def controls():
    return dict(rtol=RTOL, nodes=NODES, depth=DEPTH, lam_mult=LAM_MULT, detour=DETOUR)


def time_batch(k_p, k_m, rho, z, zp, threads, repeat, workdir, ctl=None, rule_calls=False):
    """Wall times (s) of `repeat` calls over the triples in one fresh subprocess
    with OMP_NUM_THREADS = threads, the CPU time of the fastest, and on request
    the probe's rule calls per triple."""
    arrays = os.path.join(workdir, "triples.npz")
    np.savez(arrays, rho=rho, z=z, zp=zp)
    task = {"mode": "batch", "arrays": arrays, "k_p": k_p, "k_m": [k_m.real, k_m.imag],
            "controls": ctl or controls(), "repeat": repeat, "rule_calls": rule_calls}
    return run_in_subprocess(task, threads, workdir)


def time_interleaved(k_p, k_m, rho, z, zp, threads_all, rounds, workdir, ctl=None):
    """1-thread and all-thread timings, alternating, one fresh subprocess per call.

    Alternating spreads both thread counts over the same stretch of time, so
    that other jobs on a shared machine disturb them alike; the best call of
    each is kept. Returns {threads: {"walls": [...], "cpu_of_best": s}}.
    """
    out = {1: {"walls": [], "cpus": []}, threads_all: {"walls": [], "cpus": []}}
    for _ in range(rounds):
        for th in (1, threads_all):
            res = time_batch(k_p, k_m, rho, z, zp, th, 1, workdir, ctl)
            out[th]["walls"].append(res["walls"][0])
            out[th]["cpus"].append(res["cpu_of_best"])
    for res in out.values():
        best = int(np.argmin(res["walls"]))
        res["cpu_of_best"] = res.pop("cpus")[best]
    return out


def contention_note(threads_all, res):
    """A warning when the all-thread call did not get its cores."""
    use = res["cpu_of_best"] / min(res["walls"])
    if threads_all > 1 and use < 0.9 * threads_all:
        return ("  note: the best %d-thread call used only %.2f cores (CPU/wall): other jobs held"
                " cores, so this speed-up understates the module's" % (threads_all, use))
    return None


def piece_line(label, per_triple, scale=1):
    cells = []
    for j, piece in enumerate(PIECES):
        col = per_triple[:, j] * scale
        cells.append("%s %8.1f / %6d" % (piece, col.mean(), col.max()))
    total = per_triple.sum(axis=1) * scale
    cells.append("total %8.1f / %6d" % (total.mean(), total.max()))
    return "  %-28s %s" % (label, "   ".join(cells))


def bench_workloads(names, n, repeat, threads_all, workdir):
    summary = []
    for name in names:
        label, k_p, k_m, rho, z, zp = workload(name, n)
        print()
        print("%s: %d triples" % (label, n))
        if name == "c":
            print("  rho log-uniform in [%g, %g], z = zp = 0" % RHO_RANGE)
        else:
            print("  rho log-uniform in [%g, %g], z uniform in [0, %g], zp uniform in [-%g, 0]"
                  % (RHO_RANGE + (HEIGHT, HEIGHT)))
        timed = time_interleaved(k_p, k_m, rho, z, zp, threads_all, repeat, workdir)
        one, many = timed[1], timed[threads_all]
        counted = time_batch(k_p, k_m, rho, z, zp, threads_all, 0, workdir, rule_calls=True)
        calls = np.array(counted["calls"], dtype=np.int64)
        t1, tn = min(one["walls"]), min(many["walls"])
        nodes_total = calls.sum() * NODES
        print("  %-10s %10s %12s %14s   %s" % ("threads", "best s", "triples/s", "CPU s / wall", "all calls (s)"))
        for th, res in ((1, one), (threads_all, many)):
            best = min(res["walls"])
            print("  %-10d %10.3f %12.0f %14.2f   %s" % (th, best, n / best, res["cpu_of_best"] / best,
                                                       " ".join("%.3f" % w for w in res["walls"])))
        print("  speed-up %d threads over 1: %.2f" % (threads_all, t1 / tn))
        note = contention_note(threads_all, many)
        if note:
            print(note)
        print("  per triple, mean / max:")
        print(piece_line("panel-rule calls", calls))
        print(piece_line("Gauss nodes (%d per call)" % NODES, calls, NODES))
        print("  ns per Gauss node on 1 thread: %.0f (wall), %.0f (CPU)"
              % (1e9 * t1 / nodes_total, 1e9 * one["cpu_of_best"] / nodes_total))
        summary.append((label, n / t1, n / tn, t1 / tn, calls.sum(axis=1).mean() * NODES,
                        1e9 * t1 / nodes_total))
    print()
    print("summary (rtol %g, %d nodes, depth %d, lam_mult %g, detour %g)" % (RTOL, NODES, DEPTH, LAM_MULT, DETOUR))
    print("  %-48s %12s %12s %9s %12s %9s" % ("workload", "1 thread/s", "%d threads/s" % threads_all,
                                             "speed-up", "nodes/triple", "ns/node"))
    for label, r1, rn, s, nodes, ns in summary:
        print("  %-48s %12.0f %12.0f %9.2f %12.0f %9.0f" % (label, r1, rn, s, nodes, ns))
    return [{"workload": label, "triples_per_s_1_thread": r1,
             "triples_per_s_%d_threads" % threads_all: rn, "speed_up": s,
             "nodes_per_triple": nodes, "ns_per_node": ns}
            for label, r1, rn, s, nodes, ns in summary]


def bench_memory(n, threads_all, workdir):
    c = MEMORY_CONTROLS
    print()
    print("peak memory of one call on %d triples (%d threads), fresh subprocess:" % (n, threads_all))
    print("  triples: rho = 0, z uniform in [5, 10], zp uniform in [-10, -5], lossy ground;")
    print("  controls: rtol %g, %d nodes, depth %d, lam_mult %g (chosen to keep the call short;"
          % (c["rtol"], c["nodes"], c["depth"], c["lam_mult"]))
    print("  the numeric layer allocates nothing per triple, so memory does not depend on them)")
    res = run_in_subprocess({"mode": "memory", "n": n, "controls": c}, threads_all, workdir)
    mib = 1024.0 * 1024.0
    inputs, result = res["input_bytes"] / mib, res["result_bytes"] / mib
    print("  call took %.1f s; all results finite: %s" % (res["wall"], res["finite"]))
    print("  ru_maxrss after import and a first call:   %8.1f MiB" % res["after_import"])
    print("  ru_maxrss after building the inputs:       %8.1f MiB" % res["after_inputs"])
    print("  ru_maxrss after the call (peak):           %8.1f MiB" % res["peak"])
    print("  growth over the call:                      %8.1f MiB" % (res["peak"] - res["after_inputs"]))
    print("  inputs (3 x float64) %.1f MiB + result (n x 6 complex128) %.1f MiB = %.1f MiB"
          % (inputs, result, inputs + result))
    return dict(res, triples=n, growth_mib=res["peak"] - res["after_inputs"])


def sweep_costs(rho_values, dz_values, m, repeat, threads, workdir, timer=None):
    """Cost per triple along rho and along z - zp: rows of (axis, value,
    microseconds wall, microseconds CPU, mean and max Gauss nodes, mean nodes
    by piece). Wall and CPU time are each the least over the repeats.

    At each rho the same m heights are used (z uniform in [0, 3], zp in
    [-3, 0]); at each z - zp the same m rho values (log-uniform in [0.01, 50])
    and z = -zp = (z - zp) / 2. Lossy ground, the workload controls.
    """
    import _near_interface_probe as probe

    rng = np.random.default_rng(5)
    z0 = rng.uniform(0.0, HEIGHT, m)
    zp0 = -rng.uniform(0.0, HEIGHT, m)
    rho0 = 10.0 ** rng.uniform(np.log10(RHO_RANGE[0]), np.log10(RHO_RANGE[1]), m)
    gx, gw = _gauss(NODES)
    args = (RTOL, LAM_MULT, DEPTH, DETOUR, gx, gw)
    rows = []
    for axis, values in (("rho", rho_values), ("dz", dz_values)):
        for v in values:
            if axis == "rho":
                rho, z, zp = np.full(m, v), z0, zp0
            else:
                rho, z, zp = rho0, np.full(m, v / 2), np.full(m, -v / 2)
            if timer is None:
                res = time_batch(K_P, K_LOSSY, rho, z, zp, threads, repeat, workdir)
                wall, cpu = min(res["walls"]), min(res["cpus"])
            else:
                wall, cpu = timer(rho, z, zp)
            calls = probe.rule_calls(K_P, K_LOSSY, rho, z, zp, *args)
            nodes = calls.sum(axis=1) * NODES
            rows.append((axis, v, 1e6 * wall / m, 1e6 * cpu / m, nodes.mean(), nodes.max(),
                         calls.mean(axis=0) * NODES))
    return rows


def in_process_timer(repeat):
    """Timer for the sweep inside this interpreter (the caller fixes the threads):
    (least wall time, least CPU time) over the repeats."""
    import _near_interface_accel as accel

    gx, gw = _gauss(NODES)

    def timer(rho, z, zp):
        def call():
            accel.near_interface_six_batch(K_P, K_LOSSY, rho, z, zp, RTOL, LAM_MULT, DEPTH, DETOUR, gx, gw)
        walls, cpus = _time_calls(call, repeat)
        return min(walls), min(cpus)
    return timer


def print_sweep(rows, m):
    print()
    print("cost per triple along rho and along z - zp (lossy ground, 1 thread, %d triples per point," % m)
    print("least wall and least CPU time of the repeats; Gauss nodes from the probe, mean over the")
    print("point's triples):")
    for axis, title in (("rho", "rho (z, zp spread as in (a))"), ("dz", "z - zp (rho spread as in (a))")):
        print("  %-30s %9s %9s %10s %10s   %s" % (title, "us wall", "us CPU", "nodes mean", "nodes max",
                                                  "nodes by piece (detour, segment, rays)"))
        for a, v, us, us_cpu, mean, mx, by_piece in rows:
            if a == axis:
                print("  %-30.4g %9.0f %9.0f %10.0f %10d   %s" % (v, us, us_cpu, mean, mx,
                                                               " ".join("%8.0f" % x for x in by_piece)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller workloads, one repeat less")
    parser.add_argument("--n", type=int, default=None, help="triples per workload (default 10000, quick 1000)")
    parser.add_argument("--repeat", type=int, default=None, help="timed repeats (default 2)")
    parser.add_argument("--threads", type=int, default=None, help="the 'all threads' count (default: usable cores)")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    add_json_argument(parser, "bench_batch")
    args = parser.parse_args()
    if args.worker:
        _worker(args.worker)
        return

    n = args.n or (1000 if args.quick else 10_000)
    repeat = args.repeat or 2
    threads_all = args.threads or usable_cores()
    mem_n = 100_000 if args.quick else MEMORY_TRIPLES
    sweep_m = 4 if args.quick else 16
    sweep_repeat = 2 if args.quick else 3

    for name in ("_near_interface_accel", "_near_interface_probe"):  # fail early, not in a worker
        if importlib.util.find_spec(name) is None:
            sys.exit("%s is not installed: pip install the package first" % name)

    started = time.perf_counter()
    print("CPU: %s; usable cores: %d; os.cpu_count() = %s" % (cpu_name(), usable_cores(), os.cpu_count()))
    print("threads measured: 1 and %d (OMP_NUM_THREADS per subprocess); Python %s, numpy %s"
          % (threads_all, platform.python_version(), np.__version__))
    print("load average at start: %s" % load_average())
    print("best of %d calls per thread count, 1-thread and all-thread calls alternating,"
          " each in a fresh subprocess" % repeat)

    with tempfile.TemporaryDirectory() as workdir:
        workloads = bench_workloads("abc", n, repeat, threads_all, workdir)
        memory = bench_memory(mem_n, threads_all, workdir)
        rows = sweep_costs(SWEEP_RHO, SWEEP_DZ, sweep_m, sweep_repeat, 1, workdir)
        print_sweep(rows, sweep_m)

    print()
    print("load average at end: %s; total run %.0f s" % (load_average(), time.perf_counter() - started))
    sweep = [{"axis": a, "value": v, "us_wall": us, "us_cpu": us_cpu, "nodes_mean": mean,
              "nodes_max": mx, "nodes_by_piece": dict(zip(PIECES, by_piece))}
             for a, v, us, us_cpu, mean, mx, by_piece in rows]
    write_json(args.json, "bench_batch", {
        "controls": controls(), "triples_per_workload": n, "threads": [1, threads_all],
        "workloads": workloads, "memory": memory, "sweep": sweep})


if __name__ == "__main__":
    main()
