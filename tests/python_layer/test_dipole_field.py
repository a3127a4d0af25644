"""E and H of buried dipoles through dipole_field: the closed-form fields of
one medium, the six-channel E_z, the finite-difference field, reciprocity
across an interface, and the conveniences of the friendly call."""
import sys
from pathlib import Path

import numpy as np
import pytest

import near_interface_accel as nia

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reference"))
sys.path.insert(0, str(Path(__file__).resolve().parent))
import dipole_closed_form as closed  # noqa: E402
import finite_difference_dipole as fd  # noqa: E402

WORST_ERRORS = {}
WORST_ERRORS_TITLE = "dipole_field, worst errors:"


def _keep_worst(key, err):
    WORST_ERRORS[key] = max(WORST_ERRORS.get(key, 0.0), float(err))


DIRECTIONS = [(0, 0, 1), (1, 0, 0), (0, 1, 0), (0.3, -0.5, 0.8)]


def _points(r):
    """Points at distance about r from a source at zp = -0.3 r: on the axis,
    on the surface (z = 0) in two directions, and above it."""
    zp = -0.3 * r
    pts = np.array([[0.0, 0.0, 0.7 * r], [0.0, 0.0, 0.0], [r, 0.0, 0.0],
                    [0.6 * r, -0.8 * r, 0.0], [0.3 * r, 0.4 * r, 0.5 * r],
                    [-0.2 * r, 0.1 * r, 2.0 * r]])
    return pts, zp


def _relative(got, ref, scale):
    return np.linalg.norm(got - ref, axis=-1) / scale


@pytest.mark.parametrize("source", ["electric", "magnetic"])
@pytest.mark.parametrize("direction", DIRECTIONS)
@pytest.mark.parametrize("medium", [nia.medium(10e6), nia.medium(3e9, eps_r=2.25)],
                         ids=["air-10MHz", "dielectric-3GHz"])
def test_one_medium_gives_the_closed_form_fields(source, direction, medium):
    wavelength = 2 * np.pi / medium.k.real
    eta = closed.ETA_0 * medium.k0 / medium.k.real
    for distance in (1e-3, 1e-2, 0.1, 1.0, 10.0, 100.0, 1e3):
        pts, zp = _points(distance * wavelength)
        x, y, z = pts.T
        e, h = nia.dipole_field(medium, medium, x, y, z, zp, source=source, direction=direction,
                                rtol=1e-11)
        e_ref, h_ref = closed.dipole_field(medium.k0, medium.k, x, y, z, source=source,
                                           direction=direction, source_point=(0.0, 0.0, zp))
        e_size = np.linalg.norm(e_ref, axis=-1)
        h_size = np.linalg.norm(h_ref, axis=-1)
        # where one field vanishes (on the axis of a vertical dipole) it is held
        # to the size of the other, in the same units
        e_err = _relative(e, e_ref, np.where(e_size > 0, e_size, eta * h_size))
        h_err = _relative(h, h_ref, np.where(h_size > 0, h_size, e_size / eta))
        _keep_worst(f"one medium, E of {source} dipole", e_err.max())
        _keep_worst(f"one medium, H of {source} dipole", h_err.max())
        assert e_err.max() <= 1e-10, (distance, e_err)
        assert h_err.max() <= 1e-10, (distance, h_err)


GROUND = [(nia.medium(10e6), nia.medium(10e6, eps_r=20, sigma=0.01)),
          (nia.medium(1e6), nia.medium(1e6, eps_r=81, sigma=4.0)),
          (nia.medium(100e6), nia.medium(100e6, eps_r=4, sigma=0.001))]
GROUND_IDS = ["wet-ground-10MHz", "sea-1MHz", "dry-ground-100MHz"]


