"""How often the per-row verdict cries wolf, and how often it catches a wrong row.

The verdict calls a row unresolved when a tail ray did not go quiet or the
summed error estimate of its panels accepted at the depth limit exceeds
``unresolved_threshold(rtol)`` of the row's largest channel. This script
measures, with the diagnostics batch:

* false alarms: rows flagged among rows that are right, over the 40 reference
  rows (``tests/data/interface_reference.json``, 30 digits) and a few thousand
  random triples over the lower media of ``tests/reference/path_audit.py``
  (against the module itself at rtol 1e-12, 12 nodes, depth 26), at the
  default controls and at other tolerances (rtol 1e-13 on 25 triples per
  medium: some take seconds there);
* detection: rows flagged among rows known to be wrong: ``depth=1``, one node
  with ``depth=1`` and ``rtol=1e-13``, and with ``--far`` the points
  k_p rho = 1e6, 3e6 and 1e7 on the interface (z = zp = 0) over dry ground
  4 - 1j (20 to 40 s each on today's path);
* the cancellation rule apart (a row whose condition, the summed modulus of
  its accepted panels over its largest channel, times 50 unit roundoffs
  exceeds max(10 rtol, 1e-9)): its false alarms on the reference and random rows
  at every decade of rtol from 1e-4 to 1e-13, the largest condition of a
  right row, and its detections on the 48 field reference rows
  (``tests/data/field_reference.json``, with the rows on the surface over
  sea water and a good conductor whose source is a hair below), with the
  trade-off of that rule against 10 and 200 roundoffs and against 100 rtol.

A row is right when its largest channel error is within
``max(10 rtol, 1e-10)`` of its largest channel (the accuracy tests hold rows
to 10 rtol; 1e-10 is above the floor of about 2e-11 that the real-axis
segment leaves on the interface). For random rows the difference between
the comparison run and a second one (rtol 1e-11, 10 nodes, depth 24) serves
as the comparison's own error bar u: a row is right when its error plus u is
within the bound, wrong when its error minus u is beyond it, and left out of
both rates (counted apart) otherwise, as when the row's largest channel is
below 1e-90 (a source many skin depths below sea water or a good conductor:
rows of 1e-115 to 1e-250 whose relative value no evaluation here resolves,
or rows that underflow to zero and have no relative error at all).

    python benchmarks/verdict_rates.py            # about 2 minutes on 2 cores
    python benchmarks/verdict_rates.py --far      # plus about 1.5 minutes per far point

Prints figures and writes them as JSON (``--json``); asserts nothing.
"""
import argparse
import json
import sys
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests" / "reference"))
import benchlib  # noqa: E402
from path_audit import MEDIA, lower_wavenumber  # noqa: E402

import _near_interface_ext as ext  # noqa: E402
from near_interface_accel import unresolved_threshold  # noqa: E402
from near_interface_accel._verdict import cancellation_error, row_unresolved  # noqa: E402

DEFAULTS = dict(rtol=1e-8, gauss_nodes=8, depth=20, lam_mult=10.0, detour=0.1)
# Rows below this size (relative to 1) are out of reach of any relative test.
UNDERFLOW = 1e-90
RIGHT_FLOOR = 1e-10
REFERENCE = HERE.parent / "tests" / "data" / "interface_reference.json"
FIELD_REFERENCE = HERE.parent / "tests" / "data" / "field_reference.json"
DECADES = [10.0**-e for e in range(4, 14)]
# The cancellation rule (condition times `factor` unit roundoffs above
# max(`multiple` rtol, 1e-9)): the verdict's (50, 10) first, then others to
# compare.
CANCEL_FACTORS = ((50.0, 10.0), (10.0, 10.0), (200.0, 10.0), (50.0, 100.0))


def diagnostics(k_p, k_m, rho, z, zp, rtol=1e-8, gauss_nodes=8, depth=20, lam_mult=10.0,
                detour=0.1):
    gx, gw = np.polynomial.legendre.leggauss(gauss_nodes)
    return ext.six_batch_diagnostics(k_p, k_m, np.atleast_1d(rho), np.atleast_1d(z),
                                     np.atleast_1d(zp), rtol, lam_mult, depth, detour, gx, gw)


def relative_error(rows, truth):
    scale = np.abs(truth).max(axis=1)
    with np.errstate(invalid="ignore", divide="ignore"):
        return np.abs(rows - truth).max(axis=1) / scale, scale


def flagged(result, rtol):
    _, _, _, limit_error, all_quiet, condition = result
    return row_unresolved(all_quiet, limit_error, condition, rtol)


