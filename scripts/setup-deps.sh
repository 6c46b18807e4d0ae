#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs everything orvan-demo-window needs to build and test on Debian 12
# (bookworm) or 13 (trixie).
#
#  1. Debian packages from ORVAN_APT_PACKAGES that are not installed yet; with
#     --web those of ORVAN_WEB_PACKAGES too (the build for the browser), and
#     with --tests those of ORVAN_WEB_PACKAGES and ORVAN_TEST_PACKAGES (only the
#     tests need them).
#  2. raylib 6.0, which Debian 12 does not ship. Unless a system raylib 6.0 is
#     found, the Debian source packages of raylib 6.0 (unstable) and GLFW 3.4
#     (trixie) are fetched through a private apt configuration under .deps/apt
#     (the machine's own apt setup and settings are used, its sources and
#     lists are left untouched) and built:
#     Both are patched first with patches/glfw/*.patch and patches/raylib/*.patch
#     (each file says what it fixes):
#       .deps/glfw    GLFW 3.4, static, X11 and Wayland (chosen at run time;
#                     used only to build raylib)
#       .deps/prefix  raylib 6.0, shared (libraylib.so.600), with raylib.h,
#                     a CMake package (target `raylib`) and raylib.pc
#     A stamp file in .deps/prefix makes later runs skip all of this.
#  3. With --web or --tests: raylib 6.0 for the browser, built with emscripten
#     from the same Debian source package (even where the desktop build uses
#     a system raylib):
#       .deps/web     raylib 6.0, static, WebAssembly (GLFW web platform,
#                     OpenGL ES 2 / WebGL), with raylib.h and a CMake package
#     with its own stamp file.
#
# Usage: scripts/setup-deps.sh [--web] [--tests]   (from any directory, needs no stdin)
#
# As root it installs with apt-get; as another user through sudo.
#
# Environment:
#   ORVAN_USE_SYSTEM_RAYLIB=1  do not build raylib; use the one on the system
#   ORVAN_DEBIAN_MIRROR=URI    Debian archive to fetch sources from (default:
#                              the one that serves this machine's release,
#                              read from its apt sources)
#   ORVAN_SETUP_VERBOSE=1      also show build output on the terminal
#
# Build logs go to .deps/logs/. The last lines printed name the raylib used:
#   setup: raylib 6.0 in <prefix>|system
#   setup: raylib 6.0 for the web in <prefix>      (with --web or --tests)
set -euo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)

# Debian packages needed to build, test and inspect the program. Extend here.
ORVAN_APT_PACKAGES=(
    # toolchain and build tools
    build-essential cmake pkg-config git clang lld
    # fetching and unpacking Debian source packages (raylib, GLFW)
    dpkg-dev ca-certificates debian-archive-keyring
    # test and benchmark libraries
    libgtest-dev libbenchmark-dev
    # X11 and OpenGL development files for GLFW and raylib
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxi-dev
    libxext-dev libgl-dev libglvnd-dev
    # Wayland development files for GLFW's Wayland backend (it loads the
    # Wayland libraries at run time; the protocol files come with GLFW)
    libwayland-dev libxkbcommon-dev
    # headless display, window automation and screenshots for tests
    libgl1-mesa-dri xvfb xauth xdotool x11-utils x11-apps imagemagick
    # analysis, plots and desktop entry checks
    valgrind gnuplot-nox desktop-file-utils python3
    # format and static analysis (scripts/lint.sh)
    clang-format clang-tidy
)

# Needed to build the program for the browser (--web, and --tests for the web
# preset): Debian's emscripten, which brings Node.js, and runs the engine tests
# built for the web too.
ORVAN_WEB_PACKAGES=(emscripten)

# Needed only by scripts/test.sh and the checks it runs (setup-deps.sh --tests).
# The unversioned names follow each release's default LLVM (14 on Debian 12,
# 19 on Debian 13), the version of its clang package.
ORVAN_TEST_PACKAGES=(
    # the sanitizer runtimes of clang (asan preset, fuzzer) and the symbolizer
    # that turns their reports into function names and lines
    libclang-rt-dev llvm
    # used by CPack's Debian generator (scripts/check-package.sh)
    file
    # Debian's policy checks of the packages and of the manual page
    # (scripts/check-package.sh): lintian, and man with groff
    lintian man-db
    # minimal Debian systems for scripts/fresh-machine.sh
    debootstrap
    # aarch64 preset: cross compiler, objdump, qemu-aarch64 (same names on 12 and 13)
    g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user
    # the web build's page in a real browser (tests/web)
    chromium
    # a headless Wayland compositor for the Wayland window test, and Mesa's
    # EGL, which GLFW uses on Wayland (the sanitizer build preloads it)
    weston libegl-mesa0
)