@pytest.mark.parametrize("upper, lower", GROUND, ids=GROUND_IDS)
def test_vertical_e_z_is_the_six_channel_expression(upper, lower):
    x = np.array([0.0, 0.5, 3.0, 10.0, 40.0])
    z = np.array([0.0, 0.2, 1.0, 0.0, 2.0])
    zp = -0.4
    e, _ = nia.dipole_field(upper, lower, x, 0.0, z, zp, rtol=1e-12)
    six = nia.six_integrals(upper.k, lower.k, x, z, zp, rtol=1e-12)
    a = -1j * upper.k0 * closed.ETA_0 / (4 * np.pi)
    e_z = a * (upper.k.real**2 * six[:, 1] - six[:, 3] - six[:, 4])
    err = np.abs(e[:, 2] - e_z) / np.linalg.norm(e, axis=-1)
    _keep_worst("E_z against k_p^2 I1 - I3 - I4", err.max())
    assert err.max() <= 1e-10


@pytest.mark.parametrize("upper, lower", GROUND[:2], ids=GROUND_IDS[:2])
def test_finite_difference_field_agrees(upper, lower):
    rho = np.array([0.0, 0.4, 2.0, 5.0, 20.0])
    z = np.array([0.0, 0.05, 1.0, 0.3, 2.0])
    zp = -1.0
    # the field in the upper medium varies over 1/k_p and the distance from the
    # source, whatever the lower medium: steps of 1/200 of the shorter
    steps = 0.005 * np.minimum(1.0 / upper.k.real, np.hypot(rho, z - zp))
    e_rho, e_z, h_phi = (np.array(v) for v in zip(*(fd.ved_field(upper, lower, r, h, zp, step=s)
                                                    for r, h, s in zip(rho, z, steps))))
    e, h = nia.dipole_field(upper, lower, rho, 0.0, z, zp, rtol=1e-11)
    size = np.linalg.norm(e, axis=-1)
    for name, got, ref, scale in [("E_rho", e[:, 0], e_rho, size), ("E_z", e[:, 2], e_z, size),
                                  ("H_phi", h[:, 1], h_phi, np.abs(h[:, 1]))]:
        err = np.abs(got - ref) / np.where(scale > 0, scale, 1.0)
        _keep_worst(f"finite differences, {name}", err[1:].max())
        assert err[1:].max() <= 1e-8, (name, err)
    # on the axis only E_z is left
    assert e[0, 0] == 0 and e[0, 1] == 0 and np.all(h[0] == 0)


# Reciprocity between the problem and its mirror image with the media exchanged
# (both lossless): for dipoles a at r_a (below) and b at r_b (above),
#   b . E_a(r_b) = a . E_b(r_a)      (electric, electric)
#   b . H_a(r_b) = a . H_b(r_a)      (magnetic, magnetic)
#   a . E_b(r_a) = -j omega mu b . H_a(r_b)   (a electric, b magnetic)
# Mirroring z -> -z turns polar vectors (E, a current element) into (x, y, -z)
# and axial ones (H, a loop's normal) into (-x, -y, z).
POLAR, AXIAL = np.array([1.0, 1.0, -1.0]), np.array([-1.0, -1.0, 1.0])


@pytest.mark.parametrize("kinds", ["electric-electric", "magnetic-magnetic", "electric-magnetic",
                                   "magnetic-electric"])
@pytest.mark.parametrize("a, b", [((0, 0, 1), (0.6, -0.3, 0.4)), ((0.3, 0.5, 0.2), (1, 0, 0)),
                                  ((0, 1, 0), (0, 0, 1))])
def test_fields_are_reciprocal_across_the_interface(kinds, a, b):
    f = 100e6
    air, glass = nia.medium(f), nia.medium(f, eps_r=2.25)
    omega_mu = air.k0 * closed.ETA_0
    sa, sb = kinds.split("-")
    a, b = np.array(a, float) / np.linalg.norm(a), np.array(b, float) / np.linalg.norm(b)
    ra, rb = np.array([0.0, 0.0, -0.4]), np.array([1.3, -0.7, 0.5])
    e_a, h_a = nia.dipole_field(air, glass, *(rb - ra)[:2], rb[2], ra[2], source=sa, direction=a,
                                rtol=1e-12)
    mirror_b = POLAR if sb == "electric" else AXIAL
    e_bm, h_bm = nia.dipole_field(glass, air, *(ra - rb)[:2], -ra[2], -rb[2], source=sb,
                                  direction=mirror_b * b, rtol=1e-12)
    e_b, h_b = POLAR * e_bm, AXIAL * h_bm
    if kinds == "electric-electric":
        left, right = b @ e_a, a @ e_b
    elif kinds == "magnetic-magnetic":
        left, right = b @ h_a, a @ h_b
    elif kinds == "electric-magnetic":
        left, right = a @ e_b, -1j * omega_mu * (b @ h_a)
    else:
        left, right = b @ e_a, -1j * omega_mu * (a @ h_b)
    err = abs(left - right) / max(abs(left), abs(right))
    _keep_worst("reciprocity across glass", err)
    assert err <= 1e-9


