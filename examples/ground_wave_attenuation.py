"""The ground wave: Norton's attenuation function from the package, next to
the classic asymptotic curve, and the 1/rho^2 law along a lossy interface.

Left: over a well-conducting ground, a vertical dipole on the surface gives
I_1 = 2 e^{-j k0 rho} F(p) / (k_m^2 rho) along the surface, with Norton's
attenuation function F(p) = 1 - j sqrt(pi p) e^{-p} erfc(j sqrt(p)) of the
numerical distance p = -j k0 rho Delta^2 / 2, Delta = sqrt(eps_r - 1) / eps_r
(exp(+j omega t) convention). The package's |F| = |k_m^2 rho I_1 / 2| for sea
water at 1 MHz, a good conductor and wet ground at 30 kHz, over k0 rho from 10
to 1e8, against the classic curve |F(p)| (lines): flat at 1 while p is
small, then falling like 1/(2 |p|).

Right: rho^2 |I_0| over lossy ground (eps_r = 4 - 1j), which settles on its
1/rho^2 law 2 k0 / |k0^2 - k_m^2| from k0 rho of a few hundred to 1e8.

    python examples/ground_wave_attenuation.py [output.png]

needs matplotlib (the package's `plot` extra) and mpmath (for the classic
curve), and writes examples/ground_wave_attenuation.png by default (2.7 s in a
run on two shared cores, plotting included).
"""
from __future__ import annotations

import cmath
import sys
from pathlib import Path

import numpy as np

import near_interface_accel as nia

K0 = 1.0
MEDIA = {
    "sea water, 1 MHz (81 - 7.19e4j)": 81 - 7.19e4j,
    "good conductor (1 - 1e4j)": 1 - 1e4j,
    "wet ground, 30 kHz (15 - 3e3j)": 15 - 3e3j,
}
LOSSY_GROUND = 4 - 1j


def norton(p: complex) -> complex:
    """Norton's attenuation function F(p) = 1 - j sqrt(pi p) e^{-p} erfc(j sqrt(p))."""
    import mpmath as mp
    return complex(1 - 1j * mp.sqrt(mp.pi * p) * mp.exp(-p) * mp.erfc(1j * mp.sqrt(p)))


def compute(n: int = 60):
    """|F| from the package and from Norton's formula against |p| per medium,
    and rho^2 |I_0| over lossy ground, on n distances from 10 to 1e8 / k0."""
    rho = np.geomspace(10.0, 1e8, n) / K0
    zero = np.zeros_like(rho)
    curves = {}
    for name, eps in MEDIA.items():
        k_m = nia.wavenumber(K0, eps)
        delta = cmath.sqrt(eps - 1) / eps
        p = -1j * K0 * rho * delta ** 2 / 2
        i_1 = nia.six_integrals(K0, k_m, rho, zero, zero)[:, 1]
        f_package = np.abs(k_m ** 2 * rho * i_1 / 2)
        f_classic = np.abs([norton(complex(q)) for q in p])
        curves[name] = (np.abs(p), f_package, f_classic)
    k_m = nia.wavenumber(K0, LOSSY_GROUND)
    i_0 = nia.six_integrals(K0, k_m, rho, zero, zero)[:, 0]
    law = 2 * K0 / abs(K0 ** 2 - k_m ** 2)
    return rho, curves, rho ** 2 * np.abs(i_0), law


def main(output: str | None = None) -> None:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rho, curves, ground, law = compute()
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2), constrained_layout=True)
    for (name, (p, f_package, f_classic)), colour in zip(curves.items(), ["C0", "C1", "C2"]):
        left.loglog(p, f_classic, "-", color=colour, lw=1.2)
        left.loglog(p, f_package, "o", color=colour, ms=3.5, label=name)
    left.set_xlabel("numerical distance |p|")
    left.set_ylabel("attenuation |F|")
    left.set_title("Norton's attenuation function: package (dots), classic (lines)")
    left.legend(fontsize=8, loc="lower left")
    left.grid(True, which="both", alpha=0.3)
    right.semilogx(K0 * rho, ground, "o-", ms=3, lw=1, label=r"$\rho^2 |I_0|$")
    right.axhline(law, color="k", ls="--", lw=1, label=r"$2k_0/|k_0^2-k_m^2|$")
    right.set_xlabel(r"$k_0\rho$")
    right.set_ylabel(r"$\rho^2 |I_0|$")
    right.set_title(r"lossy ground $\varepsilon_r = 4 - 1j$, $z = z' = 0$")
    right.legend(fontsize=8)
    right.grid(True, which="both", alpha=0.3)
    out = output or str(Path(__file__).with_name("ground_wave_attenuation.png"))
    fig.savefig(out, dpi=110)
    print(f"wrote {out}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
