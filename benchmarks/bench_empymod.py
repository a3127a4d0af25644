"""Side by side with empymod: E and H of buried dipoles over lossy ground.

Four dipoles (vertical and horizontal, electric and magnetic) 0.5 m deep in
wet ground (eps_r 20, 0.01 S/m) under air, at 1, 10 and 100 kHz and at 1, 10
and 100 MHz. For each frequency and dipole the script prints

* the error of each code against the arbitrary-precision reference
  (``tests/reference/dipole_interface_reference.py``) at a handful of points,
  the worst of |E - E_ref| / |E_ref| and |H - H_ref| / |H_ref|;
* the time per field point of each code (one thread, E and H of one dipole at
  100 points on a line 1 m above the ground, 1 to 100 m out; a setting that
  takes over 2 s for 4 of them is timed on those 4), for empymod's
  default digital linear filter, a longer filter and its adaptive quadrature
  (QWE), and for this package's ``dipole_field`` at three tolerances;
* at equal accuracy: the time of this package at the largest rtol whose error
  is no larger than empymod's best error at that frequency.

empymod's conventions, mapped onto ours: it also uses the time factor
exp(+i omega t) (checked below against the closed forms in a homogeneous
space, to about 1e-10); z is taken positive downwards, so the problem is
mirrored (polar vectors: z component negated; axial ones, H and the magnetic
moment: x and y negated); a magnetic source has the moment I^m ds, which for a
loop of moment m = I A is j omega mu0 m; ``res`` is the resistivity, ``epermH``
the relative permittivity; a point on the interface counts in the layer above
(the air), as here.

Run:

    .venv/bin/pip install '.[bench]'       # empymod, scipy, matplotlib
    OMP_NUM_THREADS=1 .venv/bin/python benchmarks/bench_empymod.py [--jobs 2]

The first run computes the reference (some minutes; ``--jobs`` runs it in
parallel) and keeps it in ``build/benchmarks/empymod_reference.json``. Without
``dipole_field`` (an older build) this package's columns are left empty.
"""
import argparse
import json
import math
import os
import sys
import time
import warnings
from multiprocessing import Pool
from pathlib import Path

import numpy as np

import benchlib

sys.path.insert(0, str(benchlib.ROOT / "tests" / "reference"))

import dipole_closed_form as cf  # noqa: E402
import dipole_interface_reference as dr  # noqa: E402

try:
    import empymod
except ImportError:  # pragma: no cover - the bench extra is optional
    sys.exit("this benchmark needs empymod: pip install '.[bench]'")

try:
    import near_interface_accel as nia
    HAVE_FIELDS = hasattr(nia, "dipole_field")
except ImportError:  # pragma: no cover
    nia = None
    HAVE_FIELDS = False

GROUND = (20.0, 0.01)                          # eps_r, sigma (S/m): wet soil
FREQUENCIES = [1e3, 1e4, 1e5, 1e6, 1e7, 1e8]
DIPOLES = [("VED", "electric", (0.0, 0.0, 1.0)), ("HED", "electric", (1.0, 0.0, 0.0)),
           ("VMD", "magnetic", (0.0, 0.0, 1.0)), ("HMD", "magnetic", (1.0, 0.0, 0.0))]
ZP = -0.5                                      # source height, m
POINTS = [(0.5, 0.2), (2.0, 1.0), (10.0, 0.5), (50.0, 2.0), (200.0, 1.0)]   # (rho, z), m
PHI = 0.6                                      # azimuth of the accuracy points
TIMING_RHO = np.linspace(1.0, 100.0, 100)      # timing line, z = 1 m, same azimuth
TIMING_Z = 1.0
EMPYMOD_SETTINGS = {
    "DLF 201 (default)": {},
    "DLF 801": {"htarg": {"dlf": "anderson_801_1982"}},
    "QWE 1e-10": {"ht": "qwe", "htarg": {"rtol": 1e-10, "atol": 1e-30}},
}
RTOLS = [1e-6, 1e-8, 1e-10]
# A setting whose first 4 timing points take longer than this is timed on those.
SLOW_SECONDS = 2.0
AIR_RESISTIVITY = 1e20                         # Ohm m; empymod wants a finite one

