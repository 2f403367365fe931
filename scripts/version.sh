#!/usr/bin/env bash
# The one version of a release, read from src/app/Version.h: NIMBREL_VERSION_BINARY with its
# trailing zero parts dropped, down to two (0, 1, 0, 0 is 0.1; 1, 2, 3, 0 is 1.2.3).
#   scripts/version.sh             prints it
#   scripts/version.sh check TAG   succeeds when TAG is v and the version, else names both
#   scripts/version.sh notes       prints the version's section of CHANGELOG.md
# NIMBREL_VERSION_TEXT and NIMBREL_CAPTION_VERSION are texts the program shows, kept as they
# have always read: neither is the release's version.
set -euo pipefail
cd "$(dirname "$0")/.."
header=src/app/Version.h

binary=$(sed -n 's/^#define NIMBREL_VERSION_BINARY[[:space:]]*//p' "$header" | tr -d '\r')
if ! [[ $binary =~ ^[0-9]+,\ *[0-9]+,\ *[0-9]+,\ *[0-9]+[[:space:]]*$ ]]; then
    echo "version.sh: $header has no NIMBREL_VERSION_BINARY of four numbers (it reads '$binary')" >&2
    exit 1
fi
IFS=', ' read -r -a parts <<<"$binary"
while [ ${#parts[@]} -gt 2 ] && [ "$((10#${parts[-1]}))" -eq 0 ]; do
    unset 'parts[-1]'
done
version=""
for part in "${parts[@]}"; do version+="${version:+.}$((10#$part))"; done

case "${1:-}" in
"")
    echo "$version"
    ;;
check)
    tag=${2:-}
    if [ -z "$tag" ]; then
        echo "usage: scripts/version.sh check TAG" >&2
        exit 2
    elif [ "$tag" != "v$version" ]; then
        echo "version.sh: tag $tag does not match the version $version of $header (its tag is v$version)" >&2
        exit 1
    fi
    ;;
notes)
    # The section runs from its heading to the next one, or to the link definitions at the end.
    notes=$(awk -v heading="## [$version]" '
        index($0, heading) == 1 { found = 1; next }
        found && (/^## / || /^\[[^]]*\]: /) { exit }
        found { print }' CHANGELOG.md | sed -e '/./,$!d')
    if [ -z "$notes" ]; then
        echo "version.sh: CHANGELOG.md has no notes for $version (a section '## [$version] - YYYY-MM-DD' with its changes)" >&2
        exit 1
    fi
    echo "$notes"
    ;;
*)
    echo "usage: scripts/version.sh [check TAG | notes]" >&2
    exit 2
    ;;
esac
