#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The frame loop allocates nothing: the program, run for 610 frames against the recording raylib (which, recording
# nothing, allocates nothing), makes no heap allocation between the end of frame 10 and the end of frame 610. The
# probe must also have seen the allocations of start-up, or it counted nothing.
#
# usage: frame_allocs_test.sh PROGRAM ALLOC_PROBE RECORDING_RAYLIB_DIR
set -euo pipefail
out=$(env -u RECORDING_RAYLIB_LOG LD_LIBRARY_PATH="$3" RECORDING_RAYLIB_FRAMES=610 LD_PRELOAD="$2" \
    ORVAN_ALLOC_OUT=/dev/stdout ORVAN_ALLOC_FROM_FRAME=10 ORVAN_ALLOC_TO_FRAME=610 "$1")
echo "$out"
grep -qx 'window_complete 1' <<<"$out" || { echo "FAIL the run did not reach frame 610"; status=1; }
grep -qx 'allocations_total [1-9][0-9]*' <<<"$out" || { echo "FAIL the probe counted no allocation at all"; status=1; }
grep -qx 'allocations_window 0' <<<"$out" || { echo "FAIL allocations between frames 10 and 610"; status=1; }
exit "${status:-0}"
