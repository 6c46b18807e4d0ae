# SPDX-License-Identifier: MIT
# The opening the scripts share, sourced first thing by each of them:
#
#   source "$(dirname "$0")/lib/common.sh"
#
# - LC_ALL=C.UTF-8: numbers are read and written with a decimal point in every
#   locale (awk, printf, sort), and messages are English anyway;
# - the working directory is the repository's root, REPO its absolute path;
# - JOBS, the number of parallel build jobs everywhere: the machine's processor
#   count (ORVAN_JOBS=N chooses another).
#
#   orvan_setup [--web|--tests]   scripts/setup-deps.sh, its messages hidden
#                                 unless it fails
#   orvan_build PRESET [-DVAR=VALUE...] [TARGET...]
#                                 configures PRESET with those options and
#                                 builds the targets (all without), quietly;
#                                 a failure shows the end of the build's output.
#                                 With ORVAN_LEAN=1 (scripts/test.sh --lean)
#                                 without the desktop and browser tests, whose
#                                 packages are not installed then

export LC_ALL=C.UTF-8
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)
cd "$REPO" || exit 1
JOBS=${ORVAN_JOBS:-$(nproc 2>/dev/null || echo 2)}

orvan_setup() {
    local log
    log=$(mktemp)
    if ! "$REPO/scripts/setup-deps.sh" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

orvan_build() {
    local preset=$1 arg log options=() targets=()
    shift
    [ "${ORVAN_LEAN:-0}" != 1 ] || options=(-DORVAN_DESKTOP_TESTS=OFF -DORVAN_BROWSER_TESTS=OFF)
    for arg in "$@"; do
        case $arg in
            -D*) options+=("$arg") ;;
            *) targets+=(--target "$arg") ;;
        esac
    done
    log=$(mktemp)
    if ! { cmake --preset "$preset" "${options[@]}" && cmake --build --preset "$preset" -j "$JOBS" "${targets[@]}"; } \
        >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "build of preset $preset failed" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}
