#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the README's screenshot: runs the program under Xvfb for about two
# seconds and writes its window to docs/screenshot.png.
set -euo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
cd "$(dirname "$0")/.."
scripts/setup-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target orvan-demo-window send_close_request >/dev/null
source tests/lib/xvfb.sh

out=$PWD/docs/screenshot.png
mkdir -p docs
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
xvfb_start
(cd "$work" && exec "$OLDPWD/build/default/orvan-demo-window" >/dev/null) &
pid=$!
wid=$(xvfb_wait_window "$pid")
sleep 3
xvfb_shot "$wid" "$out"
build/default/tests/send_close_request "$wid" esc
wait_exit "$pid" 5
status=$EXIT_STATUS
[ "$status" = 0 ] || { echo "screenshot: the program ended with $status" >&2; exit 1; }
echo "screenshot: $out"
