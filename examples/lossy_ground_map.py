"""Maps of the six integrals above a lossy ground.

A source buried just below the surface of wet ground (relative permittivity
10 - 3j, time convention exp(+j omega t)) and field points in the air above it,
on a grid of horizontal distance rho and height z. Lengths are in units of
1/k0 = wavelength / (2 pi). Each panel shows the magnitude of one integral in
decibels, so the near-field peak over the source, the interference with the
wave guided along the surface and the decay with height can be read side by
side.

    python examples/lossy_ground_map.py [output.png]

needs matplotlib (the package's `plot` extra) and writes
examples/lossy_ground_channels.png by default.
"""
from __future__ import annotations

import sys
import time
from pathlib import Path

import numpy as np

import near_interface_accel as nia

K0 = 1.0
EPS_GROUND = 10 - 3j
SOURCE_DEPTH = -0.25
RHO_MAX, Z_MAX = 15.0, 5.0
CHANNELS = [
    r"$I_0$: $2\lambda S/(\gamma_p+\gamma_m)$",
    r"$I_1$: $Q$",
    r"$I_2$: $Q(\gamma_p-\gamma_m)$",
    r"$I_3$: $-Q\gamma_p(\gamma_p-\gamma_m)$",
    r"$I_4$: $-Q\gamma_p\gamma_m$",
    r"$I_5$: $Q\gamma_m(\gamma_p-\gamma_m)$",
]


def compute(n_rho: int, n_z: int, progress: bool = False):
    """The grid and the six integrals on it, shape (n_z, n_rho, 6)."""
    k_m = nia.wavenumber(K0, EPS_GROUND)
    rho = np.linspace(0.0, RHO_MAX, n_rho)
    z = np.linspace(0.0, Z_MAX, n_z)[:, None]
    six = nia.six_integrals(K0, k_m, rho, z, SOURCE_DEPTH, progress=progress)
    return rho, z[:, 0], six


def draw(path: str | Path, *, n_rho: int = 121, n_z: int = 41, progress: bool = False) -> Path:
    """Compute the maps and save them as a PNG at ``path``."""
    from matplotlib.figure import Figure   # no pyplot: no window, no global state

    rho, z, six = compute(n_rho, n_z, progress)
    fig = Figure(figsize=(13, 6.2), layout="constrained")
    axes = fig.subplots(2, 3, sharex=True, sharey=True)
    for c, ax in enumerate(axes.flat):
        db = 20 * np.log10(np.maximum(np.abs(six[..., c]), 1e-300))
        # the colour range leaves out the few points right over the source,
        # where the integrals peak, so that the far field keeps its contrast
        low, high = np.nanpercentile(db, [1.0, 99.0])
        mesh = ax.pcolormesh(rho, z, db, shading="gouraud", cmap="magma", vmin=low, vmax=high)
        fig.colorbar(mesh, ax=ax, label="dB")
        ax.set_title(CHANNELS[c], fontsize=10)
        if c >= 3:
            ax.set_xlabel(r"horizontal distance $k_0\rho$")
        if c % 3 == 0:
            ax.set_ylabel(r"height $k_0 z$")
    fig.suptitle(rf"Six interface integrals above wet ground, $\varepsilon_r$ = {EPS_GROUND}, "
                 rf"source at $k_0 z'$ = {SOURCE_DEPTH}")
    path = Path(path)
    fig.savefig(path, dpi=90)
    return path


def main(argv: list[str]) -> None:
    out = Path(argv[1]) if len(argv) > 1 else Path(__file__).with_name(
        "lossy_ground_channels.png")
    start = time.perf_counter()
    draw(out, progress=True)
    print(f"wrote {out} in {time.perf_counter() - start:.1f} s")


if __name__ == "__main__":
    main(sys.argv)
