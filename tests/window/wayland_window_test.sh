#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program on Wayland: weston's headless backend as the compositor, with its
# GL renderer (Mesa's llvmpipe), on a socket of its own in a private runtime
# folder, and no X display. The window opens through GLFW's Wayland backend,
# draws frames and shows the scene; when the compositor goes away the program
# ends within 2 s. Esc is pressed on a second weston, with its X11 backend
# nested in Xvfb: that one has a seat, whose keyboard is Xvfb's.
#
# usage: wayland_window_test.sh PROGRAM FRAME_COUNTER
#
# FRAME_COUNTER is tests/window/frame_counter.c's library, preloaded into the
# program. ORVAN_PROGRAM_PRELOAD, if set, is preloaded as well (see
# real_window_test.sh).
#
# The headless backend has no seat: no keyboard to press Esc on and no
# pointer for a close button (the close button is checked on X11 only). Losing
# the compositor reaches the program as a close request (GLFW turns the broken
# connection into one), so it ends as after the close button: "Window closed
# successfully", status 0. raylib reports nothing else that the program could
# tell it by.
set -uo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
program=$1
probe=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/xvfb.sh"  # wait_exit
source "$here/../lib/check.sh"
source "$here/scene_checks.sh"

work=$(mktemp -d)
ulimit -c 0
cd "$work"
weston_pid=""
trap '[ -z "$weston_pid" ] || kill -9 "$weston_pid" 2>/dev/null; xvfb_stop; rm -rf "$work"' EXIT
mkdir -m 700 runtime
unset DISPLAY
export XDG_RUNTIME_DIR=$work/runtime WAYLAND_DISPLAY=orvan-test XDG_SESSION_TYPE=wayland

for tool in weston weston-screenshooter; do
    command -v "$tool" >/dev/null || { echo "$tool not found: run scripts/setup-deps.sh --tests"; exit 1; }
done
weston_start() {  # weston_start ARGS...: weston on socket $WAYLAND_DISPLAY
    weston --idle-time=0 --socket="$WAYLAND_DISPLAY" "$@" >weston.log 2>&1 &
    weston_pid=$!
    for _ in $(seq 1 100); do
        [ -S "runtime/$WAYLAND_DISPLAY" ] && return 0
        sleep 0.1
    done
    echo "weston did not start:"
    tail -n 20 weston.log
    exit 1
}
# --debug: allows the screenshooter
weston_start --backend=headless-backend.so --use-gl --width=1600 --height=900 --debug

frames() { od -An -t u8 frames 2>/dev/null | tr -d ' \n'; }
start_program() {  # the program, counting its frames; waits for the first (10 s at most)
    rm -f frames
    ORVAN_FRAME_COUNT_FILE=$work/frames LD_PRELOAD=$probe${ORVAN_PROGRAM_PRELOAD:+:$ORVAN_PROGRAM_PRELOAD} \
        "$program" >out.txt 2>err.txt &
    pid=$!
    for _ in $(seq 1 100); do
        [ "$(frames)" -gt 0 ] 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
}

# ---- the window on Wayland, its frames and what it shows --------------------
start_program
check "the window opens on Wayland" grep -q "PLATFORM: DESKTOP (GLFW - Wayland): Initialized successfully" out.txt
check "size 1280x720" grep -qE "Screen size: +1280 x 720" out.txt
sleep 1.2
first=$(frames)
weston-screenshooter >/dev/null 2>&1
shot=$(ls wayland-screenshot-*.png 2>/dev/null | head -n 1)
sleep 0.5
last=$(frames)
check "frames drawn (${first:-none}, then ${last:-none} half a second later)" test "${first:-0}" -gt 0 -a "${last:-0}" -gt "${first:-0}"
check "the compositor's screenshot" test -n "$shot"
if [ -n "$shot" ]; then
    # The window's contents on the output: the box around the pixels of the
    # background colour, which only the window shows (a black border of one
    # pixel makes -trim cut to it; the offset counts that border).
    read -r size x y < <(convert "$shot" -alpha off -fill white -opaque "rgb(10,10,18)" -fill black +opaque white \
        -bordercolor black -border 1 -trim -format '%wx%h %X %Y' info: | tr -d +)
    check "the window's contents 1280x720 on the output (got $size)" test "$size" = 1280x720
    convert "$shot" -crop "1280x720+$((x - 1))+$((y - 1))" +repage -alpha off window.png
    if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp window.png "$ORVAN_SHOT_DIR/wayland_window.png"; fi
    scene_checks window.png
fi

# ---- the compositor goes away under the open window ------------------------
gone=$(date +%s%N)
kill -9 "$weston_pid"
wait "$weston_pid" 2>/dev/null
weston_pid=""
wait_exit "$pid" 2
status=$EXIT_STATUS
ms=$((($(date +%s%N) - gone) / 1000000))
check "compositor gone: ended after ${ms} ms with status $status, as after a close request" test "$status" = 0
check "compositor gone: within 2 s" test "$ms" -le 2000
check "compositor gone: the window closed through raylib" grep -q "Window closed successfully" out.txt
check "compositor gone: nothing on stderr ($(head -n 1 err.txt))" test ! -s err.txt

# ---- Esc, on weston's X11 backend --------------------------------------------
xvfb_start || exit 1
export WAYLAND_DISPLAY=orvan-esc XDG_SESSION_TYPE=wayland  # xvfb_start chose X11
weston_start --backend=x11-backend.so --width=1400 --height=800
start_program
check "Esc: the window opens on Wayland, nested" grep -q "GLFW - Wayland" out.txt
# weston's X window fills Xvfb's screen from its corner and takes the keyboard
# under the pointer; weston gives it to its newest window, the program's.
sleep 0.3
xdotool mousemove 700 400 key Escape
wait_exit "$pid" 5
status=$EXIT_STATUS
check "Esc: exit status 0 (got $status)" test "$status" = 0
check "Esc: the compositor is still there" kill -0 "$weston_pid"

echo "$passes passed, $failures failed"
test "$failures" -eq 0
