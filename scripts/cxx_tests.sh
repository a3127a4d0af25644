#!/usr/bin/env bash
# Build the numeric core without Python, in Debug (warnings are errors there),
# with its C++ tests, and run them with ctest. Needs cmake and a C++17
# compiler (the `dev` dependency group brings cmake and ninja).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(cd "${CXX_TESTS_BIN:-.venv/bin}" && pwd)
build=build/cxx-tests
"$bin/cmake" -S . -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$bin/ninja" -DCMAKE_BUILD_TYPE=Debug \
    -DNIA_PYTHON=OFF -DNIA_CXX_TESTS=ON > /dev/null
"$bin/cmake" --build "$build"
"$bin/ctest" --test-dir "$build" --output-on-failure
