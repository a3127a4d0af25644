"""Invalid and non-finite points in six_integrals: messages that name the first
offending point, NaN rows on request, and the floor of rtol."""
import re

import numpy as np
import pytest

import _near_interface_accel as accel
import near_interface_accel as nia

K_P = 1.0
K_M = 2.0 - 0.5j
GX, GW = np.polynomial.legendre.leggauss(8)
INF, NAN = np.inf, np.nan


def direct(rho, z, zp):
    r, h, hp = (np.ravel(a) for a in np.broadcast_arrays(*(np.asarray(v, float)
                                                           for v in (rho, z, zp))))
    return accel.near_interface_six_batch(K_P, K_M, r, h, hp, 1e-8, 10.0, 20, 0.1, GX, GW)


@pytest.mark.parametrize("rho, z, zp, head, where", [
    # the first invalid point in C order of the broadcast shape decides
    ([2.0, -1.0, 1.0], [0.5, 0.5, -1.0], -0.1, "need R > 0",
     "point (1,) of the broadcast shape (3,) has rho=-1.0, z=0.5, zp=-0.1"),
    ([[5.0], [0.0]], [0.0, 1.0], [[0.0], [0.5]], "need z >= 0 >= zp",
     "point (1, 0) of the broadcast shape (2, 2) has rho=0.0, z=0.0, zp=0.5"),
    (0.0, 0.0, 0.0, "need R > 0", "the point has rho=0.0, z=0.0, zp=0.0"),
    ([1.0, 2.0], [0.5, NAN], -0.1, "need z >= 0 >= zp",
     "point (1,) of the broadcast shape (2,) has rho=2.0, z=nan, zp=-0.1"),
    # infinite values pass the compiled call's tests and are refused here
    ([1.0, INF], 0.5, -0.1, "rho, z and zp must be finite",
     "point (1,) of the broadcast shape (2,) has rho=inf, z=0.5, zp=-0.1"),
    (np.ones((2, 1)), [0.5, INF], -0.1, "rho, z and zp must be finite",
     "point (0, 1) of the broadcast shape (2, 2) has rho=1.0, z=inf, zp=-0.1"),
    (1.0, 0.5, -INF, "rho, z and zp must be finite", "the point has rho=1.0, z=0.5, zp=-inf"),
    # an earlier infinite point comes before a later one the compiled call refuses
    ([INF, -1.0], 0.5, -0.1, "rho, z and zp must be finite",
     "point (0,) of the broadcast shape (2,) has rho=inf, z=0.5, zp=-0.1"),
])
def test_message_names_the_first_offending_point_and_what_is_valid(rho, z, zp, head, where):
    with pytest.raises(ValueError) as got:
        nia.six_integrals(K_P, K_M, rho, z, zp)
    text = str(got.value)
    assert text.startswith(head + ": " + where + "; valid points have ")
    assert text.endswith("Pass invalid='nan' to get rows of NaN for such points instead "
                         "of this error.")


def test_compiled_call_still_takes_infinite_points_without_error():
    out = direct([INF, 1.0], [0.5, INF], -0.1)
    assert np.isnan(out[0]).all() and np.all(out[1] == 0)


GRIDS = [
    # grids through rho = z = zp = 0, with NaN and infinite points among valid ones
    (np.linspace(0.0, 2.0, 5)[:, None], np.array([0.0, 0.5]), 0.0),
    (np.array([[0.0, 1.0], [-1.0, 0.0]]), 0.0, np.array([[0.0], [-0.2]])),
    (np.array([0.0, NAN, 1.0, INF, 2.0]), np.array([0.0, 0.3, NAN, 0.3, 0.3]),
     np.array([0.0, -0.1, -0.1, -0.1, 0.5])),
    (0.0, 0.0, 0.0),
]


@pytest.mark.parametrize("rho, z, zp", GRIDS)
def test_nan_rows_for_invalid_points_and_the_direct_rows_elsewhere(rho, z, zp):
    out = nia.six_integrals(K_P, K_M, rho, z, zp, invalid="nan", chunk_size=2)
    r, h, hp = np.broadcast_arrays(*(np.asarray(v, float) for v in (rho, z, zp)))
    assert out.shape == r.shape + (6,)
    with np.errstate(invalid="ignore"):
        valid = ((h >= 0) & (hp <= 0) & (r >= 0) & ((h - hp) + r > 0)
                 & np.isfinite(r) & np.isfinite(h) & np.isfinite(hp))
    assert np.isnan(out[~valid]).all()
    assert np.isfinite(out[valid]).all()
    if valid.any():
        np.testing.assert_array_equal(out[valid], direct(r[valid], h[valid], hp[valid]))


def test_nan_rows_hand_only_valid_triples_to_the_compiled_call(monkeypatch):
    seen = []
    real = accel.near_interface_six_batch

    def record(k_p, k_m, rho, *rest):
        seen.append(len(rho))
        return real(k_p, k_m, rho, *rest)

    monkeypatch.setattr(accel, "near_interface_six_batch", record)
    out = nia.six_integrals(K_P, K_M, [0.0, 1.0, 0.0, 2.0, INF], 0.0, 0.0, invalid="nan")
    assert seen == [2]
    assert np.isnan(out[[0, 2, 4]]).all()
    # a batch of invalid points only makes no compiled call at all
    seen.clear()
    assert np.isnan(nia.six_integrals(K_P, K_M, [0.0, INF], 0.0, 0.0, invalid="nan")).all()
    assert seen == []


@pytest.mark.parametrize("rtol", [1e-13, 2e-13, 1e-8])
def test_rtol_at_or_above_the_floor_is_accepted(rtol):
    assert nia.RTOL_FLOOR == 1e-13
    out = nia.six_integrals(K_P, K_M, 1.0, 0.5, -0.1, rtol=rtol)
    assert np.isfinite(out).all()


def test_rtol_below_the_floor_is_refused_by_the_dask_call_too():
    pytest.importorskip("dask.array")
    with pytest.raises(ValueError, match=re.escape("rtol = 1e-14 is below 1e-13")):
        nia.six_integrals_dask(K_P, K_M, [1.0], 0.5, -0.1, rtol=1e-14)
