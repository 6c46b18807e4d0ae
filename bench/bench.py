#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the measurements of docs/performance.md (its sections say what each measures) into the build's
bench/results[-PART]/ and prints their tables (bench/report.py); scripts/bench.sh builds what they need and runs this.
Nothing here passes or fails on a figure.

usage: bench.py [backends|web|opengl LIBDIR]   (section 4, 5 or 6 alone; LIBDIR: the folder of a libraylib.so.600
       built with raylib's defaults; ORVAN_BENCH_REPETITIONS: repetitions of each micro-benchmark, default 15)
"""
import os
import platform
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import psutil

from records import BUILD, EXE, REPO, add_machine, keys, load, now, output, pace, running, say, version
import beside
import displays
import harness
import report

LOW, HIGH = 10, 610  # frames of the two callgrind runs; the allocations are counted between them


def machine(results):
    cpu = [ln.split(":", 1)[1].strip() for ln in output("lscpu").splitlines() if ln.startswith("Model name:")]
    lib = REPO / ".deps/prefix/lib/libraylib.so.600"  # named as a path in the repository
    add_machine(results, f"date: {now()}", f"cpu: {(cpu or ['?'])[0]}", f"cores: {os.cpu_count()}",
                f"kernel: {os.uname().sysname} {os.uname().release}",
                f"os: {platform.freedesktop_os_release().get('PRETTY_NAME', 'unknown')}",
                f"compiler: {output('g++', '--version').splitlines()[0]}, preset default (-O2)",
                f"glibc: {platform.libc_ver()[1]}", f"mesa: {version('libgl1-mesa-dri')} (llvmpipe)",
                f"raylib: 6.0 ({f'.deps/prefix/lib/{lib.resolve().name}' if lib.exists() else 'system'})",
                f"xvfb: {version('xvfb')}", f"load before: {load()}")


def pace_server(results, work, name, server, env):
    """pace, and the display server's CPU time per frame over the whole run (start-up and shutdown included)."""
    cpu = lambda: sum(psutil.Process(server.pid).cpu_times()[:2])  # noqa: E731
    before = cpu()
    pace(results, work, name, env, frames=301)
    per_frame = (cpu() - before) / int(keys(results / f"{name}.txt", "# ")["frames"])
    with open(results / f"{name}.txt", "a") as f:
        f.write(f"# server_cpu_seconds_per_frame {per_frame:.6f}\n")


def backends(results, work):
    say("X11 and Wayland side by side, 3 runs of 300 intervals each, in turns")
    (work / "runtime").mkdir(mode=0o700)
    with running(displays.Xvfb(work, mark=work.name)) as xvfb, running(displays.Weston(
            work, harness.clean_env(XDG_RUNTIME_DIR=work / "runtime"), "orvan-bench", "--backend=headless-backend.so",
            "--use-pixman", "--width=1600", "--height=900", mark=work.name)) as weston:
        # No session bus: else libdecor's plugin, reading the desktop's settings, has libdbus start one, whose
        # processes inherit the probe and overwrite the record.
        wayland = dict(weston.env, DBUS_SESSION_BUS_ADDRESS=f"unix:path={work}/no-bus")
        for turn in (1, 2, 3):
            pace_server(results, work, f"x11-{turn}", xvfb.process, xvfb.env)
            pace_server(results, work, f"wayland-{turn}", weston.process, wayland)
            if "GLFW - Wayland" not in (results / f"wayland-{turn}.out").read_text(errors="replace"):
                raise harness.Failed(f"the Wayland run {turn} did not use Wayland")
    add_machine(results, f"weston: {version('weston')}")


def engine_counts_pacing(results, work):
    say("engine micro-benchmarks")
    with open(results / "engine.txt", "w") as out:
        subprocess.run([BUILD / "bench/engine_bench", "--benchmark_report_aggregates_only=true",
                        f"--benchmark_repetitions={os.environ.get('ORVAN_BENCH_REPETITIONS', '15')}",
                        "--benchmark_out_format=json", f"--benchmark_out={results / 'engine.json'}"],
                       stdout=out, stderr=subprocess.STDOUT, check=True)
    quiet = harness.clean_env(RECORDING_RAYLIB_LOG=None, LD_LIBRARY_PATH=BUILD / "tests/recording_raylib")
    (results / "frames.txt").write_text(f"{LOW} {HIGH}\n")
    for frames in (LOW, HIGH):
        say(f"callgrind, {frames} frames")
        with open(results / f"callgrind.{frames}.log", "w") as log:
            subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={results}/callgrind.{frames}", EXE],
                           env=dict(quiet, RECORDING_RAYLIB_FRAMES=str(frames)), stdout=log, stderr=log, check=True)
    say(f"heap allocations, frames {LOW} to {HIGH}")
    probe = dict(LD_PRELOAD=str(BUILD / "bench/liballoc_probe.so"), ORVAN_ALLOC_OUT=str(results / "allocs.txt"),
                 ORVAN_ALLOC_FROM_FRAME=str(LOW), ORVAN_ALLOC_TO_FRAME=str(HIGH), RECORDING_RAYLIB_FRAMES=str(HIGH))
    subprocess.run([EXE], check=True, env=dict(quiet, **probe))
    say("frame pacing under Xvfb, 600 intervals, then again with the heap trimmed")
    with running(displays.Xvfb(work, mark=work.name)) as xvfb:
        pace(results, work, "pacing", xvfb.env)
        pace(results, work, "pacing-trimmed", dict(xvfb.env, ORVAN_PACING_IGNORE_MALLOPT="1"))


def main(argv):
    part, *libdir = argv or [""]
    if part not in ("", "backends", "web", "opengl") or len(libdir) != (part == "opengl"):
        sys.exit("usage: bench.py [backends|web|opengl LIBDIR]")
    results = BUILD / "bench" / ("results" + (f"-{part}" if part else ""))
    shutil.rmtree(results, ignore_errors=True)
    results.mkdir(parents=True)
    machine(results)
    with tempfile.TemporaryDirectory(prefix="orvan-bench-") as folder:
        work = Path(folder)
        try:
            if not part:
                engine_counts_pacing(results, work)
            if part in ("", "backends"):
                backends(results, work)
            if part in ("", "web"):
                say("the desktop and the browsers, 300 intervals each")
                add_machine(results, *beside.web(results / "web", work, 300))
            if part == "opengl":
                say("the OpenGL 2.1 and 3.3 builds, 3 runs of 600 intervals each, in turns, and frame 90 of each")
                beside.opengl(results, work, libdir[0])
        except (harness.Failed, subprocess.CalledProcessError) as failure:
            sys.exit(f"bench: FAIL {failure}")
        finally:
            if left := harness.kill_leftovers(work.name):
                say(f"processes left behind, killed: {left}")
    add_machine(results, f"load after: {load()}")
    (results / "tables.md").write_text(tables := report.text(str(results)))
    if not part:
        report.plot(str(results), str(results / "frame-intervals.png"))
    print(tables, end="")
    say(f"tables in {results}/tables.md" + ("" if part else ", the plot in frame-intervals.png"))


if __name__ == "__main__":
    main(sys.argv[1:])
