# Cross-compiling for aarch64 Linux with Debian's cross toolchain
# (g++-aarch64-linux-gnu); used by scripts/aarch64_tests.sh.
set(CMAKE_SYSTEM_NAME Linux)
# Selects the Advanced SIMD lane target in CMakeLists.txt.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# ctest runs the test binaries through qemu's user-mode emulation, with the
# cross toolchain's C and C++ libraries (-DNIA_AARCH64_QEMU=... names another
# emulator binary).
if(NOT NIA_AARCH64_QEMU)
  set(NIA_AARCH64_QEMU qemu-aarch64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${NIA_AARCH64_QEMU} -L /usr/aarch64-linux-gnu)
