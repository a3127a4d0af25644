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

# k_m, rho, z, zp, lam_mult, detour; the used tail start and detour height
# (hex), the first 16 hex digits of the SHA-256 of the break points (little-
# endian doubles), whether the far range applies
ROWS = [
    (PLASMONIC, 3.0, 0.2, -0.1, 0.5, 0.1,
     "0x1.847fab4a6bc2ap+0", "0x1.1111111111111p-5", "fcb838d44d9408b0", False),
    (PLASMONIC, 0.0, 0.1, -1.0, 1.0, 0.1,
     "0x1.6a43c5a0c5fcfp+0", "0x1.16f19fda83f88p-1", "fcb838d44d9408b0", False),
    (PLASMONIC, 400.0, 0.1, -0.1, 10.0, 0.1,
     "0x1.c4d4b708f77c3p+3", "0x1.0624dd2f1a9fcp-12", "fcb838d44d9408b0", True),
    (NEAR_MINUS_ONE, 2.0, 0.0, 0.0, 10.0, 0.1,
     "0x1.bb5882d99c5a9p+3", "0x1.999999999999ap-5", "8045dc51bcee760b", False),
    (NEAR_MINUS_ONE, 0.0, 0.3, 0.0, 10.0, 0.1,
     "0x1.40cc90a191c63p+3", "0x1.8b3976cb26483p-2", "8045dc51bcee760b", False),
    (NEGATIVE_INDEX, 1.0, 1.0, -1.0, 10.0, 0.1,
     "0x1.4066560954a8fp+4", "0x1.31580ae90c22ep-8", "b0b46029b3f68445", False),
    (NEGATIVE_INDEX, 0.5, 0.0, -3.0, 10.0, 0.001,
     "0x1.4000000000000p+4", "0x1.0624dd2f1a9fcp-9", "b0b46029b3f68445", False),
    (LOSSLESS_NEGATIVE, 5.0, 0.5, -0.5, 10.0, 0.1,
     "0x1.e000000000000p+3", "0x0.0p+0", "e4fedc78becef280", False),
    (LOSSLESS_NEGATIVE, 2.0, 2.0, -6.0, 1.0, 0.1,
     "0x1.a666666666666p+0", "0x0.0p+0", "e4fedc78becef280", False),
]


def _fingerprint(points):
    return hashlib.sha256(struct.pack(f"<{len(points)}d", *points)).hexdigest()[:16]


@pytest.mark.parametrize("k_m, rho, z, zp, lam_mult, detour, start, height, breaks, far", ROWS)
def test_plans_of_media_with_poles_are_unchanged(k_m, rho, z, zp, lam_mult, detour, start,
                                                 height, breaks, far):
    p = probe.triple_plan(1.0, k_m, rho, z, zp, lam_mult, detour)
    assert p["clear_tail_start"].hex() == start
    assert p["clear_detour_height"].hex() == height
    assert _fingerprint(p["break_points"]) == breaks
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
        print((k_m, rho, z, zp, lam_mult, detour, p["clear_tail_start"].hex(),
               p["clear_detour_height"].hex(), _fingerprint(p["break_points"]),
               probe.far_range_applies(1.0, k_m, rho, z, zp)))
