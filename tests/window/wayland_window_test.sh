#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program on Wayland: weston's headless backend as the compositor, with its
# GL renderer (Mesa's llvmpipe), on a socket of its own in a private runtime
# folder, and no X display. The window opens through GLFW's Wayland backend,
# draws frames and shows the scene; when the compositor goes away the program
# ends within 2 s. A second weston, with its X11 backend nested in Xvfb, has a
# seat (Xvfb's pointer and keyboard): there the window has the title bar that
# libdecor draws (weston draws none itself), with the title and a close button
# that ends the program; the window's app_id is the program's name; and without
# libdecor the program still opens and Esc ends it.
#
# usage: wayland_window_test.sh PROGRAM FRAME_COUNTER NO_LIBDECOR_DIR
#
# FRAME_COUNTER is tests/window/frame_counter.c's library, preloaded into the
# program: the test waits for the frames it counts, not for a fixed time.
# ORVAN_PROGRAM_PRELOAD, if set, is preloaded as well (see
# real_window_test.sh). NO_LIBDECOR_DIR holds tests/window/no_libdecor.c's
# library, named libdecor-0.so.0, found first on the program's library path.
#
# Losing the compositor reaches the program as a close request (GLFW turns the
# broken connection into one), so it ends as after the close button: "Window
# closed successfully", status 0. raylib reports nothing else that the program
# could tell it by.
set -uo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
program=$1
probe=$2
no_libdecor=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/xvfb.sh"  # wait_exit
source "$here/../lib/frames.sh"
source "$here/../lib/weston.sh"
source "$here/../lib/check.sh"
source "$here/scene_checks.sh"

work=$(mktemp -d)
ulimit -c 0
cd "$work"
trap 'weston_stop KILL; xvfb_stop; rm -rf "$work"' EXIT
mkdir -m 700 runtime
unset DISPLAY
export XDG_RUNTIME_DIR=$work/runtime WAYLAND_DISPLAY=orvan-test XDG_SESSION_TYPE=wayland
# libdecor's plugin reads the desktop's settings over D-Bus; with no session
# bus named, libdbus would start one of its own for the X display (dbus-launch
# --autolaunch), which outlives the program. A bus that is not there instead:
# libdecor keeps its defaults.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-session-bus

for tool in weston weston-screenshooter tesseract; do
    command -v "$tool" >/dev/null || { echo "$tool not found: run scripts/setup-deps.sh --tests"; exit 1; }
done
# --debug: allows the screenshooter
weston_start "$WAYLAND_DISPLAY" weston.log --backend=headless-backend.so --use-gl --width=1600 --height=900 --debug ||
    exit 1

frames_setup "$probe" "$work/frames"
start_program() {  # start_program [VAR=VALUE...]: the program, counting its frames; waits for the first
    frames_reset
    env "$@" "${FRAMES_ENV[@]}" "$program" >out.txt 2>err.txt &
    pid=$!
    wait_frames 1 "$pid"
}
# libdecor's library and its plugin, mapped by the program (maps_libdecor PID)
maps_libdecor() { grep -oE '[^/]*libdecor[^ ]*\.so[.0-9]*$' "/proc/$1/maps" 2>/dev/null | sort -u | tr '\n' ' '; }

# ---- the window on Wayland, its frames and what it shows --------------------
start_program
check "the window opens on Wayland" grep -q "PLATFORM: DESKTOP (GLFW - Wayland): Initialized successfully" out.txt
check "size 1280x720" grep -qE "Screen size: +1280 x 720" out.txt
wait_frames 60 "$pid"  # a second's frames at 60 per second
first=$(frames)
weston-screenshooter >/dev/null 2>&1
shot=$(ls wayland-screenshot-*.png 2>/dev/null | head -n 1)
wait_frames $((first + 30)) "$pid"
last=$(frames)
check "frames drawn ($first, then $last)" test "$first" -ge 60 -a "$last" -ge $((first + 30))
check "the compositor's screenshot" test -n "$shot"
if [ -n "$shot" ]; then
    read -r x y w h < <(contents_rect "$shot")
    check "the window's contents 1280x720 on the output (got ${w}x$h)" test "${w}x$h" = 1280x720
    convert "$shot" -crop "1280x720+$x+$y" +repage -alpha off window.png
    if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp window.png "$ORVAN_SHOT_DIR/wayland_window.png"; fi
    scene_checks window.png
