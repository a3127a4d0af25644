"""Arbitrary-precision E and H above a planar interface, of an electric or a
magnetic point dipole below it: an oracle for the field tests.

The derivation here is a plane-wave (TE/TM) one and shares nothing with the
Hertz-potential derivation of the package's guide; the arithmetic is
python-flint's arb (ball arithmetic at 128 bits, about 38 digits), the Bessel
and modified Bessel values come from arb as black boxes, and the contour is
this module's own.

Conventions
-----------
Time factor exp(+j omega t), SI units, both media of permeability mu0, so
that eps_m / eps_p = k_m**2 / k_p**2 and omega mu0 = k0 eta0 (the constants of
``dipole_closed_form``).  The upper medium (z >= 0, wavenumber k_p) holds the
field point (x, y, z); the lower medium (z <= 0, k_m) holds the dipole at
(0, 0, zp), zp <= 0.  An electric dipole is a current element of moment p
(A m); a magnetic one a small loop of moment m (A m**2).  Vertical
wavenumbers gamma(lambda; k) = sqrt(i(k + lambda)) sqrt(i(k - lambda)), so
Re gamma > 0 on the real axis and the cuts fall vertically from +k.

Plane waves
-----------
With f(x, y) = (2 pi)**-2 integral f~(k_x, k_y) exp(-j(k_x x + k_y y)), the
Green's function exp(-j k R) / (4 pi R) has the spectrum
exp(-gamma |z - zp|) / (2 gamma).  Above the source, grad acts on each
upgoing wave as -j kappa, kappa = (k_x, k_y, -j gamma), kappa . kappa = k**2,
so the closed forms of ``dipole_closed_form`` give the upgoing spectra (at
z = 0, before the factor exp(gamma_m zp))

    electric:  E~ = -j omega mu0 (p - kappa (kappa . p) / k_m**2) / (2 gamma_m),
               H~ = -j (kappa x p) / (2 gamma_m),
    magnetic:  E~ = -omega mu0 (kappa x m) / (2 gamma_m),
               H~ = k_m**2 (m - kappa (kappa . m) / k_m**2) / (2 gamma_m).

Write k_x + j k_y = lambda exp(j alpha), kh = (cos alpha, sin alpha, 0) and
e = z x kh = (-sin alpha, cos alpha, 0).  A plane wave, transverse to kappa,
is E = E_TE e - (kappa x e) H_TM / (omega eps), H = (kappa x e) E_TE /
(omega mu0) + H_TM e with kappa x e = lambda z + j gamma kh for an upgoing
wave in either medium (kappa_z = -j gamma).  At z = 0 the tangential
components E_TE, H_TM (the e parts) and the kh parts -kappa_z E_TE / (omega mu0)
and kappa_z H_TM / (omega eps) are continuous; with a reflected wave below
and a transmitted one above this gives the transmission factors

    E_TE:  t_E = 2 gamma_m / (gamma_m + gamma_p),
    H_TM:  t_H = 2 eps_p gamma_m / (eps_p gamma_m + eps_m gamma_p)
               = 2 k_p**2 gamma_m / (k_m**2 gamma_p + k_p**2 gamma_m).

The projections of the upgoing spectra are (e . (kappa x v) = -lambda v_z -
j gamma (kh . v))

    electric:  E_TE = -j omega mu0 (e . p) / (2 gamma_m),
               H_TM = (j lambda p_z - gamma_m (kh . p)) / (2 gamma_m),
    magnetic:  E_TE = omega mu0 (lambda m_z + j gamma_m (kh . m)) / (2 gamma_m),
               H_TM = k_m**2 (e . m) / (2 gamma_m),

so that with D_E = gamma_p + gamma_m, D_H = k_m**2 gamma_p + k_p**2 gamma_m,
S = exp(gamma_m zp - gamma_p z) and omega mu0 = k_p**2 / (omega eps_p) the
transmitted fields are S times

    electric:  e_TE = -j omega mu0 (e . p) / D_E,
               h_TM = k_p**2 (j lambda p_z - gamma_m (kh . p)) / D_H,
    magnetic:  e_TE = omega mu0 (lambda m_z + j gamma_m (kh . m)) / D_E,
               h_TM = k_p**2 k_m**2 (e . m) / D_H,

    E = S [e_TE e - (lambda z + j gamma_p kh) h_TM / (omega eps_p)],
    H = S [(lambda z + j gamma_p kh) e_TE / (omega mu0) + h_TM e].

Expanded, each field is a sum of terms g(lambda) v(alpha), a scalar factor g
(a product of lambda, gamma_p, gamma_m over D_E or D_H) times a trigonometric
polynomial v of degree 0, 1 or 2 in alpha (``TERMS``).

Angular integration
-------------------
With the field point at (rho cos phi, rho sin phi), Jacobi-Anger's expansion
exp(-j x cos t) = sum_n (-j)**n J_n(x) exp(j n t) gives

    (2 pi)**-1 integral over alpha of exp(j n alpha) exp(-j lambda rho cos(alpha - phi))
        = (-j)**n J_n(lambda rho) exp(j n phi),      J_-n = (-1)**n J_n,

so with v = sum_n c_n exp(j n alpha) (c_n from an 8-point discrete Fourier
transform, exact for degree <= 2) a term contributes

    sum_n c_n (-j)**n exp(j n phi) C[g, |n|] (-1 if n < 0 and n odd),
    C[g, m] = (2 pi)**-1 integral_0^inf lambda S g(lambda) J_m(lambda rho) d lambda.

The channels C[g, m], m = 0, 1, 2, depend on (rho, z, zp) only; one
integration serves every orientation, both sources and any phi.

Contour
-------
The channels are integrated along a path from 0 into the first quadrant and
back to the real axis at ``tail_start`` (a trapezoid of height ``height``;
the first quadrant holds no singularity for passive media: the branch points
k_p, k_m and the surface-wave pole, the zero of D_H, lie in the closed fourth
quadrant), then on rays from ``tail_start``, with
J_m = (H_m(1) + H_m(2)) / 2: H_m(1) on a ray at +theta into the upper
half-plane, H_m(2) on one at -theta into the lower half-plane, where both
decay.  The lower ray must sweep no singularity: ``tail_start`` lies beyond
every singularity that is not clearly below that ray.  At rho = 0 only J_0
is left, and one ray at +theta without a Bessel factor follows.  The Hankel
functions come from K_m (DLMF 10.27.8),

    H_m(1)(w) = 2 / (pi i) (-i)**m K_m(-i w),  H_m(2)(w) = -2 / (pi i) i**m K_m(i w),

and K_2 = K_0 + 2 K_1 / w (DLMF 10.29.1); J_2 = 2 J_1 / w - J_0 for |w| >= 1.

Two contours (``CONTOURS``, different tail starts, heights and ray angles)
give two independent values; their agreement is the reference's own error
estimate.
"""

