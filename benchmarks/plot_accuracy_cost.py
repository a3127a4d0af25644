"""Accuracy against rtol and cost against rho, in one figure: docs/accuracy_cost.png.

Left: for rtol from 1e-4 to 1e-12 (8 Gauss nodes, depth 20, lam_mult 10,
detour 0.1), the worst error of near_interface_six_batch over the rows of the
reference data set tests/data/interface_reference.json (mpmath, 30 digits),
each row's error taken as max_c |module_c - ref_c| / max_c |ref_c|; one line
per medium and the worst over all, with the line error = rtol. Without the
data file (or with --closed-form) the reference is the homogeneous closed
form for k_m = k_p = k: channel 0 = exp(-i k R) / R with R = sqrt(rho^2 +
(z - zp)^2), channel 1 = channel 0 / k^2, channels 2, 3 and 5 = 0 (channel 4
is left out).

Right: cost of one triple against rho on the lossy ground (k_p = 1,
k_m = sqrt(4 - 1j)) at rtol 1e-8: Gauss nodes (total and by path piece, from
the test probe) and microseconds of CPU time on one thread (the least of 3
calls; CPU time rather than wall time, as other jobs share the machine), 32
triples per rho with z uniform in [0, 3] and zp in [-3, 0].

    python benchmarks/plot_accuracy_cost.py [--closed-form] [--output docs/accuracy_cost.png]

About 20 seconds on 2 cores. The figures behind both panels are printed too.
"""

import os

# One thread for the timing of the right panel: the OpenMP team is sized at
# its first use, so this must precede the module's import.
os.environ["OMP_NUM_THREADS"] = "1"

import argparse  # noqa: E402
import cmath  # noqa: E402
import json  # noqa: E402
import pathlib  # noqa: E402
import sys  # noqa: E402
from collections import defaultdict  # noqa: E402

import matplotlib  # noqa: E402

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_batch as bb  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[1]
REFERENCE = ROOT / "tests" / "data" / "interface_reference.json"
DEFAULT_OUTPUT = ROOT / "docs" / "accuracy_cost.png"

RTOLS = [10.0 ** -e for e in range(4, 13)]
ERROR_FLOOR = 1e-17  # errors below this are drawn at it (log axis)
COST_RHO = [float(r) for r in np.logspace(-2, 3, 21)]
COST_TRIPLES = 32
COST_REPEAT = 3


def reference_rows():
    """Rows of the mpmath data set: (medium label, k_p, k_m, rho, z, zp, values, channels)."""
    data = json.loads(REFERENCE.read_text())
    rows = []
    for r in data["rows"]:
        values = np.array([complex(re, im) for re, im in r["values"]])
        rows.append((r["regime"], r["k_p"], complex(*r["k_m"]), r["rho"], r["z"], r["zp"],
                     values, np.arange(6)))
    return rows, "mpmath reference (%s, %d rows)" % (REFERENCE.relative_to(ROOT), len(rows))


def closed_form_rows():
    """Homogeneous medium k_m = k_p = k: the Sommerfeld identity in closed form."""
    rows = []
    for k in (1.0, 2.0):
        for rho in (0.0, 0.3, 1.0, 3.0, 10.0, 30.0):
            for z, zp in ((0.0, -0.2), (0.5, -0.5), (2.0, 0.0), (3.0, -7.0)):
                r = np.hypot(rho, z - zp)
                c0 = cmath.exp(-1j * k * r) / r
                values = np.array([c0, c0 / k ** 2, 0, 0, 0, 0], dtype=complex)
                rows.append(("homogeneous k = %g" % k, k, complex(k), rho, z, zp, values,
                             np.array([0, 1, 2, 3, 5])))
    return rows, "homogeneous closed form (%d rows, channels 0, 1, 2, 3, 5)" % len(rows)