def cancel_flags(condition, rtol, rule=CANCEL_FACTORS[0]):
    """The cancellation rule alone, with `factor` unit roundoffs against
    max(`multiple` rtol, 1e-9)."""
    factor, multiple = rule
    return ~(cancellation_error(condition) * (factor / 50.0) <= max(multiple * rtol, 1e-9))


def rule_name(rule):
    return f"{rule[0]:g}u/{rule[1]:g}rtol"


def reference_rows():
    rows = json.loads(REFERENCE.read_text())["rows"]
    return [(r["k_p"], complex(*r["k_m"]), r["rho"], r["z"], r["zp"],
             np.array([complex(*v) for v in r["values"]])) for r in rows]


def on_reference(controls):
    """(errors, flags, limit errors, conditions) of the 40 reference rows."""
    errs, flags, les, conds = [], [], [], []
    for k_p, k_m, rho, z, zp, values in reference_rows():
        res = diagnostics(k_p, k_m, rho, z, zp, **controls)
        err, _ = relative_error(res[0], values[None, :])
        errs.append(err[0])
        flags.append(flagged(res, controls["rtol"])[0])
        les.append(res[3][0])
        conds.append(res[5][0])
    return np.array(errs), np.array(flags), np.array(les), np.array(conds)


def on_field_reference(rtol):
    """(errors, conditions, flags of the whole verdict, labels) of the field
    reference rows at default controls but rtol."""
    gx, gw = np.polynomial.legendre.leggauss(DEFAULTS["gauss_nodes"])
    errs, conds, flags, labels = [], [], [], []
    for r in json.loads(FIELD_REFERENCE.read_text())["rows"]:
        values = np.array([complex(*v) for v in r["values"]])
        res = ext.dipole_field_batch(r["k_p"], complex(*r["k_m"]), r["source"],
                                     np.array([r["rho"]]), np.array([r["z"]]),
                                     np.array([r["zp"]]), rtol, DEFAULTS["lam_mult"],
                                     DEFAULTS["depth"], DEFAULTS["detour"], gx, gw)
        errs.append(np.abs(res[0][0] - values).max() / np.abs(values).max())
        conds.append(res[5][0])
        flags.append(flagged(res, rtol)[0])
        labels.append(f"{r['medium']} {r['source']} rho={r['rho']:g} zp={r['zp']:g}")
    return np.array(errs), np.array(conds), np.array(flags), labels


def random_sets(per_medium, seed=17):
    """Random triples per lower medium: rho log-uniform from 0.01 to 200 (to 2
    for |k_m| > 50, as the path audit), a tenth at rho = 0; z and -zp
    log-uniform from 0.01 to 10 and 20, three tenths of each exactly 0."""
    rng = np.random.default_rng(seed)
    sets = []
    for name, eps in MEDIA.items():
        k_m = lower_wavenumber(eps)
        top = 2.3 if abs(k_m) < 50 else np.log10(2.0)
        rho = np.where(rng.random(per_medium) < 0.1, 0.0, 10 ** rng.uniform(-2, top, per_medium))
        z = np.where(rng.random(per_medium) < 0.3, 0.0, 10 ** rng.uniform(-2, 1, per_medium))
        zp = np.where(rng.random(per_medium) < 0.3, 0.0, -10 ** rng.uniform(-2, 1.3, per_medium))
        keep = rho + (z - zp) > 0
        sets.append((name, k_m, rho[keep], z[keep], zp[keep]))
    return sets


def on_random(sets, truths, controls, take=None):
    """Per random row: error against the comparison run, its scale, the
    diagnostics result's limit errors and quiet flags."""
    errs, scales, les, quiet, conds = [], [], [], [], []
    for (_, k_m, rho, z, zp), truth in zip(sets, truths):
        cut = slice(None, take)
        res = diagnostics(1.0, k_m, rho[cut], z[cut], zp[cut], **controls)
        err, scale = relative_error(res[0], truth[cut])
        errs.append(err)
        scales.append(scale)
        les.append(res[3])
        quiet.append(res[4])
        conds.append(res[5])
    return (np.concatenate(errs), np.concatenate(scales), np.concatenate(les),
            np.concatenate(quiet), np.concatenate(conds))


def right_bound(rtol):
    return max(10 * rtol, RIGHT_FLOOR)


def rates(errs, flags, rtol, counted=None, margin=0.0):
    """false alarms / right rows, detections / wrong rows, rows left out.
    margin: the comparison's own error bar, per row."""
    counted = np.ones(errs.shape, dtype=bool) if counted is None else counted
    bound = right_bound(rtol)
    right = counted & (errs + margin <= bound)
    wrong = counted & (errs - margin > bound)
    counted = right | wrong
    return {"right": int(right.sum()), "false_alarms": int((right & flags).sum()),
            "wrong": int(wrong.sum()), "detected": int((wrong & flags).sum()),
            "left_out": int((~counted).sum())}


