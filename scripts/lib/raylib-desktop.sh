# SPDX-License-Identifier: MIT
# raylib 6.0 for the desktop: a system raylib 6.0 if there is one, else GLFW
# 3.4 and raylib 6.0 built from Debian's source packages into .deps/glfw and
# .deps/prefix. Sourced by scripts/setup-deps.sh (run_logged, cmake_install,
# say, die) after scripts/lib/debian-source.sh (debian_source).
#
#   setup_desktop_raylib    does that; its last line names the raylib used

PREFIX=$REPO/.deps/prefix
GLFW_PREFIX=$REPO/.deps/glfw
STAMP=$PREFIX/.orvan-raylib-stamp
# Versions accepted (Debian version strings, optional epoch).
RAYLIB_SUITE=unstable
RAYLIB_VERSION_RE='^([0-9]+:)?6\.0([.+~-]|$)'
GLFW_SUITE=trixie
GLFW_VERSION_RE='^([0-9]+:)?3\.4([.+~-]|$)'
# Bump when the build recipe below or a file in patches/ changes, to force a rebuild.
RECIPE=4

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
    for file in /usr{,/local}/lib{,/*,64}/cmake/raylib/{raylib-config-version,raylibConfigVersion}.cmake; do
        if grep -q 'set(PACKAGE_VERSION "6\.0' "$file" 2>/dev/null; then
            echo "CMake package ${file%/*}"
            return 0
        fi
    done
    return 1
}

# apply_patches NAME SRC: applies patches/NAME/*.patch to the unpacked SRC.
apply_patches() {
    local patch
    for patch in "$REPO/patches/$1"/*.patch; do
        [[ -e $patch ]] || continue
        run_logged apt-source patch -d "$2" -p1 --forward --batch -i "$patch"
    done
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

    local raylib_version raylib_src glfw_version glfw_src
    debian_source raylib "$RAYLIB_SUITE" "$RAYLIB_VERSION_RE"
    raylib_version=$SOURCE_VERSION raylib_src=$SOURCE_DIR
    debian_source glfw3 "$GLFW_SUITE" "$GLFW_VERSION_RE"
    glfw_version=$SOURCE_VERSION glfw_src=$SOURCE_DIR
    apply_patches raylib "$raylib_src"
    apply_patches glfw "$glfw_src"

    local started=$SECONDS
    say "building GLFW $glfw_version (static, X11 and Wayland) into $GLFW_PREFIX"
    cmake_install glfw "$glfw_src" "$GLFW_PREFIX" -DBUILD_SHARED_LIBS=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
        -DGLFW_BUILD_WAYLAND=ON -DGLFW_BUILD_X11=ON -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF -DGLFW_BUILD_DOCS=OFF
    # For OpenGL 2.1 and later (raylib's default asks for a 3.3 core context,
    # which older GPUs, the Raspberry Pi's among them, and some virtual
    # machines do not offer); the scene draws the same either way. Without
    # the screenshot raylib saves on F12: the program writes no file.
    say "building raylib $raylib_version (shared, X11 and Wayland, OpenGL 2.1) into $PREFIX"
    cmake_install raylib "$raylib_src" "$PREFIX" -DCMAKE_PREFIX_PATH="$GLFW_PREFIX" -DPLATFORM=Desktop \
        -DBUILD_SHARED_LIBS=ON -DUSE_EXTERNAL_GLFW=ON -DGLFW_BUILD_X11=ON -DGLFW_BUILD_WAYLAND=ON -DBUILD_EXAMPLES=OFF \
        -DOPENGL_VERSION=2.1 -DCMAKE_C_FLAGS=-DSUPPORT_SCREEN_CAPTURE=0
    # GLFW is linked statically into libraylib.so, so the installed raylib.pc
    # must not require a glfw3.pc that consumers do not have.
    sed -i '/^Requires.private:/s/\<glfw3\>//' "$PREFIX"/lib*/pkgconfig/raylib.pc
    say "GLFW and raylib built in $((SECONDS - started)) s"

    local libdir
    libdir=$(check_prefix)
    printf 'raylib=%s\nglfw3=%s\nlibdir=%s\nrecipe=%s\n' \
        "$raylib_version" "$glfw_version" "${libdir##*/}" "$RECIPE" >"$STAMP"
    say "installed $libdir/libraylib.so.600, CMake package in $libdir/cmake/raylib"
    say "raylib 6.0 in $PREFIX"
}
