#!/usr/bin/env bash
# Cross-compile the numeric core for aarch64 with Debian's cross toolchain
# (scripts/aarch64-toolchain.cmake), with its C++ tests, and run them under
# qemu's user-mode emulation: the core tests, every Advanced SIMD lane
# function against the scalar table (tests/cxx/lane_tests.cpp) and the
# reference rows on the lanes and on the scalar path
# (tests/cxx/reference_rows.cpp). Release build, as the wheels are compiled,
# with warnings as errors.
#
# Installs g++-aarch64-linux-gnu and qemu-user (or qemu-user-static) with
# apt-get when they are missing (as root, as CI runs). cmake and ninja come
# from CXX_TESTS_BIN or .venv/bin (the `dev` dependency group), else from PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
apt_install() {
    if [[ $(id -u) -ne 0 ]]; then
        echo "aarch64_tests.sh needs the Debian package $1 (apt-get install it as root)" >&2
        exit 1
    fi
    echo "installing $*"
    [[ -n "${apt_updated:-}" ]] || apt-get update -q > /dev/null
    apt_updated=1
    apt-get install -y -q --no-install-recommends "$@" > /dev/null
}
command -v aarch64-linux-gnu-g++ > /dev/null || apt_install g++-aarch64-linux-gnu
qemu() { command -v qemu-aarch64 || command -v qemu-aarch64-static; }
qemu > /dev/null || apt_install qemu-user || apt_install qemu-user-static
emulator=$(qemu)

bin=${CXX_TESTS_BIN:-.venv/bin}
if [[ -x "$bin/cmake" && -x "$bin/ninja" ]]; then
    bin=$(cd "$bin" && pwd)
    cmake=$bin/cmake ctest=$bin/ctest ninja=$bin/ninja
else
    cmake=cmake ctest=ctest ninja=$(command -v ninja)
fi
build=build/aarch64-tests
rm -rf "$build"
"$cmake" -S . -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$ninja" \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/scripts/aarch64-toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DNIA_AARCH64_QEMU="$emulator" -DCMAKE_CXX_FLAGS=-Werror -DNIA_PYTHON=OFF \
    -DNIA_CXX_TESTS=ON > /dev/null
grep -q 'NIA_SIMD_HAVE_NEON' "$build/build.ninja" || {
    echo "the aarch64 build has no Advanced SIMD lane target" >&2
    exit 1
}
"$cmake" --build "$build" -j 2
# the ELF header's machine field: 183 (0xb7) is aarch64
[[ $(od -An -tx1 -j18 -N2 "$build/nia_lane_tests" | tr -d ' ') == b700 ]] || {
    echo "$build/nia_lane_tests is not an aarch64 binary" >&2
    exit 1
}
# ctest runs each binary through qemu-aarch64 (the toolchain file's emulator).
# Shown: each test's own lines (the worst lane and row errors) and ctest's
# summary; the whole log on a failure.
log=$build/ctest.log
status=0
"$ctest" --test-dir "$build" --output-on-failure -V > "$log" 2>&1 || status=$?
if ((status)); then
    cat "$log"
else
    grep -E '^[0-9]+: (neon|scalar|passed|FAILED)' "$log" | sed -E 's/^[0-9]+: //'
    grep -E 'tests passed|Total Test time' "$log"
fi
exit "$status"
