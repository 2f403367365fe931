#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in the world scripts/wine-env.sh made.
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
    echo "wine-run.sh: start the Wine environment first (scripts/test.sh does)" >&2
    exit 2
fi
. "$(dirname "$0")/wine-env.sh"
wine_server_restart
exec wine "$@"