def line(label, r, extra=""):
    fa = f"{r['false_alarms']}/{r['right']}"
    det = f"{r['detected']}/{r['wrong']}" if r["wrong"] else "-"
    out = f"  {label:<44} false alarms {fa:>9}   detected {det:>7}"
    if r.get("left_out"):
        out += f"   (left out {r['left_out']})"
    return out + extra


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--per-medium", type=int, default=200,
                        help="random triples per lower medium (default %(default)s)")
    parser.add_argument("--far", action="store_true",
                        help="also the far points k_p rho = 1e6, 3e6, 1e7 on the interface")
    benchlib.add_json_argument(parser, "verdict_rates")
    args = parser.parse_args()

    info = benchlib.build_info()
    print(f"verdict rates on {info['cpu']} ({info['usable_cores']} cores, OMP_NUM_THREADS="
          f"{info['omp_num_threads']}), commit {info['commit'][:12]}")
    print(f"threshold: summed limit-panel error > unresolved_threshold(rtol) = "
          f"max(100 rtol, floor), {unresolved_threshold(1e-8):g} at rtol 1e-8; "
          f"right: error <= max(10 rtol, {RIGHT_FLOOR:g})")
    figures = {"threshold_at_default": unresolved_threshold(1e-8)}

    print("\nreference rows (40, 30 digits)")
    ref_cases = [("default controls", DEFAULTS)]
    ref_cases += [(f"rtol {r:g}", dict(DEFAULTS, rtol=r)) for r in DECADES if r != 1e-8]
    ref_cases += [("depth 1", dict(DEFAULTS, depth=1)), ("depth 2", dict(DEFAULTS, depth=2)),
                  ("depth 3", dict(DEFAULTS, depth=3)),
                  ("depth 1, 12 nodes", dict(DEFAULTS, depth=1, gauss_nodes=12)),
                  ("1 node, depth 1, rtol 1e-13",
                   dict(DEFAULTS, gauss_nodes=1, depth=1, rtol=1e-13))]
    figures["reference"] = {}
    for label, controls in ref_cases:
        errs, flags, les, conds = on_reference(controls)
        r = rates(errs, flags, controls["rtol"])
        r["largest_limit_error"] = float(les.max())
        c = rates(errs, cancel_flags(conds, controls["rtol"]), controls["rtol"])
        r["cancellation"] = c
        r["largest_condition"] = float(conds.max())
        figures["reference"][label] = r
        print(line(label, r, f"   largest limit error {les.max():.1e}; cancellation rule: "
                             f"{c['false_alarms']} false, {c['detected']} detected, "
                             f"largest condition {conds.max():.1e}"))

    print(f"\nrandom triples ({args.per_medium} per medium, {len(MEDIA)} media)")
    sets = random_sets(args.per_medium)
    t0 = time.perf_counter()
    truths = [diagnostics(1.0, k_m, rho, z, zp, rtol=1e-12, gauss_nodes=12, depth=26)[0]
              for _, k_m, rho, z, zp in sets]
    seconds = time.perf_counter() - t0
    second = np.concatenate([diagnostics(1.0, k_m, rho, z, zp, rtol=1e-11, gauss_nodes=10,
                                         depth=24)[0] for _, k_m, rho, z, zp in sets])
    unsettled, scale = relative_error(second, np.concatenate(truths))
    print(f"  comparison runs (rtol 1e-12, 12 nodes, depth 26; rtol 1e-11, 10 nodes, depth 24):"
          f" {seconds:.0f} s and {time.perf_counter() - t0 - seconds:.0f} s; rows below "
          f"{UNDERFLOW:g}, left out of every rate: {int((scale < UNDERFLOW).sum())}")
    figures["random"] = {"triples": int(scale.size), "below_underflow": int((scale < UNDERFLOW).sum())}
    rand_cases = [("default controls", DEFAULTS, None)]
    rand_cases += [(f"rtol {r:g}", dict(DEFAULTS, rtol=r), None) for r in DECADES[:-1]
                   if r != 1e-8]
    rand_cases += [("rtol 1e-13 (25 per medium)", dict(DEFAULTS, rtol=1e-13), 25)]
    rand_cases += [("depth 1", dict(DEFAULTS, depth=1), None),
                   ("depth 3", dict(DEFAULTS, depth=3), None),
                   ("1 node, depth 1, rtol 1e-13",
                    dict(DEFAULTS, gauss_nodes=1, depth=1, rtol=1e-13), None)]
    trade = {}
    for label, controls, take in rand_cases:
        errs, scales, les, quiet, conds = on_random(sets, truths, controls, take)
        rtol = controls["rtol"]
        cut = np.concatenate([np.arange(s[2].size) < (take or s[2].size) for s in sets])
        settled = scales >= UNDERFLOW
        flags = row_unresolved(quiet, les, conds, rtol)
        r = rates(errs, flags, rtol, settled, unsettled[cut])
        r["cancellation"] = {rule_name(f): rates(errs, cancel_flags(conds, rtol, f), rtol, settled,
                                             unsettled[cut]) for f in CANCEL_FACTORS}
        r["limit_rule_only"] = rates(errs, ~quiet | ~(les <= unresolved_threshold(rtol)), rtol,
                                     settled, unsettled[cut])
        bound = right_bound(rtol)
        right = settled & (errs + unsettled[cut] <= bound)
        wrong = settled & (errs - unsettled[cut] > bound)
        r["largest_limit_error_right"] = float(les[right].max()) if right.any() else None
        r["smallest_limit_error_wrong"] = float(les[wrong].min()) if wrong.any() else None
        r["largest_condition_right"] = float(conds[right].max()) if right.any() else None
        figures["random"][label] = r
        extra = "   limit error:"
        if right.any():
            extra += f" right rows up to {les[right].max():.1e}"
        if wrong.any():
            extra += f" wrong rows from {les[wrong].min():.1e}"
        print(line(label, r, extra))
        c = r["cancellation"]
        lim = r["limit_rule_only"]
        print(f"      without the cancellation rule: detected {lim['detected']}/{lim['wrong']}, "
              f"false alarms {lim['false_alarms']}")
        print("      cancellation rule (" + " / ".join(c) + "): false alarms " +
              " / ".join(f"{c[k]['false_alarms']}" for k in c) + ", detected " +
              " / ".join(f"{c[k]['detected']}" for k in c) +
              (f"; largest condition of a right row {conds[right].max():.1e}"
               if right.any() else ""))
        if label.startswith("depth"):
            trade[label] = {}
            for factor in (10.0, 100.0, 1000.0):
                t = rates(errs, ~quiet | ~(les <= max(factor * rtol, 1e-9)), rtol, settled,
                          unsettled[cut])
                trade[label][f"{factor:g}"] = t
    print("\n  the factor of rtol in the threshold, at depth 1 and 3 (random triples)")
    for label, by in trade.items():
        for factor, t in by.items():
            print(line(f"{label}, threshold {factor} rtol", t))
    figures["factor_trade_off"] = trade

    print("\nfield reference rows (48, default controls but rtol): the whole verdict, and the "
          "cancellation rule as " + " / ".join(rule_name(f) for f in CANCEL_FACTORS))
    figures["field"] = {}
    for rtol in DECADES:
        errs, conds, flags, labels = on_field_reference(rtol)
        r = rates(errs, flags, rtol)
        r["cancellation"] = {rule_name(f): rates(errs, cancel_flags(conds, rtol, f), rtol)
                             for f in CANCEL_FACTORS}
        wrong = errs > right_bound(rtol)
        r["wrong_rows"] = [{"row": labels[i], "error": float(errs[i]),
                            "condition": float(conds[i]), "flagged": bool(flags[i])}
                           for i in np.flatnonzero(wrong)]
        figures["field"][f"{rtol:g}"] = r
        c = r["cancellation"]
        print(line(f"rtol {rtol:g}", r, "   rules: false " +
                   "/".join(str(c[k]["false_alarms"]) for k in c) + ", detected " +
                   "/".join(str(c[k]["detected"]) for k in c)))
        for w in r["wrong_rows"]:
            print(f"      wrong: {w['row']}: error {w['error']:.1e}, condition "
                  f"{w['condition']:.1e}, {'flagged' if w['flagged'] else 'NOT flagged'}")

    if args.far:
        print("\nfar points on the interface over dry ground 4-1j (k_p = 1, z = zp = 0), "
              "default controls")
        k_m = lower_wavenumber(4 - 1j)
        figures["far"] = {}
        for rho in (1e6, 3e6, 1e7):
            t0 = time.perf_counter()
            res = diagnostics(1.0, k_m, rho, 0.0, 0.0)
            wall = time.perf_counter() - t0
            flag = bool(flagged(res, 1e-8)[0])
            figures["far"][f"{rho:g}"] = {"limit_panels": int(res[2][0]),
                                          "limit_error": float(res[3][0]),
                                          "nodes": int(res[1][0]), "flagged": flag,
                                          "seconds": wall}
            print(f"  k_p rho = {rho:g}: {res[2][0]} panels at the depth limit, limit error "
                  f"{res[3][0]:.1e}, {res[1][0]} nodes, {wall:.0f} s: "
                  f"{'flagged' if flag else 'NOT flagged'}")

    benchlib.write_json(args.json, "verdict_rates", figures)


if __name__ == "__main__":
    main()
