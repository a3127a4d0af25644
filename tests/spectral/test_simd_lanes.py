"""The SIMD lane code against mpmath and against the scalar path.

Every lane target this build has and this CPU runs is tested (the scalar
table too, which must agree with itself bit for bit). Lanes holding special
values must come back exactly as the scalar code gives them, signed zeros and
NaN included; ordinary lanes within a few units in the last place.
"""
import os
import subprocess
import sys
import textwrap

import mpmath as mp
import numpy as np
import pytest

import _near_interface_probe as probe

EPS = np.finfo(float).eps
TARGETS = probe.lane_targets()
LANES = [t for t in TARGETS if t != "scalar"]
K_LOSSY = np.sqrt(4 - 1j)


def ulps(got, reference):
    """|got - ref| in units of the spacing of doubles at |ref| (mpmath reference)."""
    out = np.empty(len(got))
    for i, (g, r) in enumerate(zip(got, reference)):
        out[i] = 0.0 if r == 0 else float(abs(mp.mpf(float(g)) - r) / np.spacing(abs(float(r))))
    return out


def same_bits(a, b):
    return np.asarray(a).tobytes() == np.asarray(b).tobytes()


def test_dispatch_picks_an_available_target():
    assert "scalar" in TARGETS
    assert probe.lane_target() in TARGETS
    with pytest.raises(ValueError):
        probe.lane_kernel(1.0, -1.0, 1.0, K_LOSSY, np.ones(3), "no such target")


@pytest.mark.parametrize("value, forced", [("1", True), ("yes", True), ("0", False), ("", False)])
def test_nia_scalar_switch(value, forced):
    code = "import _near_interface_probe as p; print(p.lane_target())"
    env = dict(os.environ, NIA_SCALAR=value)
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         check=True, timeout=60).stdout.strip()
    if forced or not LANES:
        assert out == "scalar"
    else:
        assert out in LANES


# ---------------------------------------------------------------- exp, sin, cos

def exp_arguments():
    rng = np.random.default_rng(0)
    tiny = 10.0 ** rng.uniform(-300, 0, 300) * rng.choice([-1.0, 1.0], 300)
    # both sides of every half-integer multiple of ln 2, where the reduction switches k
    edges = (np.arange(-1000, 1001, 37) + 0.5) * np.log(2)
    edges = np.concatenate([np.nextafter(edges, -np.inf), edges, np.nextafter(edges, np.inf)])
    return np.concatenate([rng.uniform(-699.9, 699.9, 1500), rng.uniform(-1, 1, 300), tiny,
                           edges[np.abs(edges) < 700], [0.0, -0.0]])


def trig_arguments():
    rng = np.random.default_rng(1)
    # near the multiples of pi/4 (quadrant and reduction switches), every magnitude
    k = np.unique(np.round(10.0 ** rng.uniform(0, 5, 300)))
    near = np.concatenate([k * np.pi / 4, k * np.pi / 2])
    near = near[near <= 1e5]
    return np.concatenate([rng.uniform(-4, 4, 800), rng.uniform(-100, 100, 600),
                           rng.uniform(-1e5, 1e5, 600), near, -near,
                           10.0 ** rng.uniform(-300, 0, 200), [1e5, -1e5]])


@pytest.mark.parametrize("target", TARGETS)
def test_lane_exp_against_mpmath(target):
    mp.mp.prec = 120
    x = exp_arguments()
    got = probe.lane_exp(x, target)
    err = ulps(got, [mp.exp(mp.mpf(v)) for v in x])
    assert err.max() <= 1.0, (err.max(), x[err.argmax()])


@pytest.mark.parametrize("target", TARGETS)
def test_lane_sin_cos_against_mpmath(target):
    mp.mp.prec = 160
    x = trig_arguments()
    s, c = probe.lane_sincos(x, target)
    es = ulps(s, [mp.sin(mp.mpf(v)) for v in x])
    ec = ulps(c, [mp.cos(mp.mpf(v)) for v in x])
    assert es.max() <= 2.0, (es.max(), x[es.argmax()])
    assert ec.max() <= 2.0, (ec.max(), x[ec.argmax()])


