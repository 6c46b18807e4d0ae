#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program on a real desktop: its compositor or window manager, started
# with all its state in a private folder. The same checks on every desktop:
# the desktop knows the window by the program's name and it opens on the
# expected backend; a screenshot shows the scene, and a title bar with the
# title and (where the desktop draws one) a close button; the close button (or
# the desktop's own close request) ends the program with 0, as Esc does; on
# Wayland, the compositor going away ends it within 2 s.
#
# usage: desktop_test.sh DESKTOP PROGRAM SEND_CLOSE_REQUEST FRAME_COUNTER
#
# DESKTOP names the adapter tests/desktop/DESKTOP.sh, which says how to start
# that desktop, take a screenshot, click, press Esc and learn the window's
# name and place (the functions it defines are listed below, where the harness
# gives the defaults). SEND_CLOSE_REQUEST is tests/window/send_close_request.c's
# program, for X11 adapters. Screenshots are kept in $ORVAN_DESKTOP_SHOTS (if
# set) as DESKTOP-*.png. ORVAN_PROGRAM_PRELOAD, if set, is preloaded into the
# program. What is done to the window waits for frames it has drawn
# (FRAME_COUNTER's count), not for a fixed time.
set -uo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
desktop=$1
program=$2
send_close_request=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/check.sh"
source "$here/../lib/xvfb.sh"  # wait_exit, and xvfb_start for X11 desktops
source "$here/../lib/frames.sh"
source "$here/../window/scene_checks.sh"

work=$(mktemp -d)
ulimit -c 0
cd "$work" || exit 1
mkdir -m 700 runtime
frames_setup "$4" "$work/frames"
shots=${ORVAN_DESKTOP_SHOTS:-}
[ -z "$shots" ] || mkdir -p "$shots"

# What the adapter defines (desktop_close and desktop_kill only where they
# apply); desktop_launch has this default.
#   desktop_start  desktop_launch LOG  desktop_window_name  desktop_window_rect
#   desktop_title_rect  desktop_close_xy  desktop_screenshot FILE
#   desktop_click X Y  desktop_close  desktop_key_escape  desktop_kill  desktop_stop
desktop_launch() {
    env -i PATH="$PATH" HOME="$work" "${DESKTOP_ENV[@]}" "${FRAMES_ENV[@]}" "$program" >"$1" 2>&1 &
    program_pid=$!
}
source "$here/$desktop.sh"
trap 'desktop_stop; [ -z "${program_pid:-}" ] || kill -9 "$program_pid" 2>/dev/null; rm -rf "$work"' EXIT

# launch LOG: the program, until the desktop knows its window (60 s at most);
# sets name to what the desktop calls it
launch() {
    frames_reset
    desktop_launch "$1"
    name=""
    for _ in $(seq 1 300); do
        name=$(desktop_window_name 2>/dev/null) && [ -n "$name" ] && return 0
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.2
    done
    echo "     no window known to the desktop; the end of $1:"
    tail -n 5 "$1" | sed 's/^/       /'
    return 1
}
# ended HOW SECONDS: the program has ended with status 0 within SECONDS
ended() {
    wait_exit "$program_pid" "$2"
    program_pid=""
    check "$1: exit status 0 within $2 s (got $EXIT_STATUS)" test "$EXIT_STATUS" = 0
}

if ! desktop_start; then
    check "$desktop starts" false
    exit 1
fi

# ---- the window, its name, what the screen shows -----------------------------
launch run.log
check "the desktop knows the window as orvan-demo-window (got '$name')" test "$name" = orvan-demo-window
check "the window opens on $DESKTOP_BACKEND" \
    grep -q "PLATFORM: DESKTOP (GLFW - $DESKTOP_BACKEND): Initialized successfully" run.log
# 1.2 s of frames at 60 per second: the desktop has drawn its bar too.
check "72 frames drawn" wait_frames 72 "$program_pid"
desktop_screenshot screen.png
[ -z "$shots" ] || cp screen.png "$shots/$desktop-screen.png"
rect=$(desktop_window_rect)
read -r x y w h <<<"$rect"
check "the window's contents 1280x720 (got ${w:-?}x${h:-?} at ${x:-?}, ${y:-?})" test "${w:-}x${h:-}" = 1280x720
convert screen.png -crop "1280x720+${x:-0}+${y:-0}" +repage -alpha off window.png
scene_checks window.png
close_xy=$(desktop_close_xy)
title_bar_checks screen.png "$(desktop_title_rect)" "$close_xy"

# ---- the close button, or the desktop's own close request --------------------
if [ -n "$close_xy" ]; then
    # shellcheck disable=SC2086  # "X Y"
    desktop_click $close_xy
    ended "close button" 5
else
    desktop_close
    ended "the desktop's close request" 5
fi

# ---- Esc -----------------------------------------------------------------------
if launch run-esc.log; then
    wait_frames 30 "$program_pid"  # focused, drawing
    desktop_key_escape
fi
ended Esc 5

# ---- the compositor goes away --------------------------------------------------
if [ "$DESKTOP_BACKEND" = Wayland ]; then
    launch run-gone.log && wait_frames 30 "$program_pid"
    desktop_kill
    ended "compositor gone" 2
fi

desktop_stop
echo "$passes passed, $failures failed"
test "$failures" -eq 0
