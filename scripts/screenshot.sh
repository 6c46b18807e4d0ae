#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the README's screenshot: runs the program under Xvfb for about two
# seconds and writes its window to docs/screenshot.png.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
orvan_setup --tests
orvan_build default orvan-demo-window send_close_request
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