def worst_errors(rows):
    """{medium: [worst row error per rtol]}, the worst over all rows, and
    {medium: [(rho, z, zp) of the worst row per rtol]}."""
    import _near_interface_accel as accel

    gx, gw = np.polynomial.legendre.leggauss(bb.NODES)
    groups = defaultdict(list)
    for row in rows:
        groups[(row[0], row[1], row[2])].append(row)
    by_medium, where = {}, {}
    for (label, k_p, k_m), group in groups.items():
        rho = np.array([g[3] for g in group])
        z = np.array([g[4] for g in group])
        zp = np.array([g[5] for g in group])
        worst, at = [], []
        for rtol in RTOLS:
            got = accel.near_interface_six_batch(k_p, k_m, rho, z, zp, rtol, bb.LAM_MULT, bb.DEPTH,
                                                 bb.DETOUR, gx, gw)
            errs = [np.abs(v[g[7]] - g[6][g[7]]).max() / np.abs(g[6][g[7]]).max()
                    for v, g in zip(got, group)]
            i = int(np.argmax(errs))
            worst.append(errs[i])
            at.append((group[i][3], group[i][4], group[i][5]))
        by_medium[label] = np.array(worst)
        where[label] = at
    overall = np.max(np.array(list(by_medium.values())), axis=0)
    return by_medium, overall, where


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--closed-form", action="store_true",
                        help="use the homogeneous closed form even if the data file exists")
    parser.add_argument("--output", default=str(DEFAULT_OUTPUT))
    bb.add_json_argument(parser, "plot_accuracy_cost")
    args = parser.parse_args()

    if REFERENCE.exists() and not args.closed_form:
        rows, source = reference_rows()
    else:
        rows, source = closed_form_rows()

    print("CPU: %s; threads: 1 (OMP_NUM_THREADS=1); load average %s" % (bb.cpu_name(), bb.load_average()))
    print("accuracy against %s; %d nodes, depth %d, lam_mult %g, detour %g"
          % (source, bb.NODES, bb.DEPTH, bb.LAM_MULT, bb.DETOUR))
    by_medium, overall, where = worst_errors(rows)
    print("  worst error relative to the row's largest channel:")
    print("  %-24s %s" % ("medium \\ rtol", " ".join("%9.0e" % r for r in RTOLS)))
    for label, worst in sorted(by_medium.items()):
        print("  %-24s %s" % (label, " ".join("%9.1e" % e for e in worst)))
    print("  %-24s %s" % ("all rows", " ".join("%9.1e" % e for e in overall)))
    print("  worst row (rho, z, zp) per medium at rtol %g and %g:" % (RTOLS[0], RTOLS[-1]))
    for label in sorted(where):
        print("  %-24s %-26s %s" % (label, "(%g, %g, %g)" % where[label][0], "(%g, %g, %g)" % where[label][-1]))

    cost = bb.sweep_costs(COST_RHO, [], COST_TRIPLES, COST_REPEAT, 1, None,
                          timer=bb.in_process_timer(COST_REPEAT))
    rho = np.array([c[1] for c in cost])
    us = np.array([c[2] for c in cost])
    us_cpu = np.array([c[3] for c in cost])
    nodes = np.array([c[4] for c in cost])
    pieces = np.array([c[6] for c in cost])
    print("cost per triple on the lossy ground, rtol %g, %d nodes, 1 thread, %d triples per rho:"
          % (bb.RTOL, bb.NODES, COST_TRIPLES))
    print("  %10s %10s %10s %10s   %s"
          % ("rho", "us wall", "us CPU", "nodes", "nodes by piece (detour, segment, rays)"))
    for r, t, tc, nn, p in zip(rho, us, us_cpu, nodes, pieces):
        print("  %10.4g %10.0f %10.0f %10.0f   %s" % (r, t, tc, nn, " ".join("%8.0f" % x for x in p)))

    fig, (left, right) = plt.subplots(1, 2, figsize=(12, 4.8))
    rt = np.array(RTOLS)
    for label, worst in sorted(by_medium.items()):
        left.loglog(rt, np.maximum(worst, ERROR_FLOOR), "-", lw=1, alpha=0.7, marker=".", label=label)
    left.loglog(rt, np.maximum(overall, ERROR_FLOOR), "k-", lw=2.2, marker="o", label="worst over all rows")
    left.loglog(rt, rt, "k--", lw=1, label="error = rtol")
    left.loglog(rt, 10 * rt, ":", color="0.5", lw=1, label="error = 10 rtol")
    left.set_xlabel("rtol")
    left.set_ylabel("worst error / largest channel of the row")
    left.set_title("Accuracy against %s" % ("mpmath reference" if "mpmath" in source
                                             else "homogeneous closed form"), fontsize=10)
    left.invert_xaxis()
    left.grid(True, which="major", alpha=0.3)
    left.legend(fontsize=7, loc="upper right")

    right.loglog(rho, nodes, "C0-o", lw=2, ms=4, label="Gauss nodes, total")
    styles = {"detour": ":", "segment": "--", "rays": "-."}
    for j, piece in enumerate(bb.PIECES):
        right.loglog(rho, pieces[:, j], "C0" + styles[piece], lw=1, label="nodes, %s" % piece)
    right.set_xlabel("rho")
    right.set_ylabel("Gauss nodes per triple (mean)", color="C0")
    right.grid(True, which="major", alpha=0.3)
    twin = right.twinx()
    twin.loglog(rho, us_cpu, "C3-s", lw=1.5, ms=4, label="microseconds (CPU time), 1 thread")
    twin.set_ylabel("microseconds per triple (CPU time), 1 thread", color="C3")
    lines = right.get_legend_handles_labels()
    extra = twin.get_legend_handles_labels()
    right.legend(lines[0] + extra[0], lines[1] + extra[1], fontsize=7, loc="upper left")
    right.set_title("Cost per triple, lossy ground, rtol %g, %d nodes; z in [0, 3], zp in [-3, 0]\n"
                    "(%d triples per rho; %s, 1 thread)"
                    % (bb.RTOL, bb.NODES, COST_TRIPLES, bb.cpu_name()), fontsize=10)

    fig.tight_layout()
    out = pathlib.Path(args.output)
    out.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(out, dpi=120)
    print("wrote %s" % out)
    bb.write_json(args.json, "plot_accuracy_cost", {
        "accuracy_against": source, "rtols": RTOLS,
        "worst_error_by_medium": by_medium, "worst_error_all_rows": overall,
        "cost": [{"rho": r, "us_wall": t, "us_cpu": tc, "nodes": nn,
                  "nodes_by_piece": dict(zip(bb.PIECES, p))}
                 for r, t, tc, nn, p in zip(rho, us, us_cpu, nodes, pieces)]})


if __name__ == "__main__":
    main()
