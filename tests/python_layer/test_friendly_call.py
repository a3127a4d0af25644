"""near_interface_accel.six_integrals: shapes, distinct triples, errors of the
compiled module passed on, own checks, threads, chunks, progress and Ctrl-C."""
import _thread
import sys
import threading

import numpy as np
import pytest
from threadpoolctl import threadpool_info

import _near_interface_accel as accel
import near_interface_accel as nia

K_P = 1.0
K_M = 2.0 - 0.5j
GX, GW = np.polynomial.legendre.leggauss(8)
TAIL = "rotated tail did not go quiet inside the panel budget"


def direct(rho, z, zp, *, k_m=K_M, rtol=1e-8, n_gauss=8, depth=20, lam_mult=10.0,
           detour=0.1):
    """The compiled call on the broadcast, flattened points."""
    r, h, hp = (np.ravel(a) for a in np.broadcast_arrays(np.asarray(rho, float),
                                                         np.asarray(z, float),
                                                         np.asarray(zp, float)))
    gx, gw = np.polynomial.legendre.leggauss(n_gauss)
    return accel.near_interface_six_batch(K_P, k_m, r, h, hp, rtol, lam_mult, depth, detour,
                                          gx, gw)


def omp_threads():
    return {lib["num_threads"] for lib in threadpool_info() if lib["user_api"] == "openmp"}


class Recorder:
    """Stands in for the compiled batch call: records what it is handed and
    delegates to the real one, optionally raising on the n-th call."""

    def __init__(self, real, *, fail_on=None, exc=None, interrupt_on=None):
        self.real, self.fail_on, self.exc, self.interrupt_on = real, fail_on, exc, interrupt_on
        self.calls = []
        self.threads = []

    def __call__(self, k_p, k_m, rho, z, zp, *rest):
        self.calls.append(np.stack([np.asarray(rho), np.asarray(z), np.asarray(zp)], axis=1))
        self.threads.append(omp_threads())
        n = len(self.calls)
        if n == self.fail_on:
            raise self.exc
        out = self.real(k_p, k_m, rho, z, zp, *rest)
        if n == self.interrupt_on:
            _thread.interrupt_main()   # Ctrl-C arriving while this chunk runs
        return out


@pytest.fixture
def recorder(monkeypatch):
    def install(**kw):
        rec = Recorder(accel.near_interface_six_batch, **kw)
        monkeypatch.setattr(accel, "near_interface_six_batch", rec)
        return rec
    return install


SHAPES = [
    # rho, z, zp -> broadcast shape
    (0.0, 0.5, -0.1),
    ([0.0, 1.5, 4.0], 0.5, -0.1),
    (np.array([[0.0], [2.0]]), [0.25, 1.0, 3.0], -0.2),
    (np.zeros((2, 1, 2)), np.linspace(0.1, 1.0, 3)[:, None], [-0.1, -0.3]),
    (np.zeros((0, 3)), 0.5, -0.1),
    ([1, 2], [1, 1], 0),          # integers are converted
]


@pytest.mark.parametrize("rho, z, zp", SHAPES)
def test_result_has_broadcast_shape_and_matches_direct_call_bit_for_bit(rho, z, zp):
    out = nia.six_integrals(K_P, K_M, rho, z, zp)
    shape = np.broadcast_shapes(np.shape(rho), np.shape(z), np.shape(zp))
    assert out.shape == shape + (6,)
    assert out.dtype == np.complex128 and out.flags.c_contiguous
    np.testing.assert_array_equal(out.reshape(-1, 6), direct(rho, z, zp))


