"""Arbitrary-precision E and H of a point dipole anywhere in a stack of planar
layers, at field points in any layer: an oracle for layered-media tests.

The derivation is the plane-wave one of ``dipole_interface_reference`` (whose
arb helpers, integrator and Bessel values it uses), extended from two
half-spaces to a stack, with the amplitudes of every layer found by solving
the interface conditions as a linear system at each spectral node. Nothing
is shared with a transmission-line derivation; the arithmetic is
python-flint's arb at 128 bits, the Bessel and modified Bessel values come
from arb as black boxes.

Conventions
-----------
Time factor exp(+j omega t), SI units. The stack has media 0 .. N-1 from the
top, each with a complex relative permittivity eps_r (conductivity included,
Im <= 0) and permeability mu_r, separated by the interfaces h_1 > ... >
h_{N-1} (metres); medium 0 is the half-space z > h_1, medium N-1 the
half-space z < h_{N-1}. A field point on an interface belongs to the medium
above it, a source on an interface to the medium below it (the limits from
those sides). k_j = k0 sqrt(eps_r mu_r) with Im k_j <= 0.

Plane waves in a layer
----------------------
For a horizontal wavevector lambda (cos alpha, sin alpha), kh = (cos alpha,
sin alpha, 0) and e = z x kh, each layer j carries an upgoing wave
exp(-gamma_j (z - b_j)) and a downgoing one exp(gamma_j (z - t_j)) (b_j, t_j
the layer's bottom and top, so that every exponential is at most one in
modulus), of each polarisation: TE with E = E_TE e, H = (kappa x e) E_TE /
(omega mu), and TM with H = H_TM e, E = -(kappa x e) H_TM / (omega eps),
where kappa x e = lambda z - kappa_z kh and kappa_z = -j gamma (up) or
+j gamma (down). The tangential fields are the e parts (E_TE, H_TM) and the
kh parts, +-j gamma E_TE / (omega mu) and -+j gamma H_TM / (omega eps): at
every interface the amplitude f and Y (f_up - f_down) are continuous, with
Y = gamma / mu_r for TE and gamma / eps_r for TM. The top half-space has no
downgoing wave and the bottom one no upgoing wave: 2 (N - 1) unknowns and two
conditions at each of the N - 1 interfaces, solved once per polarisation and
node for a unit upgoing and a unit downgoing primary wave.

The primary waves are those of ``dipole_interface_reference`` in the
source's medium s (omega mu_s in place of omega mu0): above the source
exp(-gamma_s (z - zp)) times

    electric:  E_TE = -j omega mu_s (e . p) / (2 gamma_s),
               H_TM = (j lambda p_z - j kappa_z (kh . p)) / (2 gamma_s),
    magnetic:  E_TE = omega mu_s (lambda m_z - kappa_z (kh . m)) / (2 gamma_s),
               H_TM = k_s**2 (e . m) / (2 gamma_s),

and below it the same with the downgoing kappa_z. In the source's own layer
the primary field is not integrated: it is added in closed form (the
homogeneous fields of ``dipole_closed_form`` with omega mu_s), so that a
field point at the source's height costs no more than any other.

The angular integration (an 8-point discrete Fourier transform in alpha,
exact for the degree-two trigonometric polynomials here, and Jacobi-Anger's
expansion), the contour (a trapezoid into the first quadrant, rays with the
Hankel functions from the tail start) and the adaptive Gauss-Legendre panels
are those of ``dipole_interface_reference``. The contour assumes that the
stack's poles (its guided and surface waves) lie below the real axis or on
it, left of 1.3 times the largest |k_j| or well below the lower ray: a stack
with films that carry very slow waves (thin plasmonic films) names where they
lie (``Stack.slow_waves``), and the contour passes over them and starts its
tail beyond.
"""

from __future__ import annotations

import cmath
import math
import sys
from dataclasses import dataclass
from pathlib import Path

import flint
import mpmath as mp

sys.path.insert(0, str(Path(__file__).resolve().parent))

import dipole_closed_form as cf  # noqa: E402
import dipole_interface_reference as dr  # noqa: E402

#: Angular samples of the discrete Fourier transform (exact up to degree 3).
ALPHA_SAMPLES = 8


