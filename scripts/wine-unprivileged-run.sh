#!/usr/bin/env bash
# Runs a Windows test program as an unprivileged user, in a Wine prefix of that user's own.
# Root writes through read-only files (Wine maps the attribute to the Unix mode), so what a
# read-only file refuses on Windows only shows here. Where Wine already runs as a user other
# than root, this is the ordinary run.
# Usage: wine-unprivileged-run.sh PROGRAM [ARGUMENTS...]
set -u
here=$(dirname "$0")
if [ -z "${NIMBREL_WINE_DIR:-}" ]; then
    echo "wine-unprivileged-run.sh: start the Wine environment first (scripts/test.sh does)" >&2
    exit 2
fi
# Asked where Wine runs: a namespace that maps this user to its root makes Wine root there.
if [ "$(wine-enter id -u)" -ne 0 ]; then
    exec "$here/wine-run.sh" "$@"
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "wine-unprivileged-run.sh: Wine runs as root in this run's namespace, and only root" \
        "may switch to another user; run it where no namespace maps you to root" >&2
    exit 2
fi
user=nobody
prefix="$NIMBREL_WINE_DIR/prefix-$user"
# The user's wineserver keeps its socket under TMPDIR, as the run's own does: in the run's folder.
mkdir -p "$prefix" "$TMPDIR/$user"
chown "$user" "$prefix" "$TMPDIR/$user"
chmod a+rx "$NIMBREL_WINE_DIR"
environment=(HOME="$prefix" WINEPREFIX="$prefix" TMPDIR="$TMPDIR/$user" WINEARCH="$WINEARCH"
             WINEDEBUG=-all WINEDLLOVERRIDES="$WINEDLLOVERRIDES" DISPLAY="$DISPLAY" PATH="$PATH")
[ -n "${WINELOADER:-}" ] && environment+=(WINELOADER="$WINELOADER" WINESERVER="$WINESERVER")
# Into the run's namespace first, if it has one: only root may enter it.
as_user() { wine-enter runuser -u "$user" -- env "${environment[@]}" "$@"; }
. "$here/wine-env.sh"
wine_server_restart  # nothing the run's own programs left shares the display with this one
wine_prefix_settings as_user
wine_counted "$(basename "$1")" as_user wine "$@"
status=$?
as_user wineserver -k >/dev/null 2>&1
exit $status
