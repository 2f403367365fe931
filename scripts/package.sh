#!/usr/bin/env bash
# Makes the release files in dist/: Nimbrel.exe (signed where a key is given), the archive
# Nimbrel-VERSION-win32.zip (that same Nimbrel.exe, README.md, LICENSE; VERSION as
# scripts/version.sh prints it) and SHA256SUMS of both, which `sha256sum -c` checks in dist/.
#   scripts/package.sh              sets up (scripts/setup.sh run) and builds, then packages
#                                   build/win32/Nimbrel.exe
#   scripts/package.sh --exe FILE   packages FILE as it is, the very file a test run tested;
#                                   nothing is set up or built
# Signing, with osslsigncode: NIMBREL_SIGN_PFX names a PKCS#12 file, NIMBREL_SIGN_PASSWORD holds
# its password, and NIMBREL_SIGN_TIMESTAMP_URL, where set, names an RFC 3161 time-stamping
# server. NIMBREL_DIST puts the files in another folder than dist/.
# Unsigned, the archive is reproducible: one Nimbrel.exe, one hash. A signature holds its time.
set -euo pipefail
fail() {
    echo "package.sh: $*" >&2
    exit 1
}
usage="usage: scripts/package.sh [--exe FILE]"
# Paths given by the caller are taken from where the caller is, before the move to the tree.
absolute() {
    case "$1" in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac
}
exe=""
if [ $# -gt 0 ]; then
    [ "$1" = --exe ] && [ $# -eq 2 ] && [ -n "$2" ] || { echo "$usage" >&2; exit 2; }
    exe=$(absolute "$2")
fi
pfx=${NIMBREL_SIGN_PFX:+$(absolute "$NIMBREL_SIGN_PFX")}
dist=${NIMBREL_DIST:+$(absolute "$NIMBREL_DIST")}
password=${NIMBREL_SIGN_PASSWORD:-}
unset NIMBREL_SIGN_PASSWORD  # no program started below gets it in its environment
timestamp_url=${NIMBREL_SIGN_TIMESTAMP_URL:-}
cd "$(dirname "$0")/.."
dist=${dist:-$PWD/dist}

# What signing needs is checked before anything is built: a mistake costs no build.
if [ -n "$pfx" ]; then
    [ -f "$pfx" ] && [ -r "$pfx" ] ||
        fail "NIMBREL_SIGN_PFX names $pfx, which is not a file this user can read; nothing was signed or packaged"
    [ -n "$password" ] ||
        fail "NIMBREL_SIGN_PASSWORD is not set: signing with $pfx (NIMBREL_SIGN_PFX) needs its password; nothing was packaged"
fi
if [ -z "$exe" ]; then
    scripts/setup.sh run
    scripts/build.sh >/dev/null
    exe=$PWD/build/win32/Nimbrel.exe
fi
[ -f "$exe" ] || fail "--exe $exe: no such file"
[ "$(head -c 2 "$exe")" = MZ ] || fail "$exe is not a Windows program (it does not begin with MZ)"
if [ -n "$pfx" ] && ! command -v osslsigncode >/dev/null 2>&1; then
    fail "osslsigncode is not installed, and it signs with NIMBREL_SIGN_PFX (scripts/setup.sh run installs it where NIMBREL_SIGN_PFX is set)"
fi
[ -x /usr/bin/python3 ] || fail "/usr/bin/python3 is not installed, and it writes the archive (scripts/setup.sh run installs it)"
version=$(scripts/version.sh)
zip=Nimbrel-$version-win32.zip

# The files are made beside dist/ and moved in when all are made: a failed run leaves the
# files of the one before, whose SHA256SUMS still matches them.
mkdir -p "$dist"
stage=$(mktemp -d "$dist/.package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
if [ -n "$pfx" ]; then
    # The password reaches osslsigncode through a pipe, never its command line, which every
    # user can read in the process list. -readpass takes a file name: /dev/fd/3 works with
    # Debian 12's osslsigncode 2.5 and the backported 2.9 alike (2.5 does not take "-").
    timestamp=()
    [ -n "$timestamp_url" ] && timestamp=(-ts "$timestamp_url")
    if ! osslsigncode sign -pkcs12 "$pfx" -readpass /dev/fd/3 -h sha256 -n Nimbrel "${timestamp[@]}" \
        -in "$exe" -out "$stage/Nimbrel.exe" 3< <(printf %s "$password") >"$stage/sign.log" 2>&1; then
        cat "$stage/sign.log" >&2
        fail "osslsigncode could not sign $exe with $pfx (its output is above); nothing was packaged"
    fi
    rm "$stage/sign.log"
else
    cp "$exe" "$stage/Nimbrel.exe"
fi
/usr/bin/python3 - "$stage/$zip" "$stage/Nimbrel.exe" README.md LICENSE <<'PY'
import os
import sys
import zipfile
archive_path, *paths = sys.argv[1:]
with zipfile.ZipFile(archive_path, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for path in paths:
        info = zipfile.ZipInfo(os.path.basename(path), date_time=(2026, 1, 1, 0, 0, 0))  # fixed: no build time inside
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(path, 'rb') as f:
            archive.writestr(info, f.read())
PY
# Bare names: the sums are checked where the files are, on any machine.
(cd "$stage" && sha256sum "$zip" Nimbrel.exe >SHA256SUMS)
mv -f "$stage/Nimbrel.exe" "$stage/$zip" "$dist/"
mv -f "$stage/SHA256SUMS" "$dist/"

if [ -n "$pfx" ] && [ -n "$timestamp_url" ]; then
    echo "Nimbrel.exe: signed with $pfx, time-stamped by $timestamp_url"
elif [ -n "$pfx" ]; then
    echo "Nimbrel.exe: signed with $pfx, not time-stamped"
else
    echo "Nimbrel.exe: not signed (NIMBREL_SIGN_PFX is not set)"
fi
echo "$dist/SHA256SUMS:"
cat "$dist/SHA256SUMS"