@dataclass(frozen=True)
class Stack:
    """Media top to bottom at one free-space wavenumber k0 (rad/m)."""

    k0: float
    eps_r: tuple
    mu_r: tuple
    interfaces: tuple
    #: Where slow guided waves lie (thin plasmonic films carry them far beyond
    #: every |k_j|): the contour's marks, so that its top passes over them and
    #: its tail starts beyond.
    slow_waves: tuple = ()

    def __post_init__(self):
        if len(self.eps_r) != len(self.mu_r) or len(self.interfaces) != len(self.eps_r) - 1:
            raise ValueError("need one interface fewer than media, and mu_r for every medium")
        if any(not a > b for a, b in zip(self.interfaces[:-1], self.interfaces[1:])):
            raise ValueError("interfaces must be strictly decreasing")

    @property
    def k(self):
        """The wavenumbers k_j (Im <= 0)."""
        out = []
        for e, m in zip(self.eps_r, self.mu_r):
            n = cmath.sqrt(complex(e) * complex(m))
            if n.imag > 0 or (n.imag == 0 and n.real < 0):
                n = -n
            out.append(self.k0 * n)
        return out

    def receiver_layer(self, z):
        """The medium of a field point: the one above it on an interface."""
        return sum(1 for h in self.interfaces if h > z)

    def source_layer(self, zp):
        """The medium of a source: the one below it on an interface."""
        return sum(1 for h in self.interfaces if h >= zp)


def _amplitudes(stack, lam, gam, s, zp, r, z):
    """Per polarisation (0 TE, 1 TM): the upgoing and downgoing scattered
    amplitudes at height z in layer r for a unit upgoing and a unit downgoing
    primary wave of the source at zp in layer s, as
    ((up_from_up, up_from_down), (down_from_up, down_from_down))."""
    n = len(stack.eps_r)
    h = [flint.arb(v) for v in stack.interfaces]
    zpa, za = flint.arb(zp), flint.arb(z)
    # unknowns: U_j (j < n-1), D_j (j > 0)
    index = {}
    for j in range(n):
        if j < n - 1:
            index[(j, "U")] = len(index)
        if j > 0:
            index[(j, "D")] = len(index)
    size = len(index)
    thick = [None] + [h[j - 1] - h[j] for j in range(1, n - 1)] + [None]
    decay = [None if d is None else (-gam[j] * d).exp() for j, d in enumerate(thick)]
    out = []
    for pol in range(2):
        y = [gam[j] / dr._acb(stack.mu_r[j] if pol == 0 else stack.eps_r[j]) for j in range(n)]
        rows = []
        rhs = []
        for i in range(1, n):
            a, b = i - 1, i                 # the layers above and below h_i
            hi = h[i - 1]
            f = [flint.acb(0)] * size
            g = [flint.acb(0)] * size
            if (a, "U") in index:
                f[index[(a, "U")]] += 1
                g[index[(a, "U")]] += y[a]
            if (a, "D") in index:
                f[index[(a, "D")]] += decay[a]
                g[index[(a, "D")]] -= y[a] * decay[a]
            if (b, "D") in index:
                f[index[(b, "D")]] -= 1
                g[index[(b, "D")]] += y[b]
            if (b, "U") in index:
                f[index[(b, "U")]] -= decay[b]
                g[index[(b, "U")]] -= y[b] * decay[b]
            # primary waves reaching h_i: downgoing in layer a, upgoing in layer b
            rf = [flint.acb(0), flint.acb(0)]     # for a unit upgoing, downgoing primary
            rg = [flint.acb(0), flint.acb(0)]
            if s == a:
                w = (-gam[s] * (zpa - hi)).exp()
                rf[1] -= w
                rg[1] += y[a] * w
            if s == b:
                w = (-gam[s] * (hi - zpa)).exp()
                rf[0] += w
                rg[0] += y[b] * w
            rows += [f, g]
            rhs += [rf, rg]
        sol = flint.acb_mat(rows).solve(flint.acb_mat(rhs))
        up, down = [flint.acb(0)] * 2, [flint.acb(0)] * 2
        for col in range(2):
            if (r, "U") in index:
                bottom = h[r]
                up[col] = sol[index[(r, "U")], col] * (-gam[r] * (za - bottom)).exp()
            if (r, "D") in index:
                top = h[r - 1]
                down[col] = sol[index[(r, "D")], col] * (gam[r] * (za - top)).exp()
        out.append((tuple(up), tuple(down)))
    return out


