#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds what bench/ measures and runs it with Debian's python3 (python3-psutil,
# python3-xlib, python3-pil), not another one earlier on PATH:
#   scripts/bench.sh [backends|web|opengl LIBDIR]     docs/performance.md's measurements, all or
#                                                     one section; prints the tables (bench/bench.py)
#   scripts/bench.sh soak [SECONDS [WARMUP_SECONDS]]  docs/testing.md's soak (bench/soak.py; default
#                                                     1800 and 60), which passes or fails
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
case ${1:-} in
    "" | backends | web | opengl | soak) ;;
    *) echo "usage: scripts/bench.sh [backends|web|opengl LIBDIR] | soak [SECONDS [WARMUP_SECONDS]]" >&2; exit 2 ;;
esac
orvan_setup --tests
if [ "${1:-}" = soak ]; then
    orvan_build default orvan-demo-window frame_counter
    exec /usr/bin/python3 bench/soak.py "${@:2}"
fi
orvan_build default -DORVAN_BUILD_BENCHMARKS=ON
case ${1:-} in "" | web) orvan_build web orvan-demo-window ;; esac
exec /usr/bin/python3 bench/bench.py "$@"
