"""A marine survey: the electric field on the sea floor against offset, over
sediments with and without a thin resistive layer.

A horizontal current element of moment I dl = 1 A m, along x, 50 m above the
sea floor under 1 km of sea water (eps_r 81, 3.3 S/m), at 0.25 Hz; below the
floor sediments (1 S/m), and in the second stack a 100 m layer of 0.01 S/m
1 km under the floor (a resistive reservoir). Left, |E_x| on the sea floor
in line with the source from 250 m to 10 km, over both stacks; right, their
ratio: near the source the resistor is invisible; from 2 km on the field
guided along it rises above the plain sediments' field, to eleven times it
near 7 km, until the air wave (down through the sea from its surface) takes
over both.

    python examples/marine_response.py [output.png]

needs matplotlib (the package's `plot` extra) and writes
examples/marine_response.png by default.
"""
from __future__ import annotations

import sys
import time
from pathlib import Path

import numpy as np

import near_interface_accel as nia

FREQUENCY = 0.25
SEA_FLOOR = -1000.0
SOURCE = SEA_FLOOR + 50.0
DIRECTION = (1.0, 0.0, 0.0)
OFFSETS = (250.0, 10000.0)


def stacks():
    """Air, sea water and sediments, without and with the resistive layer."""
    f = FREQUENCY
    air, sea = nia.medium(f), nia.medium(f, eps_r=81, sigma=3.3)
    sediment, resistor = nia.medium(f, eps_r=10, sigma=1.0), nia.medium(f, eps_r=10, sigma=0.01)
    plain = nia.stack([air, sea, sediment], [0.0, SEA_FLOOR])
    reservoir = nia.stack([air, sea, sediment, resistor, sediment],
                          [0.0, SEA_FLOOR, SEA_FLOOR - 1000.0, SEA_FLOOR - 1100.0])
    return plain, reservoir


def compute(n: int):
    """Offsets (n) and E on the sea floor in line with the source over the
    plain sediments and over the reservoir (each of shape (n, 3)); a point on
    the floor takes the sea water above it."""
    x = np.geomspace(*OFFSETS, n)
    plain, reservoir = stacks()
    e_plain, _ = nia.layered_field(plain, x, 0.0, SEA_FLOOR, SOURCE, direction=DIRECTION,
                                   rtol=1e-9)
    e_reservoir, _ = nia.layered_field(reservoir, x, 0.0, SEA_FLOOR, SOURCE,
                                       direction=DIRECTION, rtol=1e-9)
    return x, e_plain, e_reservoir


def draw(path: Path, n: int = 120) -> Path:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t = time.perf_counter()
    x, e_plain, e_reservoir = compute(n)
    seconds = time.perf_counter() - t
    km = x / 1e3
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2))
    left.loglog(km, np.abs(e_plain[:, 0]), label="sediments")
    left.loglog(km, np.abs(e_reservoir[:, 0]), label="with a 100 m resistor 1 km down")
    left.set(xlabel="offset (km)", ylabel="|E_x| (V/m)",
             title=f"on the sea floor, element along x 50 m up, {FREQUENCY:g} Hz")
    left.legend()
    right.semilogy(km, np.abs(e_reservoir[:, 0]) / np.abs(e_plain[:, 0]))
    right.axhline(1.0, color="grey", lw=0.8, ls="--")
    right.set(xlabel="offset (km)", ylabel="ratio", title="|E_x| with the resistor / without")
    fig.suptitle(f"air / 1 km sea water / sediments ({2 * n} points, {seconds:.1f} s)",
                 fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return Path(path)


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_suffix(".png")
    print(f"wrote {draw(out)}")
