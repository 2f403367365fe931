#!/usr/bin/env bash
# Prints the performance figures: the rewrite natively (Google Benchmark, optimised build),
# then under Wine the whole file step and the time from start to Steam, of the i686 build where
# it runs natively, else of the x86-64 one. Figures, no verdicts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
scripts/build.sh --tests
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DNIMBREL_BENCH=ON >/dev/null
cmake --build build/bench -j "$(nproc)" --target rewrite_bench >/dev/null

echo "== the rewrite, in memory (native, -O3)"
build/bench/bench/rewrite_bench --benchmark_min_time=1 2>/dev/null

. scripts/wine-env.sh
build=$(nimbrel_bench_build)  # never an emulated one: its timings would say nothing
wine_env_start "$build"
tree=$(nimbrel_tree "$build")
echo "== the file step: read, rewrite, atomic replace, against a plain read-then-write copy (Wine, $build)"
wine "$tree"/bench/file_step_bench.exe
wine "$tree"/bench/file_step_bench.exe peak
echo "== start to Steam (Wine, warm wineserver, $build)"
wine "$tree"/bench/start_bench.exe "${NIMBREL_BENCH_ROUNDS:-15}"
echo "== the executable"
echo "Nimbrel.exe (i686): $(stat -c %s build/win32/Nimbrel.exe) bytes"
wine_env_stop
