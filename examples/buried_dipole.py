"""The field in the air above dipoles buried in the ground.

A vertical current element of moment I dl = 1 A m sits 2 m deep in wet
ground (eps_r 20, 0.01 S/m) at 10 MHz; the field points are 1 m above the
surface. ``dipole_field`` gives every Cartesian component of E (V/m) and H
(A/m) from spectral integrals evaluated directly (the user guide derives
them); along the line y = 0, E_x is E_rho and H_y is H_phi. The same dipole in
free space (both media air) is printed beside it.

A second table shows the four dipoles the call covers at one point: the
vertical and the horizontal current element, and the small loops (moment
I A = 1 A m^2) with vertical and horizontal normals.

    python examples/buried_dipole.py
"""
from __future__ import annotations

import numpy as np
from numpy.typing import NDArray

import near_interface_accel as nia


def vertical_dipole_line(upper: nia.Medium, lower: nia.Medium, rho: NDArray[np.float64],
                         z: float, zp: float
                         ) -> tuple[NDArray[np.complex128], NDArray[np.complex128],
                                    NDArray[np.complex128]]:
    """E_rho, E_z (V/m) and H_phi (A/m) of a vertical current element of 1 A m
    at height zp, at horizontal distances rho and height z (metres)."""
    e, h = nia.dipole_field(upper, lower, rho, 0.0, z, zp, source="electric",
                            direction=(0, 0, 1), moment=1.0, rtol=1e-10)
    return e[:, 0], e[:, 2], h[:, 1]


def main() -> None:
    f = 10e6
    air, ground = nia.medium(f), nia.medium(f, eps_r=20, sigma=0.01)
    zp, z = -2.0, 1.0
    rho = np.array([0.0, 2.0, 5.0, 10.0, 20.0, 50.0])
    e_rho, e_z, h_phi = vertical_dipole_line(air, ground, rho, z, zp)
    _, free_z, free_phi = vertical_dipole_line(air, air, rho, z, zp)
    print(f"vertical electric dipole, 1 A m, {f / 1e6:g} MHz, {-zp:g} m deep in ground "
          f"(eps_r 20, 0.01 S/m, k_m = {ground.k:.4f} 1/m); field {z:g} m above the surface")
    print(f"{'rho/m':>6} {'|E_rho| V/m':>12} {'|E_z| V/m':>12} {'|H_phi| A/m':>12}"
          f"   {'free space: |E_z|':>17} {'|H_phi|':>10}")
    for i, r in enumerate(rho):
        print(f"{r:6.1f} {abs(e_rho[i]):12.4e} {abs(e_z[i]):12.4e} {abs(h_phi[i]):12.4e}"
              f"   {abs(free_z[i]):17.4e} {abs(free_phi[i]):10.4e}")

    x, y = 5.0, 2.0
    print()
    print(f"four dipoles at the same depth, field at x = {x:g} m, y = {y:g} m, z = {z:g} m")
    print(f"{'dipole':>22} {'|E_x|':>10} {'|E_y|':>10} {'|E_z|':>10} {'|H_x|':>10} "
          f"{'|H_y|':>10} {'|H_z|':>10}")
    for name, source, direction in [("current element, z", "electric", (0, 0, 1)),
                                    ("current element, x", "electric", (1, 0, 0)),
                                    ("loop, normal z", "magnetic", (0, 0, 1)),
                                    ("loop, normal x", "magnetic", (1, 0, 0))]:
        e, h = nia.dipole_field(air, ground, x, y, z, zp, source=source, direction=direction,
                                rtol=1e-10)
        cells = " ".join(f"{abs(v):10.3e}" for v in (*e, *h))
        print(f"{name:>22} {cells}")


if __name__ == "__main__":
    main()
