"""Cost of the default timed chunks against one compiled call, side by side
in one run (the same points, bit-identical rows); then how soon Ctrl-C stops a
default call of a million distinct points.

    python benchmarks/bench_chunking.py [--interrupt-only]
"""
import os
import signal
import subprocess
import sys
import time

import numpy as np

import near_interface_accel as nia


def main(n=20_000, repeats=2):
    rho = np.linspace(0.0, 50.0, n)
    timings = {"default chunks": [], "one call": []}
    for _ in range(repeats):
        for name, kw in (("default chunks", {}), ("one call", {"chunk_size": n})):
            t = time.perf_counter()
            out = nia.six_integrals(1.0, 2 - 0.5j, rho, 0.3, -0.2, **kw)
            timings[name].append(time.perf_counter() - t)
            timings.setdefault(name + " rows", out)
    assert np.array_equal(timings["default chunks rows"], timings["one call rows"])
    best = {k: min(v) for k, v in timings.items() if not k.endswith("rows")}
    for k, v in best.items():
        print(f"{k:15s} {v:8.3f} s for {n} points")
    print(f"ratio default / one call: {best['default chunks'] / best['one call']:.3f}")


_CHILD = """
import sys, time
import numpy as np
import near_interface_accel as nia
rho = np.linspace(0.0, 500.0, 1_000_000)
print("start", flush=True)
try:
    nia.six_integrals(1.0, 2 - 0.5j, rho, 0.3, -0.2)
except KeyboardInterrupt:
    print("interrupted", time.perf_counter(), flush=True)
    sys.exit(0)
print("finished", flush=True)
"""


def interrupt(after=3.0):
    """SIGINT to a default call of a million distinct points after `after`
    seconds of computing; prints how long it took to raise KeyboardInterrupt."""
    child = subprocess.Popen([sys.executable, "-c", _CHILD], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline().strip() == "start"
    time.sleep(after)
    sent = time.perf_counter()
    os.kill(child.pid, signal.SIGINT)
    line = child.stdout.readline().split()
    child.wait()
    if line[:1] != ["interrupted"]:
        print(f"the call did not stop on SIGINT: {line}")
        return
    # perf_counter is one clock across processes on Linux (CLOCK_MONOTONIC)
    print(f"1,000,000-point default call: KeyboardInterrupt {float(line[1]) - sent:.2f} s after SIGINT")


if __name__ == "__main__":
    if "--interrupt-only" not in sys.argv:
        main()
    for _ in range(3):
        interrupt()
