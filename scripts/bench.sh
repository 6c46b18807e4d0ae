#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures the engine and the program (bench/bench.py, which says what and
# where the results go) and prints the tables of docs/performance.md; the
# page's prose is written by hand around them. Timings depend on what else
# the machine is doing: run it on a quiet machine.
#
# usage: scripts/bench.sh [backends|web]   (section 4 or 5 alone)
#
# Environment:
#   ORVAN_BENCH_REPETITIONS  repetitions of each micro-benchmark (default 15)
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
case ${1:-} in
    "" | backends | web) ;;
    *) echo "usage: scripts/bench.sh [backends|web]" >&2; exit 2 ;;
esac
orvan_setup --tests
orvan_build default -DORVAN_BUILD_BENCHMARKS=ON
case ${1:-} in "" | web) orvan_build web orvan-demo-window ;; esac
# Debian's python3 (its packages: python3-psutil, python3-xlib, python3-pil),
# not another one earlier on PATH.
ORVAN_BUILD_DIR=$REPO/build/default exec /usr/bin/python3 bench/bench.py "$@"
