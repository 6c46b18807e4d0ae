#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what orvan-demo-window needs on Debian 12 (bookworm) or 13 (trixie).
#
#  1. The Debian packages of scripts/packages/program.list that are not
#     installed yet: what building and running the program needs. With --web
#     also web.list (the build for the browser); with --tests web.list,
#     tests.list and desktops.list (only the tests, checks and measurements
#     need them). --tests --lean (or ORVAN_LEAN=1) leaves out the real
#     desktops and browsers (desktops.list), and the build for the browser
#     unless --web is given too. A name marked "[ARCH...]" in a list is
#     installed only on those architectures.
#  2. raylib 6.0, which Debian 12 does not ship (scripts/lib/raylib-desktop.sh):
#     unless a system raylib 6.0 is found, the Debian source packages of raylib
#     6.0 (unstable) and GLFW 3.4 (trixie) are fetched through a private apt
#     configuration under .deps/apt (scripts/lib/debian-source.sh: the
#     machine's own apt setup and settings are used, its sources and lists are
#     left untouched), patched with patches/glfw/*.patch and
#     patches/raylib/*.patch (each file says what it fixes) and built:
#       .deps/glfw    GLFW 3.4, static, X11 and Wayland (chosen at run time;
#                     used only to build raylib)
#       .deps/prefix  raylib 6.0, shared (libraylib.so.600), with raylib.h,
#                     a CMake package (target `raylib`) and raylib.pc
#     A stamp file in .deps/prefix makes later runs skip all of this.
#  3. With --web or --tests (not --lean): raylib 6.0 for the browser, built with emscripten
#     from the same Debian source package, even where the desktop build uses a
#     system raylib (scripts/lib/raylib-web.sh):
#       .deps/web     raylib 6.0, static, WebAssembly (GLFW web platform,
#                     OpenGL ES 2 / WebGL), with raylib.h and a CMake package
#     with its own stamp file.
#
# Usage: scripts/setup-deps.sh [--web] [--tests [--lean]]   (from any directory, needs no stdin)
#
# As root it installs with apt-get; as another user through sudo.
#
# Environment:
#   ORVAN_USE_SYSTEM_RAYLIB=1  do not build raylib; use the one on the system
#   ORVAN_DEBIAN_MIRROR=URI    Debian archive to fetch sources from (default:
#                              the one that serves this machine's release,
#                              read from its apt sources)
#   ORVAN_SETUP_VERBOSE=1      also show build output on the terminal
#   ORVAN_JOBS=N               parallel build jobs (default: the processors)
#
# Build logs go to .deps/logs/. The last lines printed name the raylib used:
#   setup: raylib 6.0 in <prefix>|system
#   setup: raylib 6.0 for the web in <prefix>      (with the build for the browser)
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1

DEPS_DIR=$REPO/.deps
LOG_DIR=$DEPS_DIR/logs
BUILD_DIR=$DEPS_DIR/build
export DEBIAN_FRONTEND=noninteractive

say() { printf 'setup: %s\n' "$*"; }
die() { printf 'setup: error: %s\n' "$*" >&2; exit 1; }

# run_logged NAME CMD...: runs CMD in a subshell with output appended to
# .deps/logs/NAME.log (emptied on its first use in a run); on failure shows
# the end of that log and exits.
declare -A LOG_STARTED=()
run_logged() {
    local log=$LOG_DIR/$1.log
    if [[ -z ${LOG_STARTED[$1]:-} ]]; then
        : >"$log"
        LOG_STARTED[$1]=1
    fi
    shift
    printf '\n$ %s\n' "$*" >>"$log"
    if [[ ${ORVAN_SETUP_VERBOSE:-0} == 1 ]]; then
        if ( "$@" ) </dev/null 2>&1 | tee -a "$log"; then return 0; fi
    else
        if ( "$@" ) </dev/null >>"$log" 2>&1; then return 0; fi
    fi
    printf 'setup: error: "%s" failed; last lines of %s:\n' "$*" "$log" >&2
    tail -n 40 "$log" | sed 's/^/  | /' >&2
    exit 1
}

# cmake_install NAME SRC PREFIX CMAKE_OPTION...: configures SRC in a new build
# folder .deps/build/NAME as a Release build for PREFIX (libraries in
# PREFIX/lib), builds it and installs it into a new PREFIX; logged as NAME.
cmake_install() {
    local name=$1 src=$2 prefix=$3 build=$BUILD_DIR/$1
    shift 3
    rm -rf "$build" "$prefix"
    run_logged "$name" cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib "$@"
    run_logged "$name" cmake --build "$build"
    run_logged "$name" cmake --install "$build"
}

# --- Debian packages --------------------------------------------------------

# install_packages LIST...: installs the packages of scripts/packages/LIST.list
# not installed yet; a name followed by "[ARCH ...]" only on those architectures.
install_packages() {
    local pkg missing=() wanted=() lists=("${@/#/$REPO/scripts/packages/}")
    mapfile -t wanted < <(sed 's/#.*//' "${lists[@]/%/.list}" | awk -v arch="$(dpkg --print-architecture)" '
        NF == 0 { next }
        $2 !~ /^\[/ { print $1; next }
        { gsub(/[][]/, " "); for (i = 2; i <= NF; i++) if ($i == arch) { print $1; next } }')
    for pkg in "${wanted[@]}"; do
        [[ $(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null) == *" ok installed" ]] || missing+=("$pkg")
    done
    if ((${#missing[@]} == 0)); then
        say "Debian packages: all ${#wanted[@]} installed ($*)"
        return 0
    fi

    local sudo=()
    if ((EUID != 0)); then
        command -v sudo >/dev/null || die "not root and no sudo: cannot install ${missing[*]}"
        sudo=(sudo env DEBIAN_FRONTEND=noninteractive)
    fi
    say "Debian packages: installing ${missing[*]}"
    local started=$SECONDS
    run_logged apt-install "${sudo[@]}" apt-get update
    # No one is there to answer dpkg's question about a configuration file
    # changed on this machine: keep the machine's version, as its owner chose.
    run_logged apt-install "${sudo[@]}" apt-get install -y --no-install-recommends \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
    say "Debian packages: ${#missing[@]} installed in $((SECONDS - started)) s ($*)"
}

# --- main -------------------------------------------------------------------

# shellcheck source=lib/debian-source.sh
source "$REPO/scripts/lib/debian-source.sh"
# shellcheck source=lib/raylib-desktop.sh
source "$REPO/scripts/lib/raylib-desktop.sh"
# shellcheck source=lib/raylib-web.sh
source "$REPO/scripts/lib/raylib-web.sh"

with_tests=0 with_web=0 lean=${ORVAN_LEAN:-0}
for arg in "$@"; do
    case $arg in
        --tests) with_tests=1 ;;
        --web) with_web=1 ;;
        --lean) lean=1 ;;
        *) die "usage: scripts/setup-deps.sh [--web] [--tests [--lean]]" ;;
    esac
done
((!with_tests || lean)) || with_web=1
lists=(program)
((!with_web)) || lists+=(web)
((!with_tests)) || lists+=(tests)
((!with_tests || lean)) || lists+=(desktops)
mkdir -p "$LOG_DIR"
# One run at a time per checkout.
exec 9>"$DEPS_DIR/.lock" && flock 9

install_packages "${lists[@]}"
setup_desktop_raylib
if ((with_web)); then setup_web_raylib; fi