# ---------------------------------------------------------------- the friendly call

AIR, SOIL = nia.medium(1e6), nia.medium(1e6, eps_r=20, sigma=0.01)


@pytest.mark.parametrize("source", ["electric", "magnetic"])
def test_any_direction_is_the_sum_of_the_three_and_scales_with_the_moment(source):
    x, y, z = np.array([0.0, 3.0, -2.0]), np.array([0.0, 1.0, 4.0]), np.array([0.5, 0.0, 1.0])
    # the three axes integrate their own columns, the oblique dipole all of them:
    # they agree to the tolerance, and exactly where the columns are the same
    parts = [nia.dipole_field(AIR, SOIL, x, y, z, -1.0, source=source, direction=d, rtol=1e-12)
             for d in np.eye(3)]
    d = np.array([2.0, -1.0, 0.5])
    e, h = nia.dipole_field(AIR, SOIL, x, y, z, -1.0, source=source, direction=d,
                            moment=2 - 1j, rtol=1e-12)
    u = (2 - 1j) * d / np.linalg.norm(d)
    e_sum = sum(c * p[0] for c, p in zip(u, parts))
    h_sum = sum(c * p[1] for c, p in zip(u, parts))
    for got, ref in ((e, e_sum), (h, h_sum)):
        size = np.linalg.norm(ref, axis=-1, keepdims=True)
        assert np.all(np.abs(got - ref) <= 1e-10 * size)
    # two oblique dipoles share their columns: a sum of them is exact to rounding
    a, b = np.array([1.0, 0.0, 1.0]), np.array([0.0, 1.0, 1.0])
    fa = nia.dipole_field(AIR, SOIL, x, y, z, -1.0, source=source, direction=a)
    fb = nia.dipole_field(AIR, SOIL, x, y, z, -1.0, source=source, direction=b)
    fab = nia.dipole_field(AIR, SOIL, x, y, z, -1.0, source=source, direction=a + b,
                           moment=np.linalg.norm(a + b) / np.sqrt(2))
    assert np.allclose(fab[0], fa[0] + fb[0], rtol=1e-14, atol=1e-14 * np.abs(fab[0]).max())


def test_a_horizontal_dipole_turned_with_the_points_turns_its_field():
    # the y-directed dipole's field at a point is the x-directed one's at the point
    # turned back by 90 degrees, turned forward
    pts = np.array([[1.0, 2.0, 0.3], [0.0, 0.0, 0.5], [-3.0, 0.5, 0.0]])
    turn = np.array([[0.0, -1.0, 0.0], [1.0, 0.0, 0.0], [0.0, 0.0, 1.0]])
    back = pts @ turn          # rows: turn^T applied to each point
    for source in ("electric", "magnetic"):
        e_y, h_y = nia.dipole_field(AIR, SOIL, *pts.T, -0.7, source=source, direction=(0, 1, 0))
        e_x, h_x = nia.dipole_field(AIR, SOIL, *back.T, -0.7, source=source, direction=(1, 0, 0))
        assert np.allclose(e_y, e_x @ turn.T, rtol=1e-13, atol=1e-13 * np.abs(e_y).max())
        assert np.allclose(h_y, h_x @ turn.T, rtol=1e-13, atol=1e-13 * np.abs(h_y).max())


