#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The web build's page in a real browser, served on 127.0.0.1 by Python's
# http.server: headless Chromium drawing through Mesa's llvmpipe (ANGLE on
# EGL), or Firefox in a window on Xvfb (WebGL on llvmpipe; headless Firefox
# without a display gets no WebGL here). What the canvas shows, that it moves,
# what the page says about itself (title, description, the canvas's text
# alternative, its icon), that it fits a narrow window, and the notices where
# WebGL is off, the wasm is missing or the page is opened as a file: each one
# on the first screen of a 1280x720 viewport, with the canvas gone. Prints the
# frame rate and the time to the first frame it saw (figures, not checks).
#
# usage: web_page_test.sh chromium|firefox BUILD_DIR NODE BROWSER
#   BUILD_DIR holds orvan-demo-window.html, .js, .wasm and .svg.
#
# Image checks count pixels of an exact colour in a region of the canvas: the
# desktop window's checks of tests/window/scene_checks.sh (the same scene and
# thresholds), plus the grid: a row near the bottom of the canvas must cross
# several grid lines. Those run past the camera and cross the near plane, and
# SwiftShader, Chromium's default software renderer, drops them. Chromium on
# Mesa 25's llvmpipe (Debian 13) drops them as well, through either of ANGLE's
# back ends, while the desktop program on the same Mesa draws them all; there
# the grid's other lines must show below the ring, and the renderer check
# tells llvmpipe from SwiftShader.
set -uo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
engine=$1
dir=$(cd "$2" && pwd)
node=$3
browser=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/check.sh"
source "$here/../lib/serve.sh"
source "$here/../lib/xvfb.sh"
source "$here/../window/scene_checks.sh"

grid_crossings() {  # grid_crossings IMAGE Y: runs of grid-line pixels along row Y
    convert "$1" -crop "1280x1+0+$2" +repage -alpha off -fill white -opaque "rgb(191,191,191)" \
        -fill white -opaque "rgb(127,127,127)" -fill black +opaque white -depth 8 gray:- |
        od -An -v -tu1 -w1 | awk '{ on = $1 > 127 } on && !was { n++ } { was = on } END { print n + 0 }'
}
json() {  # json FILE KEY[.KEY...]: a value of the driver's one-line report
    "$node" -e 'let r = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8"));
        for (const k of process.argv[2].split(".")) r = r?.[k]; console.log(r ?? "")' "$1" "$2"
}