fi

# ---- the compositor goes away under the open window ------------------------
gone=$(date +%s%N)
weston_stop KILL
wait_exit "$pid" 2
status=$EXIT_STATUS
ms=$((($(date +%s%N) - gone) / 1000000))
check "compositor gone: ended after ${ms} ms with status $status, as after a close request" test "$status" = 0
check "compositor gone: within 2 s" test "$ms" -le 2000
check "compositor gone: the window closed through raylib" grep -q "Window closed successfully" out.txt
check "compositor gone: nothing on stderr ($(head -n 1 err.txt))" test ! -s err.txt

# ---- weston's X11 backend: the title bar, its close button, the app_id -------
xvfb_start || exit 1
export WAYLAND_DISPLAY=orvan-x11 XDG_SESSION_TYPE=wayland  # xvfb_start chose X11
# weston's X window fills Xvfb's screen from its corner: screen and output
# coordinates are the same. No zoom as windows appear, a plain background.
printf '[shell]\nanimation=none\nstartup-animation=none\nbackground-color=0xff405060\n' >weston.ini
weston_start "$WAYLAND_DISPLAY" weston-x11.log --backend=x11-backend.so --width=1400 --height=800 \
    --config="$work/weston.ini" || exit 1
start_program WAYLAND_DEBUG=client  # the requests on stderr
check "nested: the window opens on Wayland" grep -q "GLFW - Wayland" out.txt
check "nested: app_id is the program's name" grep -qF '.set_app_id("orvan-demo-window")' err.txt
decor=$(maps_libdecor "$pid")
check "nested: libdecor and its plugin draw the decorations (${decor:-none mapped})" \
    test "$(wc -w <<<"$decor")" -eq 2
wait_frames 60 "$pid"  # the bar drawn too
xwd -silent -root | convert xwd:- nested.png
if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp nested.png "$ORVAN_SHOT_DIR/wayland_decorated.png"; fi
read -r x y w h < <(contents_rect nested.png)
check "nested: the window's contents 1280x720 (got ${w}x$h at $x, $y)" test "${w}x$h" = 1280x720
# libdecor's cairo plugin: a bar 24 px high right above the contents, as wide,
# with three buttons 32 px wide at its right end, close the last.
close_x=$((x + w - 16)) close_y=$((y - 12))
title_bar_checks nested.png "$x $((y - 24)) $w 24" "$close_x $close_y" nested
# The pointer comes into weston's X window from the rest of Xvfb's screen
# (weston takes its place from that X event: the moves within the window it
# may apply to a place it never learnt), then onto weston's panel, outside the
# program's window, so that the decoration sees it enter before the click.
xdotool mousemove 1500 850 sleep 0.3 mousemove 700 10 sleep 0.3 mousemove "$close_x" "$close_y" sleep 0.3 click 1
wait_exit "$pid" 5
status=$EXIT_STATUS
check "nested: the close button ends it with status 0 (got $status)" test "$status" = 0

# ---- without libdecor: GLFW's own plain bar; Esc ----------------------------
start_program LD_LIBRARY_PATH="$no_libdecor"
check "no libdecor: the window opens on Wayland" grep -q "GLFW - Wayland" out.txt
decor=$(maps_libdecor "$pid")
check "no libdecor: none mapped (${decor:-none})" test -z "$decor"
wait_frames 30 "$pid"
xwd -silent -root | convert xwd:- plain.png
if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp plain.png "$ORVAN_SHOT_DIR/wayland_plain.png"; fi
read -r x y w h < <(contents_rect plain.png)
check "no libdecor: the window's contents 1280x720 (got ${w}x$h)" test "${w}x$h" = 1280x720
# weston gives the keyboard under the pointer to its newest window, the program's.
xdotool mousemove 700 400 sleep 0.3 key Escape
wait_exit "$pid" 5
status=$EXIT_STATUS
check "no libdecor: Esc ends it with status 0 (got $status)" test "$status" = 0
check "no libdecor: nothing on stderr ($(head -n 1 err.txt))" test ! -s err.txt
check "the compositor is still there" kill -0 "$WESTON_PID"

echo "$passes passed, $failures failed"
test "$failures" -eq 0
