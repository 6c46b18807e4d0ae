#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The program in a browser: sets up what the web build needs
# (scripts/setup-deps.sh --web: emscripten, and raylib for the web in
# .deps/web), builds the web preset's program into build/web, and serves that
# folder on 127.0.0.1 until Ctrl-C.
#
# usage: scripts/web.sh [--port N]     serve on 127.0.0.1:N (default 8080)
#        scripts/web.sh --dist DIR     instead, write DIR: index.html and
#                                      orvan-demo-window.html, .js, .wasm, .svg, for
#                                      any static web host (nothing else is
#                                      fetched by the page)
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1

usage() { echo "usage: scripts/web.sh [--port N] | --dist DIR" >&2; exit 2; }
port=8080 dist=""
while [ $# -gt 0 ]; do
    case $1 in
        --port) [ $# -ge 2 ] || usage; port=$2; shift 2 ;;
        --dist) [ $# -ge 2 ] || usage; dist=$2; shift 2 ;;
        *) usage ;;
    esac
done
[[ $port =~ ^[0-9]+$ ]] || usage

scripts/setup-deps.sh --web
# The browser tests need Chromium and Firefox (setup-deps.sh --tests); building does not.
browser_tests=OFF
if command -v chromium >/dev/null && command -v firefox-esr >/dev/null; then browser_tests=ON; fi
orvan_build web -DORVAN_BROWSER_TESTS=$browser_tests orvan-demo-window

files=(build/web/orvan-demo-window.{html,js,wasm,svg})
if [ -n "$dist" ]; then
    mkdir -p "$dist"
    cp "${files[@]}" "$dist/"
    cp build/web/orvan-demo-window.html "$dist/index.html"
    echo "web: $dist holds the page (index.html), $(du -ch "${files[@]}" | tail -n 1 | cut -f1) in all"
    exit 0
fi

echo "web: http://127.0.0.1:$port/orvan-demo-window.html   (Ctrl-C stops the server)"
exec python3 -m http.server --bind 127.0.0.1 --directory build/web "$port"
