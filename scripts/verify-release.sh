#!/usr/bin/env bash
# Proves that the release files in DIST are the tested Nimbrel.exe, before anything publishes
# them. Signed (CERTS given: a PEM file with the certificates it was signed with, and the roots
# they chain to), the signature of DIST/Nimbrel.exe verifies against them and, removed, gives
# the tested file back byte for byte; unsigned, DIST/Nimbrel.exe is the tested file itself.
# Either way the archive holds that Nimbrel.exe, and SHA256SUMS checks beside the files and
# names exactly them. The release job of .github/workflows/windows.yml runs it on what it is
# about to publish; tests/resources/check_release.sh runs it on a throwaway release.
# Usage: scripts/verify-release.sh DIST TESTED-NIMBREL.exe [CERTS]
set -euo pipefail
[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: scripts/verify-release.sh DIST TESTED-NIMBREL.exe [CERTS]" >&2; exit 2; }
dist=$1 tested=$2 certs=${3:-}
scratch=$(mktemp -d /tmp/nimbrel-verify.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "verify-release.sh: $*" >&2
    exit 1
}
# step WHAT COMMAND...: a failing COMMAND shows its output and fails with WHAT went wrong.
step() {
    "${@:2}" >"$scratch/log" 2>&1 || { cat "$scratch/log" >&2; fail "$1"; }
}
exe=$dist/Nimbrel.exe
[ -f "$exe" ] || fail "$exe: no such file"
[ -f "$tested" ] || fail "$tested (the tested file): no such file"
if [ -n "$certs" ]; then
    step "$exe does not verify against the certificates in $certs" \
        osslsigncode verify -CAfile "$certs" -in "$exe"
    step "osslsigncode could not remove the signature of $exe" \
        osslsigncode remove-signature -in "$exe" -out "$scratch/removed.exe"
    cmp -s "$scratch/removed.exe" "$tested" || fail "$exe, its signature removed, is not the tested file $tested"
    how="signed, verified against $certs"
else
    cmp -s "$exe" "$tested" || fail "$exe is not the tested file $tested"
    how="unsigned"
fi
zips=("$dist"/Nimbrel-*-win32.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || fail "$dist holds no single Nimbrel-VERSION-win32.zip"
step "${zips[0]} cannot be read as a zip" /usr/bin/python3 -m zipfile -e "${zips[0]}" "$scratch/zip"
cmp -s "$scratch/zip/Nimbrel.exe" "$exe" || fail "${zips[0]} holds another Nimbrel.exe than $exe"
step "sha256sum -c SHA256SUMS fails in $dist" sh -c 'cd "$1" && sha256sum --quiet -c SHA256SUMS' sh "$dist"
named=$(cut -c67- "$dist/SHA256SUMS" | sort | xargs)
[ "$named" = "$(cd "$dist" && ls | grep -vx SHA256SUMS | sort | xargs)" ] ||
    fail "SHA256SUMS names '$named', not the files of $dist"
echo "verify-release.sh: $exe is the tested file ($how); ${zips[0]##*/} holds it; SHA256SUMS checks"
