# Sourced by the test and demo scripts: a private Wine world for one run.
# wine_env_start makes a prefix (32-bit where the machine can run it) on its own Xvfb display and keeps one wineserver up;
# wine_env_stop ends exactly what wine_env_start began and removes it.

. "$(dirname "${BASH_SOURCE[0]}")/wine-bits.sh"

wine_env_start() {
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs in a fresh prefix.
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    NIMBREL_WINE_DIR=$(mktemp -d /tmp/nimbrel-wine.XXXXXX)
    export NIMBREL_WINE_DIR
    export WINEPREFIX="$NIMBREL_WINE_DIR/prefix"
    NIMBREL_WINE_BITS=$(nimbrel_wine_bits)
    export NIMBREL_WINE_BITS
    if [ "$NIMBREL_WINE_BITS" = 32 ]; then
        export WINEARCH=win32
    else
        # Debian's wine and wineserver commands pick the 32-bit loader whenever it is installed,
        # runnable or not: every program of this run gets the 64-bit ones instead.
        export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
        mkdir -p "$NIMBREL_WINE_DIR/bin"
        # Scripts, not links: the loader finds its preloader by the name it was started under.
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$NIMBREL_WINE_DIR/bin/wine"
        printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$NIMBREL_WINE_DIR/bin/wineserver"
        chmod +x "$NIMBREL_WINE_DIR/bin/wine" "$NIMBREL_WINE_DIR/bin/wineserver"
        export PATH="$NIMBREL_WINE_DIR/bin:$PATH"
    fi
    echo "Wine: ${NIMBREL_WINE_BITS}-bit, programs from $(nimbrel_wine_tree)"

    local display
    for display in $(seq 91 250); do
        [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ] || break
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$NIMBREL_WINE_DIR/xvfb.log" 2>&1 &
    NIMBREL_XVFB_PID=$!
    export DISPLAY=":$display"
    local i
    for i in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.05; done

    mkdir -p "$WINEPREFIX"
    wineserver -p
    wine wineboot -i >"$NIMBREL_WINE_DIR/wineboot.log" 2>&1
    cat >"$NIMBREL_WINE_DIR/settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
    wine regedit /S "$NIMBREL_WINE_DIR/settings.reg" >/dev/null 2>&1
    # The run's default desktop reports Windows 10 (Wine's own default differs between builds);
    # the scripts that switch to another configuration switch back to this one.
    export NIMBREL_WINDOWS_VERSION=win10
    wine winecfg -v "$NIMBREL_WINDOWS_VERSION" >/dev/null 2>&1
    # Drive N: is an empty folder, for a Steam folder at the root of a drive.
    mkdir -p "$NIMBREL_WINE_DIR/drive-n"
    ln -s "$NIMBREL_WINE_DIR/drive-n" "$WINEPREFIX/dosdevices/n:"
    trap wine_env_stop EXIT
}

wine_env_stop() {
    [ -n "${NIMBREL_WINE_DIR:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    kill "$NIMBREL_XVFB_PID" 2>/dev/null || true
    wait "$NIMBREL_XVFB_PID" 2>/dev/null || true
    rm -rf "$NIMBREL_WINE_DIR" "/tmp/wine-$(id -u)-"* 2>/dev/null || true
    # Debian's wine keeps its server socket under /tmp/.wine-UID/server-*; leave other runs' alone.
    NIMBREL_WINE_DIR=
}
