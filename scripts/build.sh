#!/usr/bin/env bash
# Builds Nimbrel.exe (build/win32) and, with --tests, every test program, native and Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
tests=()
[ "${1:-}" = "--tests" ] && tests=(-DNIMBREL_TESTS=ON)
jobs=$(nproc)
# Without --tests the tree keeps whatever it had: building the program alone never drops the
# test targets a previous --tests build configured.
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "${tests[@]}" >/dev/null
cmake --build build/win32 -j "$jobs" --target Nimbrel FakeSteam
if [ ${#tests[@]} -gt 0 ]; then
    cmake --build build/win32 -j "$jobs"
    cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build build/native -j "$jobs"
fi
