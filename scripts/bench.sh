#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures the engine and the program and writes docs/performance.md with the
# plot docs/frame-intervals.png:
#   1. engine micro-benchmarks (Google Benchmark, medians over repetitions)
#   2. the program's own instructions per frame (callgrind against the quiet
#      recording raylib, two frame counts subtracted) and its heap allocations
#      between frames 10 and 610
#   3. frame pacing of the real window under Xvfb with Mesa, over 600 intervals,
#      and once more with the program's heap setting swallowed (glibc's default
#      trimming), as a diagnostic
#   4. X11 and Wayland side by side: the same program under Xvfb and under
#      weston's headless backend (pixman renderer: a copy on the CPU, as Xvfb
#      makes), in turns, 3 runs of 300 intervals each; frame rate, and CPU per
#      frame of the program and of the display server
#   5. the browser beside the desktop: scripts/web-pacing.sh 300 (the desktop
#      window under Xvfb, the web build's page in headless Chromium and in
#      Firefox on Xvfb)
# Takes about three minutes. Timings depend on what else the machine is doing:
# run it on a quiet machine.
#
# `scripts/bench.sh backends` runs section 4 only and prints its table, leaving
# docs/performance.md as it is. `scripts/bench.sh web` runs section 5 only and
# rewrites that section of docs/performance.md, the rest as it is.
#
# Environment:
#   ORVAN_BENCH_REPETITIONS  repetitions of each micro-benchmark (default 15)
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
root=$REPO

orvan_setup --tests
orvan_build default -DORVAN_BUILD_BENCHMARKS=ON

build=$root/build/default
exe=$build/orvan-demo-window
results=$build/bench/results
only_backends=0
only_web=0
case ${1:-} in
    backends) only_backends=1; results=$build/bench/results-backends ;;
    web) only_web=1; results=$build/bench/results-web ;;
    "") ;;
    *) echo "usage: scripts/bench.sh [backends|web]" >&2; exit 2 ;;
esac
rm -rf "$results"
mkdir -p "$results" docs
say() { printf 'bench: %s\n' "$*"; }

