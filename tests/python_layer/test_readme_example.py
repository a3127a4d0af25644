"""What the README and the guide show is what the code prints: the README's
example and the guide's dipole table, run and compared line by line."""
import contextlib
import io
import re
import runpy
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def fenced_blocks(text):
    return re.findall(r"```(\w+)\n(.*?)```", text, flags=re.S)


@pytest.mark.parametrize("heading", ["## Example", "## A stack of layers"])
def test_readme_example_prints_what_the_readme_shows(heading):
    readme = (ROOT / "README.md").read_text()
    section = readme.split(heading, 1)[1]
    blocks = fenced_blocks(section)
    (lang_code, code), (lang_out, shown) = blocks[0], blocks[1]
    assert (lang_code, lang_out) == ("python", "text")
    assert len(code.strip().splitlines()) <= 10
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, "README.md", "exec"), {})
    assert out.getvalue().splitlines() == shown.rstrip("\n").splitlines()


def test_guide_dipole_table_is_what_the_example_prints():
    guide = (ROOT / "docs" / "dipole.rst").read_text()
    block = guide.split(".. code-block:: text\n\n", 1)[1].splitlines()
    # the block runs while its lines are indented by 3 (or blank)
    end = next(i for i, line in enumerate(block) if line and not line.startswith("   "))
    shown_lines = [line[3:] for line in block[:end]]
    while shown_lines and not shown_lines[-1]:
        shown_lines.pop()
    example = runpy.run_path(str(ROOT / "examples" / "buried_dipole.py"), run_name="dipole")
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        example["main"]()
    assert out.getvalue().splitlines() == shown_lines


@pytest.mark.parametrize("command", [
    "python3 -m venv .venv && .venv/bin/pip install . && .venv/bin/python examples/buried_dipole.py",
    "python3 -m venv .venv && .venv/bin/pip install -Ccmake.define.NIA_PROBE=ON '.[test]' "
    "&& .venv/bin/python -m pytest",
])
def test_readme_keeps_the_two_set_up_commands_and_ci_runs_the_test_one(command):
    readme = (ROOT / "README.md").read_text()
    assert f"\n    {command}\n" in readme
    if "pytest" in command:
        assert command in (ROOT / ".ci" / "run").read_text()


def test_main_job_prints_fields_with_their_units(capsys):
    runpy.run_path(str(ROOT / "examples" / "buried_dipole.py"), run_name="__main__")
    out = capsys.readouterr().out.splitlines()
    assert "V/m" in out[1] and "A/m" in out[1]
    assert out[0].startswith("vertical electric dipole, 1 A m, 10 MHz")


def test_six_integrals_example_prints_its_table_with_units_and_a_check(capsys):
    runpy.run_path(str(ROOT / "examples" / "lossy_half_space.py"), run_name="__main__")
    out = capsys.readouterr().out.splitlines()
    assert out[2].startswith("lengths in units of 1/k_p; I0, I3, I4, I5 have the dimension")
    worst = float(out[3].rsplit(" ", 1)[1])
    assert worst < 1e-13
    assert sum(line.startswith(("  0.00", " 10.00")) for line in out) == 2 * 2 * 3
