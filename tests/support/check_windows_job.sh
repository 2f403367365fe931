#!/usr/bin/env bash
# What the Windows job's script makes of test programs that prove nothing: one that crashes
# (0xC0000005, which cmd holds as a negative number), one that ends with 0 before its counts line,
# one whose case skips where its leg allows no skip, one that runs no case. Each must fail the script. A stand-in tree holds the script
# and the stand-in as both x86-64 test programs; the same stand-in with its skip allowed
# passes, so each failure is the script's verdict and not a broken tree.
# Usage: check_windows_job.sh SOURCE_DIR STAND-IN.exe (in a started Wine session)
set -u
source=$1 standin=$2
tree=$(mktemp -d "${NIMBREL_WINE_DIR:?start the Wine environment first}/job.XXXXXX")
mkdir -p "$tree/scripts" "$tree/build/win64/tests/win32" "$tree/build/win64/tests/e2e"
cp "$source/scripts/windows-tests.cmd" "$tree/scripts/"
for suite in win32 e2e; do cp "$standin" "$tree/build/win64/tests/$suite/nimbrel_${suite}_tests.exe"; done
touch "$tree/build/win64/Nimbrel.exe" "$tree/build/win64/FakeSteam.exe"
status=0
# verdict WANT FILTER ALLOWED-SKIPS TEXT: the script's x86-64 set over the stand-in's cases
# that FILTER picks ends as WANT (0 or non-zero) and its output, or its summary, holds TEXT.
verdict() {
    local want=$1 filter=$2 allowed=$3 text=$4 code
    : >"$tree/summary.md"
    (cd "$tree" && NIMBREL_STANDIN_CASES=$filter NIMBREL_ALLOWED_SKIPS=$allowed \
        GITHUB_STEP_SUMMARY='Z:'"${tree//\//\\}"'\summary.md' \
        wine cmd /c "Z:${tree//\//\\}\\scripts\\windows-tests.cmd" x86-64 </dev/null >"$tree/out.txt" 2>&1)
    code=$?
    if { [ "$want" = 0 ] && [ $code -eq 0 ]; } || { [ "$want" != 0 ] && [ $code -ne 0 ]; }; then
        if cat "$tree/out.txt" "$tree/summary.md" | tr -d '\r' | grep -qF -- "$text"; then
            echo "windows job: $filter with skips allowed \"$allowed\" ends with $code, as it must"
            return
        fi
        echo "windows job: $filter with skips allowed \"$allowed\" never said: $text"
    else
        echo "windows job: $filter with skips allowed \"$allowed\" ended with $code, not $want"
    fi
    tr -d '\r' <"$tree/out.txt"
    status=1
}
verdict 1 "StandIn.Crashes*" "" "| win32 | x86-64 | no count: the program ended before its last line | FAILED, exit code -1073741819 |"
verdict 1 StandIn.EndsWithZeroMidRun "" "| e2e | x86-64 | no count: the program ended before its last line | FAILED, it ended with 0 before its last line |"
verdict 1 StandIn.Skips "" "SKIPPED StandIn.Skips: a stand-in's skip (not in NIMBREL_ALLOWED_SKIPS"
verdict 1 NoSuch.Case "" "standin: no case ran"
verdict 0 StandIn.Skips "Other.Case:StandIn.Sk?ps" "| e2e | x86-64 | 0 passed, 0 failed, 1 skipped | passed |"
# The ctest side under Wine: wine-run.sh fails the same early end, naming it.
NIMBREL_STANDIN_CASES=StandIn.EndsWithZeroMidRun "$source/scripts/wine-run.sh" "$standin" >"$tree/out.txt" 2>&1 &&
    { echo "wine-run.sh: a program that ended with 0 before its counts line passed"; status=1; }
grep -q "ended with 0 before its counts line" "$tree/out.txt" ||
    { echo "wine-run.sh never said the program ended before its counts line"; status=1; }
rm -rf "$tree"
exit $status
