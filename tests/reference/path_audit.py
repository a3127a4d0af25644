"""Audit of the integration path: the module against the cheap independent
evaluation of ``cheap_reference.py``, over many media and geometries.

A row's error is the largest channel difference divided by the row's largest
channel (of the reference). Run as a script for the full report:

    python tests/reference/path_audit.py            # every medium, every geometry
    python tests/reference/path_audit.py water      # media whose name contains 'water'

The slow test ``tests/pointwise/test_path_audit.py`` runs the same sweep.
"""

from __future__ import annotations

import sys
import time
from concurrent.futures import ProcessPoolExecutor, as_completed
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
import cheap_reference  # noqa: E402

K_P = 1.0

# Lower media by relative permittivity (mu_r = 1), under a lossless upper
# medium with k_p = k0 = 1. The sea-water value is 4 S/m at 1 MHz.
MEDIA = {
    "dry ground 4-1j": 4 - 1j,
    "wet soil 25-0.5j": 25 - 0.5j,
    "lossy 10-10j": 10 - 10j,
    "lake water 81-1.8j": 81 - 1.8j,
    "lossless water 81": 81.0,
    "lossless silicon 11.7": 11.7,
    "lossless glass 2.25": 2.25,
    "low index 0.5": 0.5,
    "homogeneous 1": 1.0,
    "sea water 1 MHz": 81 - 7.19e4j,
    "good conductor 1-1e4j": 1 - 1e4j,
    "plasmonic -2-0.1j": -2 - 0.1j,
    "plasmonic -5-0.5j": -5 - 0.5j,
    "plasmonic -20-0.5j": -20 - 0.5j,
    "lossless plasmonic -3": -3.0,
    "near -1: -1.1-0.01j": -1.1 - 0.01j,
    "near -1: -1.02-0.005j": -1.02 - 0.005j,
    "near -1: -1.005-0.001j": -1.005 - 0.001j,
}

HEIGHTS = [(0.0, 0.0), (0.5, -0.25), (0.0, -1.0), (1.0, 0.0), (0.0, -5.0), (0.0, -14.0),
           (2.0, -10.0), (0.0, -40.0)]
RHOS = [0.0, 0.5, 2.0, 10.0, 100.0]


def lower_wavenumber(eps):
    """k_m = sqrt(eps) on the branch with Im <= 0 (the package's wavenumber())."""
    k = complex(eps) ** 0.5
    if k.imag > 0 or (k.imag == 0 and k.real < 0):
        k = -k
    return k


def geometries(k_m):
    """The (rho, z, zp) triples of the sweep; fewer large rho for a large |k_m|,
    where a path of length ~|k_m| at large rho costs the reference too much."""
    rhos = RHOS if abs(k_m) < 50 else [r for r in RHOS if r <= 2.0]
    return [(r, z, zp) for r in rhos for z, zp in HEIGHTS if r + (z - zp) > 0]


def module_rows(k_m, triples, rtol=1e-8, gauss_nodes=8):
    import _near_interface_accel as accel
    gx, gw = np.polynomial.legendre.leggauss(gauss_nodes)
    t = np.array(triples, dtype=float)
    return accel.near_interface_six_batch(K_P, k_m, t[:, 0], t[:, 1], t[:, 2], rtol, 10.0, 20,
                                          0.1, gx, gw)


def _reference(args):
    k_m, (rho, z, zp) = args
    return cheap_reference.integrals(K_P, k_m, rho, z, zp)


def row_error(got, ref):
    """The largest channel difference relative to the reference's largest channel."""
    scale = np.abs(ref).max()
    return float(np.abs(got - ref).max() / scale if scale > 0 else np.abs(got).max())


def audit(names=None, triples=None, workers=2, rtol=1e-8, verbose=False):
    """Rows of (medium, rho, z, zp, error) for the media whose names contain
    one of names (all when None), at the given triples (the sweep's when None).
    verbose prints every row as its reference is done (the slow media take
    hours on a loaded machine: an interrupted run keeps what it printed) and
    each medium's worst row at its end."""
    rows = []
    pool = ProcessPoolExecutor(workers) if workers > 1 else None
    try:
        for name, eps in MEDIA.items():
            if names and not any(n in name for n in names):
                continue
            k_m = lower_wavenumber(eps)
            trip = geometries(k_m) if triples is None else list(triples)
            got = module_rows(k_m, trip, rtol=rtol)
            jobs = [(k_m, t) for t in trip]
            errors = [None] * len(jobs)
            if pool:
                pending = {pool.submit(_reference, j): i for i, j in enumerate(jobs)}
                done = ((pending[f], f.result()) for f in as_completed(pending))
            else:
                done = ((i, _reference(j)) for i, j in enumerate(jobs))
            for i, ref in done:
                errors[i] = row_error(got[i], ref)
                if verbose:
                    print(f"  {name} ({trip[i][0]:g}, {trip[i][1]:g}, {trip[i][2]:g}) {errors[i]:.2e}",
                          flush=True)
            mine = [(name, rho, z, zp, err) for (rho, z, zp), err in zip(trip, errors)]
            if verbose:
                report(mine, header=not rows)
                sys.stdout.flush()
            rows += mine
    finally:
        if pool:
            pool.shutdown()
    return rows


def report(rows, out=sys.stdout, header=True):
    by = {}
    for name, rho, z, zp, err in rows:
        by.setdefault(name, []).append((err, rho, z, zp))
    if header:
        print(f"{'medium':<26} {'rows':>4} {'worst':>9}  at (rho, z, zp)", file=out)
    for name, items in by.items():
        err, rho, z, zp = max(items, key=lambda v: (np.nan_to_num(v[0], nan=np.inf)))
        print(f"{name:<26} {len(items):>4} {err:9.1e}  ({rho:g}, {z:g}, {zp:g})", file=out)


if __name__ == "__main__":
    start = time.perf_counter()
    result = audit(sys.argv[1:] or None, verbose=True)
    print(f"{len(result)} rows in {time.perf_counter() - start:.0f} s")