load() { cut -d' ' -f1-3 /proc/loadavg; }
{
    echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpu: $(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1)"
    echo "cores: $(nproc)"
    echo "kernel: $(uname -sr)"
    echo "os: $(. /etc/os-release && echo "$PRETTY_NAME")"
    echo "compiler: $(g++ --version | head -n 1), preset default (-O2)"
    echo "glibc: $(ldd --version | head -n 1 | awk '{print $NF}')"
    echo "mesa: $(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null || echo unknown) (llvmpipe)"
    # the library's file, as a path in the repository (.deps may be a link elsewhere)
    lib=.deps/prefix/lib/libraylib.so.600
    echo "raylib: 6.0 ($([ -e "$lib" ] && echo "${lib%/*}/$(basename "$(readlink -f "$lib")")" || echo system))"
    echo "xvfb: $(dpkg-query -W -f='${Version}' xvfb 2>/dev/null || echo unknown)"
    echo "load before: $(load)"
} >"$results/machine.txt"

source tests/lib/xvfb.sh
source tests/lib/weston.sh
work=$(mktemp -d)
trap 'xvfb_stop; weston_stop; rm -rf "$work"' EXIT

# pace NAME [ENV=VALUE...]: one run of ORVAN_PACING_FRAMES (default 601)
# frames, recorded in $results/NAME.txt
pace() {
    local name=$1
    shift
    (
        cd "$work"
        export ORVAN_PACING_OUT=$results/$name.txt ORVAN_PACING_FRAMES=${ORVAN_PACING_FRAMES:-601} "$@"
        ORVAN_PACING_START_NS=$(date +%s%N)
        export ORVAN_PACING_START_NS
        LD_PRELOAD=$build/bench/libpacing_probe.so exec "$exe" >"$results/$name.log" 2>&1
    ) &
    local pid=$!
    wait_exit "$pid" 90
    [ "$EXIT_STATUS" = 0 ] || { echo "bench: the program ($name) ended with $EXIT_STATUS" >&2; exit 1; }
}

# ---- 4. X11 and Wayland side by side ------------------------------------------
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }  # user + system, in clock ticks
# pace_server NAME SERVER_PID [ENV=VALUE...]: pace, plus the display server's
# CPU time per frame over the whole run (start-up and shutdown included)
pace_server() {
    local name=$1 server=$2 before after
    shift 2
    before=$(cpu_ticks "$server")
    ORVAN_PACING_FRAMES=301 pace "$name" "$@"
    after=$(cpu_ticks "$server")
    awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" \
        '/^# frames/ {printf "# server_cpu_seconds_per_frame %.6f\n", t / hz / $3}' \
        "$results/$name.txt" >>"$results/$name.txt"
}
backends() {
    say "X11 and Wayland side by side, 3 runs of 300 intervals each, in turns"
    xvfb_start
    mkdir -m 700 "$work/runtime"
    XDG_RUNTIME_DIR=$work/runtime weston_start orvan-bench "$results/weston.log" \
        --backend=headless-backend.so --use-pixman --width=1600 --height=900
    local round
    for round in 1 2 3; do
        pace_server "x11-$round" "$XVFB_PID"
        # A session bus that is not there: else libdecor's plugin, reading the
        # desktop's settings, has libdbus start one for the X display, whose
        # processes inherit the probe and overwrite the record when they end.
        pace_server "wayland-$round" "$WESTON_PID" XDG_RUNTIME_DIR="$work/runtime" \
            WAYLAND_DISPLAY=orvan-bench XDG_SESSION_TYPE=wayland DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
        grep -q "GLFW - Wayland" "$results/wayland-$round.log" ||
            { echo "bench: the Wayland run did not use Wayland" >&2; exit 1; }
    done
    weston_stop
    echo "weston: $(dpkg-query -W -f='${Version}' weston 2>/dev/null || echo unknown)" >>"$results/machine.txt"
    xvfb_stop
}
# ---- 5. the browser beside the desktop ----------------------------------------
web() {
    say "the desktop and the browsers, 300 intervals each"
    orvan_build web orvan-demo-window
    ORVAN_WEB_PACING_OUT=$results/web scripts/web-pacing.sh 300 >"$results/web-pacing.txt"
    grep -E '^(chromium|firefox|emscripten):' "$results/web/machine.txt" >>"$results/machine.txt"
}
if [ "$only_web" = 1 ]; then
    web
    python3 bench/report.py --web "$results" docs/performance.md
    say "rewrote section 5 of docs/performance.md"
    cat "$results/web-pacing.txt"
    exit 0
fi
if [ "$only_backends" = 1 ]; then
    backends
    echo "load after: $(load)" >>"$results/machine.txt"
    python3 bench/report.py --backends "$results"
    exit 0
fi

# ---- 1. engine micro-benchmarks ----------------------------------------------
say "engine micro-benchmarks"
"$build/bench/engine_bench" --benchmark_repetitions="${ORVAN_BENCH_REPETITIONS:-15}" \
    --benchmark_report_aggregates_only=true --benchmark_out_format=json \
    --benchmark_out="$results/engine.json" >"$results/engine.txt" 2>&1 ||
    { cat "$results/engine.txt" >&2; exit 1; }

# ---- 2. instructions and allocations per frame --------------------------------
recording=$build/tests/recording_raylib
low=10
high=610
echo "$low $high" >"$results/frames.txt"
for frames in $low $high; do
    say "callgrind, $frames frames"
    env -u RECORDING_RAYLIB_LOG LD_LIBRARY_PATH="$recording" RECORDING_RAYLIB_FRAMES=$frames \
        valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.$frames" "$exe" \
        >"$results/callgrind.$frames.log" 2>&1
done

say "heap allocations, frames $low to $high"
env -u RECORDING_RAYLIB_LOG LD_LIBRARY_PATH="$recording" RECORDING_RAYLIB_FRAMES=$high \
    LD_PRELOAD="$build/bench/liballoc_probe.so" ORVAN_ALLOC_OUT="$results/allocs.txt" \
    ORVAN_ALLOC_FROM_FRAME=$low ORVAN_ALLOC_TO_FRAME=$high "$exe"

# ---- 3. frame pacing of the real window ---------------------------------------
say "frame pacing under Xvfb, 600 intervals"
xvfb_start
pace pacing
# Diagnostic: the same with glibc trimming the heap as by default (see the report).
say "frame pacing again, heap trimmed"
pace pacing-trimmed ORVAN_PACING_IGNORE_MALLOPT=1
xvfb_stop

backends

web

echo "load after: $(load)" >>"$results/machine.txt"

# ---- report -------------------------------------------------------------------
python3 bench/report.py "$results" docs/performance.md
gnuplot -e "data='$results/intervals.dat'; out='docs/frame-intervals.png'" bench/frame-intervals.gp
say "wrote docs/performance.md and docs/frame-intervals.png"
sed -n '/^## Summary/,/^## Machine/p' docs/performance.md | sed '$d'