@pytest.mark.parametrize("target", LANES)
def test_lane_exp_sin_cos_special_values(target):
    """Beyond the lane ranges the scalar libm answers, bit for bit."""
    beyond_exp = np.array([np.nan, np.inf, -np.inf, 700.0, -700.0, 710.0, -746.0, 1e300])
    assert same_bits(probe.lane_exp(beyond_exp, target), probe.lane_exp(beyond_exp, "scalar"))
    beyond_trig = np.array([np.nan, np.inf, -np.inf, 1e300, 2e5, -2e5, np.nextafter(1e5, 2e5)])
    s, c = probe.lane_sincos(beyond_trig, target)
    s_ref, c_ref = probe.lane_sincos(beyond_trig, "scalar")
    assert same_bits(s, s_ref) and same_bits(c, c_ref)
    zeros = np.array([0.0, -0.0])
    s, c = probe.lane_sincos(zeros, target)
    assert same_bits(s, zeros) and same_bits(c, np.ones(2))  # sin(+-0) = +-0


# ---------------------------------------------------------------- the kernel

# (z, zp, k_m) of the media and heights the kernel is tested at
MEDIA = [(0.5, -0.3, K_LOSSY), (0.0, 0.0, K_LOSSY), (3.0, -3.0, 1.5 + 0j), (0.1, -2.0, 3 - 0.01j)]


def path_points(k_m, n=600, seed=2):
    """lambda where the rules put their nodes: the detour arch, the real axis
    through the branch points, the tail rays in the first quadrant."""
    rng = np.random.default_rng(seed)
    span = 2.0 * max(1.0, abs(k_m))
    t = rng.uniform(0, span, n)
    detour = t + 1j * 0.1 * np.sin(np.pi * t / span)
    axis = rng.uniform(0, 12 * span, n) + 0j
    ray = 10 * span + 10.0 ** rng.uniform(-2, 3, n) * np.exp(1j * rng.uniform(0.05, 1.5, n))
    return np.concatenate([detour, axis, ray])


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("z, zp, k_m", MEDIA)
def test_lane_kernel_against_scalar(target, z, zp, k_m):
    lam = path_points(k_m)
    ref = probe.spectral_kernel(z, zp, 1.0, k_m, lam)
    got = probe.lane_kernel(z, zp, 1.0, k_m, lam, target)
    scale = np.abs(ref).max(axis=-1, keepdims=True)
    finite = np.isfinite(ref).all(axis=-1) & (scale[:, 0] > 0)
    err = np.abs(got - ref)[finite] / scale[finite]
    assert err.max() <= 8 * EPS, err.max() / EPS
    assert same_bits(got[~finite], ref[~finite])


# special values and cut-over points, each mixed into a block of ordinary nodes
SPECIAL_LAMBDA = [complex(np.nan, 0), complex(0, np.nan), complex(np.inf, 0), complex(-np.inf, 1),
                  complex(1e200, 1e200), 1e-200 + 0j, 0j, complex(-0.0, -0.0),
                  1.0 + 0j, complex(K_LOSSY), -1.0 + 0j, 1e155 + 0j, 3e5 + 1e4j, 0.5 + 1e-320j]


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("special", SPECIAL_LAMBDA)
@pytest.mark.parametrize("position", [0, 5, 9])
def test_lane_kernel_special_values_exact(target, special, position):
    lam = np.linspace(0.3, 4.0, 11) + 0.05j
    lam[position] = special
    ref = probe.spectral_kernel(0.5, -0.3, 1.0, K_LOSSY, lam)
    got = probe.lane_kernel(0.5, -0.3, 1.0, K_LOSSY, lam, target)
    if not (np.isfinite(ref[position]).all() and np.abs(ref[position]).max() < 1e150):
        assert same_bits(got[position], ref[position])
    others = np.arange(lam.size) != position
    err = np.abs(got[others] - ref[others]) / np.abs(ref[others]).max(axis=-1, keepdims=True)
    assert err.max() <= 8 * EPS


# ---------------------------------------------------------------- Hankel

