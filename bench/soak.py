#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Soak: runs orvan-demo-window in a real window under Xvfb for a given time, sampling its memory and the frames it
has finished, then ends it with Esc; passes or fails. `scripts/bench.sh soak` builds the program and runs this;
docs/testing.md ("Reliability") says what it measures and when it fails.

usage: soak.py [SECONDS [WARMUP_SECONDS]]   (default 1800 and 60)
ORVAN_SOAK_LOG=FILE also writes the samples there.
"""
import os
import sys
import tempfile
import time
from pathlib import Path

from records import BUILD, load, longest_still, lowest, median, running, say, window_rates
import displays
import harness

INTERVAL, WINDOW = 2, 60  # seconds between samples; of a window of the trend and of the frame rate
MAX_GROWTH_KIB, STALL_S, ESC_S, SLOW_FPS = 64, 10, 2, 55
STEP_KIB, STEP_SPAN = 64, 10  # a rise of the floor over the next 10 seconds reported as a step


def memory_kib(program):
    """VmRSS, VmHWM, RssAnon, RssFile and RssShmem; None once the program has ended."""
    try:
        fields = dict(row.split(":", 1) for row in Path(f"/proc/{program.pid}/status").read_text().splitlines())
    except OSError:
        return None
    return [int(fields[k].split()[0]) for k in ("VmRSS", "VmHWM", "RssAnon", "RssFile", "RssShmem")] \
        if program.alive() else None


def run(duration, warmup, folder, log):
    """Runs the program for DURATION seconds: its samples, and its exit status after Esc ("timeout" past ESC_S s)."""
    (folder / "cwd").mkdir()
    try:
        with running(displays.Xvfb(folder, mark=folder.name)) as xvfb, running(harness.Program(
                BUILD / "orvan-demo-window", BUILD / "tests" / "libframe_counter.so", folder, xvfb.env,
                cwd=folder / "cwd", mark=folder.name)) as program:
            window = xvfb.wait_window(program)
            start = time.monotonic()
            say(f"{duration} s, warm-up {warmup} s, window {window.id:#x}, process {program.pid}, load {load()}")
            samples = []
            for at in range(INTERVAL, duration + 1, INTERVAL):
                time.sleep(max(0.0, start + at - time.monotonic()))
                if (memory := memory_kib(program)) is None:
                    raise harness.Failed(f"the program ended by itself after about {at} s\n{harness.tail(program.err)}")
                samples.append((time.monotonic() - start, *memory[:2], program.frames(), *memory[2:]))
                for out in (sys.stdout, log):
                    print("%.2f %d %d %d %d %d %d" % samples[-1], file=out, flush=True)
            xvfb.send_escape(window)
            status = program.wait(ESC_S)
            return samples, "timeout" if status is None else status
    finally:
        if left := harness.kill_leftovers(folder.name):
            say(f"processes left behind, killed: {left}")
        say(f"load at the end {load()}")


def holds(ok, failure):
    if not ok:
        say(f"FAIL {failure}")
    return ok


def judge(samples, duration, warmup, status):
    """Prints the figures; True if the soak holds."""
    t, rss, hwm, frames, anon = ([s[k] for s in samples] for k in range(5))
    end = len(t) - 1
    base = next((i for i, at in enumerate(t) if at >= warmup), None)
    if not holds(base is not None, "no sample after the warm-up"):
        return False
    peak = max(range(len(t)), key=lambda i: (rss[i], -i))
    say(f"VmRSS first {rss[0]} KiB at {t[0]:.0f} s, after the warm-up {rss[base]} KiB at {t[base]:.0f} s, "
        f"end {rss[end]} KiB at {t[end]:.0f} s, highest sample {rss[peak]} KiB at {t[peak]:.0f} s")
    say(f"VmHWM {hwm[base]} KiB after the warm-up, {hwm[end]} KiB at the end")

    # Steps: rises of the floor over the next STEP_SPAN seconds, after the warm-up.
    steps, before = [], lowest(t, anon, base, t[base] + STEP_SPAN)
    for j in range(base + 1, end + 1):
        if t[j] + STEP_SPAN > t[end] + INTERVAL:
            break
        floor = lowest(t, anon, j, t[j] + STEP_SPAN)
        if (rise := floor - before) >= STEP_KIB:
            steps.append((t[j], before, floor))
        if rise < 0 or rise >= STEP_KIB:
            before = floor
    for at, was, now in steps[:10]:
        say(f"step of RssAnon at {at:.0f} s: {now - was:+d} KiB ({was} to {now} KiB)")
    say(f"{len(steps)} steps of RssAnon after the warm-up" + (", the first 10 above" if len(steps) > 10 else ""))

    # Trend: the floor over the window from one third of the run, and over the last.
    third = next((i for i in range(base, end) if t[i] >= max(duration / 3, t[base])), end)
    span = min(WINDOW, (t[end] - t[third]) / 2)
    last = max(third, next((i for i in range(end) if t[i] > t[end] - span), end))
    first_floor, last_floor = lowest(t, anon, third, t[third] + span), lowest(t, anon, last, t[end] + 1)
    growth = last_floor - first_floor
    say(f"RssAnon first {anon[0]} KiB at {t[0]:.0f} s, end {anon[end]} KiB; floor {first_floor} KiB in "
        f"{t[third]:.0f}-{t[third] + span:.0f} s, {last_floor} KiB in {t[last]:.0f}-{t[end]:.0f} s: "
        f"growth {growth} KiB (limit {MAX_GROWTH_KIB} KiB)")
    ok = holds(growth <= MAX_GROWTH_KIB, "memory grew to the end of the run")

    measured, window = t[end] - t[base], min(t[end] - t[base], WINDOW)
    rates = window_rates(t, frames, base, window)
    if rates:  # none if a single sample follows the warm-up
        slowest, fastest = min(rates, key=lambda r: r[1]), max(rates, key=lambda r: r[1])
        say(f"frame rate {(frames[end] - frames[base]) / measured:.2f} fps over {measured:.0f} s after the warm-up; "
            f"in {len(rates)} windows of {window:.0f} s: median {median([r for _, r in rates]):.2f}, "
            f"slowest {slowest[1]:.2f} (from {slowest[0]:.0f} s), fastest {fastest[1]:.2f} (from {fastest[0]:.0f} s), "
            f"{sum(r < SLOW_FPS for _, r in rates)} under {SLOW_FPS}")

    still, since = longest_still(t, frames, base)
    say(f"longest time without a finished frame {still:.0f} s from {since:.0f} s (limit under {STALL_S} s)")
    ok = holds(still < STALL_S, f"no frame finished for {still:.0f} s from {since:.0f} s") and ok
    say(f"Esc after the soak: exit status {status}")
    return holds(status == 0, f"the program did not end with 0 within {ESC_S} s of Esc") and ok


def main(argv):
    if len(argv) > 2 or not all(a.isdigit() for a in argv):
        sys.exit("usage: soak.py [SECONDS [WARMUP_SECONDS]]")
    duration, warmup = (int(a) for a in (argv + ["1800", "60"][len(argv):]))
    with tempfile.TemporaryDirectory(prefix="orvan-soak-") as work, \
            open(os.environ.get("ORVAN_SOAK_LOG") or os.devnull, "w") as log:
        try:
            samples, status = run(duration, warmup, Path(work), log)
        except harness.Failed as failure:
            say(f"FAIL {failure}")
            return 1
    ok = judge(samples, duration, warmup, status)
    say("ok" if ok else "FAIL")
    return int(not ok)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
