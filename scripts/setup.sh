#!/usr/bin/env bash
# Installs what building and testing Nimbrel needs on Debian 12, and only what is missing.
set -euo pipefail

packages=(cmake g++ libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev
          g++-mingw-w64-i686 wine wine32:i386 xvfb x11-utils python3 python3-pefile imagemagick)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