# Versions accepted (Debian version strings, optional epoch).
RAYLIB_SUITE=unstable
RAYLIB_VERSION_RE='^([0-9]+:)?6\.0([.+~-]|$)'
GLFW_SUITE=trixie
GLFW_VERSION_RE='^([0-9]+:)?3\.4([.+~-]|$)'
# Bump when the build recipe below or a file in patches/ changes, to force a rebuild.
RECIPE=3
WEB_RECIPE=1

REPO_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
# shellcheck source=lib/debian-archive.sh
source "$REPO_DIR/scripts/lib/debian-archive.sh"
DEPS_DIR=$REPO_DIR/.deps
PREFIX=$DEPS_DIR/prefix
GLFW_PREFIX=$DEPS_DIR/glfw
APT_DIR=$DEPS_DIR/apt
DOWNLOAD_DIR=$DEPS_DIR/downloads
SRC_DIR=$DEPS_DIR/src
BUILD_DIR=$DEPS_DIR/build
LOG_DIR=$DEPS_DIR/logs
STAMP=$PREFIX/.orvan-raylib-stamp
WEB_PREFIX=$DEPS_DIR/web
WEB_STAMP=$WEB_PREFIX/.orvan-raylib-stamp
EMSCRIPTEN_TOOLCHAIN=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
# Debian's emcc runs its JavaScript tools under Node.js with modules from
# /usr/share/nodejs, which not every Node.js build searches by itself.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
JOBS=$(nproc 2>/dev/null || echo 2)

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

# in_dir DIR CMD...: runs CMD with DIR as working directory.
in_dir() { cd "$1" && shift && "$@"; }

# --- Debian packages --------------------------------------------------------

is_installed() {
    local status
    status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
    [[ $status == *" ok installed" ]]
}

install_packages() {
    local pkg missing=() wanted=("${ORVAN_APT_PACKAGES[@]}")
    ((WITH_WEB)) && wanted+=("${ORVAN_WEB_PACKAGES[@]}")
    ((WITH_TESTS)) && wanted+=("${ORVAN_TEST_PACKAGES[@]}")
    for pkg in "${wanted[@]}"; do
        is_installed "$pkg" || missing+=("$pkg")
    done
    if ((${#missing[@]} == 0)); then
        say "Debian packages: all ${#wanted[@]} installed"
        return 0
    fi

    local sudo=()
    if ((EUID != 0)); then
        command -v sudo >/dev/null 2>&1 ||
            die "not root and no sudo: cannot install ${missing[*]}"
        sudo=(sudo env DEBIAN_FRONTEND=noninteractive)
    fi
    say "Debian packages: installing ${missing[*]}"
    local started=$SECONDS
    run_logged apt-install "${sudo[@]}" apt-get update
    # No one is there to answer dpkg's question about a configuration file
    # changed on this machine: keep the machine's version, as its owner chose.
    run_logged apt-install "${sudo[@]}" apt-get install -y --no-install-recommends \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
    say "Debian packages: ${#missing[@]} installed in $((SECONDS - started)) s"
}

# --- system raylib ----------------------------------------------------------

# Prints a description of a raylib 6.0 already on the system, if any.
find_system_raylib() {
    local version prefix file
    if version=$(pkg-config --modversion raylib 2>/dev/null) && [[ $version == 6.0* ]]; then
        prefix=$(pkg-config --variable=prefix raylib 2>/dev/null || true)
        if [[ $prefix != "$PREFIX" ]]; then
            echo "pkg-config raylib $version${prefix:+ in $prefix}"
            return 0
        fi
    fi
    for file in /usr/lib/cmake/raylib/* /usr/lib/*/cmake/raylib/* /usr/lib64/cmake/raylib/* \
        /usr/local/lib/cmake/raylib/* /usr/local/lib/*/cmake/raylib/* /usr/local/lib64/cmake/raylib/*; do
        case ${file##*/} in
            raylib-config-version.cmake | raylibConfigVersion.cmake) ;;
            *) continue ;;
        esac
        if grep -q 'set(PACKAGE_VERSION "6\.0' "$file" 2>/dev/null; then
            echo "CMake package ${file%/*}"
            return 0
        fi
    done
    return 1
}