from __future__ import annotations

import cmath
import math
import sys
from pathlib import Path

import flint
import mpmath as mp

sys.path.insert(0, str(Path(__file__).resolve().parent))

import dipole_closed_form as cf  # noqa: E402

#: Working precision of the arb arithmetic, bits.
PREC = 128
#: Decimal digits of the assembly of the fields from the channels.
ASSEMBLY_DPS = 40
#: Accurate bits asked of each Bessel value (about 27 digits).
BESSEL_BITS = 90
#: Gauss-Legendre rules of a panel: the coarse one estimates the error of the
#: fine one, whose value is kept (mpmath's rules have 3 * 2**k nodes).
COARSE_NODES = 12
FINE_NODES = 24
#: A panel is accepted when, for every channel, its coarse and fine values
#: differ by at most this times the integral of |f| over it; the fine value is
#: then good to roughly the square of that (both rules converge geometrically).
PANEL_TOL = 1e-16
#: Halvings allowed below a panel set up by the contour.
MAX_SPLITS = 16
#: A ray stops once its integrand has decayed below exp(-TAIL_DECAY) of the
#: integral of |f| so far, for every channel.
TAIL_DECAY = 60.0

SOURCES = ("electric", "magnetic")


# ---------------------------------------------------------------------------
# The expansion into scalar factors and trigonometric polynomials

def _dot(a, b):
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]


def _scale(c, v):
    return (c * v[0], c * v[1], c * v[2])


