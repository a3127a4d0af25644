"""Arbitrary-precision values of the six interface integrals.

For a field point at height ``z >= 0`` above a planar interface, a source at
height ``zp <= 0`` below it and a horizontal distance ``rho``, the six
integrals are

    I_c(rho, z, zp) = integral over lambda from 0 to infinity of K_c(lambda) J0(rho lambda),

taken along a path that passes above the branch points on the positive real
axis.  Where the real-axis integral does not converge (z = zp = 0, where K_4
grows like lambda**2) the value is the analytic continuation obtained by
turning the tail into the complex plane with J0 = (H0(1) + H0(2)) / 2: the
first-kind half on a ray into the upper half-plane, the second-kind half on
the mirrored ray into the lower half-plane.

This module is an independent oracle for the compiled module's accuracy
tests.  It uses mpmath only, and its own contours:

* contour "A": an elliptic arc from 0 to ``Lambda_A = 1.5 k_max + 0.5`` through
  the upper half-plane, then rays at +-30 degrees (for rho = 0: the real axis);
* contour "B": a trapezoid from 0 to ``Lambda_B = 2.5 k_max + 1`` with a flat top
  above every branch point, then rays at +-60 degrees (for rho = 0: one ray at
  +30 degrees, no Bessel factor).

Both contours are legitimate deformations of the defining path.  With the
vertical wavenumber written as gamma = sqrt(i(k + lambda)) sqrt(i(k - lambda))
the branch cuts rise vertically from -k and fall vertically from +k, so the
open first quadrant is free of cuts, and the interface pole (the zero of
k_m**2 gamma_p + k_p**2 gamma_m) lies in the fourth quadrant to the left of
Re k_p, if it is on this sheet at all.  The rays start to the right of both
falling cuts, so the wedges they sweep out contain no singularity.

The Hankel factors on the rays come from the modified Bessel function K0
(DLMF 10.27.8):

    H0(1)(w) = 2 / (pi i) K0(-i w),   -pi/2 < arg w <= pi
    H0(2)(w) = -2 / (pi i) K0(i w),   -pi <= arg w < pi/2

which avoids the cancellation of J0 + i Y0 in the complex plane.
"""

import math

import mpmath as mp
from mpmath.calculus.quadrature import GaussLegendre

try:  # arb's K0 is much faster than mpmath's at moderate complex arguments
    import flint
except ImportError:  # pragma: no cover - mpmath alone gives the same values
    flint = None

#: Working precision (decimal digits) of every evaluation in this module.
WORKING_DPS = 30

CHANNELS = 6

# Relative tolerance of one panel against the integral of |f| over it,
# applied to the difference of the 24- and 48-node rules.
_PANEL_TOL = mp.mpf("1e-20")
# mpmath's Gauss-Legendre degrees: 3 * 2**(degree - 1) nodes.
_LO_LEVEL = 4
_HI_LEVEL = 5
# Halvings allowed below one of the panels set up by the contour.
_MAX_SPLITS = 12
# Tail rays stop where the integrand has decayed by e**-_TAIL_DECAY.
_TAIL_DECAY = 95

_gauss_legendre = GaussLegendre(mp.mp)


def vertical_wavenumber(lam, k):
    """gamma(lambda; k) with cuts rising from -k and falling from +k."""
    return mp.sqrt(1j * (k + lam)) * mp.sqrt(1j * (k - lam))


def kernel(lam, k_p, k_m, z, zp):
    """The six interface kernels K_0 ... K_5 at one complex lambda."""
    gp = vertical_wavenumber(lam, k_p)
    gm = vertical_wavenumber(lam, k_m)
    n = 2 * lam * mp.exp(zp * gm - z * gp)
    k0 = n / (gp + gm)
    q = n / (k_m * k_m * gp + k_p * k_p * gm)
    k2 = q * (gp - gm)
    return (k0, q, k2, -k2 * gp, -q * gp * gm, k2 * gm)


