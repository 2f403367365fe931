#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in the world scripts/wine-env.sh made.
# A test program fails on a case that skips unless NIMBREL_ALLOWED_SKIPS names it: the cases
# that cannot be staged on this machine are added to the list here, each for the reason that
# holds, and nothing else.
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
    echo "wine-run.sh: start the Wine environment first (scripts/test.sh does)" >&2
    exit 2
fi
. "$(dirname "$0")/wine-env.sh"
allow() { NIMBREL_ALLOWED_SKIPS=${NIMBREL_ALLOWED_SKIPS:+$NIMBREL_ALLOWED_SKIPS:}$1; }
# Root writes into any folder under Wine: the unprivileged run checks that case instead.
[ "$(wine-enter id -u)" -ne 0 ] ||
    allow ReplaceFileBytes.AFolderThatMayNotBeWrittenIsReportedAsSuchAndLeftAsItWas
# The full drive is a small file system mounted where Wine runs, which takes root there.
probe=$(mktemp -d "$NIMBREL_WINE_DIR/mount.XXXXXX")
wine-enter sh -c 'mount -t tmpfs -o size=4k nimbrel-probe "$1" && umount "$1"' sh "$probe" \
    >/dev/null 2>&1 || allow Startup/EndsWithoutSteam.ShowsItsBoxesThenEnds/FullDrive
rmdir "$probe"
export NIMBREL_ALLOWED_SKIPS
wine_server_restart
# A test program must also reach its counts line; anything else (cmd with the Windows job's
# script, which checks its programs' counts itself) is judged by its exit code.
case $1 in
*_tests.exe) [[ " $* " = *" --gtest_list_tests "* ]] && exec wine "$@"
    wine_counted "$(basename "$1")" wine "$@" ;;
*) exec wine "$@" ;;
esac
