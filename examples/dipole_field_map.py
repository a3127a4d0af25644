"""|E| and |H| of a buried horizontal current element, over a vertical plane
through the source and along a line on the surface.

A current element of moment I dl = 1 A m, horizontal along x, sits 1 m deep
in wet ground (eps_r 20, 0.01 S/m) at 10 MHz. The upper panels show |E| (V/m)
and |H| (A/m) in decibels over the plane y = 0 in the air, the lower ones the
Cartesian components along the line y = 5 m on the surface (z = 0) and, for
comparison, the magnitude of the same element in free space.

    python examples/dipole_field_map.py [output.png]

needs matplotlib (the package's `plot` extra) and writes
examples/dipole_field_map.png by default.
"""
from __future__ import annotations

import sys
import time
from pathlib import Path

import numpy as np

import near_interface_accel as nia

FREQUENCY = 10e6
DEPTH = -1.0
X_MAX, Z_MAX = 40.0, 20.0
DIRECTION = (1.0, 0.0, 0.0)
# the surface line runs parallel to the element, this far to its side (on the
# line y = 0 itself E_y, H_x and H_z vanish by symmetry)
LINE_Y = 5.0


def compute(n_x: int, n_z: int, progress: bool = False):
    """The plane y = 0 (E and H of shape (n_z, n_x, 3)), the surface line
    (shape (n_x, 3)) and the same line in free space."""
    air, ground = nia.medium(FREQUENCY), nia.medium(FREQUENCY, eps_r=20, sigma=0.01)
    x = np.linspace(-X_MAX, X_MAX, n_x)
    z = np.linspace(0.0, Z_MAX, n_z)[:, None]
    plane = nia.dipole_field(air, ground, x, 0.0, z, DEPTH, direction=DIRECTION,
                             progress=progress)
    line = nia.dipole_field(air, ground, x, LINE_Y, 0.0, DEPTH, direction=DIRECTION)
    free = nia.dipole_field(air, air, x, LINE_Y, 0.0, DEPTH, direction=DIRECTION)
    return x, z[:, 0], plane, line, free


def _db(v):
    return 20 * np.log10(np.maximum(np.linalg.norm(v, axis=-1), 1e-300))


def draw(path: str | Path, *, n_x: int = 161, n_z: int = 41, progress: bool = False) -> Path:
    """Compute the field and save the four panels as a PNG at ``path``."""
    from matplotlib.figure import Figure   # no pyplot: no window, no global state

    x, z, (e, h), (e_line, h_line), (e_free, h_free) = compute(n_x, n_z, progress)
    fig = Figure(figsize=(12, 7.5), layout="constrained")
    axes = fig.subplots(2, 2)
    for ax, field, name, unit in [(axes[0, 0], e, "|E|", "V/m"), (axes[0, 1], h, "|H|", "A/m")]:
        db = _db(field)
        # the colour range leaves out the few points right over the source
        low, high = np.nanpercentile(db, [1.0, 99.0])
        mesh = ax.pcolormesh(x, z, db, shading="gouraud", cmap="magma", vmin=low, vmax=high)
        fig.colorbar(mesh, ax=ax, label=f"dB re 1 {unit}")
        ax.set_title(f"{name} over the plane y = 0")
        ax.set_xlabel("x / m")
        ax.set_ylabel("height z / m")
    for ax, line, free, name, unit in [(axes[1, 0], e_line, e_free, "E", "V/m"),
                                       (axes[1, 1], h_line, h_free, "H", "A/m")]:
        for c, label in enumerate("xyz"):
            ax.semilogy(x, np.abs(line[:, c]), label=f"$|{name}_{label}|$")
        ax.semilogy(x, np.linalg.norm(free, axis=-1), "k:", label=f"$|{name}|$ in free space")
        ax.set_title(f"{name} along the surface (y = {LINE_Y:g} m, z = 0)")
        ax.set_xlabel("x / m")
        ax.set_ylabel(unit)
        ax.legend(fontsize=8)
    fig.suptitle(f"Horizontal current element (1 A m, along x), {-DEPTH:g} m deep in wet ground "
                 rf"($\varepsilon_r$ 20, 0.01 S/m), {FREQUENCY / 1e6:g} MHz")
    path = Path(path)
    fig.savefig(path, dpi=80)
    return path


def main(argv: list[str]) -> None:
    out = Path(argv[1]) if len(argv) > 1 else Path(__file__).with_name("dipole_field_map.png")
    start = time.perf_counter()
    draw(out, progress=True)
    print(f"wrote {out} in {time.perf_counter() - start:.1f} s")


if __name__ == "__main__":
    main(sys.argv)