# --- mirror -----------------------------------------------------------------

# Prints the URI of the Debian archive to fetch sources from: the one that
# serves this machine's release according to its apt configuration, else the
# first one serving any release (not -updates or -security).
find_mirror() {
    if [[ -n ${ORVAN_DEBIAN_MIRROR:-} ]]; then
        echo "$ORVAN_DEBIAN_MIRROR"
        return 0
    fi
    debian_mirror && return 0
    debian_archives | awk '$2 !~ /-/ { print $1; found = 1; exit } END { exit !found }'
}

# --- private apt configuration ----------------------------------------------

APT_OPTS=(
    -o "Dir::Etc::sourcelist=$APT_DIR/sources/orvan-deps.sources"
    -o Dir::Etc::sourceparts=/dev/null
    -o "Dir::State::Lists=$APT_DIR/lists"
    -o "Dir::Cache=$APT_DIR/cache"
)

setup_private_apt() {
    local mirror=$1
    mkdir -p "$APT_DIR/sources" "$APT_DIR/lists/partial" "$APT_DIR/cache/archives/partial"
    # The .sources extension makes apt read this file as deb822.
    cat >"$APT_DIR/sources/orvan-deps.sources" <<EOF
Types: deb-src
URIs: $mirror
Suites: $RAYLIB_SUITE $GLFW_SUITE
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    if ! apt-get "${APT_OPTS[@]}" --error-on=any update </dev/null >"$LOG_DIR/apt-update.log" 2>&1; then
        cat "$LOG_DIR/apt-update.log" >>"$LOG_DIR/apt-source.log"
        sed 's/^/  | /' "$LOG_DIR/apt-update.log" >&2
        if grep -qiE 'is (no longer|not) valid|expired' "$LOG_DIR/apt-update.log"; then
            # apt refuses an index past its Valid-Until date: what a replayed
            # old index looks like. A frozen snapshot mirror serves such
            # indexes on purpose; allowing them is the machine owner's choice.
            die "$mirror serves an index past its Valid-Until date (a frozen snapshot mirror?); if you trust it, allow expired indexes with: echo 'Acquire::Check-Valid-Until \"false\";' | sudo tee /etc/apt/apt.conf.d/99check-valid-until"
        fi
        die "could not read the source indexes of $RAYLIB_SUITE and $GLFW_SUITE from $mirror (is it reachable?)"
    fi
}

