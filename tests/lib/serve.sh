# SPDX-License-Identifier: MIT
# A static web server on 127.0.0.1 (Python's http.server) for the page tests
# and the pacing script; sourced by them.
#
#   serve_start DIR LOG   serves DIR on a free port, its request log in LOG;
#                         sets SERVE_PID and SERVE_PORT (empty if the server
#                         did not say its port within 10 s)
#   serve_stop            stops it: call it from the caller's EXIT trap

SERVE_PID=""
SERVE_PORT=""

serve_start() {
    local i
    : >"$2"  # there before the server's own redirection, which happens in the background
    python3 -u -m http.server --bind 127.0.0.1 --directory "$1" 0 >"$2" 2>&1 &
    SERVE_PID=$!
    SERVE_PORT=""
    for i in $(seq 1 100); do
        SERVE_PORT=$(sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\).*/\1/p' "$2")
        [ -n "$SERVE_PORT" ] && return 0
        kill -0 "$SERVE_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

serve_stop() {
    if [ -n "$SERVE_PID" ]; then
        kill "$SERVE_PID" 2>/dev/null || true
        wait "$SERVE_PID" 2>/dev/null || true
        SERVE_PID=""
    fi
}
