#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up what the program needs (the Debian packages of
# scripts/packages/program.list and raylib 6.0), builds the program alone (the
# program preset, into build/program: no tests, no benchmarks), and opens the
# window. Close it with Esc or the window's close button.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
scripts/setup-deps.sh
echo "run: building the program (preset program)"
orvan_build program orvan-demo-window
exec build/program/orvan-demo-window
