#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Soak: the real window under Xvfb for a given time, its memory and frames
# sampled, then Esc; bench/soak.py says what it measures and when it fails.
#
# usage: scripts/soak.sh [SECONDS [WARMUP_SECONDS]]   (default 1800 and 60)
#
# ORVAN_SOAK_LOG=FILE also writes the samples there.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
orvan_setup --tests
orvan_build default orvan-demo-window frame_counter
# Debian's python3 (its packages: python3-psutil, python3-xlib, python3-pil),
# not another one earlier on PATH.
ORVAN_BUILD_DIR=$REPO/build/default exec /usr/bin/python3 bench/soak.py "$@"
