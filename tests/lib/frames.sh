# SPDX-License-Identifier: MIT
# Waits that follow the program's own pace: it counts the frames it finishes
# through tests/window/frame_counter.c's library, preloaded, so that a slow
# machine (an emulated one, a small board) makes a slower test, not a failing
# one. Sourced by the window and desktop tests.
#
#   frames_setup PROBE FILE     FRAMES_ENV becomes the environment that makes
#                               a program count into FILE, for
#                               env "${FRAMES_ENV[@]}" PROGRAM; it keeps
#                               ORVAN_PROGRAM_PRELOAD in LD_PRELOAD
#   frames_reset                before each start: forgets the last count
#   frames                      frames the program last started has finished
#                               (0 before its first)
#   wait_frames N PID [SECONDS] waits until it has finished N frames (60 s at
#                               most); status 1, with a message, if it has not
#                               or if PID ended first

FRAMES_FILE=""
FRAMES_ENV=()

frames_setup() {
    FRAMES_FILE=$2
    FRAMES_ENV=(ORVAN_FRAME_COUNT_FILE="$2" LD_PRELOAD="$1${ORVAN_PROGRAM_PRELOAD:+:$ORVAN_PROGRAM_PRELOAD}")
}

frames_reset() { rm -f "$FRAMES_FILE"; }

frames() {
    local n
    n=$(od -An -t u8 "$FRAMES_FILE" 2>/dev/null | tr -d ' \n')
    echo "${n:-0}"
}

wait_frames() {
    local want=$1 pid=$2 limit=${3:-60} started=$SECONDS
    while [ "$(frames)" -lt "$want" ]; do
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "the program ended after $(frames) frames, before frame $want" >&2
            return 1
        fi
        if [ $((SECONDS - started)) -ge "$limit" ]; then
            echo "$(frames) frames in $limit s, not $want" >&2
            return 1
        fi
        sleep 0.05
    done
}