def _cross_e(lam, kz, kh):
    """kappa x e = lambda z - kappa_z kh."""
    return (-kz * kh[0], -kz * kh[1], lam)


class _Problem:
    """The integrand of one (stack, rho, phi, z, zp, source, moment)."""

    def __init__(self, stack, rho, phi, z, zp, source, moment):
        self.stack = stack
        self.rho, self.phi, self.z, self.zp = rho, phi, z, zp
        self.source = source
        self.moment = [dr._acb(v) for v in moment]
        self.s = stack.source_layer(zp)
        self.r = stack.receiver_layer(z)
        self.k = [dr._acb(v) for v in stack.k]
        eta0 = flint.arb(repr(cf.ETA_0))
        self.omega_mu0 = flint.arb(repr(stack.k0)) * eta0
        self.omega_eps0 = flint.arb(repr(stack.k0)) / eta0
        self.mu = [dr._acb(v) for v in stack.mu_r]
        self.eps = [dr._acb(v) for v in stack.eps_r]
        self.angles = []
        for q in range(ALPHA_SAMPLES):
            a = 2 * flint.arb.pi() * q / ALPHA_SAMPLES
            self.angles.append((a.cos(), a.sin()))
        # (-j)^n exp(j n phi) and the sign of J_-n, n = -2 .. 2
        self.weights = {}
        for n in range(-2, 3):
            w = mp.power(-1j, n) * mp.expj(n * mp.mpf(phi)) * (-1 if (n < 0 and n % 2) else 1)
            self.weights[n] = dr._acb(complex(w))
        # 1/8 exp(-j n alpha_q)
        self.dft = {n: [dr._acb(complex(cmath.exp(-2j * math.pi * n * q / ALPHA_SAMPLES))) / ALPHA_SAMPLES
                        for q in range(ALPHA_SAMPLES)] for n in range(-2, 3)}

    def primary(self, lam, gs, kz, kh, e):
        """(E_TE, H_TM) of the primary wave with vertical wavenumber kappa_z."""
        p = self.moment
        two_g = 2 * gs
        wm = self.omega_mu0 * self.mu[self.s]
        j = flint.acb(0, 1)
        if self.source == "electric":
            e_te = -j * wm * (e[0] * p[0] + e[1] * p[1]) / two_g
            h_tm = (j * lam * p[2] - j * kz * (kh[0] * p[0] + kh[1] * p[1])) / two_g
        else:
            e_te = wm * (lam * p[2] - kz * (kh[0] * p[0] + kh[1] * p[1])) / two_g
            ks = self.k[self.s]
            h_tm = ks * ks * (e[0] * p[0] + e[1] * p[1]) / two_g
        return e_te, h_tm

    def spectrum(self, lam, bessel):
        """The six field components' integrand (without lambda d lambda / 2 pi)."""
        gam = [dr.gamma(lam, k) for k in self.k]
        amps = _amplitudes(self.stack, lam, gam, self.s, self.zp, self.r, self.z)
        gs, gr = gam[self.s], gam[self.r]
        j = flint.acb(0, 1)
        we = self.omega_eps0 * self.eps[self.r]
        wm = self.omega_mu0 * self.mu[self.r]
        total = [flint.acb(0)] * 6
        samples = []
        for c, s_ in self.angles:
            kh = (c, s_)
            e = (-s_, c)
            prim = [self.primary(lam, gs, -j * gs, kh, e), self.primary(lam, gs, j * gs, kh, e)]
            field = [flint.acb(0)] * 6
            for d, kz in ((0, -j * gr), (1, j * gr)):        # up, down at the receiver
                te = amps[0][d][0] * prim[0][0] + amps[0][d][1] * prim[1][0]
                tm = amps[1][d][0] * prim[0][1] + amps[1][d][1] * prim[1][1]
                ke = _cross_e(lam, kz, kh)
                evec = (te * e[0] - ke[0] * tm / we, te * e[1] - ke[1] * tm / we, -ke[2] * tm / we)
                hvec = (ke[0] * te / wm + tm * e[0], ke[1] * te / wm + tm * e[1], ke[2] * te / wm)
                for i in range(3):
                    field[i] += evec[i]
                    field[3 + i] += hvec[i]
            samples.append(field)
        for n in range(-2, 3):
            bn = bessel[abs(n)] * self.weights[n]
            for i in range(6):
                coef = sum((self.dft[n][q] * samples[q][i] for q in range(ALPHA_SAMPLES)),
                           flint.acb(0))
                total[i] += coef * bn
        return total