# pick_version PACKAGE SUITE REGEX: prints the newest version of source
# PACKAGE in SUITE matching REGEX, or nothing.
pick_version() {
    local package=$1 suite=$2 regex=$3 version best=""
    while read -r version; do
        [[ $version =~ $regex ]] || continue
        if [[ -z $best ]] || dpkg --compare-versions "$version" gt "$best"; then
            best=$version
        fi
    done < <(apt-cache "${APT_OPTS[@]}" madison "$package" 2>/dev/null |
        awk -F'|' -v suite="$suite" '
            $3 ~ (" " suite "/") && $3 ~ /Sources/ { gsub(/[ \t]/, "", $2); print $2 }')
    echo "$best"
}

# fetch_source PACKAGE VERSION DEST: downloads a source package (its files are
# checked against the signed index) and unpacks it into DEST.
fetch_source() {
    local package=$1 version=$2 dest=$3
    mkdir -p "$DOWNLOAD_DIR" "$SRC_DIR"
    run_logged apt-source in_dir "$DOWNLOAD_DIR" \
        apt-get "${APT_OPTS[@]}" source --download-only "$package=$version"
    rm -rf "$dest"
    # The .dsc name has no epoch.
    run_logged apt-source dpkg-source --no-copy -x \
        "$DOWNLOAD_DIR/${package}_${version#*:}.dsc" "$dest"
}

# --- builds -----------------------------------------------------------------

# apply_patches NAME SRC: applies patches/NAME/*.patch to the unpacked SRC.
apply_patches() {
    local patch
    for patch in "$REPO_DIR/patches/$1"/*.patch; do
        [[ -e $patch ]] || continue
        run_logged apt-source patch -d "$2" -p1 --forward --batch -i "$patch"
    done
}

build_glfw() {
    local src=$1 build=$BUILD_DIR/glfw
    rm -rf "$build" "$GLFW_PREFIX"
    run_logged glfw cmake -S "$src" -B "$build" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$GLFW_PREFIX" \
        -DCMAKE_INSTALL_LIBDIR=lib \
        -DBUILD_SHARED_LIBS=OFF \
        -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
        -DGLFW_BUILD_WAYLAND=ON \
        -DGLFW_BUILD_X11=ON \
        -DGLFW_BUILD_EXAMPLES=OFF \
        -DGLFW_BUILD_TESTS=OFF \
        -DGLFW_BUILD_DOCS=OFF
    run_logged glfw cmake --build "$build" -j "$JOBS"
    run_logged glfw cmake --install "$build"
}

build_raylib() {
    local src=$1 build=$BUILD_DIR/raylib
    rm -rf "$build" "$PREFIX"
    run_logged raylib cmake -S "$src" -B "$build" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" \
        -DCMAKE_INSTALL_LIBDIR=lib \
        -DCMAKE_PREFIX_PATH="$GLFW_PREFIX" \
        -DPLATFORM=Desktop \
        -DBUILD_SHARED_LIBS=ON \
        -DUSE_EXTERNAL_GLFW=ON \
        -DGLFW_BUILD_X11=ON \
        -DGLFW_BUILD_WAYLAND=ON \
        -DBUILD_EXAMPLES=OFF
    run_logged raylib cmake --build "$build" -j "$JOBS"
    run_logged raylib cmake --install "$build"
    # GLFW is linked statically into libraylib.so, so the installed raylib.pc
    # must not require a glfw3.pc that consumers do not have.
    sed -i '/^Requires.private:/s/\<glfw3\>//' "$PREFIX"/lib*/pkgconfig/raylib.pc
}

# Prints the library directory of the raylib in $PREFIX, if there is one.
raylib_libdir() {
    local lib
    for lib in "$PREFIX"/lib*/libraylib.so.600; do
        [[ -e $lib ]] && { echo "${lib%/*}"; return 0; }
    done
    return 1
}

# Checks that $PREFIX holds a usable raylib 6.0; prints its library directory.
check_prefix() {
    local libdir soname
    libdir=$(raylib_libdir) || die "libraylib.so.600 missing in $PREFIX (see $LOG_DIR/raylib.log)"
    soname=$(readelf -d "$libdir/libraylib.so.600" | sed -n 's/.*(SONAME).*\[\(.*\)\].*/\1/p')
    [[ $soname == libraylib.so.600 ]] || die "libraylib.so.600 has soname '$soname'"
    [[ -f $PREFIX/include/raylib.h ]] || die "raylib.h missing in $PREFIX/include"
    [[ -f $libdir/cmake/raylib/raylib-config.cmake ]] || die "raylib CMake package missing in $libdir/cmake"
    [[ -f $libdir/pkgconfig/raylib.pc ]] || die "raylib.pc missing in $libdir/pkgconfig"
    grep -q '^Version: 6\.0' "$libdir/pkgconfig/raylib.pc" || die "raylib.pc in $libdir/pkgconfig is not 6.0"
    PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs raylib >/dev/null ||
        die "pkg-config cannot use $libdir/pkgconfig/raylib.pc"
    echo "$libdir"
}

# --- raylib for the browser ------------------------------------------------

# Succeeds if emscripten's GLFW emulation has the GLFW 3.3 calls raylib's web
# platform makes (Debian 12's emscripten 3.1.6 has not).
emscripten_glfw_complete() {
    local dir status=0
    dir=$(mktemp -d)
    cat >"$dir/probe.c" <<'PROBE'
#include <GLFW/glfw3.h>
static void scale(GLFWwindow *w, float x, float y) { (void)w; (void)x; (void)y; }
int main(void) {
    glfwSetWindowAttrib(0, GLFW_RESIZABLE, GLFW_TRUE);
    glfwSetWindowContentScaleCallback(0, scale);
    return 0;
}
PROBE
    emcc -sUSE_GLFW=3 -Werror=implicit-function-declaration "$dir/probe.c" -o "$dir/probe.js" \
        >>"$LOG_DIR/raylib-web.log" 2>&1 || status=$?
    rm -rf "$dir"
    return "$status"
}

# raylib's web platforms: PLATFORM_WEB (GLFW emulated by emscripten) and
# PLATFORM_WEB_RGFW. RGFW polls events with emscripten_sleep(0), which needs
# the whole program built with -sASYNCIFY: measured on the same page, a wasm
# 40 % larger (170 KB against 121 KB) and half the frame rate under llvmpipe.
# So GLFW, with web/glfw_compat.h where emscripten lacks two of its calls.
build_web_raylib() {
    local src=$1 build=$BUILD_DIR/raylib-web cflags=""
    rm -rf "$build" "$WEB_PREFIX"
    if ! emscripten_glfw_complete; then
        cflags="-include $REPO_DIR/web/glfw_compat.h"
        WEB_COMPAT=yes
    else
        WEB_COMPAT=no
    fi
    run_logged raylib-web cmake -S "$src" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$EMSCRIPTEN_TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$WEB_PREFIX" \
        -DCMAKE_INSTALL_LIBDIR=lib \
        -DCMAKE_C_FLAGS="$cflags" \
        -DPLATFORM=Web \
        -DBUILD_EXAMPLES=OFF
    run_logged raylib-web cmake --build "$build" -j "$JOBS"
    run_logged raylib-web cmake --install "$build"
    [[ -f $WEB_PREFIX/lib/libraylib.a && -f $WEB_PREFIX/include/raylib.h &&
        -f $WEB_PREFIX/lib/cmake/raylib/raylib-config.cmake ]] ||
        die "the web raylib is incomplete in $WEB_PREFIX (see $LOG_DIR/raylib-web.log)"
}

# Fetches the raylib source package unless the desktop build left it; sets
# RAYLIB_VERSION and RAYLIB_SRC.
raylib_source() {
    RAYLIB_VERSION=$(sed -n 's/^raylib=//p' "$STAMP" 2>/dev/null || true)
    RAYLIB_SRC=$SRC_DIR/raylib-${RAYLIB_VERSION#*:}
    [[ -n $RAYLIB_VERSION && -f $RAYLIB_SRC/CMakeLists.txt ]] && return 0
    local mirror
    mirror=$(find_mirror) ||
        die "no Debian archive found in the machine's apt sources (set ORVAN_DEBIAN_MIRROR=URI)"
    say "fetching source indexes ($RAYLIB_SUITE, $GLFW_SUITE) from $mirror"
    setup_private_apt "$mirror"
    RAYLIB_VERSION=$(pick_version raylib "$RAYLIB_SUITE" "$RAYLIB_VERSION_RE")
    [[ -n $RAYLIB_VERSION ]] || die "no raylib 6.0 source package offered by $mirror $RAYLIB_SUITE"
    RAYLIB_SRC=$SRC_DIR/raylib-${RAYLIB_VERSION#*:}
    say "fetching source raylib $RAYLIB_VERSION"
    fetch_source raylib "$RAYLIB_VERSION" "$RAYLIB_SRC"
}

setup_web_raylib() {
    local emscripten_version
    emscripten_version=$(emcc -dumpversion) || die "emcc does not run (package emscripten)"
    if [[ -f $WEB_STAMP ]] && grep -qxF "recipe=$WEB_RECIPE" "$WEB_STAMP" &&
        grep -qxF "emscripten=$emscripten_version" "$WEB_STAMP" &&
        [[ -f $WEB_PREFIX/lib/libraylib.a && -f $WEB_PREFIX/include/raylib.h ]]; then
        say "raylib $(sed -n 's/^raylib=//p' "$WEB_STAMP") for the web already built (stamp $WEB_STAMP)"
        say "raylib 6.0 for the web in $WEB_PREFIX"
        return 0
    fi
    raylib_source
    local started=$SECONDS
    say "building raylib $RAYLIB_VERSION for the web (emscripten $emscripten_version) into $WEB_PREFIX"
    build_web_raylib "$RAYLIB_SRC"
    say "raylib for the web built in $((SECONDS - started)) s (GLFW compatibility header: $WEB_COMPAT)"
    printf 'raylib=%s\nemscripten=%s\nglfw_compat=%s\nrecipe=%s\n' \
        "$RAYLIB_VERSION" "$emscripten_version" "$WEB_COMPAT" "$WEB_RECIPE" >"$WEB_STAMP"
    say "raylib 6.0 for the web in $WEB_PREFIX"
}

# --- main -------------------------------------------------------------------

main() {
    WITH_TESTS=0
    WITH_WEB=0
    local arg
    for arg in "$@"; do
        case $arg in
            --tests) WITH_TESTS=1 WITH_WEB=1 ;;
            --web) WITH_WEB=1 ;;
            *) die "usage: scripts/setup-deps.sh [--web] [--tests]" ;;
        esac
    done
    mkdir -p "$LOG_DIR"
    # One run at a time per checkout.
    exec 9>"$DEPS_DIR/.lock"
    flock 9

    install_packages
    setup_desktop_raylib
    if ((WITH_WEB)); then setup_web_raylib; fi
}

