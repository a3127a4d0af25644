"""What the benchmark scripts share: the machine and build they ran on, their
figures written as JSON next to the printout, and the C++ micro-benchmark of
the elementary operations.

Every script takes ``--json PATH`` (default ``build/benchmarks/<script>.json``
in the source tree) and writes there the figures it printed, with the commit,
the compiler that built the modules, the CPU, the thread setting and the
versions, so that runs can be compared later.
"""
import datetime
import json
import os
import platform
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]


def cpu_name():
    try:
        with open("/proc/cpuinfo") as fh:
            for line in fh:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def usable_cores():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # pragma: no cover - not Linux
        return os.cpu_count() or 1


def load_average():
    try:
        return "%.2f %.2f %.2f" % os.getloadavg()
    except OSError:  # pragma: no cover
        return "n/a"


def _commit():
    try:
        head = subprocess.run(["git", "rev-parse", "HEAD"], cwd=ROOT, capture_output=True,
                              text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"], cwd=ROOT,
                               capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return head + ("-dirty" if dirty else "")


def build_info():
    """The commit, the compiler of the modules (from the probe), the machine and versions."""
    try:
        import _near_interface_probe as probe
        compiler = probe.compiler
    except ImportError:
        compiler = "unknown (the probe is not installed)"
    try:
        import _near_interface_accel as accel
        version = accel.__version__
    except (ImportError, AttributeError):
        version = "unknown"
    return {
        "commit": _commit(),
        "package_version": version,
        "compiler": compiler,
        "cpu": cpu_name(),
        "usable_cores": usable_cores(),
        "omp_num_threads": os.environ.get("OMP_NUM_THREADS"),
        "python": platform.python_version(),
        "numpy": np.__version__,
        "load_average": load_average(),
        "date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
    }


def add_json_argument(parser, script):
    parser.add_argument("--json", default=str(ROOT / "build" / "benchmarks" / (script + ".json")),
                        help="where to write the figures as JSON (default %(default)s)")


def _plain(value):
    """numpy scalars and arrays as JSON numbers and lists."""
    if isinstance(value, dict):
        return {str(k): _plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    if isinstance(value, np.ndarray):
        return value.tolist()
    if isinstance(value, np.generic):
        return value.item()
    if isinstance(value, complex):
        return [value.real, value.imag]
    return value


def write_json(path, script, figures):
    """Write {benchmark, build and machine, figures} to path and say where."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    doc = {"benchmark": script, **build_info(), "figures": _plain(figures)}
    path.write_text(json.dumps(doc, indent=1) + "\n")
    print("figures written to %s" % path)


def elementary_costs(n=4096, passes=20):
    """ns per call of a Gauss node's elementary operations, from the C++
    micro-benchmark benchmarks/elementary_costs.cpp, built on first use in
    build/bench-cxx (CMake with NIA_PYTHON=OFF, NIA_BENCHMARKS=ON)."""
    cmake = shutil.which("cmake")
    if cmake is None:
        sys.exit("the elementary costs need cmake on PATH (pip install cmake)")
    build = ROOT / "build" / "bench-cxx"
    if not (build / "CMakeCache.txt").exists():
        subprocess.run([cmake, "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DNIA_PYTHON=OFF", "-DNIA_BENCHMARKS=ON"], check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run([cmake, "--build", str(build), "--target", "nia_elementary_costs"], check=True,
                   stdout=subprocess.DEVNULL)
    out = subprocess.run([str(build / "nia_elementary_costs"), str(n), str(passes)], check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)