def _decay_length(stack, z, zp):
    """The shortest vertical path from the source to the field point by way of
    an interface (or directly when they are in different layers)."""
    s, r = stack.source_layer(zp), stack.receiver_layer(z)
    if s != r:
        return abs(z - zp)
    paths = []
    if s > 0:
        top = stack.interfaces[s - 1]
        paths.append((top - z) + (top - zp))
    if s < len(stack.eps_r) - 1:
        bottom = stack.interfaces[s]
        paths.append((z - bottom) + (zp - bottom))
    return min(paths) if paths else math.inf


class _Contour:
    """Tail start, trapezoid height and ray angle, as dipole_interface_reference's
    contours "A" and "B", with every medium's wavenumber as a mark."""

    def __init__(self, name, stack, rho):
        theta, stretch, grow, frac = (30.0, 1.3, 6.0, 0.4) if name == "A" else (20.0, 1.7, 9.0, 0.25)
        ks = [complex(k) for k in stack.k]
        sing = list(ks) + [complex(w) for w in stack.slow_waves]
        if len(ks) == 2:
            pole = dr.surface_wave_pole(ks[0], ks[1]) if ks[0].imag == 0 else None
            if pole is not None:
                sing.append(pole)
        self.singularities = sing
        self.marks = sorted(s.real for s in sing if s.real > 0)
        self.tail_start = stretch * max([abs(k) for k in ks] + self.marks)
        self.height = self.tail_start * frac if rho == 0 else min(self.tail_start * frac, grow / rho)
        self.theta = 0.0 if (rho == 0 and name == "A") else theta


def scattered_fields(stack, rho, phi, z, zp, source, moment, contour="A", stats=None, floor=0.0):
    """The integrated part of E and H: everything but the primary field in the
    source's own layer (lists of three acb each). ``floor`` is an absolute
    tolerance per panel: where the primary field is taken in closed form the
    integrated part can vanish (an interface between two copies of one
    medium), and a relative test on rounding noise would never be met."""
    old = flint.ctx.prec
    flint.ctx.prec = dr.PREC
    try:
        return _integrate(stack, rho, phi, z, zp, source, moment, _Contour(contour, stack, rho),
                          {} if stats is None else stats, floor)
    finally:
        flint.ctx.prec = old


