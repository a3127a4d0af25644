"""The layered-media reference against what pins a layered solution down: the
closed forms of one medium cut into layers, the two-half-space reference
(another derivation), continuity of tangential E and H and of normal D and B
at every interface, and reciprocity between layers."""
import json
import math
from pathlib import Path

import pytest

import dipole_closed_form as cf
import dipole_interface_reference as dr
import layered_reference as lr

SOURCES = ("electric", "magnetic")
DIRECTION = (0.3, 0.5, 0.8)


def _rel(a, b):
    return max(abs(x - y) for x, y in zip(a, b)) / max(abs(y) for y in b)


@pytest.mark.parametrize("source", SOURCES)
@pytest.mark.parametrize("mu_r, point, zp", [
    (1.0, (0.7, 0.4, 1.0), -0.8),      # source two layers below the field point
    (2.0, (0.7, -0.4, -0.6), 0.9),     # source above, field point two layers down
    (1.0, (0.5, 0.2, 0.1), 0.0),       # both in the middle layer, the source on its top
])
def test_one_medium_cut_into_layers_is_its_closed_form(source, mu_r, point, zp):
    eps = 4 - 1j
    stack = lr.Stack(1.0, (eps,) * 3, (mu_r,) * 3, (0.5, -0.3))
    e, h = lr.fields(stack, *point, zp, source, DIRECTION)
    k = stack.k[0]
    ce, ch = cf.field_at(1.0, k, point[0], point[1], point[2] - zp, source,
                         list(cf.unit_vector(DIRECTION)))
    ce = [mu_r * c for c in ce]                         # omega mu of the medium
    assert _rel(e, ce) < 1e-13 and _rel(h, ch) < 1e-13


@pytest.mark.parametrize("source", SOURCES)
def test_two_half_spaces_agree_with_the_interface_reference(source):
    stack = lr.Stack(1.0, (1.0, 4 - 1j), (1, 1), (0.0,))
    e, h = lr.fields(stack, 0.7, 0.4, 0.3, -0.2, source, DIRECTION)
    re, rh = dr.fields(1.0, stack.k[0], stack.k[1], 0.7, 0.4, 0.3, -0.2, source, DIRECTION)
    assert _rel(e, re) < 1e-13 and _rel(h, rh) < 1e-13


# lossy top, a permeable resistive layer, a conductor below
STACK3 = lr.Stack(1.0, (2 - 0.5j, 9 - 0.1j, 20 - 30j), (1, 1.5, 1), (0.2, -0.1))


@pytest.mark.parametrize("source", SOURCES)
@pytest.mark.parametrize("height", [0.2, -0.1])
def test_fields_are_continuous_across_every_interface(source, height):
    # the point on the interface belongs to the medium above; a hair below it, to the one below
    above = lr.fields(STACK3, 0.6, -0.3, height, 0.05, source, (1, 0.2, 0.5))
    below = lr.fields(STACK3, 0.6, -0.3, height - 1e-13, 0.05, source, (1, 0.2, 0.5))
    i, j = STACK3.receiver_layer(height), STACK3.receiver_layer(height - 1e-13)
    assert i + 1 == j
    for (fa, fb), (ca, cb) in zip(zip(above, below),
                                  ((STACK3.eps_r[i], STACK3.eps_r[j]), (STACK3.mu_r[i], STACK3.mu_r[j]))):
        scale = max(abs(v) for v in fa)
        assert max(abs(fa[c] - fb[c]) for c in (0, 1)) < 1e-10 * scale        # tangential
        assert abs(ca * fa[2] - cb * fb[2]) < 1e-10 * abs(ca) * scale         # normal D, B


def test_reciprocity_between_layers():
    r1, r2 = (0.0, 0.0, 0.5), (0.6, -0.3, -0.05)        # in the top and the middle layer
    p1, p2 = (0.2, 0.7, 0.5), (1.0, -0.4, 0.3)
    mu = [STACK3.mu_r[STACK3.source_layer(r[2])] for r in (r1, r2)]

    def at(source, p, rs, rf):
        return lr.fields(STACK3, rf[0] - rs[0], rf[1] - rs[1], rf[2], rs[2], source, p,
                         moment=math.sqrt(sum(c * c for c in p)))

    def dot(a, b):
        return sum(x * y for x, y in zip(a, b))

    e12, _ = at("electric", p2, r2, r1)
    e21, h21 = at("electric", p1, r1, r2)
    assert dot(p1, e12) == pytest.approx(dot(p2, e21), rel=1e-12)
    m12_e, m12_h = at("magnetic", p2, r2, r1)
    _, m21_h = at("magnetic", p1, r1, r2)
    assert mu[0] * dot(p1, m12_h) == pytest.approx(mu[1] * dot(p2, m21_h), rel=1e-12)
    # a current element and a loop: p1 . E_m(r1) = -j omega mu(r2) m2 . H_p(r2)
    assert dot(p1, m12_e) == pytest.approx(-1j * cf.ETA_0 * mu[1] * dot(p2, h21), rel=1e-12)


def test_the_committed_rows_are_this_reference_s():
    # tests/data/layered_reference.json comes from make_layered_reference.py; two of its
    # cheapest rows, evaluated again, must give the stored values
    data = json.loads((Path(__file__).resolve().parents[1] / "data" / "layered_reference.json").read_text())
    entry = next(s for s in data["stacks"] if s["name"].startswith("plasmonic film"))
    stack = lr.Stack(2 * math.pi * entry["frequency"] / cf.SPEED_OF_LIGHT,
                     tuple(complex(*e) for e in entry["eps_r"]), tuple(entry["mu_r"]),
                     tuple(entry["interfaces"]))
    for row in entry["rows"][:2]:
        assert row["contour_spread"] < 1e-12
        e, h = lr.fields(stack, row["x"], row["y"], row["z"], row["zp"], row["source"],
                         row["direction"])
        assert _rel(e, [complex(*v) for v in row["E"]]) < 1e-14
        assert _rel(h, [complex(*v) for v in row["H"]]) < 1e-14
