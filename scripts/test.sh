#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up, runs every test in every build CI checks, then the other
# checks (docs/testing.md). The builds are CMakePresets.json's workflow presets
# that have a test preset, those of this machine's architecture (ORVAN_ARCH,
# exported here, is what the presets' conditions read); the checks are lint,
# package, memcheck, fuzz, soak and fresh (scripts/fresh-machine.sh, once per
# word SUITE:MODE[:LOCALE] of ORVAN_FRESH_MACHINES, default
# "bookworm:user:de_DE.UTF-8 trixie:root"; empty for none).
#
# usage: scripts/test.sh [--lean] [NAME...]
#   No NAME: every build of this machine and every check; else those named, in
#   order. --lean (or ORVAN_LEAN=1): without the tests on real desktops and in
#   browsers, nor their set-up, nor the browser build's unless web is named.
#
# A build's tests count from ctest's JUnit report (build/NAME/junit.xml; all
# but "run" fail; output in build/NAME/workflow.log), a check by its exit
# status. The last line is always "tests: N passed, M failed" (also in
# build/test-results.json), the exit status 0 only if nothing failed.
set -uo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
ORVAN_ARCH=$(dpkg --print-architecture) && export ORVAN_ARCH ORVAN_LEAN=${ORVAN_LEAN:-0}
[ "${1:-}" != --lean ] || { ORVAN_LEAN=1; shift; }
passed=0 failed=0
finish() {
    mkdir -p build && printf '{"passed": %d, "failed": %d}\n' "$passed" "$failed" >build/test-results.json
    echo "tests: $passed passed, $failed failed"
    exit $((failed > 0))
}

names=("$@")
setup=(--tests)
[ $# -gt 0 ] && [[ " $* " != *" web "* ]] || setup+=(--web)
scripts/setup-deps.sh "${setup[@]}" || { echo "test: the set-up failed (see its message above)"; failed=1; finish; }
[ "$ORVAN_LEAN" != 1 ] || echo "== lean: the tests on real desktops and in browsers are left out"

# The builds: workflow presets that have a test preset; those of this machine.
names_of() { sed -n 's/^  "\([^"]*\)".*/\1/p'; }  # the names `cmake --list-presets` and the like print
mapfile -t builds < <(cmake --workflow --list-presets | names_of | grep -Fxf <(ctest --list-presets | names_of))
mapfile -t here < <(printf '%s\n' "${builds[@]}" | grep -Fxf <(cmake --list-presets | names_of))
checks=(lint package memcheck fuzz soak fresh)
[ $# -gt 0 ] || names=("${here[@]}" "${checks[@]}")
for name in "${names[@]}"; do
    [[ " ${builds[*]} ${checks[*]} " == *" $name "* ]] && continue
    echo "usage: scripts/test.sh [--lean] [NAME...]: no preset or check named '$name'"
    failed=1 && finish
done

junit_counts() {  # FILE: "PASSED FAILED" from ctest's JUnit report; names each test that did not pass
    python3 - "$1" <<'EOF'
import sys, xml.etree.ElementTree as ET
cases = list(ET.parse(sys.argv[1]).iter("testcase"))
bad = [c for c in cases if c.get("status") != "run"]
sys.stderr.writelines(f"FAIL {c.get('name')} ({c.get('status')})\n" for c in bad)
print(len(cases) - len(bad), len(bad))
EOF
}
check() {  # COMMAND...: a check, counted by its exit status
    local started=$SECONDS
    echo "== $*"
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    echo "   $*: $((SECONDS - started)) s"
}
build() {  # NAME: a workflow preset, counted by its tests (one failure if it does not configure or build)
    local name=$1 started=$SECONDS log=build/$1/workflow.log junit=build/$1/junit.xml status p f
    echo "== $name"
    mkdir -p "build/$name" && rm -f "$junit"
    cmake --workflow --preset "$name" 2>&1 | tee "$log" |
        grep -E "tests passed|Failed|\*\*\*|^FAIL |\[  FAILED  \]|^ +cycle [0-9]+:"
    status=${PIPESTATUS[0]}
    if [ -f "$junit" ] && read -r p f < <(junit_counts "$junit"); then
        [ "$status" -eq 0 ] || [ "$f" -gt 0 ] || { echo "FAIL $name: ctest exit status $status"; f=1; }
    else
        grep -E -A5 'error|Error' "$log" | head -n 60
        echo "FAIL $name: configure or build (exit status $status, see $log)"
        p=0 f=1
    fi
    passed=$((passed + p)) failed=$((failed + f))
    echo "   $name: $((SECONDS - started)) s"
}

for name in "${names[@]}"; do
    case $name in
        lint) check scripts/lint.sh ;;
        package) check /usr/bin/python3 -m pytest --basetemp=build/pytest-package tests/package ;;
        memcheck) check scripts/memcheck.sh ;;
        fuzz) check scripts/fuzz.sh 60 ;;
        soak) check scripts/bench.sh soak 60 20 ;;
        fresh)
            [ ! -e /etc/orvan-fresh-machine ] || { echo "== a fresh machine starts no other"; continue; }
            # shellcheck disable=SC2086 # SUITE MODE LOCALE, split at the colons
            for machine in ${ORVAN_FRESH_MACHINES-bookworm:user:de_DE.UTF-8 trixie:root}; do
                check scripts/fresh-machine.sh ${machine//:/ }
            done ;;
        *) build "$name" ;;
    esac
done
finish
