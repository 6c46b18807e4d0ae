#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Frame pacing of the program on the desktop and in two browsers, one after
# the other in the same run, all drawn by Mesa's llvmpipe: the desktop window
# under Xvfb with bench/pacing_probe preloaded, then the web build's page in
# headless Chromium (ANGLE on EGL) and in Firefox in a window on Xvfb, both
# driven by bench/browser_pacing.py. Every percentile is bench/stats.py's
# (nearest rank). A measurement, not a test: it prints the figures and the
# machine's load before and after.
#
# usage: scripts/web-pacing.sh [INTERVALS]   (default 300 frame intervals each)
#
# Needs the default and web builds (scripts/test.sh default web makes both).
# ORVAN_WEB_PACING_OUT=DIR also keeps the records there: desktop.txt (the
# pacing probe's), chromium.json and firefox.json (bench/browser_pacing.py's
# reports, with the raw intervals), sizes.txt (the page's files in bytes, and
# gzipped) and machine.txt (browsers, date, load); scripts/bench.sh uses them
# for section 5 of docs/performance.md.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
repo=$REPO
intervals=${1:-300}
[[ $intervals =~ ^[0-9]+$ ]] || { echo "usage: scripts/web-pacing.sh [INTERVALS]" >&2; exit 2; }
for file in build/default/orvan-demo-window build/default/bench/libpacing_probe.so build/web/orvan-demo-window.wasm; do
    [ -e "$file" ] || { echo "web-pacing: $file missing: run scripts/test.sh default web first" >&2; exit 1; }
done
source tests/lib/xvfb.sh
source tests/lib/serve.sh
work=$(mktemp -d)
trap 'xvfb_stop; serve_stop; rm -rf "$work"' EXIT
load() { cut -d' ' -f1-3 /proc/loadavg; }
version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo unknown; }
{
    echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "chromium: $(version chromium) (headless, --use-angle=gl-egl)"
    echo "firefox: $(version firefox-esr) (a window on Xvfb)"
    echo "emscripten: $(version emscripten)"
    echo "load before: $(load)"
} >"$work/machine.txt"
echo "load before: $(load)"

xvfb_start
(
    cd "$work"
    export ORVAN_PACING_OUT=$work/desktop.txt ORVAN_PACING_FRAMES=$((intervals + 1))
    ORVAN_PACING_START_NS=$(date +%s%N)
    export ORVAN_PACING_START_NS
    LD_PRELOAD=$repo/build/default/bench/libpacing_probe.so exec "$repo/build/default/orvan-demo-window" >/dev/null 2>&1
) &
wait_exit $! $((60 + intervals))
[ "$EXIT_STATUS" = 0 ] || { echo "web-pacing: the desktop program ended with $EXIT_STATUS" >&2; exit 1; }
xvfb_stop
first=$(awk '/^# start_to_first_frame_ms/ { print $3 }' "$work/desktop.txt")
echo "desktop (Xvfb): first frame ${first} ms after start; intervals" \
     "$(grep -v '^#' "$work/desktop.txt" | awk 'NR > 1 { print $3 }' | python3 bench/stats.py)"

serve_start build/web "$work/server.log" || { echo "web-pacing: the web server did not start" >&2; exit 1; }
# browser ENGINE BINARY LABEL: the page in that browser, its report in $work/ENGINE.json
browser() {
    python3 bench/browser_pacing.py "$1" "$2" "http://127.0.0.1:$SERVE_PORT/orvan-demo-window.html" "$intervals" \
        >"$work/$1.json" 2>"$work/$1.err" || { tail -n 5 "$work/$1.err" >&2; exit 1; }
    echo "$3: first frame $(node -p 'JSON.parse(require("fs").readFileSync(process.argv[1])).firstFrameMs' "$work/$1.json")" \
         "ms after navigation; intervals" \
         "$(node -e 'for (const v of JSON.parse(require("fs").readFileSync(process.argv[1])).intervals) console.log(v)' \
             "$work/$1.json" | python3 bench/stats.py)"
}
browser chromium chromium "chromium (headless)"
xvfb_start
browser firefox firefox-esr "firefox (Xvfb)"
xvfb_stop
echo "load after: $(load)"
echo "load after: $(load)" >>"$work/machine.txt"
if [ -n "${ORVAN_WEB_PACING_OUT:-}" ]; then
    mkdir -p "$ORVAN_WEB_PACING_OUT"
    cp "$work/desktop.txt" "$work/chromium.json" "$work/firefox.json" "$work/machine.txt" "$ORVAN_WEB_PACING_OUT/"
    {
        gzipped=0
        for ext in html js wasm svg; do
            echo "$ext $(stat -c %s "build/web/orvan-demo-window.$ext")"
            gzipped=$((gzipped + $(gzip -9 -c "build/web/orvan-demo-window.$ext" | wc -c)))
        done
        echo "gzip $gzipped"
    } >"$ORVAN_WEB_PACING_OUT/sizes.txt"
fi
