# SPDX-License-Identifier: MIT
# weston for the Wayland window test and scripts/bench.sh, sourced by them.
#
#   weston_start SOCKET LOG ARGS...  starts weston with ARGS on SOCKET in
#                              $XDG_RUNTIME_DIR (a private folder, mode 0700),
#                              its output in LOG, and sets WESTON_PID; returns
#                              once the socket is there (20 s at most, else
#                              it shows the end of LOG and returns 1)
#   weston_stop [SIGNAL]       sends SIGNAL (default TERM; KILL to make it go
#                              away at once) and waits for it; safe to call
#                              when it is not running

WESTON_PID=""

weston_start() {
    local socket=$1 log=$2 i
    shift 2
    weston --idle-time=0 --socket="$socket" "$@" >"$log" 2>&1 &
    WESTON_PID=$!
    for i in $(seq 1 200); do
        [ -S "${XDG_RUNTIME_DIR:?}/$socket" ] && return 0
        kill -0 "$WESTON_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "weston did not start; the end of $log:" >&2
    tail -n 20 "$log" >&2
    weston_stop KILL
    return 1
}

weston_stop() {
    if [ -n "$WESTON_PID" ]; then
        kill -"${1:-TERM}" "$WESTON_PID" 2>/dev/null || true
        wait "$WESTON_PID" 2>/dev/null || true
        WESTON_PID=""
    fi
}
