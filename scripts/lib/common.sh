# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The opening the scripts share, sourced first thing by each of them (which then
# `cd "$REPO"` where they use relative paths). It sets LC_ALL=C.UTF-8 (numbers
# read and written with a decimal point in every locale: awk, printf, sort;
# messages are English anyway), REPO (the repository's absolute path) and
# CMAKE_BUILD_PARALLEL_LEVEL (the parallel jobs of every `cmake --build`: the
# machine's processor count, or ORVAN_JOBS=N).
#
#   orvan_setup [--web|--tests]   scripts/setup-deps.sh, its messages hidden
#                                 unless it fails
#   orvan_build PRESET [-DVAR=VALUE...] [TARGET...]
#       configures PRESET with those options and builds the targets (all
#       without), quietly, from any working directory; a failure shows the end
#       of the build's output. With ORVAN_LEAN=1 (scripts/test.sh --lean) the
#       presets leave out the desktop and browser tests, whose packages are not
#       installed then

export LC_ALL=C.UTF-8
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)
export CMAKE_BUILD_PARALLEL_LEVEL=${ORVAN_JOBS:-${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}}

orvan_setup() {
    local log status=0
    log=$(mktemp)
    "$REPO/scripts/setup-deps.sh" "$@" >"$log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || cat "$log" >&2
    rm -f "$log"
    return "$status"
}

orvan_build() {
    local preset=$1 arg log options=() targets=() status=0
    shift
    for arg in "$@"; do
        case $arg in -D*) options+=("$arg") ;; *) targets+=(--target "$arg") ;; esac
    done
    log=$(mktemp)
    (cd "$REPO" && cmake --preset "$preset" "${options[@]}" && cmake --build --preset "$preset" "${targets[@]}") \
        >"$log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || { tail -n 40 "$log"; echo "build of preset $preset failed"; } >&2
    rm -f "$log"
    return "$status"
}
