#!/usr/bin/env bash
# Builds Nimbrel.exe (build/win32) and, with --tests, every test program, native and Windows.
# On a machine that runs no 32-bit code, the Windows test programs, and the Nimbrel.exe they
# drive, are built for x86-64 in build/win64 as well, for the runs that need no i686 file there.
# --tests --all-windows builds both Windows trees whole on any machine: the programs the
# Windows job of .github/workflows/windows.yml runs on Windows itself.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-bits.sh
tests=()
[ "${1:-}" = "--tests" ] && tests=(-DNIMBREL_TESTS=ON)
all_windows=no
[ "${2:-}" = "--all-windows" ] && all_windows=yes
jobs=$(nproc)
# Configures TREE with the TOOLCHAIN (i686 or x86_64), then builds what follows (cmake --build).
# Without --tests the tree keeps whatever it had: building the program alone never drops the
# test targets a previous --tests build configured.
build_tree() {
    local tree=$1 toolchain=$2
    shift 2
    cmake -S . -B "$tree" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$toolchain.cmake" "${tests[@]}" >/dev/null
    cmake --build "$tree" -j "$jobs" "$@"
}
if [ ${#tests[@]} -eq 0 ]; then
    build_tree build/win32 i686 --target Nimbrel FakeSteam
    exit 0
fi
build_tree build/win32 i686
if [ "$(nimbrel_wine_bits)" = 64 ] || [ "$all_windows" = yes ]; then
    build_tree build/win64 x86_64
else
    # The wow64 run's end-to-end program and its x86-64 stand-in, which drive the i686 file, and
    # the stand-in test program the Windows job's script is checked with.
    build_tree build/win64 x86_64 --target nimbrel_e2e_tests nimbrel_standin_tests
fi
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j "$jobs"
