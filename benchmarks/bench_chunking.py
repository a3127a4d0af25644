"""Cost of the default timed chunks against one compiled call, side by side
in one run (the same points, bit-identical rows)."""
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


if __name__ == "__main__":
    main()