def ray_arguments(kind, n=3000, seed=3):
    """rho lambda on tail rays: moduli from 0.1 to 1e5, both index branches."""
    rng = np.random.default_rng(seed)
    zeta = 10.0 ** rng.uniform(-1, 5, n) * np.exp(1j * rng.uniform(0.0, np.pi / 2, n))
    # both sides of the switch radii |w| = 2 and R2 = 28.67 of K0
    edge = np.array([2.0, 28.666666666666664])
    ring = np.concatenate([edge * (1 + d) for d in (-1e-13, -1e-15, 0.0, 1e-15, 1e-13)])
    # the series lanes, densely up to |w| = 2
    inner = 10.0 ** rng.uniform(-7, np.log10(2.0), n // 2) * np.exp(1j * rng.uniform(0, np.pi / 2, n // 2))
    zeta = np.concatenate([zeta, inner, ring * np.exp(0.7j), ring * np.exp(0.05j)])
    return zeta if kind == 1 else np.conj(zeta)


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("kind", [1, 2])
def test_lane_hankel_against_scalar(target, kind):
    zeta = ray_arguments(kind)
    ref = probe.hankel0(kind, zeta)
    got = probe.lane_hankel0(kind, zeta, target)
    exact = ref == got
    scale = np.abs(ref)
    ordinary = np.isfinite(ref) & (scale > 0)
    err = np.abs(got - ref)[ordinary] / scale[ordinary]
    # Just below |w| = 2 the series cancels (I0/K0 is about 20 there): the
    # scalar code itself is up to 9 ulps from mpmath, the lanes likewise.
    assert err.max() <= 16 * EPS, err.max() / EPS
    assert np.percentile(err, 99) <= 4 * EPS
    assert same_bits(got[~ordinary], ref[~ordinary])
    assert exact.mean() < 0.9  # the lanes did compute most values


@pytest.mark.parametrize("target", LANES)
def test_lane_hankel_against_mpmath(target):
    mp.mp.dps = 30
    zeta = np.array([3 + 4j, 12 + 30j, 40 + 1j, 0.5 + 80j, 2.5 + 0.1j, 1e3 + 30j, 25 + 25j])
    got = probe.lane_hankel0(1, zeta, target)
    for g, z in zip(got, zeta):
        ref = mp.hankel1(0, mp.mpc(z))
        assert abs(mp.mpc(g) - ref) / abs(ref) < 1e-14


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("special", [complex(np.nan, 1), complex(1, np.nan), 0j, complex(np.inf, 1),
                                     complex(-1e3, 1), complex(1, -1e3), complex(0, 3), complex(3, 0),
                                     complex(1e16, 1), 1e-306 + 1e-306j, complex(1.9, 0.1),
                                     complex(2000, 1000), complex(5, 1e5 + 3)])
@pytest.mark.parametrize("kind", [1, 2, 3])
def test_lane_hankel_special_values_exact(target, special, kind):
    zeta = np.linspace(3.0, 40.0, 11) * np.exp(0.6j if kind != 2 else -0.6j)
    zeta[4] = special
    ref = probe.hankel0(kind, zeta)
    got = probe.lane_hankel0(kind, zeta, target)
    if not (np.isfinite(ref[4]) and abs(ref[4]) > 0):
        assert same_bits(got[4], ref[4])
    others = np.arange(zeta.size) != 4
    if kind in (1, 2):
        assert (np.abs(got[others] - ref[others]) <= 8 * EPS * np.abs(ref[others])).all()
    else:
        assert same_bits(got, ref)


# ---------------------------------------------------------------- J0

def j0_arguments(n=4000, seed=4):
    """The detour's complex and the segment's real arguments, every method's
    range and both sides of the switch radii 8 and 25."""
    rng = np.random.default_rng(seed)
    real = np.concatenate([10.0 ** rng.uniform(-5.9, 5, n), rng.uniform(0, 40, n)])
    ring = np.array([8.0, 25.0])
    ring = np.concatenate([ring * (1 + d) for d in (-1e-15, 0.0, 1e-15, 1e-9)])
    cplx = 10.0 ** rng.uniform(-5.9, np.log10(25.0), n) * np.exp(1j * rng.uniform(-np.pi, np.pi, n))
    detour = rng.uniform(0, 30, n) + 1j * rng.uniform(0, 3, n)
    return real, np.concatenate([cplx, detour, ring * np.exp(0.3j), -ring * np.exp(0.3j)])


@pytest.mark.parametrize("target", LANES)
def test_lane_j0_against_scalar(target):
    real, cplx = j0_arguments()
    # every method repeats the scalar operations, the expansion with libm's
    # sine and cosine: bit for bit the scalar values
    got, ref = probe.lane_j0(real + 0j, target), probe.bessel_j0(real + 0j)
    assert same_bits(got, ref)
    got, ref = probe.lane_j0(cplx, target), probe.bessel_j0(cplx)
    assert same_bits(got, ref)


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("special", [complex(np.nan, 0), complex(0, np.nan), complex(np.inf, 0),
                                     complex(1, np.inf), 0j, complex(-0.0, 0.0), 1e-7 + 0j,
                                     1e-7 + 1e-7j, -3 + 0j, complex(-3, -0.0), 1e160 + 0j,
                                     2e5 + 0j, 30 + 1j, -8 + 1e-300j, complex(1e-200, 1e-200)])
def test_lane_j0_special_values_exact(target, special):
    z = np.linspace(0.5, 20.0, 11) + 0.1j
    z[3] = special
    assert same_bits(probe.lane_j0(z, target), probe.bessel_j0(z))


# ---------------------------------------------------------------- whole rows

ROWS_CHILD = textwrap.dedent("""
    import sys
    import numpy as np
    import _near_interface_accel as accel
    rng = np.random.default_rng(int(sys.argv[1]))
    n = int(sys.argv[2])
    rho = 10.0 ** rng.uniform(-2, np.log10(50), n)
    z = np.where(rng.random(n) < 0.2, 0.0, rng.uniform(0, 3, n))
    zp = np.where(rng.random(n) < 0.2, 0.0, -rng.uniform(0, 3, n))
    k_m = [np.sqrt(4 - 1j), 1.5 + 0j, 3 - 0.01j][int(sys.argv[1]) % 3]
    gx, gw = np.polynomial.legendre.leggauss(int(sys.argv[3]))
    out = accel.near_interface_six_batch(1.0, k_m, rho, z, zp, 1e-8, 10.0, 20, 0.1, gx, gw)
    sys.stdout.buffer.write(out.tobytes())
""")


def rows(seed, n, nodes, scalar):
    env = dict(os.environ, OMP_NUM_THREADS="2", NIA_SCALAR="1" if scalar else "0")
    out = subprocess.run([sys.executable, "-c", ROWS_CHILD, str(seed), str(n), str(nodes)],
                         env=env, capture_output=True, check=True, timeout=600).stdout
    return np.frombuffer(out, dtype=np.complex128).reshape(-1, 6)


@pytest.mark.skipif(not LANES, reason="no lane target on this CPU")
# 8 nodes: one whole block per panel; 5 and 12: a short block (padded lanes)
@pytest.mark.parametrize("seed, n, nodes", [(11, 1500, 8), (12, 800, 8), (13, 400, 5), (14, 300, 12)])
def test_rows_against_scalar_path(seed, n, nodes):
    lane, scalar = rows(seed, n, nodes, False), rows(seed, n, nodes, True)
    scale = np.abs(scalar).max(axis=-1, keepdims=True)
    assert np.isfinite(scalar).all() and np.isfinite(lane).all()
    assert (np.abs(lane - scalar) <= 1e-14 * scale).all(), np.max(np.abs(lane - scalar) / scale)


# ---------------------------------------------------------------- order one

@pytest.mark.parametrize("target", TARGETS)
def test_lane_j01_against_scalar(target):
    # J1 rides in J0's loops with the scalar operations: both bit for bit
    # bessel_j01's, and the J0 bit for bit the lane J0's
    real, cplx = j0_arguments(seed=5)
    for z in (real + 0j, -real + 0j, cplx):
        j0, j1 = probe.lane_j01(z, target)
        r0, r1 = probe.bessel_j01(z)
        assert same_bits(j0, r0) and same_bits(j1, r1)
        assert same_bits(j0, probe.lane_j0(z, target))


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("special", [complex(np.nan, 0), complex(0, np.nan), complex(np.inf, 0),
                                     complex(1, np.inf), 0j, complex(-0.0, 0.0), complex(-0.0, -0.0),
                                     1e-7 + 0j, -1e-7 + 1e-7j, -3 + 0j, complex(-3, -0.0), -30 + 0j,
                                     1e160 + 0j, 2e5 + 0j, 30 + 1j, -8 + 1e-300j, -12 - 2j,
                                     complex(1e-200, 1e-200)])
def test_lane_j01_special_values_exact(target, special):
    z = np.linspace(0.5, 20.0, 11) + 0.1j
    z[3] = special
    j0, j1 = probe.lane_j01(z, target)
    r0, r1 = probe.bessel_j01(z)
    assert same_bits(j0, r0) and same_bits(j1, r1)


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("kind", [1, 2])
def test_lane_hankel01_against_scalar(target, kind):
    zeta = ray_arguments(kind, seed=6)
    h0, h1 = probe.lane_hankel01(kind, zeta, target)
    # H0 is the order-zero lane code's, bit for bit
    assert same_bits(h0, probe.lane_hankel0(kind, zeta, target))
    ref = probe.hankel1(kind, zeta)
    scale = np.abs(ref)
    ordinary = np.isfinite(ref) & (scale > 0)
    err = np.abs(h1 - ref)[ordinary] / scale[ordinary]
    # K1 = K0 (w + 1/2 - p1/p0) / w adds two quotients and a product to K0's
    # few ulps; Temme's K1 series cancels less than K0's near |w| = 2
    assert err.max() <= 16 * EPS, err.max() / EPS
    assert np.percentile(err, 99) <= 4 * EPS
    assert same_bits(h1[~ordinary], ref[~ordinary])
    assert (h1 == ref).mean() < 0.9  # the lanes did compute most values


@pytest.mark.parametrize("target", LANES)
def test_lane_hankel1_against_mpmath(target):
    mp.mp.dps = 30
    zeta = np.array([3 + 4j, 12 + 30j, 40 + 1j, 0.5 + 80j, 2.5 + 0.1j, 1e3 + 30j, 25 + 25j, 1.2 + 0.7j, 0.01 + 0.02j])
    _, got = probe.lane_hankel01(1, zeta, target)
    for g, z in zip(got, zeta):
        ref = mp.hankel1(1, mp.mpc(z))
        assert abs(mp.mpc(g) - ref) / abs(ref) < 1e-14


@pytest.mark.parametrize("target", LANES)
@pytest.mark.parametrize("special", [complex(np.nan, 1), complex(1, np.nan), 0j, complex(np.inf, 1),
                                     complex(-1e3, 1), complex(1, -1e3), complex(0, 3), complex(3, 0),
                                     complex(1e16, 1), 1e-306 + 1e-306j, complex(1.9, 0.1), 1e-7 + 1e-7j,
                                     complex(2000, 1000), complex(5, 1e5 + 3)])
@pytest.mark.parametrize("kind", [1, 2, 3])
def test_lane_hankel01_special_values_exact(target, special, kind):
    zeta = np.linspace(3.0, 40.0, 11) * np.exp(0.6j if kind != 2 else -0.6j)
    zeta[4] = special
    h0, h1 = probe.lane_hankel01(kind, zeta, target)
    r0, r1 = probe.hankel01(kind, zeta)
    assert same_bits(h0, probe.lane_hankel0(kind, zeta, target))
    if not (np.isfinite(r1[4]) and abs(r1[4]) > 0):
        assert same_bits(h1[4], r1[4])
    others = np.arange(zeta.size) != 4
    if kind in (1, 2):
        assert (np.abs(h1[others] - r1[others]) <= 8 * EPS * np.abs(r1[others])).all()
    else:
        assert same_bits(h0, r0) and same_bits(h1, r1)


@pytest.mark.parametrize("n", [1, 7, 8, 9, 17])
def test_lane_order_one_blocks_of_any_length(n):
    # whole blocks and a short one (padded lanes) give the same values
    zeta = np.linspace(0.5, 60.0, 17)[:n] * np.exp(0.4j)
    for target in TARGETS:
        h0, h1 = probe.lane_hankel01(1, zeta, target)
        g0, g1 = probe.lane_hankel01(1, np.concatenate([zeta, zeta]), target)
        assert same_bits(h1, g1[:n]) and same_bits(h1, g1[n:])
        j0, j1 = probe.lane_j01(zeta, target)
        assert same_bits(j1, probe.bessel_j1(zeta))


def test_nia_scalar_forces_the_scalar_order_one_functions():
    code = textwrap.dedent("""
        import numpy as np
        import _near_interface_probe as p
        z = np.linspace(0.5, 40.0, 64) * np.exp(0.3j)
        h0, h1 = p.lane_hankel01(1, z)
        r0, r1 = p.hankel01(1, z)
        j0, j1 = p.lane_j01(z)
        print(p.lane_target(), h1.tobytes() == r1.tobytes(), h0.tobytes() == r0.tobytes())
    """)
    env = dict(os.environ, NIA_SCALAR="1")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         check=True, timeout=60).stdout.split()
    assert out == ["scalar", "True", "True"]
