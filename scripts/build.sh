#!/usr/bin/env bash
# Builds Nimbrel.exe (build/win32) and, with --tests, every test program, native and Windows.
# On a machine whose Wine runs only 64-bit programs, the Windows test programs, and the
# Nimbrel.exe they drive, are built for x86-64 in build/win64 as well.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-bits.sh
tests=()
[ "${1:-}" = "--tests" ] && tests=(-DNIMBREL_TESTS=ON)
jobs=$(nproc)
# Without --tests the tree keeps whatever it had: building the program alone never drops the
# test targets a previous --tests build configured.
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "${tests[@]}" >/dev/null
cmake --build build/win32 -j "$jobs" --target Nimbrel FakeSteam
wine_tree=$(nimbrel_wine_tree)
if [ "$wine_tree" != build/win32 ]; then
    cmake -S . -B "$wine_tree" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "${tests[@]}" >/dev/null
    cmake --build "$wine_tree" -j "$jobs" --target Nimbrel FakeSteam
fi
if [ ${#tests[@]} -gt 0 ]; then
    cmake --build "$wine_tree" -j "$jobs"
    cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build build/native -j "$jobs"
fi