def test_shapes_broadcast_and_points_sharing_rho_and_z_are_evaluated_once(monkeypatch):
    import _near_interface_ext as ext
    calls = []
    real = ext.dipole_field_batch

    def counting(*args):
        calls.append(len(args[3]))
        return real(*args)

    monkeypatch.setattr(ext, "dipole_field_batch", counting)
    x = np.array([3.0, 0.0, -3.0, 0.0])[:, None]
    y = np.array([0.0, 3.0, 0.0, -3.0])[:, None]
    z = np.array([0.0, 1.0, 2.0])
    e, h = nia.dipole_field(AIR, SOIL, x, y, z, -1.0)
    assert e.shape == h.shape == (4, 3, 3) and e.dtype == h.dtype == np.complex128
    assert calls == [3]                          # four angles share each (rho, z)
    # the vertical dipole's field turns with the point
    assert np.allclose(np.abs(e[0, :, 0]), np.abs(e[1, :, 1]), rtol=1e-15)
    scalar_e, scalar_h = nia.dipole_field(AIR, SOIL, 3.0, 0.0, 1.0, -1.0)
    assert scalar_e.shape == (3,) and np.array_equal(scalar_e, e[0, 1])


@pytest.mark.parametrize("direction, expected", [((0, 0, 2), "vertical"), ((1, -1, 0), "horizontal"),
                                                 ((1, 0, 1), "")])
def test_a_dipole_of_one_orientation_integrates_only_its_own_columns(monkeypatch, direction,
                                                                      expected):
    import _near_interface_ext as ext
    seen = []
    real = ext.dipole_field_batch

    def recording(*args):
        seen.append(args[2])
        return real(*args)

    monkeypatch.setattr(ext, "dipole_field_batch", recording)
    for source in ("electric", "magnetic"):
        nia.dipole_field(AIR, SOIL, 2.0, 1.0, 0.5, -1.0, source=source, direction=direction)
    assert seen == [f"{s} {expected}".strip() for s in ("electric", "magnetic")]


def test_chunks_workers_and_progress_give_the_same_bits():
    x = np.linspace(0.0, 30.0, 23)
    ref = nia.dipole_field(AIR, SOIL, x, 1.0, 0.5, -1.0, source="magnetic", direction=(1, 1, 0))
    for kwargs in [dict(chunk_size=4), dict(workers=1), dict(progress=True, chunk_size=7)]:
        got = nia.dipole_field(AIR, SOIL, x, 1.0, 0.5, -1.0, source="magnetic",
                               direction=(1, 1, 0), **kwargs)
        assert np.array_equal(got[0], ref[0]) and np.array_equal(got[1], ref[1])


@pytest.mark.parametrize("x, y, z, message", [
    (0.0, 0.0, -0.5, "need z >= 0 >= zp: point (1,) of the broadcast shape (2,) has x=0.0"),
    (np.nan, 0.0, 0.5, "x, y, z and zp must be finite: point (1,)"),
    (np.inf, 0.0, 0.5, "x, y, z and zp must be finite: point (1,)"),
])
def test_invalid_points_are_named_or_become_nan(x, y, z, message):
    xs, ys, zs = np.array([1.0, x]), np.array([0.0, y]), np.array([0.5, z])
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        nia.dipole_field(AIR, SOIL, xs, ys, zs, -1.0)
    e, h = nia.dipole_field(AIR, SOIL, xs, ys, zs, -1.0, invalid="nan")
    good = nia.dipole_field(AIR, SOIL, 1.0, 0.0, 0.5, -1.0)
    assert np.array_equal(e[0], good[0]) and np.array_equal(h[0], good[1])
    assert np.isnan(e[1]).all() and np.isnan(h[1]).all()


def test_the_source_point_itself_is_refused():
    with pytest.raises(ValueError, match="need R > 0: the point has x=0.0, y=0.0, z=0.0"):
        nia.dipole_field(AIR, SOIL, 0.0, 0.0, 0.0, 0.0)


