#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The web build's page in a real browser: headless Chromium drawing through
# Mesa's llvmpipe (ANGLE on EGL), the page served on 127.0.0.1 by Python's
# http.server. What the canvas shows, that it moves, the page title, and the
# notices where WebGL is off or the page is opened as a file. Prints the frame
# rate and the time to the first frame it saw (figures, not checks).
#
# usage: web_page_test.sh BUILD_DIR NODE CHROMIUM
#   BUILD_DIR holds orvan-demo-window.html, .js and .wasm.
#
# Image checks count pixels of an exact colour in a region of the canvas: the
# desktop window's checks of tests/window/scene_checks.sh (the same
# scene, the same thresholds), plus the grid: a row near the bottom of the
# canvas must cross several grid lines. The lines that do run past the camera
# and cross the near plane, and these are the ones SwiftShader, Chromium's
# default software renderer, drops. WebGL must draw with Mesa's llvmpipe.
# Chromium on Mesa 25's llvmpipe (Debian 13) drops those lines as well, through
# either of ANGLE's back ends (OpenGL ES and Vulkan), while the desktop program
# on the same Mesa draws them all; there the grid's other lines must show below
# the ring, and the renderer check tells llvmpipe from SwiftShader.
set -uo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
dir=$(cd "$1" && pwd)
node=$2
chromium=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/check.sh"
source "$here/../window/scene_checks.sh"

grid_crossings() {  # grid_crossings IMAGE Y: runs of grid-line pixels along row Y
    convert "$1" -crop "1280x1+0+$2" +repage -alpha off -fill white -opaque "rgb(191,191,191)" \
        -fill white -opaque "rgb(127,127,127)" -fill black +opaque white -depth 8 gray:- |
        od -An -v -tu1 -w1 | awk '{ on = $1 > 127 } on && !was { n++ } { was = on } END { print n + 0 }'
}
json() {  # json FILE KEY: a value of the driver's one-line report
    "$node" -e 'const r = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8")); console.log(r[process.argv[2]] ?? "")' "$1" "$2"
}

work=$(mktemp -d)
# The browser's and Node's temporary files too go there, and with it.
mkdir "$work/tmp"
export TMPDIR=$work/tmp
browser_pids() {  # the browser processes started here: named by their profile folder
    local f
    for f in /proc/[0-9]*/cmdline; do
        if tr '\0' '\n' 2>/dev/null <"$f" | grep -qF -- "--user-data-dir=$work/"; then
            f=${f#/proc/}
            echo "${f%/cmdline}"
        fi
    done
}
server=""
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; fi
    # A browser that outlived its driver.
    local pid
    for pid in $(browser_pids); do kill -9 "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# browse NAME URL [FLAG...]: runs the driver with a new profile; its report in
# $work/NAME.json, screenshots in $work/NAME/.
browse() {
    local name=$1 url=$2
    shift 2
    mkdir -p "$work/$name" "$work/profile-$name"
    "$node" "$here/browser.mjs" "$chromium" "$work/profile-$name" "$work/$name" "$url" "$@" \
        >"$work/$name.json" 2>"$work/$name.err" &
    wait $!
    local status=$?
    [ "$status" -eq 0 ] || sed 's/^/     | /' "$work/$name.err" | grep -v 'dbus' | tail -n 15
    return "$status"
}

title='QUENDRA / Orvan Engine — Live GPU Window (Raylib/OpenGL)'

# ---- the server ---------------------------------------------------------------
# It serves a copy of the build's page, and beside it in broken/ the page
# without its wasm.
mkdir -p "$work/site/broken"
cp "$dir/orvan-demo-window.html" "$dir/orvan-demo-window.js" "$dir/orvan-demo-window.wasm" "$work/site/"
cp "$dir/orvan-demo-window.html" "$dir/orvan-demo-window.js" "$work/site/broken/"
python3 -u -m http.server --bind 127.0.0.1 --directory "$work/site" 0 >"$work/server.log" 2>&1 &
server=$!
port=""
for _ in $(seq 1 100); do
    port=$(sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\).*/\1/p' "$work/server.log")
    [ -n "$port" ] && break
    sleep 0.1
done
check "server on 127.0.0.1 (port ${port:-none})" test -n "$port"
page=http://127.0.0.1:$port/orvan-demo-window.html

# ---- the page: what the canvas shows, and that it moves ------------------------
if browse live "$page"; then
    check "title" test "$(json "$work/live.json" title)" = "$title"
    check "no notice while the program runs" test -z "$(json "$work/live.json" message)"
    shot=$work/live/first.png
    if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp "$shot" "$ORVAN_SHOT_DIR/web_page.png"; fi
    check "canvas 1280x720 ($(identify -format %wx%h "$shot"))" test "$(identify -format %wx%h "$shot")" = 1280x720
    scene_checks "$shot"
    renderer=$(json "$work/live.json" renderer)
    check "WebGL draws with Mesa's llvmpipe ($renderer)" \
        bash -c '[[ $1 == *llvmpipe* && $1 != *SwiftShader* ]]' _ "$renderer"
    mesa=$(dpkg-query -W -f '${Version}' libgl1-mesa-dri 2>/dev/null | sed 's/^[0-9]*://; s/\..*//')
    if [ "${mesa:-0}" -ge 25 ] 2>/dev/null; then
        n=$(count "$shot" 1280x200+0+520 "rgb(191,191,191)")
        check "grid below the ring, Mesa $mesa ($n px)" test "$n" -ge 500
    else
        n=$(grid_crossings "$shot" 700)
        check "grid lines up to the bottom edge ($n crossed at y = 700)" test "$n" -ge 5
    fi
    diff=$(compare -metric AE "$shot" "$work/live/second.png" null: 2>&1 | awk '{ printf "%d", $1 }')
    check "a second later the canvas differs (${diff:-?} px)" test "${diff:-0}" -ge 1000
    echo "     browser: $(json "$work/live.json" fps) frames per second over 2 s," \
         "first frame $(json "$work/live.json" firstFrameMs) ms after navigation"
else
    check "the page draws frames in headless Chromium" false
fi

# ---- without WebGL: a notice instead of the canvas ----------------------------
if browse nowebgl "$page" --disable-webgl; then
    check "without WebGL: title" test "$(json "$work/nowebgl.json" title)" = "$title"
    check "without WebGL: the notice says so" grep -q '"message":"[^"]*WebGL is not available' "$work/nowebgl.json"
    check "without WebGL: no frame drawn" test "$(json "$work/nowebgl.json" frames)" = 0
else
    check "without WebGL: the page shows a notice" false
fi

# ---- opened as a file: the module cannot load, and the page says why ------------
if browse file "file://$dir/orvan-demo-window.html"; then
    check "as a file: the notice says to serve it" grep -q '"message":"[^"]*Serve this folder over HTTP' "$work/file.json"
else
    check "as a file: the page shows a notice" false
fi

# ---- the wasm missing on the server: the page says it could not load ------------
if browse broken "http://127.0.0.1:$port/broken/orvan-demo-window.html"; then
    check "wasm missing: the notice says the program could not be loaded" \
        grep -q '"message":"The program could not be loaded' "$work/broken.json"
else
    check "wasm missing: the page shows a notice" false
fi

# ---- nothing left running --------------------------------------------------------
# Each browser's last helper processes end just after it: give them 5 s.
for _ in $(seq 1 50); do
    left=$(browser_pids | tr '\n' ' ')
    [ -z "$left" ] && break
    sleep 0.1
done
check "no browser process left (${left:-none})" test -z "$left"

echo "$passes passed, $failures failed"
test "$failures" -eq 0