setup_desktop_raylib() {
    local found
    if [[ ${ORVAN_USE_SYSTEM_RAYLIB:-0} == 1 ]]; then
        say "ORVAN_USE_SYSTEM_RAYLIB=1: not building raylib"
        say "raylib 6.0 in system"
        return 0
    fi
    if found=$(find_system_raylib); then
        say "found $found"
        say "raylib 6.0 in system"
        return 0
    fi

    if [[ -f $STAMP ]] && grep -qxF "recipe=$RECIPE" "$STAMP" && raylib_libdir >/dev/null &&
        [[ -f $PREFIX/include/raylib.h ]]; then
        say "raylib $(sed -n 's/^raylib=//p' "$STAMP") already built (stamp $STAMP)"
        say "raylib 6.0 in $PREFIX"
        return 0
    fi

    local mirror
    mirror=$(find_mirror) ||
        die "no Debian archive found in the machine's apt sources (set ORVAN_DEBIAN_MIRROR=URI)"
    say "fetching source indexes ($RAYLIB_SUITE, $GLFW_SUITE) from $mirror"
    setup_private_apt "$mirror"

    local raylib_version glfw_version
    raylib_version=$(pick_version raylib "$RAYLIB_SUITE" "$RAYLIB_VERSION_RE")
    [[ -n $raylib_version ]] ||
        die "no raylib 6.0 source package offered by $mirror $RAYLIB_SUITE"
    glfw_version=$(pick_version glfw3 "$GLFW_SUITE" "$GLFW_VERSION_RE")
    [[ -n $glfw_version ]] ||
        die "no glfw3 3.4 source package offered by $mirror $GLFW_SUITE"

    say "fetching sources raylib $raylib_version, glfw3 $glfw_version"
    local raylib_src=$SRC_DIR/raylib-${raylib_version#*:}
    local glfw_src=$SRC_DIR/glfw3-${glfw_version#*:}
    fetch_source raylib "$raylib_version" "$raylib_src"
    fetch_source glfw3 "$glfw_version" "$glfw_src"
    apply_patches raylib "$raylib_src"
    apply_patches glfw "$glfw_src"

    local started=$SECONDS
    say "building GLFW $glfw_version (static, X11 and Wayland) into $GLFW_PREFIX"
    build_glfw "$glfw_src"
    say "building raylib $raylib_version (shared, X11 and Wayland) into $PREFIX"
    build_raylib "$raylib_src"
    say "GLFW and raylib built in $((SECONDS - started)) s"

    local libdir
    libdir=$(check_prefix)
    printf 'raylib=%s\nglfw3=%s\nlibdir=%s\nrecipe=%s\n' \
        "$raylib_version" "$glfw_version" "${libdir##*/}" "$RECIPE" >"$STAMP"
    say "installed $libdir/libraylib.so.600, CMake package in $libdir/cmake/raylib"
    say "raylib 6.0 in $PREFIX"
}

main "$@"
