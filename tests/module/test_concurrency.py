"""Determinism across thread counts, Python threads and child processes."""
import multiprocessing
import os
import subprocess
import sys
import textwrap
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import _near_interface_accel as accel

GX, GW = np.polynomial.legendre.leggauss(8)


def batch(seed, n=40):
    rng = np.random.default_rng(seed)
    rho = np.where(rng.random(n) < 0.2, 0.0, rng.uniform(0.01, 30.0, n))
    z = rng.uniform(0.0, 3.0, n)
    zp = -rng.uniform(0.0, 3.0, n)
    z[0] = zp[0] = 0.0
    rho[0] = 1.0
    return rho, z, zp


def evaluate(seed, k_m=2 - 0.5j):
    return accel.near_interface_six_batch(1.0, k_m, *batch(seed), 1e-8, 10.0, 20, 0.1, GX, GW)


CHILD = textwrap.dedent("""
    import sys
    sys.path.insert(0, {here!r})
    from test_concurrency import evaluate
    sys.stdout.buffer.write(evaluate(7).tobytes())
""")


def run_child(env_extra):
    env = dict(os.environ, **env_extra)
    code = CHILD.format(here=os.path.dirname(__file__))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                         check=True, timeout=300).stdout
    return np.frombuffer(out, dtype=np.complex128).reshape(-1, 6)


def test_bit_identical_for_any_openmp_team_size():
    results = [run_child({"OMP_NUM_THREADS": str(t)}) for t in (1, 2, 3)]
    assert np.isfinite(results[0]).all()
    for r in results[1:]:
        assert r.tobytes() == results[0].tobytes()
    assert evaluate(7).tobytes() == results[0].tobytes()


@pytest.mark.parametrize("same_inputs", [True, False])
def test_python_threads_calling_at_once(same_inputs):
    seeds = [3, 3, 3, 3] if same_inputs else [1, 2, 3, 4]
    serial = [evaluate(s) for s in seeds]
    with ThreadPoolExecutor(max_workers=4) as pool:
        for _ in range(3):
            concurrent = list(pool.map(evaluate, seeds))
            for a, b in zip(serial, concurrent):
                assert a.tobytes() == b.tobytes()


def test_call_from_a_thread_while_another_runs():
    big = (np.zeros(300), np.linspace(0.01, 0.02, 300), np.zeros(300))
    with ThreadPoolExecutor(max_workers=2) as pool:
        long_call = pool.submit(accel.near_interface_six_batch, 1.0, 1.5, *big, 1e-12, 10.0, 22,
                                0.1, GX, GW)
        short = pool.submit(evaluate, 5).result()
        assert short.tobytes() == evaluate(5).tobytes()
        assert long_call.result().shape == (300, 6)


def _child_evaluate(seed):
    return evaluate(seed)


@pytest.mark.parametrize("method", ["spawn", "forkserver"])
def test_child_process_after_the_parent_used_the_module(method):
    if method not in multiprocessing.get_all_start_methods():
        pytest.skip(f"{method} not available")
    parent = evaluate(11)
    with multiprocessing.get_context(method).Pool(2) as pool:
        children = pool.map(_child_evaluate, [11, 12])
    assert children[0].tobytes() == parent.tobytes()
    assert children[1].tobytes() == evaluate(12).tobytes()


FORK_CHILD = textwrap.dedent("""
    import os, sys
    sys.path.insert(0, {here!r})
    from test_concurrency import evaluate
    {before}
    pid = os.fork()
    if pid == 0:
        r = evaluate(9)
        os._exit(0 if r.shape == (40, 6) else 3)
    _, status = os.waitpid(pid, 0)
    sys.exit(os.waitstatus_to_exitcode(status))
""")


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork")
@pytest.mark.parametrize("before, env", [
    ("", {}),                                      # fork before any call: safe
    ("evaluate(9)", {"OMP_NUM_THREADS": "1"}),     # a one-thread parent: safe
])
def test_fork_where_it_is_safe(before, env):
    # Forking after a multi-threaded call is not safe with GNU OpenMP: the
    # child's first parallel loop waits for worker threads that fork did not
    # copy (see the README). These are the cases that work.
    code = FORK_CHILD.format(here=os.path.dirname(__file__), before=before)
    subprocess.run([sys.executable, "-c", code], env=dict(os.environ, **env), check=True,
                   timeout=120)