@pytest.mark.parametrize("kwargs, direct_kwargs", [
    (dict(rtol=1e-5), dict(rtol=1e-5)),
    (dict(gauss_nodes=3), dict(n_gauss=3)),
    (dict(depth=4, lam_mult=6.0, detour=0.3), dict(depth=4, lam_mult=6.0, detour=0.3)),
])
def test_controls_reach_the_compiled_call(kwargs, direct_kwargs):
    rho, z, zp = [0.0, 0.7, 3.0], [0.3, 0.3, 2.0], -0.05
    np.testing.assert_array_equal(nia.six_integrals(K_P, K_M, rho, z, zp, **kwargs),
                                  direct(rho, z, zp, **direct_kwargs))


def test_lossless_upper_wavenumber_may_be_given_as_complex():
    k_p = nia.wavenumber(1.0, 1.0)
    assert isinstance(k_p, complex)
    np.testing.assert_array_equal(nia.six_integrals(k_p, K_M, [0.0, 1.0], 0.5, -0.1),
                                  nia.six_integrals(1.0, K_M, [0.0, 1.0], 0.5, -0.1))


def test_each_distinct_triple_is_evaluated_once_and_scattered_back(recorder):
    rec = recorder()
    rho = np.array([[1.0, 0.0, 1.0, 1.0], [0.0, 1.0, 2.0, 0.0]])
    z = np.array([0.5, 0.5, 0.5, 0.5])
    # -0.0 and 0.0 are distinct bit patterns, each gets the row of its own triple
    zp = np.array([[-0.1], [-0.0]])
    out = nia.six_integrals(K_P, K_M, rho, z, zp)
    handed = np.concatenate(rec.calls)
    keys = {row.tobytes() for row in handed}
    assert len(keys) == len(handed) == 5          # unique, and every distinct triple once
    np.testing.assert_array_equal(out.reshape(-1, 6), direct(rho, z, zp))


@pytest.mark.parametrize("rho, z, zp, message", [
    # the first invalid point in C order decides, even where sorting would not
    ([2.0, -1.0, 1.0], [0.5, 0.5, -1.0], -0.1, "need R > 0"),
    ([2.0, 1.0, -1.0], [0.5, -1.0, 0.5], -0.1, "need z >= 0 >= zp"),
    ([[5.0], [0.0]], [0.0, 1.0], [[0.0], [0.5]], "need z >= 0 >= zp"),
    (0.0, 0.0, 0.0, "need R > 0"),
    ([1.0, np.nan], 0.5, -0.1, "need R > 0"),
])
def test_invalid_points_raise_the_compiled_error_before_any_chunk(recorder, rho, z, zp,
                                                                   message):
    with pytest.raises(ValueError) as expected:
        direct(rho, z, zp)
    assert str(expected.value) == message
    rec = recorder()
    with pytest.raises(ValueError) as got:
        nia.six_integrals(K_P, K_M, rho, z, zp, chunk_size=1)
    assert str(got.value).startswith(message + ": ")
    assert len(rec.calls) == 1 and len(rec.calls[0]) == 1    # no valid triple was computed


def test_type_errors_of_the_compiled_call_pass_through():
    with pytest.raises(TypeError) as expected:
        direct([1.0], [0.5], [-0.1], depth=3.0)
    with pytest.raises(TypeError) as got:
        nia.six_integrals(K_P, K_M, [1.0], [0.5], [-0.1], depth=3.0)
    assert str(got.value) == str(expected.value)


def test_runtime_error_after_a_chunk_passes_through_unchanged(recorder):
    exc = RuntimeError(TAIL)
    rec = recorder(fail_on=2, exc=exc)
    with pytest.raises(RuntimeError) as got:
        nia.six_integrals(K_P, K_M, np.linspace(0.0, 2.0, 6), 0.5, -0.1, chunk_size=2)
    assert got.value is exc
    assert len(rec.calls) == 2


