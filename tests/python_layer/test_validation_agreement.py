"""The friendly call checks the points itself before any chunk runs; whatever
the points, it must refuse exactly those the compiled call refuses, with the
compiled call's message, and otherwise return the compiled call's rows."""
import math

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

import _near_interface_accel as accel
import near_interface_accel as nia

K_P, K_M = 1.0, 2.0 - 0.5j
# cheap controls: one Gauss node, no bisection, a loose tolerance
RTOL, DEPTH = 1e-2, 0

edge = st.sampled_from([0.0, -0.0, 0.5, -0.5, 2.0, -2.0, 1e-300, -1e-300, 5e-324, -5e-324,
                        math.nan, math.inf, -math.inf])
points = st.lists(st.tuples(edge, edge, edge), min_size=1, max_size=4)


def outcome(fn):
    """("ok", result), or the kind of error (a subclass counts as its base) and its message."""
    try:
        return "ok", fn()
    except ValueError as e:
        return "ValueError", str(e)
    except RuntimeError as e:
        return "RuntimeError", str(e)


@settings(max_examples=300, deadline=None)
@given(points)
def test_friendly_and_compiled_validation_agree(pts):
    rho, z, zp = (np.array(c, dtype=float) for c in zip(*pts))
    compiled = outcome(lambda: accel.near_interface_six_batch(
        K_P, K_M, rho, z, zp, RTOL, 10.0, DEPTH, 0.1, np.array([0.0]), np.array([2.0])))
    friendly = outcome(lambda: nia.six_integrals(K_P, K_M, rho, z, zp, rtol=RTOL,
                                                 gauss_nodes=1, depth=DEPTH))
    assert friendly[0] == compiled[0], (friendly, compiled)
    if compiled[0] == "ok":
        np.testing.assert_array_equal(friendly[1], compiled[1])
    else:
        assert compiled[1] in friendly[1]
