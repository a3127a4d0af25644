"""Type information: the compiled modules' stubs agree with the built modules,
the package is typed (py.typed) and passes mypy --strict, and a type checker
catches misuse of all three."""
import ast
import importlib.metadata
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import _near_interface_accel as accel
import _near_interface_ext as ext

pytest.importorskip("mypy")
# mypy follows the package's annotations into dask; without it installed the
# package does not type-check, which says nothing about the stubs.
pytest.importorskip("dask")

ROOT = Path(__file__).resolve().parents[2]
PACKAGE_SOURCE = ROOT / "python" / "near_interface_accel"


def installed_file(suffix):
    files = [f for f in importlib.metadata.files("near-interface-accel") or []
             if str(f).replace("\\", "/").endswith(suffix)]
    assert files, f"{suffix} is not installed with the package"
    return Path(files[0].locate())


def run(*args, cwd):
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True,
                          text=True, timeout=600)


def test_stubtest_finds_no_difference_from_the_built_modules(tmp_path):
    proc = run("mypy.stubtest", "_near_interface_accel", "_near_interface_ext",
               "near_interface_accel", cwd=tmp_path)
    assert proc.returncode == 0, proc.stdout + proc.stderr


# pybind11 writes the signature as the first line of the doc string; a type in
# it names a family the stub's annotation must belong to.
FAMILIES = {
    "float": r"^(typing\.)?SupportsFloat\b|^float\b",
    "complex": r"^complex\b",
    "int": r"^(typing\.)?SupportsInt\b|^int\b",
    "ArrayLike": r"ArrayLike|numpy\.ndarray",
}


# The compiled return types and the stubs' annotations, member by member.
RETURNS = {
    "near_interface_six_batch": ["complex128"],
    "six_batch_diagnostics": ["complex128", "int64", "int64", "float64", "bool", "float64"],
}


@pytest.mark.parametrize("module, name", [(accel, "near_interface_six_batch"),
                                          (ext, "six_batch_diagnostics")])
def test_stub_signature_matches_the_compiled_signature(module, name):
    stub_file = installed_file(f"{module.__name__}-stubs/__init__.pyi")
    stub = ast.parse(stub_file.read_text())
    fn = next(n for n in stub.body if isinstance(n, ast.FunctionDef) and n.name == name)
    stub_params = [(a.arg, ast.unparse(a.annotation)) for a in fn.args.args]
    assert not (fn.args.kwonlyargs or fn.args.vararg or fn.args.kwarg or fn.args.defaults)

    first = getattr(module, name).__doc__.splitlines()[0]
    inner = re.fullmatch(rf"{name}\((.*)\) -> (.*)", first)
    assert inner, first
    # split "name: type" pairs at top-level commas
    params, depth, cur = [], 0, ""
    for ch in inner.group(1) + ",":
        if ch == "," and depth == 0:
            params.append(cur.strip())
            cur = ""
            continue
        depth += ch in "[(" and 1 or ch in "])" and -1 or 0
        cur += ch
    compiled = [tuple(p.split(": ", 1)) for p in params]
    assert [n for n, _ in stub_params] == [n for n, _ in compiled]
    for (arg, stub_type), (_, compiled_type) in zip(stub_params, compiled):
        assert re.search(FAMILIES[stub_type], compiled_type), (arg, stub_type, compiled_type)
    compiled_returns = re.findall(r"NDArray\[numpy\.(\w+)\]", inner.group(2))
    stub_returns = re.findall(r"NDArray\[np\.(\w+)\]", ast.unparse(fn.returns))
    assert compiled_returns == RETURNS[name]
    assert [t.rstrip("_") for t in stub_returns] == RETURNS[name]


