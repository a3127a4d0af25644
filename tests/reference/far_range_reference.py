"""Arbitrary-precision values of the six interface integrals at large rho.

The defining integral I_c = int_0^inf K_c(lambda) J0(rho lambda) dlambda
(passing above singularities on the positive real axis) is rewritten over the
whole real axis with the Hankel function of the second kind,

    I_c = 1/2 int_R K_c(lambda) H0(2)(rho lambda) dlambda,

the path passing below the origin and below the singularities of the negative
axis (K_c is odd in lambda and H0(2)(u e^{-i pi}) = -H0(1)(u), DLMF 10.11.5).
Pushed into the lower half-plane, where H0(2)(rho lambda) decays like
exp(rho Im lambda), the path wraps around the vertical branch cuts that fall
from k_p and from k_m, and leaves behind -2 pi i times the residues of the
poles of the kernel's sheet that it sweeps (the surface-wave pole of a
plasmonic lower medium, where the defining path passes above it).

This module evaluates that representation with mpmath and python-flint as
black boxes, apart from the compiled code and in a parametrisation of its
own:

* each cut integral runs over s in lambda = b - i s (s >= 0) with mpmath's
  tanh-sinh rule, on intervals graded in units of 1/rho;
* the two sides of a cut are told apart by the kernel's own principal square
  roots evaluated a hair (1e-40 of the scale) to either side of the cut;
* the Hankel factor comes from arb's K0 (DLMF 10.27.8), with the product
  b rho formed exactly from the double inputs;
* the residue is the analytic one, N_c / D'(lambda_p), at a pole found to the
  working precision by mpmath's root finder.

With ``check`` the module compares itself with the J0-form reference of
``interface_integrals.py`` at moderate rho.
"""

from __future__ import annotations

import mpmath as mp

import flint

#: Working precision (decimal digits).
WORKING_DPS = 32
CHANNELS = 6
# A pole of the lower medium's sheet lies on the real axis when its imaginary
# part is this small against its modulus (lossless media).
_AXIS_TOLERANCE = mp.mpf("1e-12")


def _mpc(x):
    return mp.mpc(complex(x).real, complex(x).imag)


def vertical_wavenumber(lam, k):
    """gamma = sqrt(i (k + lambda)) sqrt(i (k - lambda)), principal roots."""
    return mp.sqrt(1j * (k + lam)) * mp.sqrt(1j * (k - lam))


def kernel_values(lam, gp, gm, k_p, k_m, z, zp):
    """The six kernels at lambda from the vertical wavenumbers gp, gm."""
    n = 2 * lam * mp.exp(zp * gm - z * gp)
    d = k_m ** 2 * gp + k_p ** 2 * gm
    q = n / d
    k2 = q * (gp - gm)
    return [n / (gp + gm), q, k2, -k2 * gp, -q * gp * gm, k2 * gm]


def _acb(x):
    return flint.acb(flint.arb(mp.nstr(mp.re(x), WORKING_DPS + 5)),
                     flint.arb(mp.nstr(mp.im(x), WORKING_DPS + 5)))


def hankel2(order, w):
    """H_order^(2)(w) from K (DLMF 10.27.8): (2i/pi) e^{i order pi/2} K(i w).

    arb's balls are rigorous but may be wide (near |w| = 40 on the real axis
    of i w, K keeps only some 20 bits at 146): the precision is raised until
    the ball holds the working precision."""
    old = flint.ctx.prec
    target = int(WORKING_DPS * 3.33) + 8
    try:
        for prec in (target + 32, 2 * target + 64, 4 * target + 128, 8 * target + 256):
            flint.ctx.prec = prec
            kv = _acb(1j * w).bessel_k(order)
            if kv.rel_accuracy_bits() >= target:
                break
        else:
            raise ArithmeticError(f"K_{order}({complex(1j * w)}) not resolved")
        val = mp.mpc(mp.mpf(kv.real.mid().str(WORKING_DPS + 5, radius=False)),
                     mp.mpf(kv.imag.mid().str(WORKING_DPS + 5, radius=False)))
    finally:
        flint.ctx.prec = old
    return 2j / mp.pi * (1j) ** order * val


