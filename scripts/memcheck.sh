#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# valgrind memcheck on the default build: the engine tests, and the program against the recording raylib (a run of
# 120 frames, and the window-not-ready path). Fails on any memcheck error or any definitely lost byte.
#
# usage: scripts/memcheck.sh
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1

orvan_setup --tests
orvan_build default
build=$PWD/build/default
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=0
# memcheck NAME EXPECTED_STATUS COMMAND...: runs COMMAND under memcheck, with run_env's variables in its environment.
run_env=()
memcheck() {
    local name=$1 expected=$2 status=0
    shift 2
    env "${run_env[@]}" valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
        --errors-for-leak-kinds=definite --track-origins=yes --log-file="$work/$name.valgrind" \
        "$@" >"$work/$name.out" 2>&1 || status=$?
    local errors lost
    errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9,]*\) errors.*/\1/p' "$work/$name.valgrind" | tail -n 1)
    lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$work/$name.valgrind" | tail -n 1)
    if [ "$status" = "$expected" ] && [ "$errors" = 0 ] && [ "${lost:-0}" = 0 ]; then
        echo "ok   $name: ${errors} errors, ${lost:-0} bytes definitely lost, exit status $status"
    else
        echo "FAIL $name: ${errors:-?} errors, ${lost:-?} bytes definitely lost, exit status $status (expected $expected)"
        cat "$work/$name.valgrind"
        tail -n 20 "$work/$name.out"
        failed=1
    fi
}

memcheck orvan_kernel_test 0 "$build/tests/orvan_kernel_test"
memcheck orvan_raylib_test 0 "$build/tests/orvan_raylib_test"
run_env=(LD_LIBRARY_PATH="$build/tests/recording_raylib" RECORDING_RAYLIB_LOG="$work/calls.log" RECORDING_RAYLIB_FRAMES=120)
memcheck program-120-frames 0 "$build/orvan-demo-window"
grep -qx CloseWindow "$work/calls.log" || { echo "FAIL program-120-frames: the recording raylib was not used"; failed=1; }
run_env+=(RECORDING_RAYLIB_NOT_READY=1)
memcheck program-window-not-ready 1 "$build/orvan-demo-window"
grep -qx IsWindowReady "$work/calls.log" || { echo "FAIL program-window-not-ready: the recording raylib was not used"; failed=1; }
test "$failed" -eq 0
