# Sourced by the set-up, build and Wine scripts. The file users get is the i686 build, and it
# runs under 32-bit Wine on every machine. Some machines run no 32-bit x86 code at all (their
# kernel turns IA-32 emulation off): there 32-bit Wine runs emulated by qemu-i386 (slow), and
# the runs that need no i686 file (other desktop configurations, the benchmarks) take an x86-64
# build of the same sources under 64-bit Wine.

# Prints 32 when this machine runs 32-bit code, else 64. NIMBREL_WINE_BITS=64 takes the route
# of a machine that runs none, even where 32-bit code would run.
nimbrel_wine_bits() {
    if [ -n "${NIMBREL_WINE_BITS:-}" ]; then
        echo "$NIMBREL_WINE_BITS"
    elif /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
        echo 32
    else
        echo 64
    fi
}

# The tree of a build: build/win32 for i686, build/win64 for x86-64 and for wow64 (the i686 file
# driven by that tree's test program in a 64-bit prefix).
nimbrel_tree() {
    if [ "$1" = i686 ]; then echo build/win32; else echo build/win64; fi
}

# The build the performance figures come from: the i686 one only where it runs natively, since
# emulated timings say nothing about Windows.
nimbrel_bench_build() {
    if [ "$(nimbrel_wine_bits)" = 32 ]; then echo i686; else echo x86-64; fi
}