def _side_gammas(lam, medium, k_p, k_m, side):
    """gp, gm a hair to the left (side -1) or right (+1) of the cut falling
    from medium's branch point, both from the principal roots."""
    eps = mp.mpf(10) ** (-WORKING_DPS) * (abs(k_p) + abs(k_m))
    lam_side = lam + side * eps
    gp = vertical_wavenumber(lam_side, k_p)
    gm = vertical_wavenumber(lam_side, k_m)
    # the other medium's wavenumber is continuous there: take it at lambda itself
    if medium == "p":
        gm = vertical_wavenumber(lam, k_m)
    else:
        gp = vertical_wavenumber(lam, k_p)
    return gp, gm


def cut_integral(medium, k_p, k_m, rho, z, zp, order=0):
    """The contribution of the cut falling from k_p ('p') or k_m ('m'):
    1/2 times the integral of K H(2)(rho lambda) up the left side of the cut
    (from -i infinity to the branch point) and back down its right side."""
    b = k_p if medium == "p" else k_m
    # e^{-i b rho} with b rho formed exactly from the doubles
    phase = mp.exp(-1j * b * rho)
    if abs(phase) < mp.mpf("1e-400"):
        return [mp.mpc(0)] * CHANNELS, [mp.mpf(0)] * CHANNELS

    def integrand(s, c):
        lam = b - 1j * s
        left = kernel_values(lam, *_side_gammas(lam, medium, k_p, k_m, -1), k_p, k_m, z, zp)
        right = kernel_values(lam, *_side_gammas(lam, medium, k_p, k_m, +1), k_p, k_m, z, zp)
        # H(2)(rho lambda) e^{i b rho}: the constant phase is put back at the end
        h = hankel2(order, rho * lam) / phase
        return [(left[j] - right[j]) * h for j in range(CHANNELS)]

    cache = {}

    def channel(c):
        def f(s):
            key = mp.nstr(s, WORKING_DPS)
            if key not in cache:
                cache[key] = integrand(s, c)
            return cache[key][c]
        return f

    errors = []
    u = 1 / mp.mpf(rho)
    # graded towards the branch point, where a pole of the other sheet close
    # to it (a good conductor's) puts structure far inside the decay length
    points = [u * mp.mpf(4) ** j for j in range(-12, 4)]
    # and around the zeros of k_m^2 gamma_p + k_p^2 gamma_m on either sheet
    # (lambda = +-lambda_z) that lie next to the cut: lambda = b - i s0
    lam_z = mp.sqrt(k_p ** 2 * k_m ** 2 / (k_p ** 2 + k_m ** 2))
    for q in (lam_z, -lam_z):
        s0 = 1j * (q - b)
        if mp.re(s0) > 0 and abs(mp.im(s0)) < mp.re(s0):
            d = abs(mp.im(s0))
            points += [mp.re(s0) + f * d for f in (-100, -10, -1, 0, 1, 10, 100)]
    points = [0] + sorted(set(x for x in points if x > 0)) + [mp.inf]
    # mpmath's quadrature stops on an absolute error of about 10^-dps: each
    # channel is scaled to order one first (deep sources under a conductor
    # make the integrand some 1e-60 in size)
    samples = [integrand(x, 0) for x in (u / 16, u, 4 * u)]
    out = []
    for c in range(CHANNELS):
        scale = max(abs(v[c]) for v in samples)
        if scale == 0:
            scale = mp.mpf(1)
        f = channel(c)
        # up the left side, down the right one (dlambda = -i ds): i int (f_L - f_R) ds
        val, err = mp.quad(lambda x, f=f, scale=scale: f(x) / scale, points, error=True)
        out.append(0.5j * val * scale * phase)
        errors.append(0.5 * err * scale * abs(phase))
    return out, errors


