# SPDX-License-Identifier: MIT
# A named check for the test scripts, sourced by them.
#
#   check NAME COMMAND...   runs COMMAND; prints "ok   NAME" or "FAIL NAME" and
#                           counts it in passes or failures

passes=0
failures=0

check() {
    local name=$1
    shift
    if "$@"; then
        passes=$((passes + 1))
        echo "ok   $name"
    else
        failures=$((failures + 1))
        echo "FAIL $name"
    fi
}