work=$(mktemp -d)
# The browser's and Node's temporary files too go there, and with it.
mkdir "$work/tmp"
export TMPDIR=$work/tmp
# What the driver starts carries ORVAN_BROWSER_RUN=$work in its environment,
# and so does all the browser starts (Firefox's content processes); Chromium's
# helpers write their title over theirs, but name their profile folder. Once
# the drivers are done, any such process is a browser left running.
browser_pids() {
    local f
    for f in /proc/[0-9]*/environ; do
        if tr '\0' '\n' 2>/dev/null <"$f" | grep -qxF "ORVAN_BROWSER_RUN=$work" ||
            tr '\0' '\n' 2>/dev/null <"${f%environ}cmdline" | grep -qF -- "$work/profile-"; then
            f=${f#/proc/}
            echo "${f%/environ}"
        fi
    done
}
cleanup() {
    serve_stop
    # A browser that outlived its driver.
    local pid
    for pid in $(browser_pids); do kill -9 "$pid" 2>/dev/null; done
    xvfb_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
if [ "$engine" = firefox ]; then xvfb_start; fi

# browse NAME URL [FLAG...]: runs the driver with a new profile; its report in
# $work/NAME.json, screenshots in $work/NAME/.
browse() {
    local name=$1 url=$2
    shift 2
    mkdir -p "$work/$name" "$work/profile-$name"
    ORVAN_BROWSER_RUN=$work "$node" "$here/browser.mjs" "$engine" "$browser" "$work/profile-$name" "$work/$name" "$url" "$@" \
        >"$work/$name.json" 2>"$work/$name.err" &
    wait $!
    local status=$?
    [ "$status" -eq 0 ] || sed 's/^/     | /' "$work/$name.err" | grep -v 'dbus' | tail -n 15
    return "$status"
}
# notice_seen NAME: the notice of run NAME within the first screen of the
# 1280x720 viewport, and the canvas taking no room on the page.
notice_seen() {
    local f=$work/$1.json y h
    if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp "$work/$1/notice.png" "$ORVAN_SHOT_DIR/web_notice_${1}_$engine.png"; fi
    y=$(json "$f" layout.notice.y)
    h=$(json "$f" layout.notice.height)
    check "$1: notice on the first screen (y $y, height $h, viewport $(json "$f" layout.viewport.height))" \
        awk -v y="$y" -v h="$h" -v v="$(json "$f" layout.viewport.height)" 'BEGIN { exit !(v == 720 && y >= 0 && h > 0 && y + h <= v) }'
    check "$1: the canvas takes no room ($(json "$f" layout.canvas.width)x$(json "$f" layout.canvas.height))" \
        test "$(json "$f" layout.canvas.width)x$(json "$f" layout.canvas.height)" = 0x0
}

title='QUENDRA / Orvan Engine — Live GPU Window (Raylib/OpenGL)'

# ---- the server ---------------------------------------------------------------
# It serves a copy of the build's page, and beside it in broken/ the page
# without its wasm.
mkdir -p "$work/site/broken"
cp "$dir"/orvan-demo-window.{html,js,wasm,svg} "$work/site/"
cp "$dir"/orvan-demo-window.{html,js,svg} "$work/site/broken/"
serve_start "$work/site" "$work/server.log"
port=$SERVE_PORT
check "server on 127.0.0.1 (port ${port:-none})" test -n "$port"
gzipped=0
for f in "$dir"/orvan-demo-window.{html,js,wasm,svg}; do gzipped=$((gzipped + $(gzip -9 -c "$f" | wc -c))); done
check "the page's files gzipped under 150 KB ($gzipped bytes)" test "$gzipped" -lt 150000
page=http://127.0.0.1:$port/orvan-demo-window.html

# ---- the page: what the canvas shows, and that it moves ------------------------
if browse live "$page"; then
    check "title" test "$(json "$work/live.json" title)" = "$title"
    check "a description ($(json "$work/live.json" description | cut -c1-40)...)" \
        bash -c '[[ $1 == *"Orvan Engine"* ]]' _ "$(json "$work/live.json" description)"
    check "the canvas has a text alternative (role $(json "$work/live.json" canvasRole))" \
        bash -c '[[ $1 == img && $2 == *spheres*cube*grid* ]]' _ "$(json "$work/live.json" canvasRole)" \
        "$(json "$work/live.json" canvasLabel)"
    check "no notice while the program runs" test -z "$(json "$work/live.json" message)"
    shot=$work/live/first.png
    if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp "$shot" "$ORVAN_SHOT_DIR/web_page_$engine.png"; fi
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
    # A window 640 px wide: the canvas scales down to it, 16:9, with no
    # sideways scrolling, and the text keeps its size.
    cw=$(json "$work/live.json" narrow.canvas.width)
    ch=$(json "$work/live.json" narrow.canvas.height)
    check "640 px wide: canvas ${cw}x${ch}, page $(json "$work/live.json" narrow.scrollWidth) px wide" \
        awk -v w="$cw" -v h="$ch" -v s="$(json "$work/live.json" narrow.scrollWidth)" \
        'BEGIN { exit !(w == 640 && h >= 359 && h <= 361 && s <= 640) }'
    check "640 px wide: status text $(json "$work/live.json" narrow.statusFontPx) px" \
        test "$(json "$work/live.json" narrow.statusFontPx)" -ge 12
    echo "     $engine: $(json "$work/live.json" fps) frames per second over 2 s," \
         "first frame $(json "$work/live.json" firstFrameMs) ms after navigation"
else
    check "the page draws frames in $engine" false
fi

# ---- without WebGL: a notice instead of the canvas ----------------------------
if browse nowebgl "$page" --disable-webgl; then
    check "without WebGL: title" test "$(json "$work/nowebgl.json" title)" = "$title"
    check "without WebGL: the notice says so" grep -q '"message":"[^"]*WebGL is not available' "$work/nowebgl.json"
    check "without WebGL: no frame drawn" test "$(json "$work/nowebgl.json" frames)" = 0
    notice_seen nowebgl
else
    check "without WebGL: the page shows a notice" false
fi

# ---- opened as a file: the module cannot load, and the page says why ------------
if browse file "file://$dir/orvan-demo-window.html"; then
    check "as a file: the notice says to serve it" grep -q '"message":"[^"]*Serve this folder over HTTP' "$work/file.json"
    notice_seen file
else
    check "as a file: the page shows a notice" false
fi

# ---- the wasm missing on the server: the page says it could not load ------------
if browse broken "http://127.0.0.1:$port/broken/orvan-demo-window.html"; then
    check "wasm missing: the notice says the program could not be loaded" \
        grep -q '"message":"The program could not be loaded' "$work/broken.json"
    notice_seen broken
else
    check "wasm missing: the page shows a notice" false
fi

# ---- the server's log: every file asked for was there, the icon too -------------
check "the browser fetched the icon" grep -q '"GET /orvan-demo-window.svg HTTP[^"]*" 200' "$work/server.log"
unanswered=$(grep '" [45][0-9][0-9] ' "$work/server.log" | grep -v '"GET /broken/orvan-demo-window.wasm ' | cut -d'"' -f2)
check "every request answered but the missing wasm's (${unanswered:-none})" test -z "$unanswered"

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
