import functools
import importlib.util
import os

import numpy as np
import pytest
from hypothesis import settings

# CI replays the same fuzz examples on every run, so that a red build can be
# reproduced; a developer's run explores new ones.
settings.register_profile("ci", derandomize=True)
if os.environ.get("CI"):
    settings.load_profile("ci")


def pytest_report_header(config):
    if importlib.util.find_spec("_near_interface_probe") is None:
        return ("_near_interface_probe: not installed; the tests of the internal numerics "
                "need it (pip install -Ccmake.define.NIA_PROBE=ON '.[test]')")
    return "_near_interface_probe: installed"


@functools.lru_cache(maxsize=None)
def _gauss_rule(nodes):
    gx, gw = np.polynomial.legendre.leggauss(nodes)
    gx.setflags(write=False)
    gw.setflags(write=False)
    return gx, gw


@pytest.fixture(scope="session")
def gauss():
    """gauss(n) -> the n-node Gauss-Legendre rule (nodes, weights) on [-1, 1]."""
    return _gauss_rule


class WorstErrors:
    """The worst error of each label and where it occurred, printed after the
    module's tests."""

    def __init__(self, module):
        self.module = module
        self.rows = {}

    def record(self, label, err, where):
        if label not in self.rows or err > self.rows[label][0]:
            self.rows[label] = (err, where)

    def lines(self):
        yield "worst errors of %s:" % self.module
        for label, (err, where) in sorted(self.rows.items()):
            yield "  %s  %.2e at %s" % (label, err, where)


@pytest.fixture(scope="module")
def worst_errors(request):
    """Records worst errors (record(label, err, where)) and prints them once the
    module's tests are done (shown with pytest -s or in the summary output)."""
    worst = WorstErrors(request.module.__name__)
    yield worst
    reporter = request.config.pluginmanager.get_plugin("terminalreporter")
    if reporter is None or not worst.rows:
        return
    reporter.write_line("")
    for line in worst.lines():
        reporter.write_line(line)


@pytest.fixture(scope="module", autouse=True)
def _print_worst_errors(request):
    """A module with a dict WORST_ERRORS (label -> worst error) and a title
    WORST_ERRORS_TITLE has the table printed once its tests are done (shown
    with pytest -s or in the summary output)."""
    yield
    table = getattr(request.module, "WORST_ERRORS", None)
    reporter = request.config.pluginmanager.get_plugin("terminalreporter")
    if reporter is None or not table:
        return
    reporter.write_line("")
    reporter.write_line(request.module.WORST_ERRORS_TITLE)
    width = max(len(label) for label in table)
    for label, err in sorted(table.items()):
        reporter.write_line(f"  {label:<{width}} {err:.1e}")