def field_kernels(source, lam, k_p, k_m, z, zp):
    """The kernels of the field integrals (the columns of
    _near_interface_ext.dipole_field_batch) at one complex lambda."""
    gp = vertical_wavenumber(lam, k_p)
    gm = vertical_wavenumber(lam, k_m)
    n = 2 * lam * mp.exp(zp * gm - z * gp)
    k0 = n / (gp + gm)
    q = n / (k_m * k_m * gp + k_p * k_p * gm)
    k2 = q * (gp - gm)
    if source == "electric":
        return (lam * lam * q, lam * gp * q, k_p * lam * q, k0, lam * q, lam * gm * q,
                gp * k0 / k_p, lam * lam * k2 / k_p, lam * k2 / k_p, lam * k0 / k_p)
    d = k_m * k_m * q - gp * k2
    return (lam * lam * k0, lam * gp * k0, k_p * lam * k0, k_p * k_p * k_m * k_m * q,
            lam * lam * d, lam * d, lam * (k_p * k_p * k2 - gp * d), k_p * k_m * k_m * gp * q,
            k_p * lam * lam * k2, k_p * lam * k2, k_p * k_m * k_m * lam * q)


#: Each field column's Bessel-type factor: order 0, order 1, or order 1 over rho.
FIELD_FACTORS = {
    "electric": ("j0", "j1", "j1", "j0", "j1/rho", "j1", "j0", "j0", "j1/rho", "j1"),
    "magnetic": ("j0", "j1", "j1", "j0", "j0", "j1/rho", "j1", "j0", "j0", "j1/rho", "j1"),
}


def _besselk0_flint(x, order=0):
    """K_order(x) from arb balls, raising the precision until 100 bits are sure."""
    old = flint.ctx.prec
    try:
        for prec in (mp.mp.prec + 40, 2 * mp.mp.prec + 80, 4 * mp.mp.prec + 160):
            flint.ctx.prec = prec
            a = flint.acb(flint.arb(mp.nstr(x.real, 45)), flint.arb(mp.nstr(x.imag, 45)))
            v = a.bessel_k(order)
            if v.rel_accuracy_bits() >= mp.mp.prec + 10:
                break
        else:
            return mp.besselk(order, x)
        return mp.mpc(v.real.mid().str(45, radius=False), v.imag.mid().str(45, radius=False))
    finally:
        flint.ctx.prec = old


def besselk0(x):
    """K0(x), principal branch; python-flint when present, else mpmath."""
    if flint is not None:
        return _besselk0_flint(mp.mpc(x))
    return mp.besselk(0, x)


def _besselj_flint(order, x):
    """J_order(x) from arb balls, raising the precision until the working
    precision plus ten bits are sure (J grows off the real axis and cancels
    near its zeros, so the first precision may not do)."""
    old = flint.ctx.prec
    try:
        for prec in (mp.mp.prec + 40, 2 * mp.mp.prec + 80, 4 * mp.mp.prec + 160):
            flint.ctx.prec = prec
            a = flint.acb(flint.arb(mp.nstr(x.real, 45)), flint.arb(mp.nstr(x.imag, 45)))
            v = a.bessel_j(order)
            if v.rel_accuracy_bits() >= mp.mp.prec + 10:
                break
        else:
            return mp.besselj(order, x)
        return mp.mpc(v.real.mid().str(45, radius=False), v.imag.mid().str(45, radius=False))
    finally:
        flint.ctx.prec = old


def besselj(order, x):
    """J0 or J1 of complex x; python-flint when present (much faster than
    mpmath at large arguments), else mpmath."""
    if flint is not None:
        return _besselj_flint(order, mp.mpc(x))
    return mp.besselj(order, x)


def besselk1(x):
    """K1(x), principal branch; python-flint when present, else mpmath."""
    if flint is not None:
        return _besselk0_flint(mp.mpc(x), 1)
    return mp.besselk(1, x)


def hankel1_first(w):
    """H1(1)(w) = -(2/pi) K1(-i w) (DLMF 10.27.8)."""
    return -2 / mp.pi * besselk1(-1j * w)


