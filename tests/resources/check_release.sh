#!/usr/bin/env bash
# The release files of a tested Nimbrel.exe: signed with a throwaway key, scripts/verify-release.sh
# (which the release job runs before publishing) proves them, and proves nothing of a file that
# is not the tested one; unsigned, it proves them too and two archives are one; the tag check
# takes the version's own tag only. Usage: check_release.sh Nimbrel.exe
# package.sh writes into a scratch folder (NIMBREL_DIST): dist/ stays as it was.
set -euo pipefail
tested=$(realpath "$1")
cd "$(dirname "$0")/../.."
scratch=$(mktemp -d /tmp/nimbrel-release.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "release: $*" >&2
    exit 1
}
# step WHAT COMMAND...: a failing COMMAND shows its output and fails with WHAT went wrong.
step() {
    "${@:2}" >"$scratch/log" 2>&1 || { cat "$scratch/log" >&2; fail "$1"; }
}
version=$(scripts/version.sh)
zip=Nimbrel-$version-win32.zip

# A self-signed code-signing certificate as large as a real chain with its time stamp: the
# signed file is past the size bound, while its bytes before the signature are not.
# The filler's length is bounded: outside it openssl fails on something else, or the exe is
# already past the bound, which check_exe.py reports in its own words.
bound=$(($(sed -n 's/^MAX_BYTES = //p' tests/resources/check_exe.py)))
size=$(stat -c %s "$tested")
pad=$((bound - size + 1024))
[ "$pad" -gt 0 ] && [ "$pad" -lt 100000 ] ||
    fail "Nimbrel.exe is $size bytes against check_exe.py's bound of $bound: a certificate filler of $pad bytes is outside 0 < pad < 100000"
filler=$(head -c "$pad" /dev/zero | tr '\0' x)
step "openssl made no certificate" openssl req -x509 -newkey rsa:2048 -nodes -days 2 \
    -subj "/CN=Nimbrel release check" -addext extendedKeyUsage=codeSigning -addext "nsComment=$filler" \
    -keyout "$scratch/key.pem" -out "$scratch/cert.pem"
password="throwaway $RANDOM$RANDOM"
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -out "$scratch/key.pfx" \
    -passout fd:3 3< <(printf %s "$password")
step "package.sh did not sign" env NIMBREL_DIST="$scratch/signed" NIMBREL_SIGN_PFX="$scratch/key.pfx" \
    NIMBREL_SIGN_PASSWORD="$password" scripts/package.sh --exe "$tested"
signed=$scratch/signed/Nimbrel.exe
step "verify-release.sh refuses the signed release" scripts/verify-release.sh "$scratch/signed" "$tested" "$scratch/cert.pem"
# A verifier that passes anything proves nothing: a file other than the tested one fails it.
cp "$tested" "$scratch/other.exe" && printf x >>"$scratch/other.exe"
! scripts/verify-release.sh "$scratch/signed" "$scratch/other.exe" "$scratch/cert.pem" 2>"$scratch/log" ||
    fail "verify-release.sh takes a signed release for another file"
grep -qF "its signature removed, is not the tested file" "$scratch/log" || { cat "$scratch/log" >&2; fail "verify-release.sh refused the other file for another reason"; }
[ "$(stat -c %s "$signed")" -gt "$bound" ] || fail "the signed file is within the bound: the check below proves nothing"
step "the signed Nimbrel.exe fails check_exe.py's size bound" /usr/bin/python3 tests/resources/check_exe.py \
    "$signed" . NimbrelExe.test_stays_within_its_size_bound
sizes=$(head -n 1 "$scratch/log")

# Unsigned, from the same file: the second run two seconds later, past a zip time's resolution.
for run in 1 2; do
    [ $run = 1 ] || sleep 2
    step "package.sh failed unsigned" env NIMBREL_DIST="$scratch/unsigned$run" NIMBREL_SIGN_PFX= \
        scripts/package.sh --exe "$tested"
done
cmp -s "$scratch/unsigned1/$zip" "$scratch/unsigned2/$zip" || fail "two unsigned runs gave different archives"
step "verify-release.sh refuses the unsigned release" scripts/verify-release.sh "$scratch/unsigned1" "$tested"

# The version's tag, and the next one, refused naming both; the derivation, in a scratch tree.
other=v${version%.*}.$((${version##*.} + 1))
scripts/version.sh check "v$version" || fail "version.sh check refuses v$version, the tag of its own version"
! scripts/version.sh check "$other" 2>"$scratch/log" || fail "version.sh check accepts $other for $version"
grep -qF "$other does not match the version $version" "$scratch/log" || fail "the refusal does not name both"
step "CHANGELOG.md has no notes for $version" scripts/version.sh notes
install -D scripts/version.sh "$scratch/tree/scripts/version.sh" && mkdir -p "$scratch/tree/src/app"
for row in "1, 2, 3, 0=1.2.3" "1, 0, 0, 0=1.0" "0, 10, 0, 1=0.10.0.1"; do
    echo "#define NIMBREL_VERSION_BINARY ${row%=*}" >"$scratch/tree/src/app/Version.h"
    [ "$("$scratch/tree/scripts/version.sh")" = "${row#*=}" ] || fail "version.sh does not read ${row%=*} as ${row#*=}"
done
echo "release: signed exe verifies ($sizes), unsigned exe restored byte for byte, zips reproducible," \
    "tag checks (v$version ok, $other refused)"
