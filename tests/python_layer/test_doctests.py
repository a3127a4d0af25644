"""The Examples sections of the public functions run as doctests."""
import doctest
import importlib

import pytest

MODULES = ["near_interface_accel", "near_interface_accel._batch", "near_interface_accel._media",
           "near_interface_accel._dask", "near_interface_accel._verdict"]


@pytest.mark.parametrize("name", MODULES)
def test_examples_in_the_doc_strings(name):
    if name.endswith("_dask"):
        pytest.importorskip("dask.array")
    module = importlib.import_module(name)
    result = doctest.testmod(module, optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    assert result.attempted > 0
    assert result.failed == 0
