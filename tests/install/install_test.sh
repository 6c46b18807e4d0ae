#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a build into a scratch prefix and uses the engine from there the
# way another project would: a program outside this source tree built with
# find_package(orvan CONFIG) and orvan::engine, and again with pkg-config. Both
# must print the start camera's exact bits. When the build has the program,
# also checks its installed RUNPATH, bundled raylib and desktop entry.
#
# usage: install_test.sh BUILD_DIR CXX_COMPILER
set -euo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
build=$1
cxx=$2
here=$(cd "$(dirname "$0")" && pwd -P)
source_dir=$(cd "$here/../.." && pwd -P)

source "$here/../lib/check.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# The start camera of the engine tests, bit for bit (orvan_raylib_test.cpp).
cat >"$work/expected" <<'END'
position 0000000000000000 3fd3fd8077e70577 3fedfc40b3da8832 3fc3fd8077e70577
direction 0000000000000000 bfa9492f477d78e2 bfc2f6e3759e1aab 3fef9b7b195cd71c
up 0000000000000000 3fee5b9d136c6d97 bfd43d136248490f bc70dd90273c3ce2
fovy 3ff0c152382d7366
card 3
pickBestCard 2
END

# ---- what the development component installs ------------------------------
check "headers in include/orvan" test -f "$prefix/include/orvan/orvan_kernel.hpp" -a -f "$prefix/include/orvan/orvan_raylib.hpp"
config=$(find "$prefix" -name orvanConfig.cmake)
check "CMake package installed ($config)" test -n "$config"
pc=$(find "$prefix" -name orvan.pc)
check "pkg-config file installed ($pc)" test -n "$pc"
check "the engine's package names no raylib" bash -c "! grep -rqw raylib '${config%/*}' '$pc'"

# ---- find_package(orvan CONFIG) from a project outside the source tree ------
cp -r "$here/consumer" "$work/consumer"
if cmake -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$work/consumer.log" 2>&1 &&
    cmake --build "$work/consumer-build" >>"$work/consumer.log" 2>&1; then
    found=$(sed -n 's/^orvan_DIR:PATH=//p' "$work/consumer-build/CMakeCache.txt")
    check "find_package found the scratch install ($found)" test "${found#"$prefix"/}" != "$found"
    check "nothing of the source tree on the consumer's command lines" \
        bash -c "! grep -qF '$source_dir' '$work/consumer-build/compile_commands.json'"
    check "consumer does not need raylib" bash -c "! readelf -d '$work/consumer-build/consumer' | grep -q raylib"
    "$work/consumer-build/consumer" >"$work/cmake.out"
    check "find_package consumer prints the exact start camera" diff "$work/expected" "$work/cmake.out"
else
    cat "$work/consumer.log"
    check "find_package consumer configures and builds" false
fi

# ---- pkg-config -----------------------------------------------------------------
# shellcheck disable=SC2046 # the flags are separate words
if "$cxx" -std=c++20 "$work/consumer/main.cpp" -o "$work/consumer-pc" \
    $(PKG_CONFIG_PATH=${pc%/*} pkg-config --cflags --libs orvan); then
    "$work/consumer-pc" >"$work/pc.out"
    check "pkg-config consumer prints the exact start camera" diff "$work/expected" "$work/pc.out"
else
    check "pkg-config consumer builds" false
fi

# ---- the program, if this build has it ------------------------------------------
exe=$prefix/bin/orvan-demo-window
desktop=$prefix/share/applications/orvan-demo-window.desktop
if grep -q '^ORVAN_BUILD_WINDOW:BOOL=ON' "$build/CMakeCache.txt"; then
    check "program in bin/" test -x "$exe"
    check "desktop entry valid" desktop-file-validate "$desktop"
    check "desktop entry's icon installed" \
        test -s "$prefix/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg"
    check "AppStream file installed for the desktop entry" \
        grep -qF '<launchable type="desktop-id">orvan-demo-window.desktop</launchable>' \
        "$prefix/share/metainfo/orvan-demo-window.metainfo.xml"
    if grep -q '^ORVAN_BUNDLE_RAYLIB:BOOL=ON' "$build/CMakeCache.txt"; then
        runpath=$(readelf -d "$exe" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
        check "RUNPATH \$ORIGIN/../lib/orvan-demo-window (got $runpath)" test "$runpath" = '$ORIGIN/../lib/orvan-demo-window'
        loaded=$(ldd "$exe" | awk '$1 == "libraylib.so.600" { print $3 }')
        check "raylib loaded from the install ($loaded)" \
            test "$(realpath "$loaded")" = "$prefix/lib/orvan-demo-window/libraylib.so.600"
    fi
else
    check "engine-only build installs no program" test ! -e "$exe" -a ! -e "$desktop"
fi

test "$failures" -eq 0
