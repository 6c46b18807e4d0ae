#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Frame pacing of the program on the desktop and in two browsers, in one run
# (bench/browser_pacing.py says what it measures and keeps).
#
# usage: scripts/web-pacing.sh [INTERVALS]   (default 300 frame intervals each)
#
# Needs the default and web builds (scripts/test.sh default web makes both).
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
# Debian's python3 (python3-psutil, python3-xlib, python3-pil), not another
# one earlier on PATH.
exec /usr/bin/python3 "$REPO/bench/browser_pacing.py" "$@"
