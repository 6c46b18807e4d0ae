#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program in a real window under Xvfb with Mesa: title and size, what the
# window shows, and the ways it ends.
#
# usage: real_window_test.sh PROGRAM SEND_CLOSE_REQUEST FRAME_COUNTER
#
# Environment: ORVAN_CLOSE_CYCLES (default 50) start-close cycles in a row;
# ORVAN_PROGRAM_PRELOAD, if set, is put in the program's LD_PRELOAD (the
# sanitizer build keeps Mesa's modules loaded until exit this way).
#
# The image checks are those of scene_checks.sh. What happens to the window
# waits for frames the program has drawn (FRAME_COUNTER's count), not for a
# fixed time.
set -uo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
program=$1
send_close_request=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/xvfb.sh"
source "$here/../lib/check.sh"
source "$here/../lib/frames.sh"
source "$here/scene_checks.sh"

work=$(mktemp -d)
ulimit -c 0
cd "$work"  # raylib's F12 screenshots and any stray file land here
trap 'xvfb_stop; rm -rf "$work"' EXIT
# The same process (exec), counting its frames.
frames_setup "$3" "$work/frames"
printf -v frames_env '%q ' "${FRAMES_ENV[@]}"
printf '#!/bin/sh\nexec env %s%q "$@"\n' "$frames_env" "$program" >"$work/program"
chmod +x "$work/program"
program=$work/program

# ---- no display: a message and status 1, no crash ------------------------
# GLFW picks Wayland when WAYLAND_DISPLAY is set, or when the runtime folder
# holds a wayland-0 socket: on a Wayland desktop these cases would open a real
# window. They run with WAYLAND_DISPLAY unset and an empty runtime folder, or
# none at all.
mkdir -m 700 runtime
no_display() {  # no_display NAME ENV-ARGS...: the program under them ends with 1 and the message
    local name=$1 status
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY "$@" "$program" >out.txt 2>err.txt
    status=$?
    check "$name: exit status 1 (got $status)" test "$status" -eq 1
    check "$name: the message on stderr" grep -q "the window could not be opened; a graphical display is needed" err.txt
}
no_display "no display at all" XDG_RUNTIME_DIR="$work/runtime"
no_display "no display and no runtime folder" -u XDG_RUNTIME_DIR
no_display "unreachable X display" XDG_RUNTIME_DIR="$work/runtime" DISPLAY=:999
no_display "unreachable Wayland display" XDG_RUNTIME_DIR="$work/runtime" WAYLAND_DISPLAY=orvan-nowhere

xvfb_start || exit 1