def hankel1_second(w):
    """H1(2)(w) = -(2/pi) K1(i w) (DLMF 10.27.8)."""
    return -2 / mp.pi * besselk1(1j * w)


def hankel0_first(w):
    """H0(1)(w) for -pi/2 < arg w <= pi, through K0 (DLMF 10.27.8)."""
    return 2 / (mp.pi * 1j) * besselk0(-1j * w)


def hankel0_second(w):
    """H0(2)(w) for -pi <= arg w < pi/2, through K0 (DLMF 10.27.8)."""
    return -2 / (mp.pi * 1j) * besselk0(1j * w)


# ---------------------------------------------------------------------------
# Six-channel quadrature


def _panel(f, a, b, prec):
    """Gauss-Legendre estimates of 24 and 48 nodes on [a, b] of a six-valued f.

    Returns (integrals, integral of the largest |f_c|, converged).  The
    difference of the two rules bounds the error of the coarse one; the fine
    one, which is returned, is then good to about twice as many digits."""
    half = (b - a) / 2
    mid = (b + a) / 2
    results = []
    abs_sum = mp.mpf(0)
    for level in (_LO_LEVEL, _HI_LEVEL):
        sums = None
        abs_sum = mp.mpf(0)
        for x, w in _gauss_legendre.get_nodes(-1, 1, level, prec):
            v = f(mid + half * x)
            if sums is None:
                sums = [mp.mpc(0)] * len(v)
            for c in range(len(v)):
                sums[c] += w * v[c]
            abs_sum += w * max(abs(x_) for x_ in v)
        results.append([s_ * half for s_ in sums])
    lo, hi = results
    abs_int = abs_sum * abs(half)
    diff = max(abs(hi[c] - lo[c]) for c in range(len(hi)))
    return hi, abs_int, bool(diff <= _PANEL_TOL * abs_int)


def _adaptive(f, a, b, prec, splits, stats):
    vals, absint, ok = _panel(f, a, b, prec)
    if ok or splits <= 0:
        if not ok:
            stats["unconverged"] += 1
        stats["panels"] += 1
        return vals, absint
    m = (a + b) / 2
    lv, la = _adaptive(f, a, m, prec, splits - 1, stats)
    rv, ra = _adaptive(f, m, b, prec, splits - 1, stats)
    return [lv[c] + rv[c] for c in range(len(lv))], la + ra


def _integrate(f, breaks, stats, channels=CHANNELS):
    """Integral of the channels of f(t) over the sorted real break points."""
    prec = mp.mp.prec
    total = [mp.mpc(0)] * channels
    for a, b in zip(breaks[:-1], breaks[1:]):
        if b <= a:
            continue
        vals, _ = _adaptive(f, mp.mpf(a), mp.mpf(b), prec, _MAX_SPLITS, stats)
        total = [total[c] + vals[c] for c in range(channels)]
    return total


def _uniform(a, b, step):
    n = max(1, int(math.ceil((b - a) / step)))
    return [a + (b - a) * j / n for j in range(n + 1)]


def _graded(centre, first, lo, hi):
    """Break points centre +- first * 2**j inside (lo, hi)."""
    pts = []
    d = first
    while centre - d > lo or centre + d < hi:
        for p in (centre - d, centre + d):
            if lo < p < hi:
                pts.append(p)
        d *= 2
    return pts


def _merge(points, lo, hi):
    pts = sorted(set([lo, hi] + [p for p in points if lo < p < hi]))
    out = [pts[0]]
    for p in pts[1:]:
        if p - out[-1] > 1e-9 * (hi - lo):
            out.append(p)
    out[-1] = hi
    return out


# ---------------------------------------------------------------------------
# Contours


class Contour:
    """Geometry of one integration contour for one triple."""

    def __init__(self, name, tail_start, shape, height, ray_degrees):
        self.name = name
        self.tail_start = tail_start
        self.shape = shape
        self.height = height
        self.ray_degrees = ray_degrees

    def describe(self):
        return {
            "tail_start": self.tail_start,
            "detour": self.shape,
            "height": self.height,
            "ray_degrees": self.ray_degrees,
        }


