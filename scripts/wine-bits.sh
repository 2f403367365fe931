# Sourced by the set-up, build and Wine scripts. Some machines run no 32-bit x86 code at all
# (their kernel turns IA-32 emulation off), and Wine's 32-bit loader cannot start there. On such
# a machine the Windows suites run an x86-64 build of the same sources under 64-bit Wine; the
# product itself is the i686 build either way.

# Prints 32 when Wine's 32-bit side can run here, else 64.
nimbrel_wine_bits() {
    if [ -n "${NIMBREL_WINE_BITS:-}" ]; then
        echo "$NIMBREL_WINE_BITS"
    elif /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
        echo 32
    else
        echo 64
    fi
}

# The build tree whose programs the Wine suites run.
nimbrel_wine_tree() {
    if [ "$(nimbrel_wine_bits)" = 32 ]; then echo build/win32; else echo build/win64; fi
}
