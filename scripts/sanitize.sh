#!/usr/bin/env bash
# Build the extension modules with AddressSanitizer and UndefinedBehaviorSanitizer
# and run the whole test suite under them. Extra arguments go to pytest.
#
#   bash scripts/sanitize.sh            # the default test run
#   bash scripts/sanitize.sh -m ''      # everything, slow sweeps included
#
# The interpreter itself is not instrumented, so the sanitizer runtime is
# preloaded into it; leak checking is off because the interpreter keeps its own memory
# until exit. Any error report aborts the run with a non-zero exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=.venv-sanitizers
python3 -m venv "$venv"
"$venv/bin/pip" install -q -Ccmake.define.NIA_SANITIZERS=ON -Ccmake.define.NIA_PROBE=ON -Cbuild-dir=build/sanitizers '.[test]'
# libstdc++ is preloaded too, so that the ASan runtime finds the C++ exception
# functions it intercepts (the interpreter does not link libstdc++ itself).
cxx=${CXX:-g++}
export LD_PRELOAD="$($cxx -print-file-name=libasan.so) $($cxx -print-file-name=libstdc++.so)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:detect_odr_violation=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
# The wheel test builds the package again with the ordinary toolchain: nothing
# there for the sanitizers to see, so it is left out.
"$venv/bin/python" -m pytest -p no:cacheprovider \
    --deselect tests/python_layer/test_wheel_install.py "$@"
