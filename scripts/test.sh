#!/usr/bin/env bash
# Sets everything up and runs every test, in every build that CI checks:
#   default    GCC, -O2: engine, recording-raylib and real-window tests
#   clang-v3   Clang, -O2 -march=x86-64-v3 (FMA available): the same
#   gcc-O0-v3  GCC, -O0 -march=x86-64-v3: engine tests
#   clang-O0   Clang, -O0: engine tests
#   asan       Clang with AddressSanitizer and UndefinedBehaviorSanitizer: every
#              test, and the engine fuzzer's seed corpus
# and then, when no presets are named, the other checks: format and clang-tidy
# (scripts/lint.sh), the Debian packages (scripts/check-package.sh), valgrind
# memcheck (scripts/memcheck.sh), the engine fuzzer for 60 s (scripts/fuzz.sh)
# and a 60-second soak of the real window (scripts/soak.sh, warm-up 20 s).
# Warnings are errors (ORVAN_WERROR). Pass preset names to run only those
# presets' tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default clang-v3 gcc-O0-v3 clang-O0)
[ $# -gt 0 ] || presets+=(asan)

passed=0
failed=0
for preset in "${presets[@]}"; do
    echo "== $preset"
    cmake --preset "$preset" -DORVAN_WERROR=ON >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
    log=$(mktemp)
    set +e
    ctest --preset "$preset" 2>&1 | tee "$log" | grep -E "tests passed|Failed|\*\*\*"
    status=${PIPESTATUS[0]}
    set -e
    read -r p f < <(awk '/tests passed, .* tests failed out of/ {print $(NF) - $4, $4}' "$log") || true
    rm -f "$log"
    passed=$((passed + ${p:-0}))
    failed=$((failed + ${f:-0}))
    if [ "$status" -ne 0 ]; then
        failed=$((failed > 0 ? failed : 1))
    fi
done
# With no presets named: the other checks.
if [ $# -eq 0 ]; then
    for check in scripts/lint.sh scripts/check-package.sh scripts/memcheck.sh "scripts/fuzz.sh 60" \
        "scripts/soak.sh 60 20"; do
        echo "== $check"
        if $check; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
fi
echo "tests: $passed passed, $failed failed"
test "$failed" -eq 0
