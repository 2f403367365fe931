#!/usr/bin/env bash
# Builds Nimbrel.exe (build/win32) and, with --tests, every test program, native and Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
tests=OFF
[ "${1:-}" = "--tests" ] && tests=ON
jobs=$(nproc)
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DNIMBREL_TESTS=$tests >/dev/null
cmake --build build/win32 -j "$jobs"
if [ "$tests" = ON ]; then
    cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build build/native -j "$jobs"
fi
