#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up and runs every test, in every build that CI checks:
#   default    GCC, -O2: engine, recording-raylib and real-window tests, and
#              the real desktops
#   clang-v3   Clang, -O2 -march=x86-64-v3 (FMA available): the same, without
#              the desktops (x86-64 only)
#   gcc-O0-v3  GCC, -O0 -march=x86-64-v3: engine tests (x86-64 only)
#   clang-O0   Clang, -O0: engine tests
#   aarch64    GCC cross build for 64-bit ARM, -O2: engine tests under qemu
#              (x86-64 only: on arm64 the default build is that machine)
#   web        WebAssembly (emscripten), -O2: engine tests under Node.js, and
#              the page in Chromium and Firefox (tests/system/test_browser.py)
#   asan       Clang with AddressSanitizer and UndefinedBehaviorSanitizer: every
#              test, and the engine fuzzer's seed corpus
# and then the other checks:
#   lint       format and clang-tidy (scripts/lint.sh)
#   package    the Debian packages (scripts/check-package.sh)
#   memcheck   valgrind memcheck (scripts/memcheck.sh)
#   fuzz       the engine fuzzer for 60 s (scripts/fuzz.sh)
#   soak       a 60-second soak of the real window (scripts/soak.sh, warm-up 20 s)
#   fresh      the whole of this script on new minimal Debian systems
#              (scripts/fresh-machine.sh): Debian 12 as a user with sudo whose
#              language is German (LANG=de_DE.UTF-8, decimal commas), and
#              Debian 13 as root with no LANG
#
# usage: scripts/test.sh [--lean] [NAME...]
#   With no NAME, the presets this machine's architecture has (on arm64:
#   default, clang-O0, web, asan) and every check; otherwise those named, in
#   the order given. --lean (or ORVAN_LEAN=1) leaves out the tests on real
#   desktops and in browsers, and their packages (scripts/packages/
#   desktops.list), and the build for the browser where web is not named:
#   for a slow or small machine.
#
# Warnings are errors (ORVAN_WERROR). A preset that fails to configure or build
# counts as a failure and the rest still run; the last line is always the
# summary.
#
# Environment: ORVAN_FRESH_MACHINES, the fresh-machine checks as
# SUITE:MODE[:LOCALE] words (default "bookworm:user:de_DE.UTF-8 trixie:root";
# empty for none). Inside a fresh machine the checks do not start another one.
set -uo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"

passed=0
failed=0
summary() {
    echo "tests: $passed passed, $failed failed"
    test "$failed" -eq 0
}

export ORVAN_LEAN=${ORVAN_LEAN:-0}
if [ "${1:-}" = --lean ]; then
    ORVAN_LEAN=1
    shift
fi
x86_only=" clang-v3 gcc-O0-v3 aarch64 "
presets=(default clang-v3 gcc-O0-v3 clang-O0 aarch64 web asan)
arch=$(dpkg --print-architecture)
if [ "$arch" != amd64 ]; then
    presets=(default clang-O0 web asan)
fi
checks=(lint package memcheck fuzz soak fresh)
names=("$@")
[ $# -gt 0 ] || names=("${presets[@]}" "${checks[@]}")
for name in "${names[@]}"; do
    case " ${presets[*]} $x86_only ${checks[*]} " in
        *" $name "*) ;;
        *) echo "usage: scripts/test.sh [--lean] [NAME...]: no preset or check named '$name'"; failed=1; summary; exit ;;
    esac
done

setup=(--tests)
[[ " ${names[*]} " != *" web "* ]] || setup+=(--web)
if ! scripts/setup-deps.sh "${setup[@]}"; then
    echo "test: the set-up failed (see its message above)"
    failed=1
    summary
    exit
fi
lean_options=()
if [ "$ORVAN_LEAN" = 1 ]; then
    lean_options=(-DORVAN_DESKTOP_TESTS=OFF -DORVAN_BROWSER_TESTS=OFF)
    echo "== lean: the tests on real desktops and in browsers are left out"
fi

# run_preset PRESET: configures, builds and runs ctest; adds to the counts.
run_preset() {
    local preset=$1 log p f status
    log=$(mktemp)
    if [[ $x86_only == *" $preset "* && $arch != amd64 ]]; then
        echo "FAIL $preset: builds for x86-64 only, and this machine is $arch"
        failed=$((failed + 1))
        rm -f "$log"
        return
    fi
    # The browser test on, even where scripts/web.sh configured the folder
    # without it (it is needed only by the web preset, and unused elsewhere).
    if ! cmake --preset "$preset" -DORVAN_WERROR=ON -DORVAN_BROWSER_TESTS=ON "${lean_options[@]}" >"$log" 2>&1; then
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

# check_commands NAME: the commands of a check, one a line (fresh: one a machine)
check_commands() {
    case $1 in
        lint) echo scripts/lint.sh ;;
        package) echo scripts/check-package.sh ;;
        memcheck) echo scripts/memcheck.sh ;;
        fuzz) echo "scripts/fuzz.sh 60" ;;
        soak) echo "scripts/soak.sh 60 20" ;;
        fresh)
            if [ -e /etc/orvan-fresh-machine ]; then
                echo "== a fresh machine made by scripts/fresh-machine.sh: it starts no other" >&2
                return
            fi
            for machine in ${ORVAN_FRESH_MACHINES-bookworm:user:de_DE.UTF-8 trixie:root}; do
                echo "scripts/fresh-machine.sh ${machine//:/ }"
            done
            ;;
    esac
}

for name in "${names[@]}"; do
    if [[ " ${checks[*]} " != *" $name "* ]]; then
        echo "== $name"
        started=$SECONDS
        run_preset "$name"
        echo "   $name: $((SECONDS - started)) s"
        continue
    fi
    mapfile -t commands < <(check_commands "$name")
    for check in "${commands[@]}"; do
        echo "== $check"
        started=$SECONDS
        if $check; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
        echo "   $check: $((SECONDS - started)) s"
    done
done
summary
