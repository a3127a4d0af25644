"""No leak over many calls; a large batch costs little beyond its inputs and result."""
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import _near_interface_accel as accel


def resident_mib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_resident_memory_flat_over_many_calls(gauss):
    gx, gw = gauss(4)
    rho = np.linspace(0.0, 5.0, 8)
    z = np.full(8, 0.5)
    zp = np.full(8, -0.5)

    def calls(k):
        for _ in range(k):
            accel.near_interface_six_batch(1.0, 2 - 0.5j, rho, z, zp, 1e-3, 10.0, 4, 0.1, gx, gw)
            try:  # the error path must not leak either
                accel.near_interface_six_batch(1.0, 2 - 0.5j, rho, z, -zp, 1e-3, 10.0, 4, 0.1,
                                               gx, gw)
            except ValueError:
                pass

    calls(100)
    before = resident_mib()
    calls(1000)
    assert resident_mib() - before < 4.0


PEAK = textwrap.dedent("""
    import resource
    import numpy as np
    import _near_interface_accel as accel
    n = 10**6
    # cheap triples: no Bessel factor on the tail, one Gauss node, no refinement
    rho = np.zeros(n)
    z = np.linspace(0.5, 1.5, n)
    zp = np.full(n, -0.5)
    gx, gw = np.array([0.0]), np.array([2.0])
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    out = accel.near_interface_six_batch(1.0, 1.0, rho, z, zp, 1.0, 10.0, 0, 0.1, gx, gw)
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    assert out.shape == (n, 6)
    print((after - before) / 1024, out.nbytes / 2**20)
""")


def test_peak_memory_of_a_million_triples():
    # inputs are contiguous float64 already (no copies); the result is 96 MB
    out = subprocess.run([sys.executable, "-c", PEAK], capture_output=True, text=True,
                         check=True, timeout=600).stdout
    growth, result = map(float, out.split())
    assert growth <= result + 16.0
