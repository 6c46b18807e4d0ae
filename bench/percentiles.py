#!/usr/bin/env python3
# SPDX-License-Identifier: MIT

"""Percentiles of frame intervals, one definition for every figure: nearest rank.

usage: percentiles.py < VALUES   (one interval in ms a line; prints one line:
                                  n, p50, p90, p99 and max)

bench/report.py imports it; scripts/web-pacing.sh runs it.
"""
import math
import sys


def nearest_rank(sorted_values, p):
    """The p-th percentile by nearest rank: the smallest value with at least p% at or below it."""
    k = max(1, math.ceil(p / 100.0 * len(sorted_values)))
    return sorted_values[k - 1]


def summary(values):
    """n, the 50th, 90th and 99th percentiles and the maximum of some intervals."""
    s = sorted(values)
    if not s:
        raise ValueError("no intervals")
    return {"n": len(s), "p50": nearest_rank(s, 50), "p90": nearest_rank(s, 90), "p99": nearest_rank(s, 99),
            "max": s[-1]}


def line(values):
    f = summary(values)
    return f"n {f['n']}, p50 {f['p50']:.1f}, p90 {f['p90']:.1f}, p99 {f['p99']:.1f}, max {f['max']:.1f} ms"


if __name__ == "__main__":
    print(line([float(v) for v in sys.stdin.read().split()]))