@pytest.mark.parametrize("upper, lower, kwargs, error, message", [
    (AIR, nia.medium(2e6, eps_r=4), {}, ValueError, "one frequency"),
    (AIR, nia.medium(1e6, eps_r=4, mu_r=2), {}, ValueError, "equal permeability"),
    (nia.medium(1e6, eps_r=2, sigma=1e-3), SOIL, {}, ValueError, "upper medium must be lossless"),
    (AIR.k, SOIL, {}, TypeError, "must be a Medium"),
    (AIR, SOIL, {"direction": (0, 0, 0)}, ValueError, "non-zero 3-vector"),
    (AIR, SOIL, {"direction": (1, 0)}, ValueError, "real 3-vector"),
    (AIR, SOIL, {"source": "loop"}, ValueError, "'electric' or 'magnetic'"),
    (AIR, SOIL, {"moment": np.nan}, ValueError, "moment must be finite"),
    (AIR, SOIL, {"rtol": 1e-15}, ValueError, "below 1e-13"),
])
def test_refusals(upper, lower, kwargs, error, message):
    with pytest.raises(error, match=message):
        nia.dipole_field(upper, lower, 1.0, 0.0, 0.5, -1.0, **kwargs)


@pytest.mark.parametrize("zp, error, match", [
    (0.5, ValueError, "zp must be finite and <= 0"),
    (np.nan, ValueError, "zp must be finite and <= 0"),
    ([-1.0, 0.5], ValueError, r"need z >= 0 >= zp: point \(1,\) .*zp=0.5"),
    ([-1.0, -np.inf], ValueError, r"x, y, z and zp must be finite: point \(1,\)"),
    ([-1.0 + 0j], TypeError, "zp must be real"),
])
def test_the_source_height_is_at_or_below_the_interface_at_every_point(zp, error, match):
    with pytest.raises(error, match=match):
        nia.dipole_field(AIR, SOIL, 1.0, 0.0, 0.5, zp)


def test_source_heights_broadcast_with_the_points():
    # a depth profile in one call: each point is the call with its own zp, bit for bit
    zp = np.array([-0.5, -1.0, -2.0])[:, None]
    x = np.array([1.0, 4.0])
    e, h = nia.dipole_field(AIR, SOIL, x, 0.0, 0.5, zp, source="magnetic", direction=(1, 0, 1))
    assert e.shape == h.shape == (3, 2, 3)
    for i, depth in enumerate(zp[:, 0]):
        one = nia.dipole_field(AIR, SOIL, x, 0.0, 0.5, float(depth), source="magnetic",
                               direction=(1, 0, 1))
        assert np.array_equal(e[i], one[0]) and np.array_equal(h[i], one[1])


def test_equal_permeability_other_than_one_is_accepted():
    # two media of mu_r 2: the kernels see the wavenumbers only, and mu enters
    # the source constants; in one such medium the closed form holds
    m = nia.medium(10e6, eps_r=1.0, mu_r=2.0)
    e, h = nia.dipole_field(m, m, 3.0, 1.0, 0.5, -1.0, source="magnetic", rtol=1e-11)
    # closed form with mu = 2 mu0: E scales with omega mu, H with k^2
    e_ref, h_ref = closed.dipole_field(m.k0, m.k, 3.0, 1.0, 0.5, source="magnetic",
                                       source_point=(0.0, 0.0, -1.0))
    assert np.allclose(h, h_ref, rtol=1e-10, atol=0)
    assert np.allclose(e, 2 * e_ref, rtol=1e-10, atol=0)


def test_dask_blocks_are_the_direct_call():
    pytest.importorskip("dask")
    x = np.linspace(0.0, 20.0, 10)
    e_lazy, h_lazy = nia.dipole_field_dask(AIR, SOIL, x, 0.5, 0.3, -1.0, chunks=4,
                                           source="magnetic", direction=(0, 1, 1))
    assert e_lazy.shape == (10, 3) and e_lazy.numblocks == (3, 1)
    e, h = nia.dipole_field(AIR, SOIL, x, 0.5, 0.3, -1.0, source="magnetic", direction=(0, 1, 1))
    assert np.array_equal(e_lazy.compute(scheduler="synchronous"), e)
    assert np.array_equal(h_lazy.compute(scheduler="synchronous"), h)
    one_e, _ = nia.dipole_field_dask(AIR, SOIL, 2.0, 0.5, 0.3, -1.0)
    assert one_e.shape == (3,)
    with pytest.raises(ValueError, match="one frequency"):
        nia.dipole_field_dask(AIR, nia.medium(2e6), x, 0.5, 0.3, -1.0)


