#!/usr/bin/env bash
# Takes a picture of the Nimbrel window under Wine: scripts/screenshot.sh [OUT.png]
# (default docs/nimbrel.png). Builds first; uses the running Wine environment when there is one,
# and the build it runs; else the i686 file, the one users get.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
out=${1:-docs/nimbrel.png}
if [ -z "${NIMBREL_WINE_DIR:-}" ]; then
    scripts/setup.sh test
    scripts/build.sh
    wine_env_start i686
fi
folder=$(mktemp -d /tmp/nimbrel-shot.XXXXXX)
mkdir -p "$folder/config"
tree=$(nimbrel_tree "$NIMBREL_WINE_BUILD")
cp "$tree/Nimbrel.exe" "$folder/"
cp "$tree/FakeSteam.exe" "$folder/Steam.exe"
echo 1000 >"$folder/steam-lifetime.txt"
install -m 644 tests/data/loginusers/sample-bookishtrain.vdf "$folder/config/loginusers.vdf"
(cd "$folder" && timeout 60 wine Nimbrel.exe) &
run=$!
geometry=""
# As long as the run lasts: a Wine session whose desktop process has to start again (after a
# quiet spell, or emulated) can take several seconds to show the first window.
while kill -0 "$run" 2>/dev/null; do
    geometry=$(xwininfo -name "Loading Steam.exe" 2>/dev/null |
        awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2}
             END{if (w) print w "x" h "+" x "+" y}') || true
    [ -n "$geometry" ] && break
    sleep 0.02
done
[ -n "$geometry" ] || { echo "screenshot: the window did not show" >&2; exit 1; }
sleep 0.2  # let it paint
mkdir -p "$(dirname "$out")"
import -window root -crop "$geometry" +repage "$out"
wait "$run" || true
rm -rf "$folder"
echo "screenshot: $out ($geometry)"
