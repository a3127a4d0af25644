"""Six Sommerfeld-type integrals over a lossy half-space.

A source just below the interface (zp = -0.1) in a lossy ground with relative
permittivity 4 - 1j, fields observed in the air above it (z >= 0), on a small
grid of horizontal distances and heights. Wavenumbers are in units of the free
space wavenumber (k_p = 1), lengths in units of 1/k_p (a wavelength is 2 pi).
"""
import time

import numpy as np

import near_interface_accel as nia

RTOL = 1e-8


def main():
    k_p = 1.0                                   # air above the interface
    k_m = nia.wavenumber(1.0, eps_r=4 - 1j)     # lossy ground: Im k_m < 0
    rho = np.array([0.0, 0.5, 2.0, 10.0])[:, None]
    z = np.array([0.25, 1.0, 4.0])
    zp = -0.1

    start = time.perf_counter()
    six = nia.six_integrals(k_p, k_m, rho, z, zp, rtol=RTOL)   # shape (4, 3, 6)
    elapsed = time.perf_counter() - start

    print(f"upper medium k_p = {k_p}, lower medium k_m = {k_m:.6f} (eps_r = 4 - 1j)")
    print(f"source height zp = {zp}; {six.shape[0] * six.shape[1]} points in "
          f"{elapsed * 1e3:.1f} ms (rtol {RTOL:g}, 8 Gauss nodes)")
    print("lengths in units of 1/k_p; I0, I3, I4, I5 have the dimension 1/length, I1 length, "
          "I2 none (the kernels: docs/physics.rst)")
    # channels 3 and 5 follow from 0 and 1: I0 + I3 = k_p^2 I1, I0 + I5 = k_m^2 I1
    worst = max(np.abs(six[..., 0] + six[..., 3] - k_p**2 * six[..., 1]).max(),
                np.abs(six[..., 0] + six[..., 5] - k_m**2 * six[..., 1]).max())
    print(f"check: I0 + I3 = k_p^2 I1 and I0 + I5 = k_m^2 I1 hold to {worst:.1e}")
    for first in (0, 3):
        print()
        header = "".join(f"{'I' + str(c):>27}" for c in range(first, first + 3))
        print(f"{'rho':>6} {'z':>6}{header}")
        for i, r in enumerate(rho[:, 0]):
            for j, h in enumerate(z):
                cells = "".join(f"   {v.real:+.5e} {v.imag:+.5e}j"
                                for v in six[i, j, first:first + 3])
                print(f"{r:6.2f} {h:6.2f}{cells}")


if __name__ == "__main__":
    main()
