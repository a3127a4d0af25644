"""The batch entry: conversions, validation order and messages, result shape,
the error after the loop, and the release of the interpreter lock."""
import threading
import time

import numpy as np
import pytest

import _near_interface_accel as accel

GX, GW = np.polynomial.legendre.leggauss(8)
DIMS = "array has incorrect number of dimensions: "
SAME = "rho, z and zp must have the same length"
GAUSS = "bad Gauss rule"
HEIGHTS = "need z >= 0 >= zp"
R_POS = "need R > 0"


def call(rho, z, zp, *, k_p=1.0, k_m=2 - 0.5j, rtol=1e-6, lam_mult=10.0, depth=8,
         detour=0.1, gx=GX, gw=GW):
    return accel.near_interface_six_batch(k_p, k_m, rho, z, zp, rtol, lam_mult, depth,
                                          detour, gx, gw)


def test_module_contents():
    assert accel.__doc__ == (
        "tarnvel#680 U2: the C++ twin of _near_interface.six_point. Optional; "
        "_near_interface falls back to the numpy walk without it.")
    assert accel.near_interface_680 is True
    assert accel.near_interface_six_batch.__doc__.splitlines()[-1] == (
        "six_point over parallel (rho, z, zp) arrays -> (n, 6) complex. k_p/k_m arrive "
        "derived (k_medium keeps the branch choice); the U1 memo layer in Python hands "
        "this UNIQUE triples only.")


NAN = float("nan")


@pytest.mark.parametrize("rho, z, zp, gx, gw, exc, message", [
    # dimensions are checked per array, rho first, before lengths
    (np.zeros((2, 1)), [1.0], [-1.0], GX, GW, ValueError, DIMS + "2; expected 1"),
    ([1.0], np.zeros((1, 1)), [-1.0, 0.0], GX, GW, ValueError, DIMS + "2; expected 1"),
    (1.0, [1.0], [-1.0], GX, GW, ValueError, DIMS + "0; expected 1"),
    ([1.0], [1.0, 2.0], np.zeros((1, 1, 1)), GX, GW, ValueError, DIMS + "3; expected 1"),
    # lengths before the Gauss rule
    ([1.0], [1.0, 2.0], [-1.0], GX[:3], GW, ValueError, SAME),
    ([1.0, 2.0], [1.0, 2.0], [-1.0], GX, GW, ValueError, SAME),
    # the Gauss rule, before any triple is looked at
    ([1.0], [-1.0], [-1.0], GX[:3], GW, ValueError, GAUSS),
    ([1.0], [1.0], [-1.0], [], [], ValueError, GAUSS),
    ([1.0], [1.0], [-1.0], GX.reshape(2, 4), GW, ValueError, GAUSS),
    ([1.0], [1.0], [-1.0], GX, GW.reshape(4, 2), ValueError, GAUSS),
    ([1.0], [1.0], [-1.0], 0.5, 2.0, ValueError, GAUSS),
    ([], [], [], [], [], ValueError, GAUSS),
    # per triple: z >= 0, zp <= 0, rho >= 0, R > 0, in that order
    ([1.0], [-0.5], [-1.0], GX, GW, ValueError, HEIGHTS),
    ([1.0], [NAN], [-1.0], GX, GW, ValueError, HEIGHTS),
    ([1.0], [0.5], [0.25], GX, GW, ValueError, HEIGHTS),
    ([-1.0], [0.5], [0.25], GX, GW, ValueError, HEIGHTS),
    ([-1.0], [0.5], [-0.25], GX, GW, ValueError, R_POS),
    ([NAN], [0.5], [-0.25], GX, GW, ValueError, R_POS),
    ([0.0], [0.0], [0.0], GX, GW, ValueError, R_POS),
    ([0.0], [0.0], [NAN], GX, GW, ValueError, R_POS),  # a NaN zp passes the height test
    # the first failing triple decides
    ([1.0, -1.0, 1.0], [0.5, 0.5, -1.0], [0.0, 0.0, 0.0], GX, GW, ValueError, R_POS),
    ([1.0, 1.0, -1.0], [0.5, -1.0, 0.5], [0.0, 0.0, 0.0], GX, GW, ValueError, HEIGHTS),
])
def test_validation_table(rho, z, zp, gx, gw, exc, message):
    with pytest.raises(exc) as info:
        call(rho, z, zp, gx=gx, gw=gw)
    assert str(info.value) == message


def test_infinite_heights_pass_validation():
    # (inf - (-inf)) + 1 = inf > 0: a valid triple, its row is whatever the numbers give
    out = call([1.0], [np.inf], [-np.inf])
    assert out.shape == (1, 6)


