"""A radar-like antenna over a layered ground: |E| over a vertical plane
through the source, in the air and in the ground alike.

A horizontal current element of moment I dl = 1 A m, along x, 0.5 m above
0.3 m of wet topsoil (eps_r 20, 0.05 S/m) over dry rock (eps_r 6, 1 mS/m), at
200 MHz. Left, |E| in decibels over the plane y = 0 from 1 m above the
surface to 1.5 m down (the interfaces dashed); right, |E| along vertical
lines 0.5 m and 2 m from the source, through both interfaces.

    python examples/layered_ground_map.py [output.png]

needs matplotlib (the package's `plot` extra) and writes
examples/layered_ground_map.png by default.
"""
from __future__ import annotations

import sys
import time
from pathlib import Path

import numpy as np

import near_interface_accel as nia

FREQUENCY = 200e6
HEIGHT = 0.5
INTERFACES = [0.0, -0.3]
DIRECTION = (1.0, 0.0, 0.0)
X_MAX, Z_TOP, Z_BOTTOM = 3.0, 1.0, -1.5


def ground():
    """Air over wet topsoil over dry rock."""
    f = FREQUENCY
    return nia.stack([nia.medium(f), nia.medium(f, eps_r=20, sigma=0.05),
                      nia.medium(f, eps_r=6, sigma=1e-3)], INTERFACES)


def compute(n_x: int, n_z: int, progress: bool = False):
    """x (n_x), z (n_z), E over the plane y = 0 (shape (n_z, n_x, 3)) and E
    along the two vertical lines (shape (2, n_z, 3))."""
    st = ground()
    # the grid keeps clear of the source point itself
    x = np.linspace(-X_MAX, X_MAX, n_x) + 0.5 * X_MAX / n_x
    z = np.linspace(Z_BOTTOM, Z_TOP, n_z)
    e, _ = nia.layered_field(st, x, 0.0, z[:, None], HEIGHT, direction=DIRECTION,
                             progress=progress)
    lines, _ = nia.layered_field(st, np.array([0.5, 2.0])[:, None], 0.0, z, HEIGHT,
                                 direction=DIRECTION)
    return x, z, e, lines


def draw(path: Path, n_x: int = 121, n_z: int = 101) -> Path:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t = time.perf_counter()
    x, z, e, lines = compute(n_x, n_z)
    seconds = time.perf_counter() - t
    db = 20 * np.log10(np.linalg.norm(e, axis=-1))
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2), width_ratios=[1.6, 1])
    image = left.pcolormesh(x, z, db, shading="auto", cmap="viridis",
                            vmin=np.percentile(db, 2), vmax=np.percentile(db, 99.5))
    for h in INTERFACES:
        left.axhline(h, color="white", lw=0.8, ls="--")
    left.plot([0.0], [HEIGHT], marker="o", color="red")
    left.set(xlabel="x (m)", ylabel="z (m)",
             title="|E| (dB V/m), element along x 0.5 m up, 200 MHz")
    fig.colorbar(image, ax=left)
    for k, xl in enumerate((0.5, 2.0)):
        right.plot(20 * np.log10(np.linalg.norm(lines[k], axis=-1)), z, label=f"x = {xl} m")
    for h in INTERFACES:
        right.axhline(h, color="grey", lw=0.8, ls="--")
    right.set(xlabel="|E| (dB V/m)", ylabel="z (m)", title="through the interfaces")
    right.legend()
    fig.suptitle(f"air / 0.3 m wet topsoil / dry rock ({e.shape[0] * e.shape[1]} points, "
                 f"{seconds:.1f} s)", fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return Path(path)


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_suffix(".png")
    print(f"wrote {draw(out)}")