# Scalar factors g(lambda, gamma_p, gamma_m, D_E, D_H).
FACTORS = {
    "1/DE": lambda lam, gp, gm, de, dh: 1 / de,
    "l/DE": lambda lam, gp, gm, de, dh: lam / de,
    "gp/DE": lambda lam, gp, gm, de, dh: gp / de,
    "gm/DE": lambda lam, gp, gm, de, dh: gm / de,
    "l2/DE": lambda lam, gp, gm, de, dh: lam * lam / de,
    "lgm/DE": lambda lam, gp, gm, de, dh: lam * gm / de,
    "lgp/DE": lambda lam, gp, gm, de, dh: lam * gp / de,
    "gpgm/DE": lambda lam, gp, gm, de, dh: gp * gm / de,
    "1/DH": lambda lam, gp, gm, de, dh: 1 / dh,
    "l/DH": lambda lam, gp, gm, de, dh: lam / dh,
    "gp/DH": lambda lam, gp, gm, de, dh: gp / dh,
    "gm/DH": lambda lam, gp, gm, de, dh: gm / dh,
    "l2/DH": lambda lam, gp, gm, de, dh: lam * lam / dh,
    "lgm/DH": lambda lam, gp, gm, de, dh: lam * gm / dh,
    "lgp/DH": lambda lam, gp, gm, de, dh: lam * gp / dh,
    "gpgm/DH": lambda lam, gp, gm, de, dh: gp * gm / dh,
}

Z_HAT = (0, 0, 1)

# (source, field, factor, degree in alpha, v(kh, e, moment, c)) with c the
# constants: omega mu0 ("wm"), k_p**2 ("kp2"), k_m**2 ("km2").
TERMS = [
    # electric dipole, E
    ("electric", "E", "1/DE", 2, lambda kh, e, p, c: _scale(-1j * c["wm"] * _dot(e, p), e)),
    ("electric", "E", "l2/DH", 0, lambda kh, e, p, c: _scale(-1j * c["wm"] * p[2], Z_HAT)),
    ("electric", "E", "lgm/DH", 1, lambda kh, e, p, c: _scale(c["wm"] * _dot(kh, p), Z_HAT)),
    ("electric", "E", "lgp/DH", 1, lambda kh, e, p, c: _scale(c["wm"] * p[2], kh)),
    ("electric", "E", "gpgm/DH", 2, lambda kh, e, p, c: _scale(1j * c["wm"] * _dot(kh, p), kh)),
    # electric dipole, H
    ("electric", "H", "l/DE", 1, lambda kh, e, p, c: _scale(-1j * _dot(e, p), Z_HAT)),
    ("electric", "H", "gp/DE", 2, lambda kh, e, p, c: _scale(_dot(e, p), kh)),
    ("electric", "H", "l/DH", 1, lambda kh, e, p, c: _scale(1j * c["kp2"] * p[2], e)),
    ("electric", "H", "gm/DH", 2, lambda kh, e, p, c: _scale(-c["kp2"] * _dot(kh, p), e)),
    # magnetic dipole, E
    ("magnetic", "E", "l/DE", 1, lambda kh, e, m, c: _scale(c["wm"] * m[2], e)),
    ("magnetic", "E", "gm/DE", 2, lambda kh, e, m, c: _scale(1j * c["wm"] * _dot(kh, m), e)),
    ("magnetic", "E", "l/DH", 1, lambda kh, e, m, c: _scale(-c["wm"] * c["km2"] * _dot(e, m), Z_HAT)),
    ("magnetic", "E", "gp/DH", 2, lambda kh, e, m, c: _scale(-1j * c["wm"] * c["km2"] * _dot(e, m), kh)),
    # magnetic dipole, H
    ("magnetic", "H", "l2/DE", 0, lambda kh, e, m, c: _scale(m[2], Z_HAT)),
    ("magnetic", "H", "lgm/DE", 1, lambda kh, e, m, c: _scale(1j * _dot(kh, m), Z_HAT)),
    ("magnetic", "H", "lgp/DE", 1, lambda kh, e, m, c: _scale(1j * m[2], kh)),
    ("magnetic", "H", "gpgm/DE", 2, lambda kh, e, m, c: _scale(-_dot(kh, m), kh)),
    ("magnetic", "H", "1/DH", 2, lambda kh, e, m, c: _scale(c["kp2"] * c["km2"] * _dot(e, m), e)),
]

ORDERS = {0: (0,), 1: (-1, 1), 2: (-2, 0, 2)}

#: The channels (factor, Bessel order) the terms need.
CHANNELS = sorted({(t[2], abs(n)) for t in TERMS for n in ORDERS[t[3]]})


