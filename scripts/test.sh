#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests, then the Windows tests and the
# end-to-end tests of the real Nimbrel.exe under Wine on a private virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh --tests

status=0
echo "== native unit tests"
ctest --test-dir build/native --output-on-failure || status=1

echo "== native unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/native-asan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null
cmake --build build/native-asan -j "$(nproc)" >/dev/null
ctest --test-dir build/native-asan --output-on-failure || status=1

echo "== fuzzing the rewrite against its oracle (30 s smoke)"
scripts/fuzz.sh 30 || status=1

echo "== Windows tests under Wine"
. scripts/wine-env.sh
wine_env_start
ctest --test-dir build/win32 --output-on-failure --timeout 600 || status=1
# The README's picture, taken afresh (docs/nimbrel.png is refreshed with scripts/screenshot.sh).
scripts/screenshot.sh build/nimbrel.png || status=1
wine_env_stop

# The figures the checks measured, for the record.
grep -h -E "^(crash consistency:|reproducible:|Nimbrel.exe: [0-9]+ bytes)" \
    build/win32/Testing/Temporary/LastTest.log || true

passed=0 failed=0
for log in build/native/Testing/Temporary/LastTest.log build/native-asan/Testing/Temporary/LastTest.log \
           build/win32/Testing/Temporary/LastTest.log; do
    passed=$((passed + $(grep -c '^Test Passed' "$log" || true)))
    failed=$((failed + $(grep -c '^Test Failed' "$log" || true)))
done
echo "ctest: $passed passed, $failed failed"
exit $status
