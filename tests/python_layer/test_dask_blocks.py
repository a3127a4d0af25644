"""near_interface_accel.six_integrals_dask: blocks computed on worker processes
agree bit for bit with a direct call; shapes, chunks and errors."""
import logging
import os

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")

import dask  # noqa: E402

import near_interface_accel as nia  # noqa: E402

K_P = 1.0
K_M = nia.wavenumber(1.0, 4 - 1j)


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None,
                                  silence_logs=logging.ERROR) as cluster, \
            distributed.Client(cluster) as c:
        yield c


def test_two_worker_processes_match_a_direct_call_bit_for_bit(client):
    rho = np.linspace(0.0, 6.0, 24)[:, None]
    z = np.array([0.0, 0.5, 2.0])
    zp = np.array([[-0.1], [-0.1], [-0.4]] * 8)          # points repeat across blocks
    lazy = nia.six_integrals_dask(K_P, K_M, rho, z, zp, chunks=(5, 2))
    assert lazy.shape == (24, 3, 6) and lazy.dtype == np.complex128
    assert lazy.numblocks == (5, 2, 1)
    with distributed.get_task_stream(client) as stream:
        got = client.compute(lazy).result()
    np.testing.assert_array_equal(got, nia.six_integrals(K_P, K_M, rho, z, zp))
    workers = {t["worker"] for t in stream.data}
    assert workers <= set(client.scheduler_info()["workers"]) and workers
    # the thread rule's default on a distributed worker: one OpenMP thread each
    assert set(client.run(os.environ.get, "OMP_NUM_THREADS").values()) == {"1"}


def test_errors_of_a_block_reach_the_caller_unchanged(client):
    lazy = nia.six_integrals_dask(K_P, K_M, [1.0, 2.0, -1.0, 3.0], 0.5, -0.1, chunks=2)
    # the index is the point's index inside its block
    with pytest.raises(ValueError, match=r"^need R > 0: point \(0,\) of the broadcast shape"):
        client.compute(lazy).result()


def test_invalid_points_of_a_block_become_nan_rows_on_request(client):
    rho = [1.0, 2.0, -1.0, 3.0]
    lazy = nia.six_integrals_dask(K_P, K_M, rho, 0.5, -0.1, chunks=2, invalid="nan")
    np.testing.assert_array_equal(client.compute(lazy).result(),
                                  nia.six_integrals(K_P, K_M, rho, 0.5, -0.1, invalid="nan"))


@pytest.mark.parametrize("rho, z, zp, chunks, blocks", [
    # dask inputs with different chunkings, broadcast against numpy and scalars
    (da.from_array(np.linspace(0, 3, 12)[:, None], chunks=(4, 1)),
     da.from_array(np.array([0.2, 0.9, 1.5]), chunks=2), -0.1, None, (3, 2, 1)),
    (da.from_array(np.linspace(0, 3, 12), chunks=5), 0.5, [-0.1] * 12, None, (3, 1)),
    (np.linspace(0, 3, 12), 0.5, -0.1, 4, (3, 1)),
    (da.from_array(np.linspace(0, 3, 12), chunks=12), 0.5, -0.1, 3, (4, 1)),
    (0.0, 0.5, -0.1, None, (1,)),
    (np.linspace(0, 3, 10), 0.5, -0.1, None, (1, 1)),
])
def test_shapes_and_chunks(rho, z, zp, chunks, blocks):
    lazy = nia.six_integrals_dask(K_P, K_M, rho, z, zp, chunks=chunks)
    assert lazy.numblocks == blocks
    as_numpy = [np.asarray(a) for a in (rho, z, zp)]
    with dask.config.set(scheduler="sync"):
        got = lazy.compute()
    np.testing.assert_array_equal(got, nia.six_integrals(K_P, K_M, *as_numpy))


@pytest.mark.parametrize("kwargs, match", [
    (dict(k_m=2 + 0.5j), "positive imaginary part"),
    (dict(rtol=-1.0), "rtol must be positive"),
    (dict(omp_threads=0), "omp_threads must be at least 1"),
])
def test_wavenumbers_and_controls_are_checked_when_the_graph_is_built(kwargs, match):
    args = dict(k_p=K_P, k_m=K_M, rho=da.zeros(4, chunks=2), z=0.5, zp=-0.1) | kwargs
    with pytest.raises(ValueError, match=match):
        nia.six_integrals_dask(**args)


@pytest.mark.parametrize("rho", [np.array([1.0 + 0j]), da.from_array(np.array([1.0 + 0j]))])
def test_complex_points_are_refused_when_the_graph_is_built(rho):
    with pytest.raises(TypeError, match="rho must be real"):
        nia.six_integrals_dask(K_P, K_M, rho, 0.5, -0.1)


def test_two_graphs_do_not_share_keys():
    a = nia.six_integrals_dask(K_P, K_M, [0.0, 1.0], 0.5, -0.1)
    b = nia.six_integrals_dask(K_P, K_M, [0.0, 2.0], 0.5, -0.1)
    assert a.name != b.name
    with dask.config.set(scheduler="sync"):
        got_a, got_b = dask.compute(a, b)
    assert not np.array_equal(got_a[1], got_b[1])
