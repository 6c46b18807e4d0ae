#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes the engine: builds fuzz/engine_fuzz (asan preset: Clang, libFuzzer, AddressSanitizer, fatal
# UndefinedBehaviorSanitizer) and runs it for a bounded time from the seed corpus in fuzz/corpus, which is only read:
# new inputs go to a scratch folder under build/asan.
#
# usage: scripts/fuzz.sh [SECONDS]   (default 60)
#
# Prints the executions, libFuzzer's coverage (edges and features) and the engine's functions with the edges reached
# in each. A failed property or a sanitizer report stops the run, leaves the input in build/asan/fuzz-run/crash-*,
# and makes this script fail: turn that input into a regression test in tests/orvan_kernel_test.cpp or
# tests/orvan_raylib_test.cpp.
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
seconds=${1:-60}
orvan_setup --tests
orvan_build asan engine_fuzz
fuzzer=$REPO/build/asan/fuzz/engine_fuzz
run=$REPO/build/asan/fuzz-run
rm -rf "$run/corpus"
mkdir -p "$run/corpus"
log=$run/fuzz.log

status=0
(cd "$run" && "$fuzzer" -max_total_time="$seconds" -max_len=88 -print_final_stats=1 -artifact_prefix="$run/" \
    corpus "$REPO/fuzz/corpus") >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    grep -vE '^#[0-9]+' "$log" | tail -n 40 | sed "s|$REPO/||g" >&2
    echo "fuzz: FAIL (status $status); the input is in ${run#"$REPO"/}/" >&2
    exit 1
fi
grep -E '^#[0-9]+.*(INITED|DONE)|^Done|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log"
echo "fuzz: engine functions reached (edges covered/instrumented):"
"$fuzzer" -runs=0 -print_coverage=1 "$run/corpus" 2>&1 |
    sed -n 's|^\(UN\)\{0,1\}COVERED_FUNC: hits: [0-9]* edges: \([0-9/]*\) \([^(]*\)(.* /.*/\(src/[^ ]*\)$|  \2  \3  \4|p'
echo "fuzz: ok, ${seconds} s"