@pytest.mark.parametrize("k_p, k_m, kwargs, exc, match", [
    (1 + 0.1j, K_M, {}, ValueError, "k_p must be a positive, finite real"),
    (0.0, K_M, {}, ValueError, "k_p must be a positive"),
    (-1.0, K_M, {}, ValueError, "k_p must be a positive"),
    (float("nan"), K_M, {}, ValueError, "k_p must be a positive"),
    ("1.0", K_M, {}, TypeError, "k_p must be a number"),
    (K_P, 2 + 0.5j, {}, ValueError, r"positive imaginary part.*wavenumber\(k0, eps_r, mu_r\)"),
    (K_P, complex(2, float("inf")), {}, ValueError, "k_m must be finite"),
    (K_P, K_M, dict(rtol=0.0), ValueError, "rtol must be positive"),
    (K_P, K_M, dict(rtol=float("nan")), ValueError, "rtol must be positive"),
    (K_P, K_M, dict(rtol=1e-15), ValueError, r"rtol = 1e-15 is below 1e-13.*Use rtol >= 1e-13"),
    (K_P, K_M, dict(rtol=9.9e-14), ValueError, "is below 1e-13"),
    (K_P, K_M, dict(invalid="skip"), ValueError, "invalid must be 'raise' or 'nan'"),
    (K_P, K_M, dict(lam_mult=-10.0), ValueError, "lam_mult must be positive"),
    (K_P, K_M, dict(detour=float("inf")), ValueError, "detour must be finite"),
    (K_P, K_M, dict(gauss_nodes=0), ValueError, "gauss_nodes must be at least 1"),
    (K_P, K_M, dict(gauss_nodes=8.0), TypeError, None),
    (K_P, K_M, dict(workers=0), ValueError, "workers must be at least 1"),
    (K_P, K_M, dict(chunk_size=0), ValueError, "chunk_size must be at least 1"),
    (K_P, K_M, dict(chunk_size=True), TypeError, "chunk_size must be an int"),
])
def test_wavenumbers_and_controls_are_checked_before_any_work(recorder, k_p, k_m, kwargs, exc,
                                                              match):
    rec = recorder()
    with pytest.raises(exc, match=match):
        nia.six_integrals(k_p, k_m, [0.0, 1.0], 0.5, -0.1, **kwargs)
    assert rec.calls == []


@pytest.mark.parametrize("rho, z, zp, exc, match", [
    ([1.0, 2.0], [0.5, 0.5, 0.5], -0.1, ValueError, r"cannot be broadcast.*\(2,\), \(3,\)"),
    ([1.0 + 0.0j], 0.5, -0.1, TypeError, "rho must be real"),
    (1.0, ["a"], -0.1, TypeError, "z must be a real number"),
])
def test_points_that_are_not_real_arrays_of_one_shape_are_refused(rho, z, zp, exc, match):
    with pytest.raises(exc, match=match):
        nia.six_integrals(K_P, K_M, rho, z, zp)


@pytest.mark.parametrize("n, chunk_size, calls", [
    (7, 1, 7), (7, 3, 3), (7, 7, 1), (7, 100, 1), (7, None, 1), (0, 4, 1),
])
def test_chunks_split_the_distinct_triples_and_join_bit_for_bit(recorder, n, chunk_size, calls):
    rho = np.linspace(0.0, 3.0, n)
    rec = recorder()
    out = nia.six_integrals(K_P, K_M, rho, 0.4, -0.1, chunk_size=chunk_size)
    assert len(rec.calls) == calls
    assert all(len(c) <= (chunk_size or n) for c in rec.calls)
    np.testing.assert_array_equal(out, direct(rho, 0.4, -0.1))


def test_progress_bar_counts_the_points_asked_for(recorder, capsys):
    # twelve points, three distinct triples: the bar counts the twelve
    rec = recorder()
    nia.six_integrals(K_P, K_M, np.tile([0.0, 1.0, 2.0], 4), 0.5, -0.1, progress=True)
    err = capsys.readouterr().err
    assert "12/12" in err and "six integrals" in err and "point" in err
    assert sum(len(c) for c in rec.calls) == 3
    nia.six_integrals(K_P, K_M, [0.0, 1.0, 1.0], 0.0, 0.0, progress=True, invalid="nan")
    assert "3/3" in capsys.readouterr().err     # the skipped source point counts too


