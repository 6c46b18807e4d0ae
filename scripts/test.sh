#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up and runs every test, in every build that CI checks:
#   default    GCC, -O2: engine, recording-raylib and real-window tests
#   clang-v3   Clang, -O2 -march=x86-64-v3 (FMA available): the same
#   gcc-O0-v3  GCC, -O0 -march=x86-64-v3: engine tests
#   clang-O0   Clang, -O0: engine tests
#   aarch64    GCC cross build for 64-bit ARM, -O2: engine tests under qemu
#   web        WebAssembly (emscripten), -O2: engine tests under Node.js, and
#              the page in headless Chromium (tests/web)
#   asan       Clang with AddressSanitizer and UndefinedBehaviorSanitizer: every
#              test, and the engine fuzzer's seed corpus
# and then, when no presets are named, the other checks: format and clang-tidy
# (scripts/lint.sh), the Debian packages (scripts/check-package.sh), valgrind
# memcheck (scripts/memcheck.sh), the engine fuzzer for 60 s (scripts/fuzz.sh),
# a 60-second soak of the real window (scripts/soak.sh, warm-up 20 s), and the
# whole of this script on new minimal Debian systems (scripts/fresh-machine.sh):
# Debian 12 as a user with sudo whose language is German (LANG=de_DE.UTF-8,
# decimal commas), and Debian 13 as root with no LANG.
#
# Warnings are errors (ORVAN_WERROR). Pass preset names to run only those
# presets' tests. A preset that fails to configure or build counts as a failure
# and the rest still run; the last line is always the summary.
#
# Environment: ORVAN_FRESH_MACHINES, the fresh-machine checks as
# SUITE:MODE[:LOCALE] words (default "bookworm:user:de_DE.UTF-8 trixie:root";
# empty for none). Inside a fresh
# machine the checks do not start another one.
set -uo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"

passed=0
failed=0
summary() {
    echo "tests: $passed passed, $failed failed"
    test "$failed" -eq 0
}

if ! scripts/setup-deps.sh --tests; then
    echo "test: the set-up failed (see its message above)"
    failed=1
    summary
    exit
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default clang-v3 gcc-O0-v3 clang-O0 aarch64 web asan)

# run_preset PRESET: configures, builds and runs ctest; adds to the counts.
run_preset() {
    local preset=$1 log p f status
    log=$(mktemp)
    # The browser test on, even where scripts/web.sh configured the folder
    # without it (it is needed only by the web preset, and unused elsewhere).
    if ! cmake --preset "$preset" -DORVAN_WERROR=ON -DORVAN_BROWSER_TESTS=ON >"$log" 2>&1; then
        tail -n 30 "$log"
        echo "FAIL $preset: configure"
        failed=$((failed + 1))
        rm -f "$log"
        return
    fi
    if ! cmake --build --preset "$preset" -j "$JOBS" >"$log" 2>&1; then
        grep -E -A5 'error|Error' "$log" | head -n 60
        echo "FAIL $preset: build"
        failed=$((failed + 1))
        rm -f "$log"
        return
    fi
    ctest --preset "$preset" 2>&1 | tee "$log" | grep -E "tests passed|Failed|\*\*\*|^FAIL |\[  FAILED  \]|^ +cycle [0-9]+:"
    status=${PIPESTATUS[0]}
    read -r p f < <(awk '/tests passed, .* tests failed out of/ {print $(NF) - $4, $4}' "$log") || true
    rm -f "$log"
    passed=$((passed + ${p:-0}))
    failed=$((failed + ${f:-0}))
    if [ "$status" -ne 0 ] && [ "${f:-0}" -eq 0 ]; then
        failed=$((failed + 1))
    fi
}

for preset in "${presets[@]}"; do
    echo "== $preset"
    started=$SECONDS
    run_preset "$preset"
    echo "   $preset: $((SECONDS - started)) s"
done

# With no presets named: the other checks.
if [ $# -eq 0 ]; then
    checks=(scripts/lint.sh scripts/check-package.sh scripts/memcheck.sh "scripts/fuzz.sh 60" "scripts/soak.sh 60 20")
    if [ -e /etc/orvan-fresh-machine ]; then
        echo "== a fresh machine made by scripts/fresh-machine.sh: it starts no other"
    else
        for machine in ${ORVAN_FRESH_MACHINES-bookworm:user:de_DE.UTF-8 trixie:root}; do
            checks+=("scripts/fresh-machine.sh ${machine//:/ }")
        done
    fi
    for check in "${checks[@]}"; do
        echo "== $check"
        started=$SECONDS
        if $check; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
        echo "   $check: $((SECONDS - started)) s"
    done
fi
summary
