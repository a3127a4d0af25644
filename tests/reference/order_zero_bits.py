"""Fingerprints of the order-zero results that must never change: hankel0,
bessel_j0, their SIMD lanes, and the rows of near_interface_six_batch.

Each block evaluates a fixed set of arguments and hashes the raw bytes of the
results (SHA-256), so that a change of a single bit anywhere shows. The
arguments come from an integer generator and exact scalings (no libm, no
random-number library), so every platform builds the same ones; the results
are compared only on the platform the fingerprints were taken on (the
machine, the C library and, for lanes, the lane target), since another libm
may round differently.

Write tests/data/order_zero_bits.json with a build of the code BEFORE a change
that must keep these results (for example today's main, built with the probe):

    python tests/reference/order_zero_bits.py [--output tests/data/order_zero_bits.json]

tests/module/test_order_zero_unchanged.py recomputes the fingerprints with the
build under test.
"""

import argparse
import hashlib
import json
import math
import os
import platform
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUTPUT = os.path.join(os.path.dirname(HERE), "data", "order_zero_bits.json")

# The 8-node Gauss-Legendre rule on [-1, 1], each value the double nearest to
# the exact one (written out: the library routines round differently).
GAUSS_X = [-0.9602898564975363, -0.7966664774136267, -0.525532409916329, -0.1834346424956498,
           0.1834346424956498, 0.525532409916329, 0.7966664774136267, 0.9602898564975363]
GAUSS_W = [0.10122853629037626, 0.22238103445337448, 0.31370664587788727, 0.362683783378362,
           0.362683783378362, 0.31370664587788727, 0.22238103445337448, 0.10122853629037626]
# Lower media of the rows (the upper wavenumber is 1)
K_M = [2.0 - 0.25j, 1.5 + 0j, 3.0 - 0.01j, 1.2 - 1.1j, 0.7 + 0j]


class Integers:
    """Knuth's 64-bit linear congruential generator."""

    def __init__(self, seed):
        self.state = seed & (2**64 - 1)

    def next(self):
        self.state = (6364136223846793005 * self.state + 1442695040888963407) & (2**64 - 1)
        return self.state

    def unit(self):
        """An exact double in [0, 1): the top 53 bits."""
        return (self.next() >> 11) * 2.0**-53

    def below(self, n):
        return (self.next() >> 33) % n


def _magnitude(g, lo_exp, hi_exp):
    """(1 + u) 2^e, e uniform in [lo_exp, hi_exp]."""
    return math.ldexp(1.0 + g.unit(), lo_exp + g.below(hi_exp - lo_exp + 1))


