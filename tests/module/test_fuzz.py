"""Property-based fuzzing of the batch call: whatever the arguments, the call
ends in one of the module's own exceptions with its exact message, or in an
(n, 6) complex128 array. Never a crash, a hang or another exception type.

Examples are kept cheap (a few triples, small depth and Gauss rules) so the
suite runs in CI within a minute or so; raise FUZZ_EXAMPLES to search longer.
"""
import os
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import _near_interface_accel as accel

EXAMPLES = int(os.environ.get("FUZZ_EXAMPLES", "150"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None,
                suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

VALUE_ERRORS = {
    "rho, z and zp must have the same length", "bad Gauss rule", "need z >= 0 >= zp",
    "need R > 0",
}
RUNTIME = "rotated tail did not go quiet inside the panel budget"
DIMS = "array has incorrect number of dimensions: "

special = st.sampled_from([0.0, -0.0, 1.0, -1.0, np.nan, np.inf, -np.inf, 1e308, -1e308,
                           5e-324, 1e-300, 2.0**51, 47453132.81212578])
any_float = st.one_of(special, st.floats(allow_nan=True, allow_infinity=True),
                      st.floats(-50, 50))
k_m_values = st.one_of(st.complex_numbers(allow_nan=True, allow_infinity=True),
                       st.builds(complex, st.floats(0.1, 5), st.floats(-2, 0.5)))
plain_dtypes = st.sampled_from(["<f8", ">f8", "<f4", "<i8", ">i4", "|b1", "<u2", "<c16"])


@st.composite
def array_like(draw, length):
    """A 1-D array-like of the given length in some awkward form."""
    form = draw(st.sampled_from(["float", "dtype", "list", "strided", "readonly",
                                 "2d", "0d", "object"]))
    values = draw(hnp.arrays("<f8", length, elements=any_float))
    if form == "float":
        return values
    if form == "dtype":
        dt = draw(plain_dtypes)
        with np.errstate(all="ignore"):
            return np.nan_to_num(values, nan=0, posinf=1, neginf=-1).astype(dt)
    if form == "list":
        return values.tolist()
    if form == "strided":
        doubled = np.repeat(values, 2)
        return doubled[::2]
    if form == "readonly":
        values.setflags(write=False)
        return values
    if form == "2d":
        return values.reshape(1, -1)
    if form == "0d":
        return np.float64(values[0]) if length else np.float64(1.0)
    return np.array(list(values) + ["x"], dtype=object)[:length] if length else np.array(
        [None], dtype=object)


@st.composite
def heights(draw, length):
    """Mostly valid triples, sometimes not."""
    rho = draw(hnp.arrays("<f8", length, elements=st.one_of(st.floats(0, 60), special)))
    z = draw(hnp.arrays("<f8", length, elements=st.one_of(st.floats(0, 10), special)))
    zp = draw(hnp.arrays("<f8", length, elements=st.one_of(st.floats(-10, 0), special)))
    return rho, z, zp


@st.composite
def batch_arguments(draw):
    n = draw(st.integers(0, 3))
    if draw(st.booleans()):
        rho, z, zp = draw(heights(n))
    else:
        rho, z, zp = (draw(array_like(draw(st.integers(0, 3)))) for _ in range(3))
    ng = draw(st.integers(0, 4))
    if draw(st.integers(0, 3)) == 0:
        gx, gw = draw(array_like(ng)), draw(array_like(draw(st.integers(0, 4))))
    else:
        gx, gw = (np.polynomial.legendre.leggauss(ng) if ng else (np.empty(0), np.empty(0)))
        if draw(st.booleans()):
            gx = draw(hnp.arrays("<f8", ng, elements=any_float))
    rtol = draw(st.one_of(st.floats(1e-10, 1.0), special))
    cheap_depth = st.integers(-3, 6) if (rtol == rtol and rtol >= 1e-10) else st.integers(-3, 2)
    depth = draw(st.one_of(cheap_depth, st.sampled_from([3.0, "3", None, 2**31, -(2**31) - 1])))
    return dict(
        k_p=draw(st.one_of(st.floats(0.1, 5), special, st.sampled_from([1j, "1", None]))),
        k_m=draw(st.one_of(k_m_values, st.sampled_from(["2", None]))),
        rho=rho, z=z, zp=zp, rtol=rtol,
        lam_mult=draw(st.one_of(st.floats(0.5, 20), special)),
        depth=depth,
        detour=draw(any_float), gx=gx, gw=gw)


# complex arrays among the drawn arguments are cast to float64 by the
# batch's casters (forcecast), as documented; numpy says so with this warning
_COMPLEX_WARNING = getattr(np, "exceptions", np).ComplexWarning


def check_outcome(args):
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", _COMPLEX_WARNING)
            out = accel.near_interface_six_batch(**args)
    except TypeError as e:
        assert "incompatible function arguments" in str(e)
    except ValueError as e:
        assert str(e) in VALUE_ERRORS or str(e).startswith(DIMS), str(e)
    except RuntimeError as e:
        assert str(e) == RUNTIME
    else:
        assert isinstance(out, np.ndarray) and out.dtype == np.complex128
        assert out.ndim == 2 and out.shape[1] == 6
        assert out.shape[0] == np.asarray(args["rho"], dtype=float).shape[0]


@FUZZ
@given(batch_arguments())
def test_any_arguments_end_in_a_documented_outcome(args):
    check_outcome(args)


@FUZZ
@given(k_p=any_float, k_m=k_m_values, rtol=st.one_of(st.floats(1e-8, 1e-2), special),
       lam_mult=any_float, detour=any_float, rho=st.one_of(st.floats(0, 100), special),
       dz=st.floats(0, 30))
def test_non_finite_controls_on_valid_triples(k_p, k_m, rtol, lam_mult, detour, rho, dz):
    # the numeric arguments are not range-tested: every combination must still
    # finish with a row (NaN allowed) or the tail error
    gx, gw = np.polynomial.legendre.leggauss(3)
    depth = 4 if (rtol == rtol and rtol >= 1e-8) else 1
    check_outcome(dict(k_p=k_p, k_m=k_m, rho=[rho], z=[dz / 2], zp=[-dz / 2], rtol=rtol,
                       lam_mult=lam_mult, depth=depth, detour=detour, gx=gx, gw=gw))


@pytest.mark.parametrize("ulps, max_calls", [(1, 3), (4, 15), (64, 255)])
def test_unmeetable_tolerance_stops_at_panels_too_narrow_to_halve(ulps, max_calls):
    # rtol < 0 can never be met; the bisection still ends where the midpoint of
    # a panel rounds to one of its ends, instead of recursing down a depth of
    # a million and exhausting the stack
    import _near_interface_probe as probe
    b = 1.0 + ulps * 2.0**-52
    out, calls = probe.synthetic_adaptive(np.ones(6, complex), np.ones(6, complex), 1.0, b,
                                          -1.0, 10**6, [0.0], [2.0])
    assert 3 <= calls <= max_calls
    np.testing.assert_allclose(out, np.e * (b - 1.0), rtol=1e-12)
