#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The statistics of every measurement, defined once: percentiles by nearest
rank, the median, and what a series of samples over time gives (the lowest
value in a span of time, rates over consecutive windows, the longest time a
counter stood still). bench/report.py, bench/soak.py and bench/browser_pacing.py
use it.

usage: stats.py < VALUES   (one frame interval in ms a line; prints n, p50,
                            p90, p99 and max on one line)
"""
import math
import sys


def nearest_rank(sorted_values, p):
    """The p-th percentile by nearest rank: the smallest value with at least
    p % of the values at or below it."""
    k = max(1, math.ceil(p / 100.0 * len(sorted_values)))
    return sorted_values[k - 1]


def median(values):
    """The middle value, or the mean of the two middle ones."""
    s = sorted(values)
    if not s:
        raise ValueError("no values")
    n = len(s)
    return s[n // 2] if n % 2 else 0.5 * (s[n // 2 - 1] + s[n // 2])


def summary(values):
    """n, the 50th, 90th and 99th percentiles and the maximum."""
    s = sorted(values)
    if not s:
        raise ValueError("no values")
    return {"n": len(s), "p50": nearest_rank(s, 50), "p90": nearest_rank(s, 90), "p99": nearest_rank(s, 99),
            "max": s[-1]}


def line(values):
    f = summary(values)
    return f"n {f['n']}, p50 {f['p50']:.1f}, p90 {f['p90']:.1f}, p99 {f['p99']:.1f}, max {f['max']:.1f} ms"


# -- series of samples: times t (ascending) and values at those times -------

def lowest(t, values, i, until):
    """The lowest of values[i:] taken before time UNTIL (values[i] at least,
    whatever its time)."""
    low = values[i]
    while i < len(t) and t[i] < until:
        low = min(low, values[i])
        i += 1
    return low


def window_rates(t, counts, i, window):
    """Rates of a counter over consecutive windows from sample i: a window ends
    at the first sample at least WINDOW - 0.5 after its start (the last sample
    ends one if no window has ended before). A list of (start, rate)."""
    rates, s = [], i
    for j in range(i + 1, len(t)):
        if t[j] - t[s] >= window - 0.5 or (j == len(t) - 1 and not rates):
            rates.append((t[s], (counts[j] - counts[s]) / (t[j] - t[s])))
            s = j
    return rates


def longest_still(t, counts, i):
    """The longest time from sample i on during which a counter did not grow:
    (seconds, the time it last grew before that)."""
    longest, at, since = 0.0, t[i], i
    for j in range(i + 1, len(t)):
        if counts[j] > counts[since]:
            since = j
        elif t[j] - t[since] > longest:
            longest, at = t[j] - t[since], t[since]
    return longest, at


if __name__ == "__main__":
    print(line([float(v) for v in sys.stdin.read().split()]))