def contour_for(name, k_p, k_m, rho):
    """Contour "A" or "B" for the given media and horizontal distance."""
    k_max = max(k_p, abs(k_m))
    if name == "A":
        tail_start = 1.5 * k_max + 0.5
        height = 0.5 * tail_start if rho == 0 else min(0.5 * tail_start, 5.0 / rho)
        return Contour("A", tail_start, "ellipse", height, 0.0 if rho == 0 else 30.0)
    if name == "B":
        tail_start = 2.5 * k_max + 1.0
        height = 0.25 * tail_start if rho == 0 else min(0.3 * tail_start, 10.0 / rho)
        return Contour("B", tail_start, "trapezoid", height, 30.0 if rho == 0 else 60.0)
    raise ValueError("unknown contour %r" % (name,))


def _branch_abscissae(k_p, k_m):
    return sorted({float(k_p), float(abs(complex(k_m).real))})


def _detour_pieces(contour, k_p, k_m, rho, dz):
    """(lambda(t), dlambda/dt, break points) for each piece of the detour."""
    big = contour.tail_start
    h = contour.height
    branch = _branch_abscissae(k_p, k_m)
    # Phase of J0(rho lambda) and of the vertical factor along the detour.
    step = min(big / 6.0, math.pi / (rho + dz * max(k_p, abs(k_m)) / big + 1.0) * 0.75)
    pieces = []
    if contour.shape == "ellipse":
        # lambda = big/2 (1 - cos(pi s)) + i h sin(pi s), s from 0 to 1; s
        # rather than the angle keeps both ends exact in mpmath.
        def lam(s):
            return big / 2 * (1 - mp.cospi(s)) + 1j * h * mp.sinpi(s)

        def dlam(s):
            return mp.pi * (big / 2 * mp.sinpi(s) + 1j * h * mp.cospi(s))

        # Arc length per unit s is at most pi * max(big/2, h).
        breaks = _uniform(0.0, 1.0, step / (math.pi * max(big / 2, h)))
        for b in branch:
            phi = math.acos(1 - 2 * b / big)
            speed = math.pi * math.hypot(big / 2 * math.sin(phi), h * math.cos(phi))
            dist = h * math.sin(phi)
            breaks += [phi / math.pi] + _graded(phi / math.pi, 0.5 * dist / speed, 0.0, 1.0)
        pieces.append((lam, dlam, _merge(breaks, 0.0, 1.0)))
    elif contour.shape == "trapezoid":
        left = 0.5 * branch[0]
        right = 0.5 * (branch[-1] + big)
        corners = [mp.mpf(0), mp.mpc(left, h), mp.mpc(right, h), mp.mpf(big)]
        for p, q in zip(corners[:-1], corners[1:]):
            length = float(abs(q - p))
            breaks = _uniform(0.0, 1.0, step / length)
            if p.imag != 0 and q.imag != 0:
                # Flat top: refine towards the points above the branch points.
                for b in branch:
                    t = (b - left) / (right - left)
                    breaks += [t] + _graded(t, 0.5 * h / length, 0.0, 1.0)

            def lam(t, p=p, q=q):
                return p + t * (q - p)

            def dlam(t, p=p, q=q):
                return q - p

            pieces.append((lam, dlam, _merge(breaks, 0.0, 1.0)))
    else:
        raise ValueError(contour.shape)
    return pieces


def _ray_breaks(rate, phase_rate, tail_start):
    """Break points along a ray decaying like exp(-rate t)."""
    length = _TAIL_DECAY / rate
    # Polynomial growth of the kernels (up to lambda**2) is outrun well
    # inside a few more decay lengths.
    length += 4.0 * math.log(1.0 + (tail_start + length)) / rate
    # About one oscillation and e**-4 of decay per panel, reached by doubling
    # from a short first panel next to the detour.
    step = min(4.0 / rate, 2 * math.pi / (phase_rate + 1e-300))
    first = min(step, 0.25 * tail_start) / 8
    pts = [0.0]
    t = first
    while t < step:
        pts.append(t)
        t *= 2
    pts += _uniform(step, length, step)
    return _merge(pts, 0.0, length)


