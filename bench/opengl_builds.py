#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Section 6 of docs/performance.md, which says how it measures: the
set-up's raylib (OpenGL 2.1) beside one built with raylib's defaults (OpenGL
3.3 core) under one Xvfb, in turns. Prints markdown tables; nothing passes or
fails on a figure.

usage: opengl_builds.py LIBDIR   (the folder of the other libraylib.so.600)
"""
import sys
import tempfile
from pathlib import Path

from PIL import ImageChops

from records import BUILD, EXE, median, pace, pacing, running
from report import table
import displays
import harness


def frame(xvfb, work, env, n=90):
    """The window's contents at frame N exactly: the frame counter holds the
    program there while the shot is taken."""
    hold = work / "program.frames.hold"
    program = harness.Program(EXE, BUILD / "tests/libframe_counter.so", work,
                              dict(env, ORVAN_FRAME_HOLD_AT=str(n)), cwd=work, mark=work.name)
    hold.touch()
    try:
        window = xvfb.wait_window(program)
        program.wait_frames(n)
        shot = xvfb.shot(window).crop((0, 0, 1180, 720))
        hold.unlink()
        xvfb.send_escape(window)
        if program.wait(5) != 0:
            raise harness.Failed(f"the program ended with {program.status}")
    finally:
        hold.unlink(missing_ok=True)
        program.stop()
    return shot


def main(other):
    builds = {"OpenGL 2.1 (the set-up's)": {}, "OpenGL 3.3 (raylib's default)": {"LD_LIBRARY_PATH": other}}
    results = BUILD / "bench" / "results-opengl"
    results.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="orvan-opengl-") as folder:
        work = Path(folder)
        runs = {name: [] for name in builds}
        try:
            with running(displays.Xvfb(work, mark=work.name)) as xvfb:
                for turn in (1, 2, 3):
                    for i, (name, env) in enumerate(builds.items()):
                        pace(results, work, f"gl{i}-{turn}", dict(xvfb.env, **env))
                        runs[name].append(pacing(results / f"gl{i}-{turn}.txt"))
                shots = [frame(xvfb, work, dict(xvfb.env, **env)) for env in builds.values()]
        finally:
            harness.kill_leftovers(work.name)
    rows = [[name, " / ".join(f"{r['fps']:.1f}" for r in rs), f"{median([r['median'] for r in rs]):.2f}",
             f"{median([r['p99'] for r in rs]):.2f}", f"{max(r['worst'] for r in rs):.1f}",
             f"{median([r['cpu_ms'] for r in rs]) * 600 / 1000:.2f}"] for name, rs in runs.items()]
    print("\n".join(table(["raylib", "frames/s (runs 1/2/3)", "interval median (ms)", "p99 (ms)", "worst (ms)",
                           "CPU s per 600 frames"], rows)))
    differ = ImageChops.difference(shots[0].convert("RGB"), shots[1].convert("RGB")).convert("L")
    changed = sum(n for n, level in differ.getcolors(1180 * 720) if level)
    print(f"\nframe 90, 1180x720 compared: {changed} pixels differ")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
