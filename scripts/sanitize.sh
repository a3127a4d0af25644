#!/usr/bin/env bash
# Build the extension modules with AddressSanitizer and UndefinedBehaviorSanitizer
# and run the whole test suite under them. Extra arguments go to pytest.
#
#   bash scripts/sanitize.sh            # the default test run
#   bash scripts/sanitize.sh -m ''      # everything, slow sweeps included
#
# The interpreter itself is not instrumented, so the ASan runtime is preloaded
# into it; leak checking is off because the interpreter keeps its own memory
# until exit. Any error report aborts the run with a non-zero exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=.venv-sanitizers
python3 -m venv "$venv"
"$venv/bin/pip" install -q -Ccmake.define.NIA_SANITIZERS=ON -Cbuild-dir=build/sanitizers '.[test]'
runtime=$(${CXX:-g++} -print-file-name=libasan.so)
export LD_PRELOAD="$runtime"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:detect_odr_violation=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
"$venv/bin/python" -m pytest -p no:cacheprovider "$@"
