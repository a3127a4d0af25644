"""Reference values of Bessel and Hankel functions of orders 0 and 1 from python-flint.

flint's ball arithmetic tells how many bits survive, so each value is
recomputed at doubled working precision until the ball is narrower than
1e-20 of its midpoint: cancellation in J0 + iY0 (the decaying side of a
Hankel function) is then paid for with precision instead of accuracy.
"""

import flint

# Machine-independent radii where the methods switch.
SERIES_RADIUS = 2.0  # series / Miller (K0 and I0)
RL = 21.784271729432426  # Miller / large-argument expansion (I0)
T2 = 28.666666666666664  # empirical / forward-recurrence backward index (K0)
LOSS_LIMIT = 47453132.81212578
RANGE_LIMIT = 2.0**51
UFL = 2.2250738585072014e-305


def _adaptive(fn, z):
    z = complex(z)
    for prec in (64, 128, 256, 512, 1024, 2048, 4096, 8192):
        with flint.ctx.workprec(prec):
            h = fn(flint.acb(z.real, z.imag))
            mag = max(abs(float(h.real.mid())), abs(float(h.imag.mid())))
            rad = max(float(h.real.rad()), float(h.imag.rad()))
            if h.is_finite() and rad <= 1e-20 * mag:
                break
    return h


def _to_complex(a):
    return complex(float(a.real.mid()), float(a.imag.mid()))


def hankel_with_scale(kind, z, order=0):
    """(H_order^(kind)(z), |J_order(z)|): the value and the size of its two halves."""
    sign = 1 if kind == 1 else -1
    i = flint.acb(0, 1)
    h = _adaptive(lambda a: a.bessel_j(order) + sign * i * a.bessel_y(order), z)
    j = _adaptive(lambda a: a.bessel_j(order), z)
    return _to_complex(h), abs(_to_complex(j))


def hankel_value(kind, z, order=0):
    return hankel_with_scale(kind, z, order)[0]


def k_value(w, order):
    return _to_complex(_adaptive(lambda a: a.bessel_k(order), w))


def i_value(w, order):
    return _to_complex(_adaptive(lambda a: a.bessel_i(order), w))


def k0_value(w):
    return k_value(w, 0)


def i0_value(w):
    return i_value(w, 0)


def bessel_j_value(z, order):
    return _to_complex(_adaptive(lambda a: a.bessel_j(order), z))


def rotated(kind, z):
    """The argument zn = -i z (kind 1) or i z (kind 2) of K0, signed zeros kept."""
    fmm = 3.0 - 2.0 * kind
    z = complex(z)
    return complex(fmm * z.imag, -fmm * z.real)


def takes_continuation(kind, z):
    zn = rotated(kind, z)
    return zn.real < 0 or (zn.real == 0 and zn.imag < 0 and kind == 2)
