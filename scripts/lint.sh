#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Format and static-analysis checks of the project's own code; fails on any difference from .clang-format or any
# clang-tidy finding (.clang-tidy).
#
#   clang-format   every C and C++ file outside build trees and .deps
#   clang-tidy     every file compiled in the clang-v3 configuration (the engine, the program, the tests), from the
#                  compile_commands.json of a configure-only tree build/lint in which the engine is compiled file by
#                  file; headers through the files including them
#
# Usage: scripts/lint.sh        (after scripts/setup-deps.sh --tests)
set -euo pipefail
# shellcheck source=lib/common.sh
source "$(dirname "$0")/lib/common.sh"
cd "$REPO" || exit 1
status=0

mapfile -t sources < <(find . \( -path ./.deps -o -path './build*' -o -path ./.git \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.c' -o -name '*.h' \) -print | sort)
if ! clang-format --dry-run --Werror "${sources[@]}"; then
    echo "lint: clang-format: the files above differ from .clang-format (fix: clang-format -i FILE)"
    status=1
else
    echo "lint: clang-format: ${#sources[@]} files formatted"
fi

# The clang-v3 build's flags where it exists (x86-64); elsewhere the same sources, by Clang with the machine's flags.
if [ "$(dpkg --print-architecture)" = amd64 ]; then
    cmake --preset clang-v3 -B build/lint -DORVAN_ENGINE_ONE_TU=OFF >/dev/null
else
    cmake --preset default -B build/lint -DORVAN_ENGINE_ONE_TU=OFF -DORVAN_DESKTOP_TESTS=OFF \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# run-clang-tidy exits 0 on warnings: findings are counted from its output, its colours taken out.
run-clang-tidy -p build/lint -j "$CMAKE_BUILD_PARALLEL_LEVEL" -quiet "^$REPO/" 2>/dev/null | sed 's/\x1b\[[0-9;]*m//g' \
    >"$log" || status=1
findings=$(grep -cE ': (warning|error): ' "$log" || true)
files=$(grep -c '"file"' build/lint/compile_commands.json)
if [ "$findings" -ne 0 ]; then
    grep -vE '^(clang-tidy|[0-9]+ warnings? generated|Suppressed|Use -header-filter)' "$log"
    echo "lint: clang-tidy: $findings findings"
    status=1
else
    echo "lint: clang-tidy: $files files, no findings"
fi
exit "$status"
