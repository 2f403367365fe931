#!/usr/bin/env bash
# Builds Nimbrel.exe and runs it under Wine in a demo Steam folder (build/demo/Steam): a sample
# config/loginusers.vdf and a stand-in Steam.exe that logs how it was started. Prints the file
# before and after. Arguments are passed to Nimbrel, e.g.: scripts/demo.sh -Online -Abc
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
scripts/build.sh
. scripts/wine-env.sh
tree=build/win32  # the i686 file, the one users get, on every machine

demo=build/demo/Steam
rm -rf build/demo
mkdir -p "$demo/config"
cp "$tree/Nimbrel.exe" "$demo/Nimbrel.exe"
cp "$tree/FakeSteam.exe" "$demo/Steam.exe"
echo 3000 >"$demo/steam-lifetime.txt"
if [ -n "${NIMBREL_DEMO_VDF:-}" ]; then
    install -m 644 "$NIMBREL_DEMO_VDF" "$demo/config/loginusers.vdf"
else
    install -m 644 tests/data/loginusers/sample-bookishtrain.vdf "$demo/config/loginusers.vdf"
fi

echo "== config/loginusers.vdf before"
cat "$demo/config/loginusers.vdf"

wine_env_start i686
echo "== running $tree/Nimbrel.exe (i686, the file users get) $*"
start=$(date +%s%N)
# The display is virtual: a box nobody can press would wait forever, so the run is bounded.
(cd "$demo" && timeout 30 wine Nimbrel.exe "$@") || echo "(Nimbrel.exe ended with exit code $?)"
end=$(date +%s%N)
echo "== Nimbrel.exe ran for $(( (end - start) / 1000000 )) ms"

echo "== config/loginusers.vdf after"
cat "$demo/config/loginusers.vdf"
echo "== Steam.exe starts (process id, command line, working directory)"
cat "$demo"/steam-starts/* 2>/dev/null || echo "(Steam.exe was not started)"
wine_env_stop
