"""hankel0, bessel_j0, their lanes and the six-channel rows are bit for bit
what they were before the order-one functions were added beside them.

tests/data/order_zero_bits.json holds SHA-256 fingerprints of those results,
taken with the build before the change (tests/reference/order_zero_bits.py
says how). Another C library or processor family may round its elementary
functions differently, so each block is compared only on the platform and
lane target it was recorded on, and skipped elsewhere.
"""

import json
import pathlib
import sys

import pytest

import _near_interface_probe as probe

HERE = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(HERE / "reference"))
import order_zero_bits as bits  # noqa: E402

RECORD = json.loads((HERE / "data" / "order_zero_bits.json").read_text())
BLOCKS = bits.blocks()


@pytest.mark.parametrize("name", sorted(RECORD["blocks"]))
def test_order_zero_results_unchanged(name):
    if bits.platform_key() != RECORD["platform"]:
        pytest.skip(f"fingerprints taken on {RECORD['platform']}, this is {bits.platform_key()}")
    target = RECORD["blocks"][name]["target"]
    if name not in BLOCKS or (target not in (None, "scalar") and target not in probe.lane_targets()):
        pytest.skip(f"lane target {target} not available here")
    _, compute = BLOCKS[name]
    assert bits.digest(compute()) == RECORD["blocks"][name]["sha256"], f"{name} changed"
