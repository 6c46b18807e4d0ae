#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Soak: runs orvan-demo-window in a real window under Xvfb for a given time,
sampling its resident memory and the frames it has finished, then ends it
with Esc. scripts/soak.sh builds the program and runs this.

usage: soak.py [SECONDS [WARMUP_SECONDS]]   (default 1800 and 60; the build
       is ORVAN_BUILD_DIR, by default build/default)

Frames are counted by the frame counter preload (tests/window/frame_counter.c,
through tests/system/harness.py). A sample every 2 seconds is "seconds VmRSS
VmHWM frames RssAnon RssFile RssShmem" (memory in KiB, /proc/PID/status);
ORVAN_SOAK_LOG=FILE also writes the samples there.

Memory is judged on RssAnon, the anonymous resident memory: the heap and every
other private allocation, where a leak goes and stays (the machine has no
swap). VmRSS adds file pages (the libraries, Mesa's shader cache), which the
kernel may drop and fault in again whatever the program does; VmHWM is a
high-water mark, where a one-time step and a steady leak both look like
growth. Per-frame buffers that are freed again can still be caught in a
sample, so the measure is the floor of RssAnon, its lowest sample in a window.
A leak lifts the floor steadily to the end of the run; a step lifts it once
(docs/testing.md tells of the one raylib, Mesa and glibc take). The soak fails
  - if the floor of RssAnon over the last window is above its floor over the
    window starting at one third of the run (not before the warm-up's end) by
    more than 64 KiB; windows are 60 seconds, or half the time from that
    start to the end if that is shorter;
  - if no sample was taken after the warm-up;
  - if no frame finished for 10 seconds after the warm-up (a stall);
  - if the program shows no window, ends by itself, or does not end with
    status 0 within 2 seconds of the Esc key.
Reported, not judged: the frame rate (it follows what else the machine's
cores are doing) over the measured time and per 60-second window after the
warm-up (median, slowest, fastest, how many under 55), with the load average
at the start and the end; every rise of the 10-second floor of RssAnon by
64 KiB or more after the warm-up, with its time and size; VmRSS and VmHWM.
"""
import os
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "system"))
import displays, harness  # noqa: E401, E402
from stats import longest_still, lowest, median, window_rates  # noqa: E402

INTERVAL, WINDOW = 2, 60  # seconds between samples; of a window of the trend and of the frame rate
MAX_GROWTH_KIB, STALL_S, ESC_S, SLOW_FPS = 64, 10, 2, 55
STEP_KIB, STEP_SPAN = 64, 10  # a rise of the floor over the next 10 seconds reported as a step


def say(text):
    print(f"soak: {text}", flush=True)


def load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def memory_kib(pid):
    fields = {}
    for row in Path(f"/proc/{pid}/status").read_text().splitlines():
        key, _, value = row.partition(":")
        fields[key] = value.split()[0] if value.split() else "0"
    return [int(fields[k]) for k in ("VmRSS", "VmHWM", "RssAnon", "RssFile", "RssShmem")]


def run(build, duration, warmup, folder, log):
    """Runs the program for DURATION seconds; its samples and its exit status
    after Esc ("timeout" if it did not end within ESC_S seconds)."""
    mark = os.urandom(8).hex()
    (folder / "cwd").mkdir()
    xvfb = displays.Xvfb(folder, mark=mark)
    program = None
    try:
        program = harness.Program(build / "orvan-demo-window", build / "tests" / "libframe_counter.so", folder,
                                  xvfb.env, cwd=folder / "cwd", mark=mark)
        window = xvfb.wait_window(program)
        start = time.monotonic()
        say(f"{duration} s, warm-up {warmup} s, window {window.id:#x}, process {program.pid}, load {load()}")
        samples = []
        for at in range(INTERVAL, duration + 1, INTERVAL):
            time.sleep(max(0.0, start + at - time.monotonic()))
            try:
                memory = memory_kib(program.pid) if program.alive() else None
            except OSError:
                memory = None
            if memory is None:
                raise harness.Failed(f"the program ended by itself after about {at} s\n{harness.tail(program.err)}")
            rss, hwm, anon, file, shmem = memory
            samples.append((time.monotonic() - start, rss, hwm, program.frames(), anon, file, shmem))
            text = "%.2f %d %d %d %d %d %d" % samples[-1]
            print(text, flush=True)
            log.write(text + "\n")
            log.flush()
        xvfb.send_escape(window)
        status = program.wait(ESC_S)
        return samples, "timeout" if status is None else status
    finally:
        if program is not None:
            program.stop()
        xvfb.stop()
        left = harness.kill_leftovers(mark)
        if left:
            say(f"processes left behind, killed: {left}")
        say(f"load at the end {load()}")


def judge(samples, duration, warmup, status):
    """Prints the figures; True if the soak holds."""
    t, rss, hwm, frames, anon = ([s[k] for s in samples] for k in range(5))
    end = len(t) - 1
    base = next((i for i, at in enumerate(t) if at >= warmup), None)
    if base is None:
        say("FAIL no sample after the warm-up")
        return False
    ok = True
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
        if floor - before >= STEP_KIB:
            steps.append((t[j], before, floor))
            before = floor
        elif floor < before:
            before = floor
    for at, was, now in steps[:10]:
        say(f"step of RssAnon at {at:.0f} s: {now - was:+d} KiB ({was} to {now} KiB)")
    if len(steps) > 10:
        say(f"... {len(steps)} steps in all")
    if not steps:
        say("no step of RssAnon after the warm-up")

    # Trend: the floor over the window from one third of the run, and over the last.
    third = next((i for i in range(base, end) if t[i] >= max(duration / 3, t[base])), end)
    span = min(WINDOW, (t[end] - t[third]) / 2)
    last = end
    while last > third and t[last - 1] > t[end] - span:
        last -= 1
    first_floor, last_floor = lowest(t, anon, third, t[third] + span), lowest(t, anon, last, t[end] + 1)
    growth = last_floor - first_floor
    say(f"RssAnon first {anon[0]} KiB at {t[0]:.0f} s, end {anon[end]} KiB; floor {first_floor} KiB in "
        f"{t[third]:.0f}-{t[third] + span:.0f} s, {last_floor} KiB in {t[last]:.0f}-{t[end]:.0f} s: "
        f"growth {growth} KiB (limit {MAX_GROWTH_KIB} KiB)")
    if growth > MAX_GROWTH_KIB:
        say("FAIL memory grew to the end of the run")
        ok = False

    measured = t[end] - t[base]
    window = min(measured, WINDOW)
    rates = window_rates(t, frames, base, window)
    if rates:  # none if a single sample follows the warm-up
        slowest, fastest = min(rates, key=lambda r: r[1]), max(rates, key=lambda r: r[1])
        say(f"frame rate {(frames[end] - frames[base]) / measured:.2f} fps over {measured:.0f} s after the warm-up; "
            f"in {len(rates)} windows of {window:.0f} s: median {median([r for _, r in rates]):.2f}, "
            f"slowest {slowest[1]:.2f} (from {slowest[0]:.0f} s), fastest {fastest[1]:.2f} (from {fastest[0]:.0f} s), "
            f"{sum(r < SLOW_FPS for _, r in rates)} under {SLOW_FPS}")

    still, since = longest_still(t, frames, base)
    if still >= STALL_S:
        say(f"FAIL no frame finished for {still:.0f} s from {since:.0f} s")
        ok = False
    else:
        say(f"frames kept coming (longest time without one under {STALL_S} s)")
    say(f"Esc after the soak: exit status {status}")
    if status != 0:
        say(f"FAIL the program did not end with 0 within {ESC_S} s of Esc")
        ok = False
    return ok


def main(argv):
    if len(argv) > 2 or not all(a.isdigit() for a in argv):
        sys.exit("usage: soak.py [SECONDS [WARMUP_SECONDS]]")
    duration, warmup = (int(a) for a in (argv + ["1800", "60"][len(argv):]))
    build = Path(os.environ.get("ORVAN_BUILD_DIR", REPO / "build" / "default")).resolve()
    with tempfile.TemporaryDirectory(prefix="orvan-soak-") as work:
        log_path = os.environ.get("ORVAN_SOAK_LOG") or Path(work) / "samples.txt"
        with open(log_path, "w") as log:
            try:
                samples, status = run(build, duration, warmup, Path(work), log)
            except harness.Failed as failure:
                say(f"FAIL {failure}")
                return 1
    ok = judge(samples, duration, warmup, status)
    say("ok" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
