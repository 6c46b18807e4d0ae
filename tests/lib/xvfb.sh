# SPDX-License-Identifier: MIT
# Helpers for running orvan-demo-window in a real window under Xvfb (Mesa's
# llvmpipe renders OpenGL in software). Sourced by the window tests and by the
# screenshot, pacing and soak scripts.
#
#   xvfb_start                 starts Xvfb on a free display, exports DISPLAY,
#                              and makes GLFW choose X11 even on a Wayland
#                              desktop (XDG_SESSION_TYPE=x11, no WAYLAND_DISPLAY)
#   xvfb_stop                  stops it: call it from the caller's EXIT trap
#   xvfb_wait_window PID       prints the window id of PID's window (60 s at most)
#   xvfb_window_gone WID       waits until the X server has no window WID (5 s
#                              at most): then no event meant for it can reach a
#                              later window that is given the same id
#   xvfb_shot WID FILE.png     writes the window's contents as a PNG
#   wait_exit PID SECONDS      waits for PID, a child of this shell; sets
#                              EXIT_STATUS to its exit status, or to
#                              "timeout" (and kills it) after SECONDS

XVFB_PID=""

xvfb_start() {
    local fifo display
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
    XVFB_PID=$!
    if ! read -r -t 30 display <"$fifo"; then
        rm -f "$fifo"
        echo "Xvfb did not start" >&2
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=":$display" XDG_SESSION_TYPE=x11
    unset WAYLAND_DISPLAY
}

xvfb_stop() {
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    fi
}

xvfb_wait_window() {
    local pid=$1 wid i
    for i in $(seq 1 600); do
        wid=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1 || true)
        if [ -n "$wid" ]; then
            echo "$wid"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "no window appeared for process $pid" >&2
    return 1
}

xvfb_window_gone() {
    local i
    for i in $(seq 1 100); do
        xwininfo -id "$1" >/dev/null 2>&1 || return 0
        sleep 0.05
    done
    echo "window $1 still there" >&2
    return 1
}

xvfb_shot() {
    xwd -silent -id "$1" | convert xwd:- "png:$2"
}

wait_exit() {
    local pid=$1 limit=$2 i
    EXIT_STATUS=timeout
    for i in $(seq 1 $((limit * 20))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            EXIT_STATUS=0
            wait "$pid" || EXIT_STATUS=$?
            return 0
        fi
        sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