def fourier_coefficients(v, moment, consts, count=8):
    """c_n, n = -count/2 .. count/2 - 1, of alpha -> v(kh, e, moment, consts), by
    a discrete Fourier transform at mpmath precision (a 3-vector per n)."""
    out = {}
    samples = []
    for q in range(count):
        a = 2 * mp.pi * q / count
        c, s = mp.cos(a), mp.sin(a)
        samples.append(v((c, s, 0), (-s, c, 0), moment, consts))
    for n in range(-count // 2, count // 2):
        coef = [mp.mpc(0)] * 3
        for q in range(count):
            w = mp.expjpi(-2 * mp.mpf(n) * q / count) / count
            for i in range(3):
                coef[i] += w * samples[q][i]
        out[n] = coef
    return out


# ---------------------------------------------------------------------------
# arb helpers

def _acb(z):
    """An exact-as-given acb from a Python or mpmath number."""
    if isinstance(z, flint.acb):
        return z
    if isinstance(z, (mp.mpf, mp.mpc)):
        z = mp.mpc(z)
        return flint.acb(flint.arb(mp.nstr(z.real, 45)), flint.arb(mp.nstr(z.imag, 45)))
    z = complex(z)
    return flint.acb(z.real, z.imag)


def _to_mp(a):
    return mp.mpc(a.real.mid().str(45, radius=False), a.imag.mid().str(45, radius=False))


def _with_accuracy(fn, arg):
    """fn at the midpoint of arg with at least BESSEL_BITS accurate bits, raising
    the precision as needed (a rigorous ball can be wide at the working
    precision; the radius of arg is only the rounding of the node, which
    the value need not carry)."""
    old = flint.ctx.prec
    arg = arg.mid()
    try:
        prec = old
        for _ in range(4):
            v = fn(arg)
            if v == 0 or v.rel_accuracy_bits() >= BESSEL_BITS:
                return v
            prec *= 2
            flint.ctx.prec = prec
        raise ArithmeticError("no accurate Bessel value at %s" % (arg,))
    finally:
        flint.ctx.prec = old


def tm_denominator(gp, gm, kp, km):
    """D_H = k_m**2 gamma_p + k_p**2 gamma_m (eps_m / eps_p = k_m**2 / k_p**2)."""
    return km * km * gp + kp * kp * gm


def gamma(lam, k):
    """gamma(lambda; k) = sqrt(i(k + lambda)) sqrt(i(k - lambda)), acb."""
    i = flint.acb(0, 1)
    return (i * (k + lam)).sqrt() * (i * (k - lam)).sqrt()


def bessel_j(w):
    """(J_0, J_1, J_2)(w)."""
    j0 = _with_accuracy(lambda a: a.bessel_j(0), w)
    j1 = _with_accuracy(lambda a: a.bessel_j(1), w)
    if abs(complex(w)) < 1.0:
        j2 = _with_accuracy(lambda a: a.bessel_j(2), w)
    else:
        j2 = 2 * j1 / w - j0
    return j0, j1, j2


def hankel(kind, w):
    """(H_0, H_1, H_2) of the first (kind 1) or second kind at w, through K_m."""
    i = flint.acb(0, 1)
    x = -i * w if kind == 1 else i * w
    k0 = _with_accuracy(lambda a: a.bessel_k(0), x)
    k1 = _with_accuracy(lambda a: a.bessel_k(1), x)
    k2 = k0 + 2 * k1 / x
    pi = flint.arb.pi()
    if kind == 1:
        f = 2 / (pi * i)
        return f * k0, f * (-i) * k1, f * (-1) * k2
    f = -2 / (pi * i)
    return f * k0, f * i * k1, f * (-1) * k2


# ---------------------------------------------------------------------------
# Integration

_NODES_CACHE = {}


def _gauss_nodes(count):
    """The count-point Gauss-Legendre rule on [0, 1] as arb values."""
    key = (count, PREC)
    if key not in _NODES_CACHE:
        with mp.workdps(50):
            rule = mp.calculus.quadrature.GaussLegendre(mp.mp).calc_nodes(_legendre_degree(count), 170)
            _NODES_CACHE[key] = [(flint.arb(mp.nstr((x + 1) / 2, 48)), flint.arb(mp.nstr(w / 2, 48)))
                                 for x, w in rule]
    return _NODES_CACHE[key]


def _legendre_degree(n):
    # mpmath's Gauss-Legendre degree d has 3 * 2**(d - 1) nodes
    for d in range(1, 12):
        if 3 * 2 ** (d - 1) == n:
            return d
    raise ValueError("Gauss-Legendre rules here have 3 * 2**k nodes")


class _Integrator:
    """Adaptive Gauss-Legendre integration of a vector-valued f(t), t real."""

    def __init__(self, f, width, floor=0.0):
        self.f = f
        self.width = width
        # an absolute tolerance added to each channel's relative one (0: none)
        self.floor = floor
        self.panels = 0
        self.unconverged = 0

    def rule(self, a, b, count):
        """(values, integral of |f_c|) on [a, b] with count nodes."""
        h = b - a
        vals = [flint.acb(0)] * self.width
        absv = [0.0] * self.width
        for x, w in _gauss_nodes(count):
            fx = self.f(a + h * x)
            for c in range(self.width):
                vals[c] += w * fx[c]
                absv[c] += float(w) * abs(complex(fx[c]))
        return [v * h for v in vals], [v * float(h) for v in absv]

    def panel(self, a, b, splits=MAX_SPLITS):
        coarse, _ = self.rule(a, b, COARSE_NODES)
        vals, absv = self.rule(a, b, FINE_NODES)
        ok = all(abs(complex(vals[c] - coarse[c])) <= PANEL_TOL * absv[c] + self.floor
                 for c in range(self.width))
        if ok or splits == 0:
            self.panels += 1
            self.unconverged += 0 if ok else 1
            return vals, absv
        m = (a + b) / 2
        lv, la = self.panel(a, m, splits - 1)
        rv, ra = self.panel(m, b, splits - 1)
        return [lv[c] + rv[c] for c in range(self.width)], [la[c] + ra[c] for c in range(self.width)]


def ray_panels(integ, total, first, step, nominal):
    """Panels along a ray from t = 0, doubling from ``first`` up to ``step``,
    added into ``total``, until past ``nominal`` every channel's last panel is
    below exp(-TAIL_DECAY) of its integral of |f| so far."""
    absint = [0.0] * integ.width
    a, b = 0.0, first
    while True:
        vals, absv = integ.panel(flint.arb(a), flint.arb(b))
        _add(total, vals)
        for c in range(integ.width):
            absint[c] += absv[c]
        tiny = all(absv[c] <= math.exp(-TAIL_DECAY) * absint[c] for c in range(integ.width))
        if b >= nominal and tiny:
            return
        if b > 1e4 * nominal:
            raise ArithmeticError("a tail ray does not decay")
        a, b = b, min(2 * b, b + step)


def _add(total, vals):
    for c in range(len(total)):
        total[c] += vals[c]


def _uniform(a, b, step):
    n = max(1, int(math.ceil((b - a) / step)))
    return [a + (b - a) * j / n for j in range(n + 1)]


def _graded(centre, first, lo, hi):
    """Break points centre +- first * 2**j inside (lo, hi)."""
    pts = [centre] if lo < centre < hi else []
    d = first
    while centre - d > lo or centre + d < hi:
        pts += [p for p in (centre - d, centre + d) if lo < p < hi]
        d *= 2
    return pts


def _merge(points, lo, hi):
    pts = sorted(set([lo, hi] + [p for p in points if lo < p < hi]))
    out = [pts[0]]
    for p in pts[1:]:
        if p - out[-1] > 1e-12 * (hi - lo):
            out.append(p)
    out[-1] = hi
    return out


def surface_wave_pole(k_p, k_m):
    """The zero of D_H = k_m**2 gamma_p + k_p**2 gamma_m on this sheet, or None."""
    kp2, km2 = complex(k_p) ** 2, complex(k_m) ** 2
    if kp2 + km2 == 0:
        return None
    p = cmath.sqrt(kp2 * km2 / (kp2 + km2))
    if p.real < 0:
        p = -p
    gp, gm = (cmath.sqrt(1j * (k + p)) * cmath.sqrt(1j * (k - p)) for k in (complex(k_p), complex(k_m)))
    return p if abs(km2 * gp + kp2 * gm) <= 1e-8 * (abs(km2 * gp) + abs(kp2 * gm)) else None


class Contour:
    """Tail start, trapezoid height and ray angle of one contour.

    name "A": rays at +-30 degrees, the trapezoid no higher than 6 / rho;
    name "B": rays at +-20 degrees, a later tail start, up to 9 / rho."""

    def __init__(self, name, k_p, k_m, rho):
        k_p, k_m = complex(k_p), complex(k_m)
        if name == "A":
            theta, stretch, grow, frac = 30.0, 1.3, 6.0, 0.4
        elif name == "B":
            theta, stretch, grow, frac = 20.0, 1.7, 9.0, 0.25
        else:
            raise ValueError("unknown contour %r" % (name,))
        pole = surface_wave_pole(k_p, k_m)
        sing = [k_p, k_m] + ([pole] if pole is not None else [])
        tan = math.tan(math.radians(theta))
        # a singularity well below every ray at -theta from the positive axis
        # can stay to the right of the tail start; the others must be passed
        near = [s for s in sing if -s.imag < 1.5 * tan * s.real]
        self.marks = sorted(s.real for s in near if s.real > 0)
        self.singularities = sing
        self.tail_start = stretch * max([k_p.real] + self.marks)
        self.height = self.tail_start * frac if rho == 0 else min(self.tail_start * frac, grow / rho)
        self.theta = 0.0 if (rho == 0 and name == "A") else theta
        self.name = name

    def describe(self):
        return {"tail_start": self.tail_start, "height": self.height, "ray_degrees": self.theta}


def channels(k_p, k_m, rho, z, zp, contour="A", stats=None):
    """The channels C[g, m] (dict keyed by CHANNELS) at one (rho, z, zp), as acb."""
    if stats is None:
        stats = {}
    old = flint.ctx.prec
    flint.ctx.prec = PREC
    try:
        return _channels(complex(k_p), complex(k_m), float(rho), float(z), float(zp),
                         Contour(contour, k_p, k_m, rho), stats)
    finally:
        flint.ctx.prec = old


def _channels(k_p, k_m, rho, z, zp, ct, stats):
    if not (z >= 0 >= zp) or (rho == 0 and z == zp):
        raise ValueError("need z >= 0 >= zp and a field point away from the source")
    kp, km = _acb(k_p), _acb(k_m)
    za, zpa, rhoa = flint.arb(z), flint.arb(zp), flint.arb(rho)
    two_pi = 2 * flint.arb.pi()
    names = sorted({g for g, _ in CHANNELS})
    orders = [(names.index(g), m) for g, m in CHANNELS]
    width = len(CHANNELS)

    def integrand(lam, dlam, bessel):
        gp, gm = gamma(lam, kp), gamma(lam, km)
        de = gp + gm
        dh = tm_denominator(gp, gm, kp, km)
        s = (zpa * gm - za * gp).exp()
        common = lam * s * dlam / two_pi
        g = [FACTORS[n](lam, gp, gm, de, dh) for n in names]
        return [common * g[i] * bessel[m] for i, m in orders]

    total = [flint.acb(0)] * width
    stats.setdefault("panels", 0)
    stats.setdefault("unconverged", 0)
    dz = z - zp
    one = (flint.acb(1), flint.acb(0), flint.acb(0))

    # Trapezoid: 0 -> (left, h) -> (right, h) -> tail_start.
    big, h = ct.tail_start, ct.height
    marks = [m for m in ct.marks if 0 < m < big] or [0.5 * big]
    left = min(0.5 * marks[0], 0.25 * big)
    right = 0.5 * (marks[-1] + big)
    corners = [0j, complex(left, h), complex(right, h), complex(big, 0)]
    step = min(big / 8, 1.5 / (rho + dz) if rho + dz > 0 else big)
    for c0, c1 in zip(corners[:-1], corners[1:]):
        length = abs(c1 - c0)
        breaks = _uniform(0.0, 1.0, step / length)
        if c0.imag != 0 and c1.imag != 0:
            # the top passes above singularities at distance h + |Im s|
            for s in ct.singularities:
                if left < s.real < right:
                    t = (s.real - left) / (right - left)
                    breaks += _graded(t, 0.5 * (h + abs(s.imag)) / length, 0.0, 1.0)
        # the direction in arb, so that consecutive pieces meet exactly
        a0 = _acb(c0)
        d = _acb(c1) - a0

        def f(t, a0=a0, d=d):
            lam = a0 + t * d
            return integrand(lam, d, bessel_j(lam * rhoa) if rho > 0 else one)

        integ = _Integrator(f, width)
        pts = _merge(breaks, 0.0, 1.0)
        for a, b in zip(pts[:-1], pts[1:]):
            _add(total, integ.panel(flint.arb(a), flint.arb(b))[0])
        stats["panels"] += integ.panels
        stats["unconverged"] += integ.unconverged

    # Rays from the tail start.
    theta = math.radians(ct.theta)
    if rho == 0:
        rays = [(theta, None)]
    else:
        rays = [(theta, 1), (-theta, 2)]
    for angle, kind in rays:
        d = _acb(cmath.exp(1j * angle))
        start = _acb(big)
        rate = rho * abs(math.sin(angle)) + dz * math.cos(angle)
        phase = rho * math.cos(angle) + dz * abs(math.sin(angle))
        # a few decay lengths or oscillations per panel
        step = min(5.0 / rate, 3 * math.pi / phase if phase > 0 else math.inf)
        nominal = TAIL_DECAY / rate

        def f(t, d=d, start=start, kind=kind):
            lam = start + t * d
            if kind is None:
                return integrand(lam, d, one)
            hk = hankel(kind, lam * rhoa)
            return integrand(lam, d, (hk[0] / 2, hk[1] / 2, hk[2] / 2))

        integ = _Integrator(f, width)
        ray_panels(integ, total, min(step, 0.1 * big) / 16, step, nominal)
        stats["panels"] += integ.panels
        stats["unconverged"] += integ.unconverged
    return dict(zip(CHANNELS, total))


# ---------------------------------------------------------------------------
# Assembly

def assemble(chan, k0, k_p, k_m, phi, source, moment_vector):
    """E and H (two lists of 3 mpmath complex numbers) from the channels at
    azimuth phi, for a dipole of the given source kind and moment vector."""
    with mp.workdps(ASSEMBLY_DPS):
        return _assemble(chan, k0, k_p, k_m, phi, source, moment_vector)


def _assemble(chan, k0, k_p, k_m, phi, source, moment_vector):
    consts = {"wm": mp.mpf(k0) * cf.ETA_0, "kp2": mp.mpc(k_p) ** 2, "km2": mp.mpc(k_m) ** 2}
    vec = [mp.mpc(v) for v in moment_vector]
    out = {"E": [mp.mpc(0)] * 3, "H": [mp.mpc(0)] * 3}
    mpchan = {key: _to_mp(val) for key, val in chan.items()}
    for src, field, g, degree, v in TERMS:
        if src != source:
            continue
        coef = fourier_coefficients(v, vec, consts)
        for n in ORDERS[degree]:
            c = mp.power(-1j, n) * mp.expj(n * mp.mpf(phi)) * mpchan[(g, abs(n))]
            if n < 0 and n % 2:
                c = -c
            out[field] = [out[field][i] + coef[n][i] * c for i in range(3)]
    return out["E"], out["H"]


def fields(k0, k_p, k_m, x, y, z, zp, source="electric", direction=(0, 0, 1), moment=1.0,
           contour="A", stats=None):
    """E (V/m) and H (A/m) at (x, y, z), z >= 0, of a dipole at (0, 0, zp), zp <= 0.

    Returns two lists of three Python complex numbers (Cartesian components)."""
    rho = math.hypot(x, y)
    phi = math.atan2(y, x) if rho > 0 else 0.0
    chan = channels(k_p, k_m, rho, z, zp, contour, stats)
    u = cf.unit_vector(direction)
    e, h = assemble(chan, k0, k_p, k_m, phi, source, [complex(moment) * c for c in u])
    return [complex(c) for c in e], [complex(c) for c in h]


def all_fields(k0, k_p, k_m, rho, z, zp, phis, contour="A", stats=None):
    """For each phi in phis: {(source, axis): (E, H)} for unit dipoles along x,
    y and z, from one integration (mpmath values)."""
    chan = channels(k_p, k_m, rho, z, zp, contour, stats)
    out = []
    for phi in phis:
        row = {}
        for source in SOURCES:
            for axis, vec in zip("xyz", ((1, 0, 0), (0, 1, 0), (0, 0, 1))):
                row[(source, axis)] = assemble(chan, k0, k_p, k_m, phi, source, vec)
        out.append(row)
    return out