def test_progress_without_tqdm_fails_before_any_work(recorder, monkeypatch):
    rec = recorder()
    monkeypatch.setitem(sys.modules, "tqdm", None)
    monkeypatch.setitem(sys.modules, "tqdm.auto", None)
    with pytest.raises(ImportError, match="progress=True needs tqdm"):
        nia.six_integrals(K_P, K_M, [0.0, 1.0], 0.5, -0.1, progress=True)
    assert rec.calls == []


def test_ctrl_c_stops_the_batch_between_chunks_and_restores_threads(recorder):
    before = omp_threads()
    rec = recorder(interrupt_on=2)
    with pytest.raises(KeyboardInterrupt):
        nia.six_integrals(K_P, K_M, np.linspace(0.0, 2.0, 10), 0.5, -0.1, chunk_size=2,
                          workers=1)
    assert len(rec.calls) == 2          # three chunks were never started
    assert rec.threads == [{1}, {1}]
    assert omp_threads() == before


@pytest.mark.parametrize("workers", [1, 2, 3])
def test_workers_limits_openmp_for_the_call_only(recorder, workers):
    before = omp_threads()
    assert before                       # the compiled module brought an OpenMP runtime
    rec = recorder()
    nia.six_integrals(K_P, K_M, [0.0, 1.0, 2.0], 0.5, -0.1, workers=workers, chunk_size=2)
    assert rec.threads == [{workers}, {workers}]
    assert omp_threads() == before


def test_workers_limit_is_restored_after_an_error(recorder):
    before = omp_threads()
    rec = recorder(fail_on=1, exc=RuntimeError(TAIL))
    with pytest.raises(RuntimeError):
        nia.six_integrals(K_P, K_M, [0.0, 1.0], 0.5, -0.1, workers=1)
    assert rec.threads == [{1}]
    assert omp_threads() == before


def test_default_workers_leave_the_runtime_setting(recorder):
    before = omp_threads()
    rec = recorder()
    nia.six_integrals(K_P, K_M, [0.0, 1.0], 0.5, -0.1)
    assert rec.threads == [before]


def test_workers_limit_belongs_to_the_calling_thread(monkeypatch):
    # A limited call in one Python thread leaves another thread's team alone.
    inside, release, seen = threading.Event(), threading.Event(), {}
    real = accel.near_interface_six_batch

    def held(*args):
        seen["limited"] = omp_threads()
        inside.set()
        release.wait(30)
        return real(*args)

    monkeypatch.setattr(accel, "near_interface_six_batch", held)
    before = omp_threads()
    worker = threading.Thread(target=nia.six_integrals, args=(K_P, K_M, 0.0, 0.5, -0.1),
                              kwargs=dict(workers=1))
    worker.start()
    try:
        assert inside.wait(30)
        seen["other"] = omp_threads()
    finally:
        release.set()
        worker.join(30)
    assert seen == {"limited": {1}, "other": before}


def test_gauss_rule_is_legendre_and_read_only():
    gx, gw = nia.gauss_rule(5)
    ex, ew = np.polynomial.legendre.leggauss(5)
    np.testing.assert_array_equal(gx, ex)
    np.testing.assert_array_equal(gw, ew)
    with pytest.raises(ValueError):
        gx[0] = 0.0


def test_a_default_call_stops_soon_after_sigint():
    # 40,000 distinct points at rtol 1e-11 take well over 10 s in one compiled
    # call; timed default chunks hear the signal within a fraction of a second
    import os
    import signal
    import time
    rho = np.linspace(0.0, 50.0, 40_000)
    sent = []

    def interrupt():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(0.5, interrupt)
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            nia.six_integrals(K_P, K_M, rho, 0.3, -0.2, rtol=1e-11)
        stopped = time.perf_counter()
    finally:
        timer.cancel()
    assert sent and stopped - sent[0] < 2.0