def integrate_on(contour, k_p, k_m, rho, z, zp, stats=None, source=None):
    """The six integrals along one contour, as mpmath complex numbers; with
    ``source`` ("electric" or "magnetic") the field integrals instead, each
    kernel against its own factor J0, J1 or J1/rho (on the rays H0 and H1 of
    the ray's kind, halved)."""
    if stats is None:
        stats = {"panels": 0, "unconverged": 0}
    k_p = mp.mpf(k_p)
    k_m = mp.mpc(k_m)
    rho = mp.mpf(rho)
    z = mp.mpf(z)
    zp = mp.mpf(zp)
    dz = float(z - zp)
    frho = float(rho)
    if source is None:
        factors = ("j0",) * CHANNELS

        def kernels(la):
            return kernel(la, k_p, k_m, z, zp)
    else:
        factors = FIELD_FACTORS[source]

        def kernels(la):
            return field_kernels(source, la, k_p, k_m, z, zp)
    channels = len(factors)
    total = [mp.mpc(0)] * channels

    def add(vals):
        for c in range(channels):
            total[c] += vals[c]

    def weighted(ks, f0, f1, f1r):
        by = {"j0": f0, "j1": f1, "j1/rho": f1r}
        return [kc * by[fc] for kc, fc in zip(ks, factors)]

    for lam, dlam, breaks in _detour_pieces(contour, float(k_p), complex(k_m), frho, dz):
        def f(t, lam=lam, dlam=dlam):
            la = lam(t)
            ks = kernels(la)
            fac = dlam(t)
            if rho == 0:
                return weighted(ks, fac, 0 * fac, fac * la / 2)
            if source is None:
                return weighted(ks, fac * mp.besselj(0, rho * la), None, None)
            j0 = besselj(0, rho * la)
            j1 = besselj(1, rho * la)
            return weighted(ks, fac * j0, fac * j1, fac * j1 / rho)

        add(_integrate(f, breaks, stats, channels))

    start = mp.mpf(contour.tail_start)
    theta = math.radians(contour.ray_degrees)
    if rho == 0:
        d = mp.expjpi(mp.mpf(contour.ray_degrees) / 180)
        rate = dz * math.cos(theta)
        phase = dz * math.sin(theta)

        def f(t):
            la = start + t * d
            return weighted(kernels(la), d, 0 * d, d * la / 2)

        add(_integrate(f, _ray_breaks(rate, phase, contour.tail_start), stats, channels))
    else:
        rate = frho * math.sin(theta) + dz * math.cos(theta)
        phase = frho * math.cos(theta) + dz * math.sin(theta)
        breaks = _ray_breaks(rate, phase, contour.tail_start)
        for sign, hankel, hankel1 in ((1, hankel0_first, hankel1_first),
                                      (-1, hankel0_second, hankel1_second)):
            d = mp.expjpi(sign * mp.mpf(contour.ray_degrees) / 180)

            def f(t, d=d, hankel=hankel, hankel1=hankel1):
                la = start + t * d
                fac = d * hankel(rho * la) / 2
                if source is None:
                    return weighted(kernels(la), fac, None, None)
                fac1 = d * hankel1(rho * la) / 2
                return weighted(kernels(la), fac, fac1, fac1 / rho)

            add(_integrate(f, breaks, stats, channels))
    return total


