#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Frame pacing of the program in the browser and on the desktop, one after
# the other in the same run, both drawn by Mesa's llvmpipe: the desktop window
# under Xvfb with bench/pacing_probe preloaded, and the web build in headless
# Chromium (tests/web/browser.mjs, ANGLE on EGL). A measurement, not a test:
# it prints the figures and the machine's load before and after.
#
# usage: scripts/web-pacing.sh [INTERVALS]   (default 300 frame intervals each)
#
# Needs the default and web builds (scripts/test.sh default web makes both).
# ORVAN_WEB_PACING_OUT=DIR also keeps the records there: desktop.txt (the
# pacing probe's) and browser.json (tests/web/browser.mjs's report), with
# sizes.txt, the page's files in bytes, and gzipped (scripts/bench.sh uses
# them for section 5 of docs/performance.md).
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
repo=$REPO
intervals=${1:-300}
[[ $intervals =~ ^[0-9]+$ ]] || { echo "usage: scripts/web-pacing.sh [INTERVALS]" >&2; exit 2; }
for file in build/default/orvan-demo-window build/default/bench/libpacing_probe.so build/web/orvan-demo-window.wasm; do
    [ -e "$file" ] || { echo "web-pacing: $file missing: run scripts/test.sh default web first" >&2; exit 1; }
done
source tests/lib/xvfb.sh
work=$(mktemp -d)
server=""
trap 'xvfb_stop; [ -z "$server" ] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
percentiles() {  # interval values in ms on stdin
    sort -n | awk '{ a[NR] = $1 } END {
        printf "n %d, p50 %.1f, p90 %.1f, p99 %.1f, max %.1f ms\n", NR, a[int(NR * 0.5) + 1], a[int(NR * 0.9) + 1],
               a[int(NR * 0.99) + 1], a[NR] }'
}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

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
echo "desktop (Xvfb): first frame ${first} ms after start; intervals $(grep -v '^#' "$work/desktop.txt" | awk 'NR > 1 { print $3 }' | percentiles)"

python3 -u -m http.server --bind 127.0.0.1 --directory build/web 0 >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do
    port=$(sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\).*/\1/p' "$work/server.log")
    [ -n "$port" ] && break
    sleep 0.1
done
mkdir "$work/profile" "$work/shots"
ORVAN_BROWSER_INTERVALS=$intervals node tests/web/browser.mjs chromium "$work/profile" "$work/shots" \
    "http://127.0.0.1:$port/orvan-demo-window.html" >"$work/browser.json" 2>"$work/browser.err" ||
    { tail -n 5 "$work/browser.err" >&2; exit 1; }
node -e 'const r = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8")); const i = r.intervalsMs;
    console.log(`browser (headless Chromium): first frame ${r.firstFrameMs} ms after navigation; intervals n ${i.n}, p50 ${i.p50}, p90 ${i.p90}, p99 ${i.p99}, max ${i.max} ms`)' "$work/browser.json"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${ORVAN_WEB_PACING_OUT:-}" ]; then
    mkdir -p "$ORVAN_WEB_PACING_OUT"
    cp "$work/desktop.txt" "$work/browser.json" "$ORVAN_WEB_PACING_OUT/"
    {
        gzipped=0
        for ext in html js wasm; do
            echo "$ext $(stat -c %s "build/web/orvan-demo-window.$ext")"
            gzipped=$((gzipped + $(gzip -9 -c "build/web/orvan-demo-window.$ext" | wc -c)))
        done
        echo "gzip $gzipped"
    } >"$ORVAN_WEB_PACING_OUT/sizes.txt"
fi
