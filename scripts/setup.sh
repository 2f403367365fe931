#!/usr/bin/env bash
# Installs what building and testing Nimbrel needs on Debian 12, and only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-bits.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# A mirror caught mid-sync fails one index of the refresh; the lists apt already has usually
# still hold what is missing, and the install itself says so when they do not.
apt_update() {
    $sudo apt-get update -q || echo "apt-get update failed; installing from the package lists there are"
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
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
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
# Where 32-bit code cannot run: qemu-user 10 (from bookworm-backports; Debian 12's own 7.2
# makes Wine's start-up crawl) runs 32-bit Wine and the shipped program emulated; 64-bit Wine
# and an x86-64 compiler (both thread models, as for i686) serve the other runs. qemu-user
# registers no binfmt handler by itself; the Wine scripts register one only inside a
# namespace of their own.
if [ "$(nimbrel_wine_bits)" = 64 ]; then
    install_missing wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32
    if ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null)" ge 1:10; then
        mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' | awk '$2 == "bookworm" {print $1; exit}')
        echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${mirror:?apt has no Debian 12 source to take the mirror from} bookworm-backports main" |
            $sudo tee /etc/apt/sources.list.d/nimbrel-bookworm-backports.list >/dev/null
        echo "Installing: qemu-user (bookworm-backports)"
        apt_update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
            -t bookworm-backports qemu-user
    fi
fi
