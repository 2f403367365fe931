# Sourced by the test, demo and bench scripts: a private Wine world for one run of one build.
# wine_env_start BUILD (i686, the default, or x86-64) makes a prefix for that build on its own
# Xvfb display and keeps one wineserver up; wine_env_stop ends exactly what it began and
# removes it. The wine and wineserver commands of the run come first in PATH.

. "$(dirname "${BASH_SOURCE[0]}")/wine-bits.sh"

# The i386 ELF header (class, data, version, executable or shared object, machine 3), as
# binfmt_misc matches it; the mask ignores the ABI bytes and the low bit of the file type.
NIMBREL_I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
NIMBREL_I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A user + mount namespace for this run, whose own binfmt_misc hands every i386 program to
# qemu-i386: 32-bit Wine on a kernel that runs no 32-bit code. Only processes inside see the
# handler; the machine's own binfmt_misc is never touched. Prints the namespace's process id;
# fails, saying why, when the namespace or its handler cannot be made.
wine_namespace_start() {
    # Root maps user ids 0-65535 to themselves: root stays root, and a test can still run as
    # nobody (util-linux's --map-users goes through newuidmap, which refuses such a map). Any
    # other user may map only itself: to the namespace's root, who may mount its binfmt_misc.
    # Wine runs there as that root, writing through read-only files as root does; the run that
    # needs a user without that right runs outside the namespace (see scripts/test.sh).
    local map=--map-root-user pid i
    [ "$(id -u)" -ne 0 ] || map=""
    unshare --user $map --mount --propagation private sleep infinity </dev/null >/dev/null &
    pid=$!
    # unshare becomes sleep once the namespace is made (and, without root, its map written).
    for i in $(seq 1000); do
        [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = sleep ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.01
    done
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" != sleep ]; then
        echo "wine_namespace_start: waited 10 s for unshare to make a user + mount namespace" >&2
        kill "$pid" 2>/dev/null
        return 1
    fi
    if [ -z "$map" ]; then
        echo '0 0 65536' >"/proc/$pid/uid_map"
        echo '0 0 65536' >"/proc/$pid/gid_map"
    fi
    if ! nsenter --target "$pid" --user --mount --preserve-credentials -- sh -c \
        'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
         printf %s "$1" >/proc/sys/fs/binfmt_misc/register' sh \
        ":nimbrel-i386:M::$NIMBREL_I386_MAGIC:$NIMBREL_I386_MASK:$(command -v qemu-i386):FP" >&2; then
        echo "wine_namespace_start: no qemu-i386 handler in the namespace's own binfmt_misc" >&2
        kill "$pid"
        return 1
    fi
    echo "$pid"
}

# Writes this run's commands: wine-enter runs a command inside the run's namespace, if it has
# one (the user who made it may enter it, root or not; in the current folder, which entering
# would reset); wine and wineserver run the given programs through it. Scripts, not links: the
# loader finds its preloader by the name it was started under.
wine_commands() {
    local bin="$NIMBREL_WINE_DIR/bin" enter=""
    mkdir -p "$bin"
    if [ -n "$NIMBREL_WINE_NS_PID" ]; then
        enter="[ \"\$(readlink /proc/self/ns/user)\" = \"$(readlink "/proc/$NIMBREL_WINE_NS_PID/ns/user")\" ] ||
    exec nsenter --target $NIMBREL_WINE_NS_PID --user --mount --preserve-credentials --wd=\"\$(pwd)\" -- \"\$@\""
    fi
    printf '#!/bin/sh\n%s\nexec "$@"\n' "$enter" >"$bin/wine-enter"
    printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$bin/wine-enter" "$1" >"$bin/wine"
    printf '#!/bin/sh\nexec "%s" %s "$@"\n' "$bin/wine-enter" "$2" >"$bin/wineserver"
    chmod +x "$bin/wine-enter" "$bin/wine" "$bin/wineserver"
    export PATH="$bin:$PATH"
}

wine_env_start() {
    export NIMBREL_WINE_BUILD=${1:-i686}
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs in a fresh prefix.
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    # Wine names Linux files in the locale's character set: without UTF-8 (a login shell with no
    # LANG, say) a folder with a non-ANSI name cannot be made. Wine takes C.UTF-8 for en-US.
    [ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
    NIMBREL_WINE_DIR=$(mktemp -d /tmp/nimbrel-wine.XXXXXX)
    export NIMBREL_WINE_DIR
    export WINEPREFIX="$NIMBREL_WINE_DIR/prefix"
    # Debian's wineserver keeps its socket in a wine-XXXXXX folder under TMPDIR: this run's own.
    mkdir "$NIMBREL_WINE_DIR/tmp"
    NIMBREL_WINE_TMPDIR=${TMPDIR-unset}
    export TMPDIR="$NIMBREL_WINE_DIR/tmp"
    NIMBREL_WINE_BITS=$(nimbrel_wine_bits)
    export NIMBREL_WINE_BITS
    NIMBREL_WINE_PATH=$PATH
    NIMBREL_WINE_NS_PID="" NIMBREL_XVFB_PID=""
    unset WINELOADER WINESERVER NIMBREL_CRASH_TRIALS
    local wine=/usr/bin/wine wineserver=/usr/bin/wineserver how=natively
    if [ "$NIMBREL_WINE_BUILD" = i686 ]; then
        export WINEARCH=win32
        if [ "$NIMBREL_WINE_BITS" = 64 ]; then
            NIMBREL_WINE_NS_PID=$(wine_namespace_start) || { wine_env_stop; return 1; }
            how="emulated by qemu-i386"
            # Half the crash trials: emulated, the 50 of a native run take over four minutes,
            # a quarter of the whole test run; 25 still kill runs all through the write.
            export NIMBREL_CRASH_TRIALS=25
        fi
    else
        # Debian's wine and wineserver commands pick the 32-bit loader whenever it is installed,
        # runnable or not: every program of this run gets the 64-bit ones instead.
        export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
        wine=$WINELOADER wineserver=$WINESERVER
    fi
    # wow64: the shipped i686 file in a 64-bit prefix beside x86-64 programs, as on 64-bit
    # Windows; the 64-bit loader hands it to the 32-bit one, emulated where no 32-bit code runs.
    if [ "$NIMBREL_WINE_BUILD" = wow64 ] && [ "$NIMBREL_WINE_BITS" = 64 ]; then
        NIMBREL_WINE_NS_PID=$(wine_namespace_start) || { wine_env_stop; return 1; }
        how="its 32-bit programs emulated by qemu-i386"
    fi
    wine_commands "$wine" "$wineserver"
    echo "Wine: ${WINEARCH#win}-bit, $how, programs from $(nimbrel_tree "$NIMBREL_WINE_BUILD") ($NIMBREL_WINE_BUILD)"

    # Xvfb takes the first free display itself (its lock file is made atomically) and writes
    # the number once it accepts connections: two runs started together never share one.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$NIMBREL_WINE_DIR/display" \
        >"$NIMBREL_WINE_DIR/xvfb.log" 2>&1 &
    NIMBREL_XVFB_PID=$!
    local i
    for i in $(seq 200); do
        grep -q . "$NIMBREL_WINE_DIR/display" && break
        kill -0 "$NIMBREL_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q . "$NIMBREL_WINE_DIR/display"; then
        echo "wine_env_start: Xvfb gave no display number within 20 s:" >&2
        cat "$NIMBREL_WINE_DIR/xvfb.log" >&2
        wine_env_stop
        return 1
    fi
    export DISPLAY=":$(cat "$NIMBREL_WINE_DIR/display")"

    # The run's default desktop reports Windows 10 (Wine's own default differs between builds);
    # the scripts that switch to another configuration switch back to this one.
    export NIMBREL_WINDOWS_VERSION=win10
    if ! wine_prefix_make; then
        echo "wine_env_start: the prefix was not made; making it afresh, once more" >&2
        wine_prefix_make || { wine_env_stop; return 1; }
    fi
    trap wine_env_stop EXIT
}

# Runs one step of making a prefix, its output in the run's prefix.log; a step that fails is
# named with its exit code and the end of that log (a Windows program's code is the low byte of
# its status: 53 is c0000135, a program or DLL not found).
wine_prefix_step() {
    "$@" >>"$NIMBREL_WINE_DIR/prefix.log" 2>&1 && return 0
    local status=$?
    echo "wine_env_start: '$*' ended with $status; the end of its log:" >&2
    tail -n 20 "$NIMBREL_WINE_DIR/prefix.log" >&2
    return $status
}

# Makes the run's prefix from nothing, with its wineserver kept up. In a wow64 run a 32-bit
# program must start in it: Wine can leave the 32-bit side of a new 64-bit prefix unmade. What
# a failed try made is ended and removed, so the next try starts afresh.
wine_prefix_make() {
    mkdir -p "$WINEPREFIX"
    if wine_prefix_step wineserver -p && wine_prefix_step wine wineboot -i && wine_prefix_settings &&
        { [ "$NIMBREL_WINE_BUILD" != wow64 ] || wine_prefix_step wine 'C:\windows\syswow64\cmd.exe' /c exit; }; then
        return 0
    fi
    wine_server_end
    rm -rf "$WINEPREFIX"
    return 1
}

# Gives a prefix of the run the settings every one gets, through the command given first (none:
# the run's own prefix): no window manager to wait for when a window hides, no crash dialog
# left open, and the run's Windows version.
wine_prefix_settings() {
    cat >"$NIMBREL_WINE_DIR/settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
    wine_prefix_step "$@" wine regedit /S "$NIMBREL_WINE_DIR/settings.reg" &&
        wine_prefix_step "$@" wine winecfg -v "$NIMBREL_WINDOWS_VERSION"
}

# Ends the prefix's wineserver, and with it every program of the prefix; none running is fine.
wine_server_end() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}

# Ends whatever earlier programs of the run left in its prefix (windows, a stand-in Steam.exe,
# Wine's own services) with their wineserver, and starts a new one: each test program of the
# run begins from the same state. The server and the services wineboot starts hold on to the
# output they were given: never the caller's (ctest would wait for it to close).
wine_server_restart() {
    wine_server_end
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
}

# wine_counted NAME COMMAND...: runs the test program NAME (COMMAND ends in its wine call) with
# NIMBREL_COUNTS naming a file for its counts line. An exit code of 0 without that line is a
# program that ended mid-run (exit(0), a WM_QUIT pumped in-process): its remaining cases never
# ran, so the run fails. The file may be written by another user (the unprivileged run).
wine_counted() {
    local name=$1 counts status=0
    shift
    counts=$(mktemp "$NIMBREL_WINE_DIR/counts.XXXXXX") && chmod a+rw "$counts" || return
    NIMBREL_COUNTS="Z:$counts" "$@" || status=$?
    if [ $status -eq 0 ] && [ ! -s "$counts" ]; then
        echo "$name ended with 0 before its counts line: the cases after that point never ran"
        status=1
    fi
    rm -f "$counts"
    return $status
}

wine_env_stop() {
    [ -n "${NIMBREL_WINE_DIR:-}" ] || return 0
    wine_server_end
    kill "$NIMBREL_XVFB_PID" 2>/dev/null || true
    wait "$NIMBREL_XVFB_PID" 2>/dev/null || true
    if [ -n "$NIMBREL_WINE_NS_PID" ]; then
        kill "$NIMBREL_WINE_NS_PID" 2>/dev/null || true
        wait "$NIMBREL_WINE_NS_PID" 2>/dev/null || true
    fi
    # Everything the run made is in its folder, the wineservers' sockets too (TMPDIR).
    rm -rf "$NIMBREL_WINE_DIR" 2>/dev/null || true
    export PATH=$NIMBREL_WINE_PATH
    if [ "$NIMBREL_WINE_TMPDIR" = unset ]; then unset TMPDIR; else export TMPDIR=$NIMBREL_WINE_TMPDIR; fi
    NIMBREL_WINE_DIR=
}
