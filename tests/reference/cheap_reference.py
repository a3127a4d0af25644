"""A cheap independent evaluation of the six interface integrals, in double
precision, for sweeps over many media and geometries.

It shares nothing with the compiled module but the definition of the
integrals: numpy arithmetic for the kernels, python-flint (arb, as a black
box) for J0 and for the Hankel functions, a contour of its own and an
adaptive Gauss-Legendre rule of its own.

The contour:

* a trapezoid through the upper half-plane from 0 to ``Lambda``, with a flat
  top of height ``min(0.3 Lambda, 5 / (rho + z - zp))`` (so that J0 and the
  vertical factor grow by at most about e**5 along it), where ``Lambda`` lies half as far again beyond the largest
  singularity: the branch points k_p and k_m and, on a plasmonic lower
  medium, the interface pole (the zero of k_m**2 gamma_p + k_p**2 gamma_m);
* from ``Lambda``, rays at +-60 degrees with J0 = (H0(1) + H0(2)) / 2, or
  for rho = 0 one ray at +30 degrees without a Bessel factor.

For a passive lower medium (Im k_m <= 0, Re k_m >= 0) the singularities lie
in the closed lower half-plane or in the left half-plane, so the trapezoid
is a legitimate deformation of the defining real-axis path (passing above
singularities on the axis), and the rays sweep no singularity because they
start beyond all of them. With ``tol`` 1e-12 the values agree with the
30-digit reference of ``interface_integrals.py`` to about 1e-12 of a row's
largest channel.
"""

from __future__ import annotations

import cmath
import math

import numpy as np

import flint

CHANNELS = 6
_GX, _GW = np.polynomial.legendre.leggauss(16)
_MAX_PANELS = 200_000
_TAIL_DECAY = 42.0
# (2/pi) i**(-n-1) and (2/pi) i**(n+1): H_n of the first and second kind from K_n
_HANKEL_FROM_K = ((2 / (math.pi * 1j), -2 / (math.pi * 1j)), (-2 / math.pi, -2 / math.pi))


def vertical_wavenumber(lam, k):
    """gamma(lambda; k), principal roots of i(k + lambda) and i(k - lambda)."""
    lam = np.asarray(lam, dtype=complex)
    k = complex(k)
    u = -(k.imag + lam.imag) + 1j * (k.real + lam.real)
    v = (lam.imag - k.imag) + 1j * (k.real - lam.real)
    return np.sqrt(u) * np.sqrt(v)


def kernels(lam, k_p, k_m, z, zp):
    """The six kernels at the points lam, shape (6, len(lam))."""
    gp = vertical_wavenumber(lam, k_p)
    gm = vertical_wavenumber(lam, k_m)
    n = 2 * lam * np.exp(zp * gm - z * gp)
    q = n / (k_m * k_m * gp + k_p * k_p * gm)
    k2 = q * (gp - gm)
    return np.array([n / (gp + gm), q, k2, -k2 * gp, -q * gp * gm, k2 * gm])


def _arb_value(w, fn, start=128):
    """fn at w from arb balls, raising the working precision until the ball
    is good to about 50 bits (arb's results are rigorous balls: at a low
    precision a ball can be wide and its midpoint meaningless)."""
    old = flint.ctx.prec
    try:
        for prec in (start, 2 * start, 4 * start):
            flint.ctx.prec = prec
            v = fn(flint.acb(complex(w)))
            if v.rel_accuracy_bits() >= 50 or v == 0:
                break
        return complex(v)
    finally:
        flint.ctx.prec = old


def _arb_values(points, fn, start=128):
    return np.array([_arb_value(w, fn, start) for w in points], dtype=complex)


def bessel_j0(w):
    # J0 grows at most like e**5 on the contour: 64 bits are nearly always enough
    return _arb_values(np.ravel(w), lambda a: a.bessel_j(0), 64)


def bessel_j(order, w):
    """J0 or J1 at the points w."""
    return _arb_values(np.ravel(w), lambda a: a.bessel_j(order), 64)


def hankel0(kind, w):
    """H0 of the first or second kind through K0 (DLMF 10.27.8)."""
    return hankel(0, kind, w)


def hankel(order, kind, w):
    """H_order (order 0 or 1) of the first or second kind through K_order
    (DLMF 10.27.8): H_n^(1)(w) = (2/pi) i**(-n-1) K_n(-i w) and
    H_n^(2)(w) = (2/pi) i**(n+1) K_n(i w)."""
    w = np.ravel(w)
    factor = _HANKEL_FROM_K[order][kind - 1]
    return factor * _arb_values(-1j * w if kind == 1 else 1j * w, lambda a: a.bessel_k(order))


def interface_pole(k_p, k_m):
    """The zero of k_m**2 gamma_p + k_p**2 gamma_m with Re >= 0, or None when
    it is not on the sheet of the kernel."""
    kp2, km2 = k_p * k_p, complex(k_m) ** 2
    if kp2 + km2 == 0:
        return None
    p = cmath.sqrt(kp2 * km2 / (kp2 + km2))
    tp = km2 * complex(vertical_wavenumber([p], k_p)[0])
    tm = kp2 * complex(vertical_wavenumber([p], k_m)[0])
    return p if abs(tp + tm) <= 1e-6 * (abs(tp) + abs(tm)) else None