@pytest.mark.parametrize("spoil, message", [("quiet", "rotated tail did not go quiet inside the panel budget"),
                                            ("nan", "the field integrals are not finite")])
def test_a_row_without_value_refuses_the_call_and_names_its_point(monkeypatch, spoil, message):
    import _near_interface_ext as ext
    real = ext.dipole_field_batch

    def spoiled(*args):
        out = list(real(*args))
        if spoil == "quiet":
            out[4] = out[4].copy()
            out[4][-1] = False
        else:
            out[0] = out[0].copy()
            out[0][-1, 2] = complex(np.nan, 0.0)
        return tuple(out)

    monkeypatch.setattr(ext, "dipole_field_batch", spoiled)
    with pytest.raises(RuntimeError, match=message + r": point \(2,\) .* x=7.0, y=0.0, z=0.5"):
        nia.dipole_field(AIR, SOIL, [1.0, 3.0, 7.0], 0.0, 0.5, -1.0)
    # as in six_integrals, invalid='nan' gives such a point NaN and one warning
    with pytest.warns(nia.UnresolvedRowWarning, match="their fields are NaN"):
        e, h = nia.dipole_field(AIR, SOIL, [1.0, 3.0, 7.0], 0.0, 0.5, -1.0, invalid="nan")
    assert np.isfinite(e[:2]).all() and np.isnan(e[2]).all() and np.isnan(h[2]).all()


@pytest.mark.parametrize("source", ["electric", "magnetic"])
def test_unresolved_points_warn_once_and_become_nan_on_request(source):
    # Far along wet ground with depth 3: the segment's J0 and J1 oscillate faster
    # than three bisections resolve for a horizontal dipole's columns. (The small
    # loop's vertical columns are smooth enough there and resolve; they are not
    # used here.)
    air, soil = nia.medium(1e6), nia.medium(1e6, eps_r=4, sigma=0.005)
    x = np.array([5.0, 1400.0])
    kwargs = dict(source=source, direction=(1, 0, 0), depth=3)
    with pytest.warns(nia.UnresolvedRowWarning, match=r"^1 of 2 field points"):
        e, h = nia.dipole_field(air, soil, x, 0.0, 0.0, -1.0, **kwargs)
    assert np.isfinite(e).all() and np.isfinite(h).all()
    with pytest.warns(nia.UnresolvedRowWarning, match="their fields are NaN"):
        e, h = nia.dipole_field(air, soil, x, 0.0, 0.0, -1.0, invalid="nan", **kwargs)
    assert np.isfinite(e[0]).all() and np.isnan(e[1]).all() and np.isnan(h[1]).all()


@pytest.mark.parametrize("source", ["electric", "magnetic"])
@pytest.mark.parametrize("direction", [(0, 0, 1), (1, 0, 0), (0.3, 0.5, 0.8)])
def test_fields_are_continuous_across_the_far_range_criterion(source, direction):
    # Either side of k_max rho = 100 the same point is taken by the three-piece
    # path and by the branch-cut form: the two must give one field.
    probe = pytest.importorskip("_near_interface_probe")
    air, soil = nia.medium(1e8), nia.medium(1e8, eps_r=4, sigma=0.05)
    r0 = 100 / max(abs(soil.k), air.k0)
    fields = []
    for r, far in ((r0 * (1 - 1e-13), False), (r0 * (1 + 1e-13), True)):
        assert probe.far_range_applies(air.k.real, soil.k, r, 0.5, -0.5) == far
        fields.append(nia.dipole_field(air, soil, 0.6 * r, 0.8 * r, 0.5, -0.5, source=source,
                                       direction=direction, rtol=1e-11))
    (e1, h1), (e2, h2) = fields
    assert np.abs(e1 - e2).max() <= 1e-10 * np.abs(e1).max()
    assert np.abs(h1 - h2).max() <= 1e-10 * np.abs(h1).max()