def hankel_arguments(seed, count):
    """Every quadrant and magnitude from 2^-1010 to beyond the loss limit,
    a dense band of moderate moduli, the axes with signed zeros, the tail
    rays, and special values."""
    g = Integers(seed)
    out = []
    for _ in range(count):
        e = -1010 + g.below(1010 + 28) if g.below(2) else g.below(6) - 1
        a = math.ldexp(1.0 + g.unit(), e)
        b = math.ldexp(1.0 + g.unit(), e + g.below(9) - 4)
        sa, sb = (-1.0 if g.below(2) else 1.0), (-1.0 if g.below(2) else 1.0)
        shape = g.below(8)
        if shape == 0:
            out.append(complex(sa * a, 0.0 * sb))
        elif shape == 1:
            out.append(complex(0.0 * sa, sb * a))
        else:
            out.append(complex(sa * a, sb * b))
    for _ in range(count // 4):  # tail rays: rho (start + t e^{i pi/4})
        rho = _magnitude(g, -10, 10)
        t = _magnitude(g, -10, 10)
        s = 0.7071067811865476 * t
        out.append(complex(rho * (_magnitude(g, -3, 6) + s), rho * s))
    nan, inf = float("nan"), float("inf")
    out += [complex(nan, 1), complex(1, nan), 0j, complex(-0.0, 0.0), complex(0.0, -0.0), complex(inf, 0),
            complex(1e-306, 0), complex(-5.0, 0.0), complex(-5.0, -0.0), 800j, -800j, 680j, -680j,
            complex(5e7, 0), complex(2.0**52, 0), 2.0 + 0j, 2j, 21.784271729432426j, 28.666666666666664 + 0j]
    return np.array(out, complex)


def j0_arguments(seed, count):
    """Real and complex arguments of every method, both sides of |z| = 8
    and 25, the detour's strip, and special values."""
    g = Integers(seed)
    out = []
    for _ in range(count):
        x = 40.0 * g.unit() if g.below(2) else _magnitude(g, -30, 16)
        shape = g.below(4)
        if shape == 0:
            out.append(complex(x, 0.0))
        elif shape == 1:
            out.append(complex(-x, 0.0))
        elif shape == 2:
            out.append(complex(x, 4.0 * g.unit() - 2.0))
        else:
            out.append(complex((2 * g.below(2) - 1) * x, (2 * g.below(2) - 1) * _magnitude(g, -30, 5)))
    for r in (8.0, 25.0):
        for d in (-2, -1, 0, 1, 2):
            v = r + d * r * 2.0**-52
            out += [complex(v, 0.0), complex(v * 0.9950041652780258, v * 0.09983341664682815)]
    nan, inf = float("nan"), float("inf")
    out += [complex(nan, 0), complex(0, nan), complex(inf, 0), 0j, complex(-0.0, 0.0), 1e-7 + 1e-7j]
    return np.array(out, complex)


def six_row_inputs(seed, count):
    g = Integers(seed)
    rho = np.array([_magnitude(g, -7, 5) if g.below(3) else 50.0 * g.unit() for _ in range(count)])
    z = np.array([0.0 if g.below(5) == 0 else 3.0 * g.unit() for _ in range(count)])
    zp = np.array([0.0 if g.below(5) == 0 else -3.0 * g.unit() for _ in range(count)])
    rho[0], z[0], zp[0] = 0.0, 0.5, -0.25  # on the axis
    return rho, z, zp


ROWS_CHILD = """
import sys
import numpy as np
sys.path.insert(0, sys.argv[1])
import order_zero_bits as b
import _near_interface_accel as accel
out = []
for i, k_m in enumerate(b.K_M):
    rho, z, zp = b.six_row_inputs(100 + i, int(sys.argv[2]))
    for rtol in (1e-8, 1e-11):
        out.append(accel.near_interface_six_batch(1.0, k_m, rho, z, zp, rtol, 10.0, 20, 0.1,
                                                  np.array(b.GAUSS_X), np.array(b.GAUSS_W)))
sys.stdout.buffer.write(np.concatenate(out).tobytes())
"""


def six_rows(count, scalar):
    """The rows, from a child process with the lane code or the scalar path;
    two threads, as the batch runs them."""
    env = dict(os.environ, OMP_NUM_THREADS="2", NIA_SCALAR="1" if scalar else "0")
    return subprocess.run([sys.executable, "-c", ROWS_CHILD, HERE, str(count)], env=env, capture_output=True,
                          check=True, timeout=900).stdout


def digest(values):
    data = values if isinstance(values, bytes) else np.ascontiguousarray(values).tobytes()
    return hashlib.sha256(data).hexdigest()


def platform_key():
    return {"machine": platform.machine(), "system": platform.system(), "libc": " ".join(platform.libc_ver())}


HANKEL_COUNT, J0_COUNT, LANE_COUNT, ROW_COUNT = 2000, 2000, 800, 60


def blocks():
    """{name: (target or None, function computing the bytes)}: every block
    this build can compute."""
    import _near_interface_probe as probe

    out = {}
    for kind in (1, 2):
        z = hankel_arguments(kind, HANKEL_COUNT)
        out[f"hankel0 kind {kind}"] = (None, lambda z=z, k=kind: probe.hankel0(k, z))
    zj = j0_arguments(3, J0_COUNT)
    out["bessel_j0"] = (None, lambda: probe.bessel_j0(zj))
    for target in probe.lane_targets():
        if target == "scalar":
            continue
        for kind in (1, 2):
            z = hankel_arguments(10 + kind, LANE_COUNT)
            out[f"lane_hankel0 kind {kind} {target}"] = (
                target, lambda z=z, k=kind, t=target: probe.lane_hankel0(k, z, t))
        zl = j0_arguments(13, LANE_COUNT)
        out[f"lane_j0 {target}"] = (target, lambda z=zl, t=target: probe.lane_j0(z, t))
    out["six rows, scalar path"] = ("scalar", lambda: six_rows(ROW_COUNT, True))
    best = probe.lane_target()
    if best != "scalar":
        out[f"six rows, {best} lanes"] = (best, lambda: six_rows(ROW_COUNT, False))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    args = parser.parse_args()
    record = {
        "description": "SHA-256 of the raw bytes of order-zero results that must stay bit for bit the same",
        "generator": "tests/reference/order_zero_bits.py",
        "regenerate": "python tests/reference/order_zero_bits.py  (with a build from BEFORE the change under test)",
        "platform": platform_key(),
        "blocks": {},
    }
    for name, (target, compute) in blocks().items():
        record["blocks"][name] = {"target": target, "sha256": digest(compute())}
        print(f"{name:36s} {record['blocks'][name]['sha256'][:16]}")
    with open(args.output, "w") as f:
        json.dump(record, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