def _integrate(stack, rho, phi, z, zp, source, moment, ct, stats, floor):
    prob = _Problem(stack, rho, phi, z, zp, source, moment)
    rhoa = flint.arb(rho)
    two_pi = 2 * flint.arb.pi()
    width = 6
    dz = _decay_length(stack, z, zp)
    one = (flint.acb(1), flint.acb(0), flint.acb(0))
    total = [flint.acb(0)] * width
    stats.setdefault("panels", 0)
    stats.setdefault("unconverged", 0)

    def integrand(lam, dlam, bessel):
        vals = prob.spectrum(lam, bessel)
        common = lam * dlam / two_pi
        return [common * v for v in vals]

    big, h = ct.tail_start, ct.height
    marks = [m for m in ct.marks if 0 < m < big] or [0.5 * big]
    left = min(0.5 * marks[0], 0.25 * big)
    right = 0.5 * (marks[-1] + big)
    corners = [0j, complex(left, h), complex(right, h), complex(big, 0)]
    reach = rho + (dz if math.isfinite(dz) else 0.0)
    step = min(big / 8, 1.5 / reach if reach > 0 else big)
    for c0, c1 in zip(corners[:-1], corners[1:]):
        length = abs(c1 - c0)
        breaks = dr._uniform(0.0, 1.0, step / length)
        if c0.imag != 0 and c1.imag != 0:
            for s in ct.singularities:
                if left < s.real < right:
                    t = (s.real - left) / (right - left)
                    breaks += dr._graded(t, 0.5 * (h + abs(s.imag)) / length, 0.0, 1.0)
        a0 = dr._acb(c0)
        d = dr._acb(c1) - a0

        def f(t, a0=a0, d=d):
            lam = a0 + t * d
            return integrand(lam, d, dr.bessel_j(lam * rhoa) if rho > 0 else one)

        integ = dr._Integrator(f, width, floor)
        pts = dr._merge(breaks, 0.0, 1.0)
        for a, b in zip(pts[:-1], pts[1:]):
            dr._add(total, integ.panel(flint.arb(a), flint.arb(b))[0])
        stats["panels"] += integ.panels
        stats["unconverged"] += integ.unconverged

    theta = math.radians(ct.theta)
    rays = [(theta, None)] if rho == 0 else [(theta, 1), (-theta, 2)]
    for angle, kind in rays:
        d = dr._acb(cmath.exp(1j * angle))
        start = dr._acb(big)
        rate = rho * abs(math.sin(angle)) + (dz if math.isfinite(dz) else 0.0) * math.cos(angle)
        if not rate > 0:
            raise ArithmeticError("no decay along the tail rays (source and field point coincide)")
        phase = rho * math.cos(angle) + dz * abs(math.sin(angle)) if math.isfinite(dz) else rho
        step = min(5.0 / rate, 3 * math.pi / phase if phase > 0 else math.inf)
        nominal = dr.TAIL_DECAY / rate

        def f(t, d=d, start=start, kind=kind):
            lam = start + t * d
            if kind is None:
                return integrand(lam, d, one)
            hk = dr.hankel(kind, lam * rhoa)
            return integrand(lam, d, (hk[0] / 2, hk[1] / 2, hk[2] / 2))

        integ = dr._Integrator(f, width, floor)
        dr.ray_panels(integ, total, min(step, 0.1 * big) / 16, step, nominal)
        stats["panels"] += integ.panels
        stats["unconverged"] += integ.unconverged
    return total[:3], total[3:]


def fields(stack, x, y, z, zp, source="electric", direction=(0, 0, 1), moment=1.0, contour="A",
           stats=None):
    """E (V/m) and H (A/m) at (x, y, z) of a dipole at (0, 0, zp) in the stack:
    two lists of three Python complex numbers (Cartesian components)."""
    if source not in ("electric", "magnetic"):
        raise ValueError("source must be 'electric' or 'magnetic'")
    rho = math.hypot(x, y)
    phi = math.atan2(y, x) if rho > 0 else 0.0
    u = cf.unit_vector(direction)
    vec = [complex(moment) * float(c) for c in u]
    s = stack.source_layer(zp)
    pe = ph = None
    floor = 0.0
    if stack.receiver_layer(z) == s:
        # the primary field in closed form, in the source's medium (omega mu_s)
        with mp.workdps(30):
            pe, ph = cf.field_at(stack.k0, mp.mpc(stack.k[s]), mp.mpf(x), mp.mpf(y),
                                 mp.mpf(z) - mp.mpf(zp), source, [mp.mpc(v) for v in vec],
                                 exp=mp.exp, sqrt=mp.sqrt)
            pe = [complex(mp.mpc(stack.mu_r[s]) * v) for v in pe]
            ph = [complex(v) for v in ph]
        # panels resolve the integrated part to 1e-19 of the primary field at least
        floor = 1e-19 * min(max(abs(v) for v in pe), max(abs(v) for v in ph))
    e_s, h_s = scattered_fields(stack, rho, phi, z, zp, source, vec, contour, stats, floor)
    e = [complex(dr._to_mp(v)) for v in e_s]
    h = [complex(dr._to_mp(v)) for v in h_s]
    if pe is not None:
        e = [a + b for a, b in zip(e, pe)]
        h = [a + b for a, b in zip(h, ph)]
    return e, h
