#!/usr/bin/env bash
# Fuzzes the offline-flag rewrite against its oracle with libFuzzer (clang, ASan, UBSan).
# Usage: scripts/fuzz.sh [SECONDS] [extra libFuzzer options]; default 30 seconds.
# A long run: scripts/fuzz.sh 0 -runs=10000000
# NIMBREL_FUZZ_SANITIZE=0 builds without the sanitizers: about four times the executions a second.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
mkdir -p build/fuzz/corpus
sanitize=(-O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
[ "${NIMBREL_FUZZ_SANITIZE:-1}" = 0 ] && sanitize=(-O2 -fsanitize=fuzzer)
clang++-14 -std=c++17 "${sanitize[@]}" -Isrc \
    fuzz/RewriteFuzz.cpp src/loginusers/OfflineFlags.cpp -o build/fuzz/rewrite_fuzz
# Seeds: the real-world files, each in both directions.
for file in tests/data/loginusers/*.vdf; do
    name=$(basename "$file" .vdf)
    { printf '\0'; cat "$file"; } >"build/fuzz/corpus/$name-offline"
    { printf '\1'; cat "$file"; } >"build/fuzz/corpus/$name-online"
done
limit=()
[ "$seconds" != 0 ] && limit=(-max_total_time="$seconds")
status=0
build/fuzz/rewrite_fuzz "${limit[@]}" -max_len=4096 -print_final_stats=1 "$@" build/fuzz/corpus \
    >build/fuzz/last-run.log 2>&1 || status=$?
grep -E "^(stat::number_of_executed_units|stat::peak_rss|Done|==|SUMMARY)" build/fuzz/last-run.log || true
exit $status