GOOD = """
    from typing import assert_type
    import numpy as np
    from numpy.typing import NDArray
    import _near_interface_accel as accel
    import _near_interface_ext as ext
    import near_interface_accel as nia

    k = nia.wavenumber(1.0, 4 - 1j)
    assert_type(k, complex)
    out = nia.six_integrals(1.0, k, [0.0, 1.0], 0.5, -0.1, workers=1, progress=True)
    assert_type(out, NDArray[np.complex128])
    gx, gw = nia.gauss_rule(8)
    raw = accel.near_interface_six_batch(1.0, k, [0.0], [0.5], [-0.1], 1e-8, 10.0, 20, 0.1,
                                         gx, gw)
    assert_type(raw, NDArray[np.complex128])
    assert_type(accel.near_interface_680, bool)
    pair = nia.six_integrals(1.0, k, [0.0, 1.0], 0.5, -0.1, diagnostics=True)
    assert_type(pair, tuple[NDArray[np.complex128], nia.RowDiagnostics])
    assert_type(pair[1].limit_error, NDArray[np.float64])
    rows, nodes, limit_panels, limit_error, all_quiet, condition = ext.six_batch_diagnostics(
        1.0, k, [0.0], [0.5], [-0.1], 1e-8, 10.0, 20, 0.1, gx, gw)
    assert_type(rows, NDArray[np.complex128])
    assert_type(all_quiet, NDArray[np.bool_])
    assert_type(condition, NDArray[np.float64])
    assert_type(pair[1].condition, NDArray[np.float64])
    air, soil = nia.medium(1e6), nia.medium(1e6, eps_r=20, sigma=0.01)
    e, h = nia.dipole_field(air, soil, [1.0, 2.0], 0.0, 0.5, -1.0, source="magnetic",
                            direction=(1.0, 0.0, 0.0))
    assert_type(e, NDArray[np.complex128])
    assert_type(h, NDArray[np.complex128])
    fields = ext.dipole_field_batch(1.0, k, "electric", [1.0], [0.5], [-0.1], 1e-8, 10.0, 20,
                                    0.1, gx, gw)
    assert_type(fields[0], NDArray[np.complex128])
    assert_type(fields[4], NDArray[np.bool_])
    assert_type(fields[5], NDArray[np.float64])
"""

BAD = """
    import _near_interface_accel as accel
    import near_interface_accel as nia

    accel.near_interface_six_batch(1.0, 2.0, [0.0], [0.5], [-0.1])              # line 5
    accel.near_interface_six_batch(1.0, 2.0, [0.0], [0.5], [-0.1], 1e-8, 10.0,
                                   20.0, 0.1, [0.0], [2.0])                     # line 7
    nia.six_integrals(1.0, 2.0, 0.0, 0.5, -0.1, workers="all")                  # line 8
    nia.six_integrals(1.0, 2.0, 0.0, 0.5, -0.1, 1e-8)                           # line 9
    nia.wavenumber("1", 4.0)                                                    # line 10
    nia.dipole_field(nia.medium(1e6), nia.medium(1e6), 1.0, 0.0, 0.5, -1.0, source="loop")  # 11
"""


def test_mypy_strict_passes_the_package_and_catches_misuse(tmp_path):
    (tmp_path / "good.py").write_text(textwrap.dedent(GOOD))
    (tmp_path / "bad.py").write_text(textwrap.dedent(BAD))
    proc = run("mypy", "--strict", "--no-color-output", "--cache-dir", str(tmp_path / "cache"),
               str(PACKAGE_SOURCE), "good.py", "bad.py", cwd=tmp_path)
    errors = [line for line in proc.stdout.splitlines() if ": error:" in line]
    assert all(line.startswith("bad.py:") for line in errors), proc.stdout
    assert {int(line.split(":")[1]) for line in errors} == {5, 7, 8, 9, 10, 11}, proc.stdout


def test_package_is_marked_typed():
    assert installed_file("near_interface_accel/py.typed").is_file()


def test_field_batch_stub_matches_the_compiled_signature():
    import _near_interface_ext as ext
    stub = ast.parse(installed_file("_near_interface_ext-stubs/__init__.pyi").read_text())
    fn = next(n for n in stub.body
              if isinstance(n, ast.FunctionDef) and n.name == "dipole_field_batch")
    names = [a.arg for a in fn.args.args]
    first = ext.dipole_field_batch.__doc__.splitlines()[0]
    inner = re.fullmatch(r"dipole_field_batch\((.*)\) -> (.*)", first)
    assert inner, first
    assert names == re.findall(r"(?:^|, )(\w+): ", inner.group(1))
    assert inner.group(2) == "tuple"
