"""Six Sommerfeld-type integrals over a lossy half-space.

A source just below the interface (zp <= 0) in a lossy ground with relative
permittivity 4 - 1j, fields observed in the air above it (z >= 0), on a small
grid of horizontal distances and heights. Wavenumbers are in units of the free
space wavenumber (k_p = 1), lengths in units of 1/k_p.
"""
import cmath
import time

import numpy as np

from _near_interface_accel import near_interface_six_batch

K_P = 1.0                                # air above the interface
K_M = K_P * cmath.sqrt(4.0 - 1.0j)       # lossy ground: Im k_m < 0, fields decay downwards
RTOL = 1e-8
GX, GW = np.polynomial.legendre.leggauss(8)


def main():
    rho = np.repeat([0.0, 0.5, 2.0, 10.0], 3)
    z = np.tile([0.25, 1.0, 4.0], 4)
    zp = np.full_like(z, -0.1)

    start = time.perf_counter()
    six = near_interface_six_batch(K_P, K_M, rho, z, zp, RTOL, 10.0, 20, 0.1, GX, GW)
    elapsed = time.perf_counter() - start

    print(f"lower medium k_m = {K_M:.6f}, upper k_p = {K_P}, source height zp = {zp[0]}")
    print(f"{len(rho)} triples in {elapsed * 1e3:.1f} ms (rtol {RTOL:g}, 8 Gauss nodes)\n")
    print(f"{'rho':>6} {'z':>6}  " + "  ".join(f"{'I' + str(c):>24}" for c in range(6)))
    for r, h, row in zip(rho, z, six):
        cells = "  ".join(f"{v.real:+.4e}{v.imag:+.4e}j" for v in row)
        print(f"{r:6.2f} {h:6.2f}  {cells}")


if __name__ == "__main__":
    main()