# ---- the window, what it shows, and Esc ------------------------------------
frames_reset
"$program" >out.txt 2>err.txt &
pid=$!
wid=$(xvfb_wait_window "$pid")
check "window appears" test -n "$wid"
if [ -n "$wid" ]; then
    # xprop prints text in the locale's encoding, escaped where the locale
    # cannot show it: C.UTF-8 (set above) reads the title's em dash as is.
    title=$(xprop -id "$wid" _NET_WM_NAME)
    check "title" test "$title" = '_NET_WM_NAME(UTF8_STRING) = "QUENDRA / Orvan Engine — Live GPU Window (Raylib/OpenGL)"'
    # Named after the program (GLFW patched; raylib gives it no class hint),
    # as its desktop entry is: what desktops match the window with.
    class=$(xprop -id "$wid" WM_CLASS)
    check "WM_CLASS (got ${class#*= })" test "$class" = 'WM_CLASS(STRING) = "orvan-demo-window", "orvan-demo-window"'
    geometry=$(xwininfo -id "$wid" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
    check "size 1280x720 (got $geometry)" test "$geometry" = 1280x720
    # A second's frames at 60 per second, however long they take.
    check "60 frames drawn" wait_frames 60 "$pid"
    xvfb_shot "$wid" shot.png
    if [ -n "${ORVAN_SHOT_DIR:-}" ]; then cp shot.png "$ORVAN_SHOT_DIR/real_window.png"; fi
    scene_checks shot.png
    "$send_close_request" "$wid" esc
fi
wait_exit "$pid" 5
status=$EXIT_STATUS
[ -z "$wid" ] || xvfb_window_gone "$wid"
check "Esc: exit status 0 (got $status)" test "$status" = 0

# ---- the close button: a WM_DELETE_WINDOW request --------------------------
frames_reset
"$program" >out.txt 2>err.txt &
pid=$!
wid=$(xvfb_wait_window "$pid")
if [ -n "$wid" ] && wait_frames 3 "$pid"; then
    "$send_close_request" "$wid"
fi
wait_exit "$pid" 5
status=$EXIT_STATUS
[ -z "$wid" ] || xvfb_window_gone "$wid"
check "WM_DELETE_WINDOW: exit status 0 (got $status)" test "$status" = 0

# ---- start-close cycles in a row, alternating Esc and the close button -------
# Each must end with 0 within 5 s, and every start opens its window. Every
# cycle waits for its own process's window, sends its event to that window
# only, and ends only when the process has exited and the X server has
# destroyed the window: the next program is usually given the same window id,
# and must not receive anything meant for this one.
# Afterwards no process started by a cycle, nor any process started by one of
# them, is left: they all carry a mark in their environment.
cycles=${ORVAN_CLOSE_CYCLES:-50}
clean=0
mark=ORVAN_CLOSE_CYCLE=$$
for i in $(seq 1 "$cycles"); do
    frames_reset
    env "$mark" "$program" >out.txt 2>err.txt &
    pid=$!
    wid=$(xvfb_wait_window "$pid" 2>/dev/null) || wid=""
    sent=""
    # As above: once it has drawn a few frames.
    if [ -n "$wid" ] && wait_frames 3 "$pid"; then
        if [ $((i % 2)) -eq 1 ]; then
            "$send_close_request" "$wid" esc && sent=Esc
        else
            "$send_close_request" "$wid" && sent="close request"
        fi
    fi
    wait_exit "$pid" 5
    gone=yes
    [ -z "$wid" ] || xvfb_window_gone "$wid" 2>/dev/null || gone=no
    if [ -n "$sent" ] && [ "$EXIT_STATUS" = 0 ] && [ "$gone" = yes ]; then
        clean=$((clean + 1))
    else
        echo "     cycle $i: window '${wid}', sent '$sent', exit status $EXIT_STATUS, window gone: $gone;" \
            "the program's last output lines:"
        tail -n 5 out.txt err.txt | sed 's/^/       /'
    fi
done
check "$cycles start-close cycles: $clean opened a window and ended with 0" test "$clean" -eq "$cycles"
left=""
for environ in /proc/[0-9]*/environ; do
    if grep -qzx "$mark" "$environ" 2>/dev/null; then left="$left ${environ//[^0-9]/}"; fi
done
check "no process of the program left behind (${left:-none})" test -z "$left"

# ---- the X server goes away under the open window --------------------------
# Xlib's default handler reports the broken connection and exits 1; the
# process must end within 2 s with a message and a non-zero status. The message
# depends on where the loss is noticed: "X connection to :N broken ..." or
# "XIO:  fatal IO error ... on X server ":N"".
frames_reset
"$program" >out.txt 2>err.txt &
pid=$!
wid=$(xvfb_wait_window "$pid")
check "window appears before the X server goes" test -n "$wid"
check "frames drawn before the X server goes" wait_frames 10 "$pid"
display=$DISPLAY
gone=$(date +%s%N)
xvfb_stop
wait_exit "$pid" 2
status=$EXIT_STATUS
ms=$((($(date +%s%N) - gone) / 1000000))
check "X server gone: ended after ${ms} ms with status $status, not 0" test "$status" != timeout -a "$status" != 0
check "X server gone: within 2 s" test "$ms" -le 2000
check "X server gone: a message on stderr ($(head -n 1 err.txt))" grep -qE "X connection to $display broken|XIO: +fatal IO error .* on X server \"$display\"" err.txt

echo "$passes passed, $failures failed"
test "$failures" -eq 0
