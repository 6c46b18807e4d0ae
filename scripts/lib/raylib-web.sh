# SPDX-License-Identifier: MIT
# raylib 6.0 for the browser, built with Debian's emscripten from the same
# Debian source package as the desktop one, into .deps/web. Sourced by
# scripts/setup-deps.sh (run_logged, cmake_install, say, die) after
# scripts/lib/debian-source.sh and scripts/lib/raylib-desktop.sh (whose stamp
# names the raylib source already unpacked).
#
#   setup_web_raylib    does that; its last line names the prefix

WEB_PREFIX=$REPO/.deps/web
WEB_STAMP=$WEB_PREFIX/.orvan-raylib-stamp
WEB_RECIPE=2
EMSCRIPTEN_TOOLCHAIN=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
# Debian's emcc runs its JavaScript tools under Node.js with modules from
# /usr/share/nodejs, which not every Node.js build searches by itself.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

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

setup_web_raylib() {
    # Without the F12 screenshot, as on the desktop: in the page it would
    # encode a PNG into the page's memory on every press.
    local emscripten_version compat=no cflags="-DSUPPORT_SCREEN_CAPTURE=0"
    emscripten_version=$(emcc -dumpversion) || die "emcc does not run (package emscripten)"
    if [[ -f $WEB_STAMP ]] && grep -qxF "recipe=$WEB_RECIPE" "$WEB_STAMP" &&
        grep -qxF "emscripten=$emscripten_version" "$WEB_STAMP" &&
        [[ -f $WEB_PREFIX/lib/libraylib.a && -f $WEB_PREFIX/include/raylib.h ]]; then
        say "raylib $(sed -n 's/^raylib=//p' "$WEB_STAMP") for the web already built (stamp $WEB_STAMP)"
        say "raylib 6.0 for the web in $WEB_PREFIX"
        return 0
    fi
    # The source the desktop build unpacked (and patched), else a new one.
    debian_source raylib "$RAYLIB_SUITE" "$RAYLIB_VERSION_RE" "$(sed -n 's/^raylib=//p' "$STAMP" 2>/dev/null || true)"
    local started=$SECONDS
    say "building raylib $SOURCE_VERSION for the web (emscripten $emscripten_version) into $WEB_PREFIX"
    # raylib's web platforms: PLATFORM_WEB (GLFW emulated by emscripten) and
    # PLATFORM_WEB_RGFW. RGFW polls events with emscripten_sleep(0), which
    # needs the whole program built with -sASYNCIFY: a larger wasm and a lower
    # frame rate (docs/platforms.md has the figures). So GLFW, with
    # web/glfw_compat.h where emscripten lacks two of its calls.
    if ! emscripten_glfw_complete; then
        cflags+=" -include $REPO/web/glfw_compat.h"
        compat=yes
    fi
    cmake_install raylib-web "$SOURCE_DIR" "$WEB_PREFIX" -DCMAKE_TOOLCHAIN_FILE="$EMSCRIPTEN_TOOLCHAIN" \
        -DCMAKE_C_FLAGS="$cflags" -DPLATFORM=Web -DBUILD_EXAMPLES=OFF
    [[ -f $WEB_PREFIX/lib/libraylib.a && -f $WEB_PREFIX/include/raylib.h &&
        -f $WEB_PREFIX/lib/cmake/raylib/raylib-config.cmake ]] ||
        die "the web raylib is incomplete in $WEB_PREFIX (see $LOG_DIR/raylib-web.log)"
    say "raylib for the web built in $((SECONDS - started)) s (GLFW compatibility header: $compat)"
    printf 'raylib=%s\nemscripten=%s\nglfw_compat=%s\nrecipe=%s\n' \
        "$SOURCE_VERSION" "$emscripten_version" "$compat" "$WEB_RECIPE" >"$WEB_STAMP"
    say "raylib 6.0 for the web in $WEB_PREFIX"
}