@pytest.mark.parametrize("gx, gw", [(GX, GW), ([], [])])
def test_empty_batch(gx, gw):
    if len(gx) == 0:
        with pytest.raises(ValueError, match="^bad Gauss rule$"):
            call([], [], [], gx=gx, gw=gw)
    else:
        out = call([], [], [], gx=gx, gw=gw)
        assert out.shape == (0, 6) and out.dtype == np.complex128


@pytest.mark.parametrize("arrays", [
    ([1, 2], [1, 0], [0, -3]),                                  # lists of ints
    (np.array([1, 2]), np.array([1, 0]), np.array([0, -3])),    # integer arrays
    (np.array([1.0, 2.0], np.float32), (1.0, 0.0), [0.0, -3.0]),
    (np.array([2.0, 1.0])[::-1], np.array([1.0, 9.0, 0.0])[::2], [0.0, -3.0]),  # strided
])
def test_array_like_inputs_are_converted(arrays):
    rho, z, zp = arrays
    ref = call(np.array([1.0, 2.0]), np.array([1.0, 0.0]), np.array([0.0, -3.0]))
    out = call(rho, z, zp)
    assert out.shape == (2, 6) and out.dtype == np.complex128
    assert out.flags["C_CONTIGUOUS"]
    np.testing.assert_array_equal(out, ref)


def test_depth_must_be_an_integer():
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call([1.0], [1.0], [0.0], depth=3.0)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call([1.0], [1.0], [0.0], depth=2**31)
    assert call([1.0], [1.0], [0.0], depth=3).shape == (1, 6)


def test_keywords_and_positional_agree():
    args = dict(k_p=1.0, k_m=1.5, rho=[0.0, 0.5], z=[1.0, 0.2], zp=[-0.5, 0.0], rtol=1e-6,
                lam_mult=10.0, depth=10, detour=0.1, gx=GX, gw=GW)
    by_name = accel.near_interface_six_batch(**args)
    by_position = accel.near_interface_six_batch(*args.values())
    np.testing.assert_array_equal(by_name, by_position)
    with pytest.raises(TypeError):
        accel.near_interface_six_batch(*list(args.values())[:-1])


def test_wrong_types_give_type_error():
    with pytest.raises(TypeError):
        call([1.0], [1.0], [0.0], k_p="one")
    with pytest.raises(TypeError):
        call(["a"], [1.0], [0.0])
    with pytest.raises(TypeError):
        call([1.0], [1.0], [0.0], k_p=1j)


# Separated heights make every tail value underflow to zero, so even rtol = 0
# lets the tail go quiet; touching heights keep the tail loud for ever.
QUIET = (0.0, 0.0, -1e4)
LOUD = (0.0, 0.5, -0.25)


@pytest.mark.parametrize("order", [(QUIET, LOUD), (LOUD, QUIET), (LOUD, LOUD)])
def test_tail_failure_raises_after_the_loop(order):
    rho, z, zp = (np.array(v) for v in zip(*order))
    with pytest.raises(RuntimeError) as info:
        call(rho, z, zp, rtol=0.0, depth=0)
    assert str(info.value) == "rotated tail did not go quiet inside the panel budget"


def test_quiet_triple_alone_succeeds_with_zero_rtol():
    out = call(*([v] for v in QUIET), rtol=0.0, depth=0)
    assert out.shape == (1, 6) and np.isfinite(out).all()


def test_negative_rtol_never_goes_quiet():
    with pytest.raises(RuntimeError, match="did not go quiet"):
        call([0.0], [1.0], [0.0], rtol=-1.0, depth=0)


def test_interpreter_lock_is_released_during_the_loop():
    # The main thread takes a fixed number of steps, each of which needs the
    # interpreter lock, while the call runs in another thread; with the lock
    # held for the whole loop it could take them only after the call returned.
    # This measures progress, not time, so a slow or loaded machine only makes
    # the call longer.
    n = 400
    rho = np.zeros(n)
    z = np.linspace(0.01, 0.02, n)
    zp = np.zeros(n)
    started, done = threading.Event(), threading.Event()

    def work():
        started.set()
        call(rho, z, zp, rtol=1e-13, depth=25)
        done.set()

    worker = threading.Thread(target=work)
    worker.start()
    assert started.wait(60)
    steps = 0
    while steps < 200 and not done.is_set():
        time.sleep(0)           # give the lock up; taking it back needs the worker to let go
        steps += 1
    finished_first = done.is_set()
    worker.join()
    assert not finished_first, "the call ended before the main thread took %d steps" % steps
