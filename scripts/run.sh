#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up, builds, and opens the window. Close it with Esc or the
# window's close button.
set -euo pipefail
export LC_ALL=C.UTF-8  # numbers with a decimal point, in every locale (awk, printf, sort)
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
exec build/default/orvan-demo-window