def interface_pole(k_p, k_m):
    """The zeros +-lambda_p of k_m^2 gamma_p + k_p^2 gamma_m that lie on the
    kernel's sheet (a list, possibly empty)."""
    p0 = mp.sqrt(k_p ** 2 * k_m ** 2 / (k_p ** 2 + k_m ** 2))
    found = []
    for q in (p0, -p0):
        d = k_m ** 2 * vertical_wavenumber(q, k_p) + k_p ** 2 * vertical_wavenumber(q, k_m)
        if abs(d) <= mp.mpf("1e-20") * (abs(k_m ** 2) + abs(k_p ** 2)) * abs(q):
            found.append(q)
    return found


def pole_term(k_p, k_m, rho, z, zp, order=0):
    """-2 pi i times the residues of 1/2 K H(2)(rho lambda) at the poles the
    deformation sweeps: those in the open lower half-plane, and one on the
    positive real axis (the defining path passes above it)."""
    total = [mp.mpc(0)] * CHANNELS
    for q in interface_pole(k_p, k_m):
        on_axis = abs(mp.im(q)) <= _AXIS_TOLERANCE * abs(q)
        if not (mp.im(q) < 0 and not on_axis) and not (on_axis and mp.re(q) > 0):
            continue
        gp, gm = vertical_wavenumber(q, k_p), vertical_wavenumber(q, k_m)
        n = 2 * q * mp.exp(zp * gm - z * gp)
        d_prime = k_m ** 2 * q / gp + k_p ** 2 * q / gm
        r1 = n / d_prime
        res = [mp.mpc(0), r1, r1 * (gp - gm), -r1 * (gp - gm) * gp, -r1 * gp * gm,
               r1 * (gp - gm) * gm]
        h = hankel2(order, rho * q)
        total = [t + (-1j * mp.pi) * r * h for t, r in zip(total, res)]
    return total


def far_row(k_p, k_m, rho, z, zp, with_error=False):
    """The six integrals at one triple from the cut integrals and the pole;
    with_error also returns the quadrature's error estimate, the largest over
    channels, relative to the row's largest channel."""
    with mp.workdps(WORKING_DPS):
        kp, km = mp.mpf(float(k_p)), _mpc(k_m)
        rho, z, zp = mp.mpf(float(rho)), mp.mpf(float(z)), mp.mpf(float(zp))
        upper, e_upper = cut_integral("p", kp, km, rho, z, zp)
        lower, e_lower = cut_integral("m", kp, km, rho, z, zp)
        pole = pole_term(kp, km, rho, z, zp)
        row = [upper[c] + lower[c] + pole[c] for c in range(CHANNELS)]
        values = [complex(v) for v in row]
        if not with_error:
            return values
        scale = max(abs(v) for v in row)
        err = max(e_upper[c] + e_lower[c] for c in range(CHANNELS))
        return values, float(err / scale) if scale != 0 else float(err)


def check(rho=20.0):
    """Compare with the J0-form reference of interface_integrals.py at
    moderate rho (lossy ground, and a lossy plasmonic medium with its pole):
    the largest channel difference relative to the row's largest channel."""
    import sys
    from pathlib import Path
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    import interface_integrals

    worst = 0.0
    for k_m, z, zp in [(2.015329455153383 - 0.24809839340235612j, 0.5, -0.3),
                       (0.03534430258244299 - 1.4146551592967946j, 0.1, -0.1)]:
        a = far_row(1.0, k_m, rho, z, zp)
        b = interface_integrals.reference_row(1.0, k_m, rho, z, zp)["values"]
        scale = max(abs(v) for v in b)
        worst = max(worst, max(abs(x - y) for x, y in zip(a, b)) / scale)
    return worst


if __name__ == "__main__":
    print(f"far form against the J0 form at rho = 20: {check():.2e}")
