#!/usr/bin/env bash
# Runs a Windows test program with the Wine prefix's display set to DPI, then sets it back.
# Usage: wine-dpi-run.sh DPI PROGRAM [ARGUMENTS...]
set -u
dpi=$1
shift
set_dpi() {
    local file
    file=$(mktemp /tmp/nimbrel-dpi.XXXXXX.reg)
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$1" >"$file"
    wine regedit /S "$file" >/dev/null 2>&1
    rm -f "$file"
}
set_dpi "$dpi"
NIMBREL_EXPECT_DPI=$dpi "$(dirname "$0")/wine-run.sh" "$@"
status=$?
set_dpi 96
exit $status
