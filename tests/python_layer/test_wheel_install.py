"""Packaging: `pip wheel .` builds a wheel that carries the compiled module, its
stubs and the package (and not the test probe), declares complete metadata,
and works in a fresh virtual environment; the cibuildwheel configuration
selects the intended builds.

Building the wheel takes about a minute, so the module is marked slow (run it
with -m slow; CI does)."""
import json
import os
import subprocess
import sys
import textwrap
import zipfile
from email.parser import Parser
from pathlib import Path

import numpy as np
import pytest

import near_interface_accel as nia

pytestmark = pytest.mark.slow

ROOT = Path(__file__).resolve().parents[2]
VERSIONS = ["3.11", "3.12", "3.13", "3.14", "3.15"]


def clean_env():
    # nothing of this interpreter's set-up may leak into the fresh environment
    return {k: v for k, v in os.environ.items()
            if k not in ("PYTHONPATH", "PYTHONHOME", "VIRTUAL_ENV") and not k.startswith("CIBW_")}


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("wheelhouse")
    proc = subprocess.run([sys.executable, "-m", "pip", "wheel", "--no-deps", "--quiet",
                           "-w", str(out), str(ROOT)],
                          capture_output=True, text=True, timeout=1800, env=clean_env())
    assert proc.returncode == 0, proc.stdout[-4000:] + proc.stderr[-4000:]
    (built,) = out.glob("near_interface_accel-*.whl")
    return built


def test_wheel_carries_module_stubs_and_package(wheel):
    names = zipfile.ZipFile(wheel).namelist()
    top = {n.split("/")[0] for n in names}
    assert any(n.startswith("_near_interface_accel.") and n.endswith(".so") for n in names)
    assert any(n.startswith("_near_interface_ext.") and n.endswith(".so") for n in names)
    assert {"_near_interface_accel-stubs/__init__.pyi", "_near_interface_ext-stubs/__init__.pyi",
            "near_interface_accel/__init__.py", "near_interface_accel/py.typed",
            "near_interface_accel/_batch.py", "near_interface_accel/_dask.py",
            "near_interface_accel/_media.py", "near_interface_accel/_verdict.py"} <= set(names)
    assert not any(n.startswith(("tests/", "src/", "python/")) for n in names)
    assert not any(n.startswith("_near_interface_probe") for n in names)
    assert {t for t in top if not t.endswith(".so")} == {
        "_near_interface_accel-stubs", "_near_interface_ext-stubs", "near_interface_accel",
        f"near_interface_accel-{nia.__version__}.dist-info"}


def test_wheel_metadata_is_complete(wheel):
    trove = pytest.importorskip("trove_classifiers")
    with zipfile.ZipFile(wheel) as z:
        meta_name = next(n for n in z.namelist() if n.endswith(".dist-info/METADATA"))
        meta = Parser().parsestr(z.read(meta_name).decode())
        assert any(n.endswith("licenses/LICENSE") for n in z.namelist())
    classifiers = meta.get_all("Classifier")
    assert set(classifiers) <= trove.classifiers
    for v in VERSIONS:
        assert f"Programming Language :: Python :: {v}" in classifiers
    assert any(c.startswith("Programming Language :: Python :: Free Threading ::")
               for c in classifiers)
    assert meta["Requires-Python"] == ">=3.11"
    assert meta["License-Expression"] == "MIT"
    assert meta["Summary"] and len(meta.get_payload()) > 500     # the README
    assert {"dask", "plot", "progress", "test"} <= set(meta.get_all("Provides-Extra"))
    requires = " ".join(meta.get_all("Requires-Dist"))
    assert "threadpoolctl" in requires and "numpy" in requires


CHECK = """
    import json, sys
    import _near_interface_accel as accel
    import near_interface_accel as nia
    assert accel.__file__.startswith(sys.prefix) and nia.__file__.startswith(sys.prefix)
    assert accel.near_interface_680 is True and accel.__version__ == nia.__version__
    out = nia.six_integrals(1.0, nia.wavenumber(1.0, 4 - 1j), [0.0, 2.0], 0.5, -0.1,
                            workers=1)
    print(json.dumps({"version": nia.__version__, "shape": out.shape,
                      "re": out.real.tolist(), "im": out.imag.tolist()}))
"""


def test_wheel_installs_and_runs_in_a_fresh_venv(wheel, tmp_path):
    env = clean_env()
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True, env=env, timeout=300)
    python = venv / "bin" / "python"
    proc = subprocess.run([str(python), "-m", "pip", "install", "--quiet", str(wheel)],
                          capture_output=True, text=True, env=env, timeout=900)
    assert proc.returncode == 0, proc.stdout[-4000:] + proc.stderr[-4000:]
    proc = subprocess.run([str(python), "-c", textwrap.dedent(CHECK)], cwd=tmp_path,
                          capture_output=True, text=True, env=env, timeout=300)
    assert proc.returncode == 0, proc.stderr
    got = json.loads(proc.stdout)
    assert got["version"] == nia.__version__ and got["shape"] == [2, 6]
    here = nia.six_integrals(1.0, nia.wavenumber(1.0, 4 - 1j), [0.0, 2.0], 0.5, -0.1)
    # a fresh build of the same tree; tolerant only of a rebuild after edits
    np.testing.assert_allclose(np.array(got["re"]) + 1j * np.array(got["im"]), here,
                               rtol=1e-6)


def test_cibuildwheel_selects_manylinux_cpython_including_free_threaded():
    pytest.importorskip("cibuildwheel")
    proc = subprocess.run([sys.executable, "-m", "cibuildwheel", "--print-build-identifiers",
                           "--platform", "linux", str(ROOT)],
                          cwd=ROOT, capture_output=True, text=True, env=clean_env(),
                          timeout=300)
    assert proc.returncode == 0, proc.stderr
    expected = {f"{tag}-manylinux_{arch}"
                for tag in ["cp311", "cp312", "cp313", "cp314", "cp314t", "cp315", "cp315t"]
                for arch in ["x86_64", "aarch64"]}
    assert set(proc.stdout.split()) == expected
