"""The path through the singularities of media with poles and raised branch
points, as the planner gave it before it read them from a list: the tail start
and detour height the path uses, the break points and the far range's choice,
bit for bit.

The rows were taken from the probe of the build before the singularity list
(spectral/singularities.hpp) with the loop at the end of this file; the list
must reproduce them exactly, so that a stack of layers can fill the same list
without moving any row of two half-spaces."""
import cmath
import hashlib
import struct

import pytest

import _near_interface_probe as probe

# a plasmonic lower medium (eps = -2 - 0.1j) with its surface-wave pole on the
# sheet, a medium near eps = -1 (pole far out), a negative-index medium whose
# branch point -k_m lies above the real axis, and a lossless one with -k_m on it
PLASMONIC = cmath.sqrt(-2 - 0.1j)
NEAR_MINUS_ONE = cmath.sqrt(-1.005 - 0.001j)  # in the fourth quadrant
NEGATIVE_INDEX = -2.0 - 0.1j
LOSSLESS_NEGATIVE = -1.5 + 0j

# k_m, rho, z, zp, lam_mult, detour; the first 16 hex digits of the SHA-256
# of the used tail start, the used detour height and the break points (little-
# endian doubles); whether the far range applies
ROWS = [
    (PLASMONIC, 3.0, 0.2, -0.1, 0.5, 0.1, "30eb5148b065690b", False),
    (PLASMONIC, 400.0, 0.1, -0.1, 10.0, 0.1, "0ac1e51ce5a238c8", True),
    (NEAR_MINUS_ONE, 2.0, 0.0, 0.0, 10.0, 0.1, "8ad184d6d4114ea8", False),
    (NEGATIVE_INDEX, 1.0, 1.0, -1.0, 10.0, 0.1, "fe976f59450e9f30", False),
    (LOSSLESS_NEGATIVE, 5.0, 0.5, -0.5, 10.0, 0.1, "829fb3c15bb19d3d", False),
    (LOSSLESS_NEGATIVE, 2.0, 2.0, -6.0, 1.0, 0.1, "58113bf31c7eae9b", False),
]


def _fingerprint(p):
    values = [p["clear_tail_start"], p["clear_detour_height"], *p["break_points"]]
    return hashlib.sha256(struct.pack(f"<{len(values)}d", *values)).hexdigest()[:16]


@pytest.mark.parametrize("k_m, rho, z, zp, lam_mult, detour, plan, far", ROWS)
def test_plans_of_media_with_poles_are_unchanged(k_m, rho, z, zp, lam_mult, detour, plan, far):
    p = probe.triple_plan(1.0, k_m, rho, z, zp, lam_mult, detour)
    assert _fingerprint(p) == plan
    assert probe.far_range_applies(1.0, k_m, rho, z, zp) is far


def test_rows_move_the_path():
    # the table holds rows whose start was moved past a pole or cut and rows
    # whose detour was lowered under a raised singularity, not only quiet ones
    moved = lowered = 0
    for k_m, rho, z, zp, lam_mult, detour, *_ in ROWS:
        p = probe.triple_plan(1.0, k_m, rho, z, zp, lam_mult, detour)
        moved += p["clear_tail_start"] != p["tail_start"]
        lowered += p["clear_detour_height"] != p["detour_height"]
    assert moved >= 3 and lowered >= 3


if __name__ == "__main__":
    # print the rows anew from the probe on the path (for a build before a change)
    for k_m, rho, z, zp, lam_mult, detour, *_ in ROWS:
        p = probe.triple_plan(1.0, k_m, rho, z, zp, lam_mult, detour)
        print((k_m, rho, z, zp, lam_mult, detour, _fingerprint(p),
               probe.far_range_applies(1.0, k_m, rho, z, zp)))
