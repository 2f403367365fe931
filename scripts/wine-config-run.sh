#!/usr/bin/env bash
# Runs a Windows test program in another desktop configuration of the Wine prefix: a Unix
# locale (it picks the Windows user locale and the ANSI code page) and the Windows version
# Wine reports; then sets the version back to the default of the test run.
# Usage: wine-config-run.sh LOCALE WINDOWS-VERSION PROGRAM [ARGUMENTS...]
# e.g.   wine-config-run.sh ja_JP.UTF-8 win7 nimbrel_e2e_tests.exe
set -u
locale=$1 version=$2
shift 2
if ! locale -a 2>/dev/null | grep -qix "$(echo "$locale" | sed 's/UTF-8/utf8/I')"; then
    echo "wine-config-run.sh: the locale $locale is not generated (scripts/setup.sh test does it)" >&2
    exit 2
fi
wine winecfg -v "$version" >/dev/null 2>&1
LANG=$locale LC_ALL=$locale NIMBREL_EXPECT_LOCALE=$locale "$(dirname "$0")/wine-run.sh" "$@"
status=$?
wine winecfg -v "$NIMBREL_WINDOWS_VERSION" >/dev/null 2>&1
exit $status