DEFAULT_CACHE = benchlib.ROOT / "build" / "benchmarks" / "empymod_reference.json"


def ground(frequency):
    """(k0, k_m) of the ground at one frequency, as near_interface_accel.medium makes them."""
    omega = 2 * math.pi * frequency
    k0 = omega / cf.SPEED_OF_LIGHT
    eps = GROUND[0] - 1j * GROUND[1] / (omega * cf.EPSILON_0)
    k = k0 * np.sqrt(complex(eps))
    return k0, (k if k.imag <= 0 else -k)


# ---------------------------------------------------------------------------
# empymod, in this package's conventions

def empymod_layered_field(frequency, x, y, z, zp, source, direction, depth, res, eps, mu=None,
                          **settings):
    """E and H (shape (N, 3)) at points (x, y) of one height z of a unit dipole
    at (0, 0, zp) in a stack from empymod.dipole, in this package's
    conventions: depth the interfaces' depths (positive down, increasing), res,
    eps (and mu) per layer from the top."""
    omega = 2 * math.pi * frequency
    d = cf.unit_vector(direction)
    # mirror z -> -z: a polar vector (the current element) negates z, an
    # axial one (the loop's moment) negates x and y
    if source == "electric":
        d_src, offset, scale = d * [1, 1, -1], 0, 1.0
    else:
        d_src, offset, scale = d * [-1, -1, 1], 3, 1j * omega * cf.MU_0
    x = np.atleast_1d(np.asarray(x, float))
    y = np.broadcast_to(np.atleast_1d(np.asarray(y, float)), x.shape)
    out = np.zeros((2, len(x), 3), complex)
    back = np.array([[1, 1, -1], [-1, -1, 1]], float)       # E polar, H axial
    extra = {} if mu is None else {"mpermH": mu}
    for i in range(3):
        if d_src[i] == 0:
            continue
        for j in range(6):
            ab = (j + 1) * 10 + i + 1 + offset
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                v = empymod.dipole([0.0, 0.0, -zp], [x, y, -z], depth, res, frequency, ab=ab,
                                   epermH=eps, verb=0, **extra, **settings)
            out[j // 3, :, j % 3] += d_src[i] * scale * np.atleast_1d(v) * back[j // 3, j % 3]
    return out[0], out[1]


def empymod_field(frequency, x, y, z, zp, source, direction, layers=None, **settings):
    """E and H (shape (N, 3)) at points (x, y) of one height z >= 0 of a unit
    dipole at (0, 0, zp), zp < 0, from empymod.dipole.

    layers = (eps_r, sigma) of the lower and the upper medium (default: the
    ground under air)."""
    (eps_m, sig_m), (eps_p, sig_p) = layers or (GROUND, (1.0, 0.0))
    res = [1 / sig_p if sig_p > 0 else AIR_RESISTIVITY, 1 / sig_m if sig_m > 0 else AIR_RESISTIVITY]
    return empymod_layered_field(frequency, x, y, z, zp, source, direction, [0.0], res,
                                 [eps_p, eps_m], **settings)


def check_mapping():
    """Worst difference between empymod (direct field analytic) and the closed
    forms in a homogeneous ground, relative to |E| or |H|, for a source below
    the interface and field points above it, both above it (an antenna over
    the ground), both below, and a source above with points below."""
    worst = 0.0
    x, y = np.array([3.0, 0.4]), np.array([-2.0, 0.7])
    for f in (1e4, 1e7):
        k0, k = ground(f)
        for _, source, d in DIPOLES + [("oblique", "electric", (0.3, 0.4, -0.5)),
                                       ("oblique", "magnetic", (0.3, 0.4, -0.5))]:
            for z, zp in ((1.5, -0.7), (12.0, 10.0), (-1.0, -3.0), (-1.5, 2.0)):
                e, h = empymod_field(f, x, y, z, zp, source, d, layers=(GROUND, GROUND),
                                     xdirect=True)
                e_ref, h_ref = cf.dipole_field(k0, k, x, y, z - zp, source=source, direction=d)
                worst = max(worst, np.abs(e - e_ref).max() / np.abs(e_ref).max(),
                            np.abs(h - h_ref).max() / np.abs(h_ref).max())
    return worst


# ---------------------------------------------------------------------------
# The reference

def _key(f, rho, z):
    return "%g %g %g %g %g" % (f, rho, z, ZP, PHI)


def _reference_point(args):
    f, rho, z = args
    k0, k_m = ground(f)
    start = time.perf_counter()
    row = dr.all_fields(k0, k0, k_m, rho, z, ZP, [PHI])[0]
    out = {"%s %s" % key: [[[complex(c).real, complex(c).imag] for c in v] for v in ev]
           for key, ev in row.items()}
    return _key(f, rho, z), out, time.perf_counter() - start


def reference(cache_path, jobs):
    cache = json.loads(Path(cache_path).read_text()) if Path(cache_path).exists() else {}
    todo = [(f, rho, z) for f in FREQUENCIES for rho, z in POINTS if _key(f, rho, z) not in cache]
    if todo:
        print("computing the reference at %d points (%d jobs) ..." % (len(todo), jobs), flush=True)
        with Pool(jobs) as pool:
            for key, val, sec in pool.imap_unordered(_reference_point, todo):
                cache[key] = val
                print("  %-28s %.0f s" % (key, sec), flush=True)
        Path(cache_path).parent.mkdir(parents=True, exist_ok=True)
        Path(cache_path).write_text(json.dumps(cache))
    return cache


def _ref_fields(cache, f, rho, z, source, d):
    axis = "xyz"[int(np.argmax(np.abs(d)))]
    e, h = cache[_key(f, rho, z)]["%s %s" % (source, axis)]
    return np.array([complex(*c) for c in e]), np.array([complex(*c) for c in h])


# ---------------------------------------------------------------------------
# The two codes

def ours(f, x, y, z, source, d, rtol):
    upper, lower = nia.medium(f), nia.medium(f, eps_r=GROUND[0], sigma=GROUND[1])
    e, h = nia.dipole_field(upper, lower, x, y, z, ZP, source=source, direction=d, rtol=rtol, workers=1)
    return np.reshape(e, (-1, 3)), np.reshape(h, (-1, 3))


def codes():
    out = [("empymod " + name, lambda f, x, y, z, s, d, kw=kw: empymod_field(f, x, y, z, ZP, s, d, **kw))
           for name, kw in EMPYMOD_SETTINGS.items()]
    if HAVE_FIELDS:
        out += [("this package rtol %g" % r, lambda f, x, y, z, s, d, r=r: ours(f, x, y, z, s, d, r))
                for r in RTOLS]
    return out


def error(code, cache, f, source, d):
    worst = 0.0
    for rho, z in POINTS:
        x, y = rho * math.cos(PHI), rho * math.sin(PHI)
        e, h = code(f, np.array([x]), np.array([y]), z, source, d)
        e_ref, h_ref = _ref_fields(cache, f, rho, z, source, d)
        worst = max(worst, np.linalg.norm(e[0] - e_ref) / np.linalg.norm(e_ref),
                    np.linalg.norm(h[0] - h_ref) / np.linalg.norm(h_ref))
    return worst


def seconds_per_point(code, f, source, d, repeat):
    """Best of repeat timings of the line of points, per point; a setting that
    is slow on the line's first 4 points (spread along it) is timed on those."""
    x, y = TIMING_RHO * math.cos(PHI), TIMING_RHO * math.sin(PHI)
    code(f, x[:2], y[:2], TIMING_Z, source, d)           # warm-up (empymod compiles with numba)
    few = np.linspace(0, len(x) - 1, 4).astype(int)
    start = time.perf_counter()
    code(f, x[few], y[few], TIMING_Z, source, d)
    first = time.perf_counter() - start
    if first > SLOW_SECONDS:
        return first / len(few)
    best = math.inf
    for _ in range(repeat):
        start = time.perf_counter()
        code(f, x, y, TIMING_Z, source, d)
        best = min(best, time.perf_counter() - start)
    return best / len(x)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    benchlib.add_json_argument(parser, "bench_empymod")
    parser.add_argument("--cache", default=str(DEFAULT_CACHE), help="reference cache (default %(default)s)")
    parser.add_argument("--jobs", type=int, default=1, help="processes for the reference (default 1)")
    parser.add_argument("--repeat", type=int, default=3, help="timing repeats, best taken (default 3)")
    args = parser.parse_args()

    print("empymod %s; this package: %s; cpu %s; OMP_NUM_THREADS=%s" % (
        empymod.__version__, nia.__version__ if HAVE_FIELDS else "no dipole_field",
        benchlib.cpu_name(), os.environ.get("OMP_NUM_THREADS")))
    mapping = check_mapping()
    print("empymod in these conventions against the closed forms (homogeneous ground): %.1e" % mapping)
    cache = reference(args.cache, args.jobs)
    names = [name for name, _ in codes()]
    rows = []
    for f in FREQUENCIES:
        for label, source, d in DIPOLES:
            row = {"frequency": f, "dipole": label, "errors": {}, "us_per_point": {}}
            for name, code in codes():
                row["errors"][name] = error(code, cache, f, source, d)
                row["us_per_point"][name] = 1e6 * seconds_per_point(code, f, source, d, args.repeat)
            rows.append(row)
            print("%8s Hz %s  " % ("%g" % f, label) + "  ".join(
                "%s %.1e %.0fus" % (n.replace("this package", "nia"), row["errors"][n], row["us_per_point"][n])
                for n in names), flush=True)

    # at equal accuracy: empymod's best setting against the largest rtol that matches it
    summary = []
    for f in FREQUENCIES:
        sel = [r for r in rows if r["frequency"] == f]
        emp = [n for n in names if n.startswith("empymod")]
        best_emp = min(emp, key=lambda n: max(r["errors"][n] for r in sel))
        emp_err = max(r["errors"][best_emp] for r in sel)
        emp_us = float(np.mean([r["us_per_point"][best_emp] for r in sel]))
        entry = {"frequency": f, "empymod": best_emp, "empymod_error": emp_err, "empymod_us": emp_us}
        ok = [n for n in names if n.startswith("this") and max(r["errors"][n] for r in sel) <= emp_err]
        if ok:
            mine = ok[0]
            entry.update(ours=mine, ours_error=max(r["errors"][mine] for r in sel),
                         ours_us=float(np.mean([r["us_per_point"][mine] for r in sel])))
        summary.append(entry)

    print()
    print("worst error over the four dipoles and %d points; time per point (E and H of one dipole, "
          "mean over the dipoles)" % len(POINTS))
    head = "%10s" % "frequency" + "".join("%22s" % n.replace("this package", "nia") for n in names)
    print(head)
    for f in FREQUENCIES:
        sel = [r for r in rows if r["frequency"] == f]
        print("%10s" % ("%g Hz" % f) + "".join(
            "%22s" % ("%.1e %6.0f us" % (max(r["errors"][n] for r in sel),
                                         np.mean([r["us_per_point"][n] for r in sel]))) for n in names))
    print()
    print("at equal accuracy (empymod's most accurate setting; this package's largest rtol at least as accurate):")
    for s in summary:
        line = "%10s  empymod %-18s %.1e %6.0f us" % ("%g Hz" % s["frequency"], s["empymod"], s["empymod_error"],
                                                     s["empymod_us"])
        if "ours" in s:
            line += "   nia %-10s %.1e %6.0f us   ratio %.2g" % (
                s["ours"].split()[-1], s["ours_error"], s["ours_us"], s["empymod_us"] / s["ours_us"])
        print(line)
    benchlib.write_json(args.json, "bench_empymod", {
        "ground": {"eps_r": GROUND[0], "sigma": GROUND[1]}, "zp": ZP, "points": POINTS, "phi": PHI,
        "timing_points": len(TIMING_RHO), "empymod_version": empymod.__version__,
        "mapping_check": mapping, "rows": rows, "equal_accuracy": summary})


if __name__ == "__main__":
    main()