def reference_row(k_p, k_m, rho, z, zp, source=None):
    """Six integrals (or with ``source`` the field integrals) on contour A,
    checked against contour B.

    Returns a dict with the contour-A values (as Python complex numbers),
    the agreement of the two contours (max over channels of |A - B| divided
    by the largest |A_c|) and bookkeeping of both evaluations."""
    with mp.workdps(WORKING_DPS):
        out = {}
        vals = {}
        for name in ("A", "B"):
            contour = contour_for(name, k_p, k_m, rho)
            stats = {"panels": 0, "unconverged": 0}
            vals[name] = integrate_on(contour, k_p, k_m, rho, z, zp, stats, source)
            out[name] = dict(contour.describe(), **stats)
        a, b = vals["A"], vals["B"]
        scale = max(abs(v) for v in a)
        diff = max(abs(a[c] - b[c]) for c in range(len(a)))
        agreement = diff / scale if scale != 0 else diff
        return {
            "values": [complex(v) for v in a],
            "values_mp": a,
            "agreement": float(agreement),
            "contours": out,
        }


def homogeneous_closed_form(k, rho, dz):
    """Six integrals for k_m = k_p = k in closed form.

    Channel 0 is the Sommerfeld identity exp(-ikR)/R (gamma(0; k) = ik);
    channel 1 is channel 0 / k**2; channels 2, 3 and 5 vanish; channel 4 is
    -(1/k**2) d**2/d dz**2 of channel 0."""
    with mp.workdps(WORKING_DPS):
        k = mp.mpc(k)
        rho = mp.mpf(rho)
        dz = mp.mpf(dz)
        r = mp.sqrt(rho * rho + dz * dz)
        e = mp.exp(-1j * k * r)
        g = e / r
        g1 = e * (-1j * k / r - 1 / r**2)
        g2 = e * (-k * k / r + 2j * k / r**2 + 2 / r**3)
        d2 = g2 * dz**2 / r**2 + g1 * (1 / r - dz**2 / r**3)
        return [g, g / k**2, mp.mpc(0), mp.mpc(0), -d2 / k**2, mp.mpc(0)]


def self_check():
    """Check the pieces this module trusts against mpmath by other routes.

    Returns a list of (what, worst relative difference)."""
    out = []
    with mp.workdps(WORKING_DPS):
        # Hankel functions through K0 against J0 +- i Y0 at a precision high
        # enough to pay for the cancellation on the decaying side.
        worst = mp.mpf(0)
        for w in (mp.mpc(0.4, 0.1), mp.mpc(3, 1), mp.mpc(30, 20), mp.mpc(7, 12), mp.mpc(150, 3)):
            h1, h2 = hankel0_first(w), hankel0_second(mp.conj(w))
            with mp.workdps(WORKING_DPS + 60):
                r1 = mp.hankel1(0, w)
                r2 = mp.hankel2(0, mp.conj(w))
            worst = max(worst, abs(h1 - r1) / abs(r1), abs(h2 - r2) / abs(r2))
        out.append(("H0 through K0 against J0 +- iY0", float(worst)))
        # Homogeneous medium: both contours against the closed forms.
        worst = mp.mpf(0)
        for rho, z, zp in ((0.0, 0.5, -0.25), (1.5, 0.0, 0.0), (4.0, 1.0, -0.5)):
            closed = homogeneous_closed_form(1.0, rho, z - zp)
            scale = max(abs(v) for v in closed)
            for name in ("A", "B"):
                got = integrate_on(contour_for(name, 1.0, 1.0, rho), 1.0, 1.0, rho, z, zp)
                worst = max(worst, max(abs(a - b) for a, b in zip(got, closed)) / scale)
        out.append(("homogeneous medium against closed forms", float(worst)))
        # The closed form of channel 4 against a numerical second derivative.
        rho, dz = mp.mpf(1.5), mp.mpf(0.75)
        num = mp.diff(lambda d: mp.exp(-1j * mp.sqrt(rho**2 + d**2)) / mp.sqrt(rho**2 + d**2), dz, 2)
        ref = -homogeneous_closed_form(1.0, rho, dz)[4]
        out.append(("channel 4 closed form against d2/d dz2", float(abs(num - ref) / abs(ref))))
    return out


if __name__ == "__main__":
    for what, err in self_check():
        print("%-45s %.1e" % (what, err))
