"""The module against a cheap independent evaluation over many media and
geometries (tests/reference/path_audit.py): lossy, lossless, high and low
index, sea water, good conductors, plasmonic media and media near eps = -1,
deep and shallow sources, z = zp = 0, rho from 0 to 100.

The default run takes a representative handful of rows; the full sweep
(about 650 rows, half an hour on 2 cores) is marked slow:

    python -m pytest tests/pointwise/test_path_audit.py -m slow -s
"""
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "reference"))
import path_audit  # noqa: E402

RTOL = 1e-8


def _check(rows):
    path_audit.report(rows)
    bad = [r for r in rows if not r[-1] <= 10 * RTOL]
    assert not bad, bad


@pytest.mark.parametrize("name, triples", [
    ("plasmonic -2-0.1j", [(2.0, 0.0, 0.0), (0.5, 0.5, -0.25)]),
    ("lossless plasmonic -3", [(2.0, 1.0, 0.0), (0.0, 0.0, -1.0)]),
    ("near -1: -1.02-0.005j", [(2.0, 0.0, 0.0), (10.0, 0.0, -5.0)]),
    ("sea water 1 MHz", [(0.5, 1.0, 0.0)]),
    ("lossless water 81", [(2.0, 0.0, -14.0)]),
    ("low index 0.5", [(10.0, 0.5, -0.25)]),
])
def test_representative_rows(name, triples):
    _check(path_audit.audit([name], triples=triples, workers=1, rtol=RTOL))


@pytest.mark.slow
def test_full_sweep():
    _check(path_audit.audit(rtol=RTOL))