def _adaptive(f, breaks, tol, channels=CHANNELS):
    """Integral of the channels of f(t) over the consecutive intervals of breaks.

    A panel is accepted when its 16-node estimate and the sum of its halves'
    differ by at most tol times the integral of the largest |f_c| over it."""
    total = np.zeros(channels, dtype=complex)
    work = [(a, b) for a, b in zip(breaks[:-1], breaks[1:]) if b != a]
    panels = 0

    def rule(a, b):
        h, m = 0.5 * (b - a), 0.5 * (a + b)
        v = f(m + h * _GX)
        return (v * _GW).sum(axis=1) * h, (np.abs(v).max(axis=0) * _GW).sum() * abs(h)

    est = {ab: rule(*ab) for ab in work}
    while work:
        nxt = []
        for a, b in work:
            whole, _ = est.pop((a, b))
            m = 0.5 * (a + b)
            (left, la), (right, ra) = rule(a, m), rule(m, b)
            panels += 1
            if (np.abs(left + right - whole).max() <= tol * (la + ra)
                    or panels > _MAX_PANELS or m in (a, b)):
                total += left + right
            else:
                est[(a, m)] = (left, la)
                est[(m, b)] = (right, ra)
                nxt += [(a, m), (m, b)]
        work = nxt
    return total


def _uniform(a, b, step):
    n = max(1, int(math.ceil(abs(b - a) / step)))
    return list(np.linspace(a, b, n + 1))


def integrals(k_p, k_m, rho, z, zp, tol=1e-12, height=None):
    """The six integrals I_0 ... I_5 at one triple, as a complex array.

    height sets the height of the trapezoid's top: a medium with singularities
    above the real axis (a negative-index lower medium puts the branch point
    -k_m there, and may put the surface-wave pole there) needs a top below
    them, as the defining real-axis path passes below them."""
    k_p, k_m = float(k_p), complex(k_m)

    def values(lam, factor):
        v = kernels(lam, k_p, k_m, z, zp)
        return v if factor is None else v * factor(0)

    return contour_integrals(values, CHANNELS, k_p, k_m, rho, z, zp, tol, height)


def contour_integrals(values, channels, k_p, k_m, rho, z, zp, tol=1e-12, height=None):
    """Integrals of ``channels`` kernels against Bessel-type factors at one
    triple, along the contour of this module.

    ``values(lam, factor)`` returns the integrands at the points lam, shape
    (channels, len(lam)): the kernels times their factors, where
    ``factor(order)`` gives J_order(rho lam) on the trapezoid and
    H_order^(kind)(rho lam) / 2 on the rays (order 0 or 1). For rho = 0 the
    factor is None: the trapezoid and the single ray carry no Bessel factor
    (J0(0) = 1, J1(0) = 0, and J1(rho lam)/rho tends to lam/2)."""
    dz = z - zp
    marks = [k_p, abs(k_m.real)]
    scale = max(k_p, abs(k_m))
    p = interface_pole(k_p, k_m)
    if p is not None:
        marks.append(p.real)
        scale = max(scale, abs(p))
    big = 1.5 * scale + 0.5
    if height is None:
        # J0 and the vertical factor grow by at most about e**5 along the top
        height = min(0.3 * big, 5.0 / (rho + dz))
    # about a quarter of an oscillation of J0 or of the vertical factor per panel
    step = min(big / 8, 1.5 / (rho + dz))
    left = 0.5 * min(m for m in marks if m > 0) if any(m > 0 for m in marks) else 0.25 * big
    left = min(left, 0.25 * big)
    right = 0.5 * (max(marks) + big)
    corners = [0.0, complex(left, height), complex(right, height), complex(big, 0.0)]
    total = np.zeros(channels, dtype=complex)
    for c0, c1 in zip(corners[:-1], corners[1:]):
        d = c1 - c0

        def f(t, c0=c0, d=d):
            lam = c0 + t * d
            if rho == 0:
                return values(lam, None) * d
            w = rho * lam
            return values(lam, lambda order, w=w: bessel_j(order, w)) * d

        total += _adaptive(f, _uniform(0.0, 1.0, step / abs(d)), tol, channels)

    if rho == 0:
        rays = [(math.radians(30.0), None)]
    else:
        rays = [(math.radians(60.0), 1), (math.radians(-60.0), 2)]
    for theta, kind in rays:
        d = cmath.exp(1j * theta)
        rate = rho * abs(math.sin(theta)) + dz * math.cos(theta)
        phase = rho * math.cos(theta) + dz * abs(math.sin(theta))
        length = (_TAIL_DECAY + 4.0 * math.log(2.0 + big + _TAIL_DECAY / rate)) / rate
        first = min(0.25 / rate, 1.0 / (phase + 1e-300), 0.05 * big)
        pts = [0.0]
        t = first
        while t < length:
            pts.append(t)
            t = min(2 * t, t + 1.0 / (phase + 1e-300), t + 2.0 / rate)
        pts.append(length)

        def f(t, d=d, kind=kind):
            lam = big + t * d
            if kind is None:
                return values(lam, None) * d
            w = rho * lam
            return values(lam, lambda order, w=w: 0.5 * hankel(order, kind, w)) * d

        total += _adaptive(f, pts, tol, channels)
    return total
