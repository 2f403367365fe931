#!/usr/bin/env bash
# Builds Nimbrel.exe again from a copy of the sources at another path, in a fresh tree, and
# compares it with the given build byte for byte.
set -euo pipefail
source_dir=$1 built=$2
scratch=$(mktemp -d /tmp/nimbrel-repro.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
(cd "$source_dir" && git ls-files -co --exclude-standard -z | xargs -0 cp --parents -t "$scratch" 2>/dev/null) ||
    cp -r "$source_dir/src" "$source_dir/cmake" "$source_dir/CMakeLists.txt" "$scratch"
cmake -S "$scratch" -B "$scratch/build" -DCMAKE_TOOLCHAIN_FILE="$scratch/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$scratch/build" --target Nimbrel -j "$(nproc)" >/dev/null
if cmp "$built" "$scratch/build/Nimbrel.exe"; then
    echo "reproducible: $(sha256sum <"$built" | cut -c1-64)"
else
    echo "the second build differs" >&2
    exit 1
fi
