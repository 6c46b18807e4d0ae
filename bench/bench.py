#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Measures the engine and the program into a results folder and prints the
tables of docs/performance.md (bench/report.py); scripts/bench.sh builds what
it needs and runs this. Nothing here passes or fails on a figure.

usage: bench.py [backends|web]

Every section of docs/performance.md (its "Method" says what each measures);
`backends` the 4th alone (X11 and Wayland), `web` the 5th (the browsers,
through scripts/web-pacing.sh). The build is ORVAN_BUILD_DIR (by default
build/default); the results go to its bench/results[-backends|-web]/ with
tables.md and, from a full run, frame-intervals.png (docs/frame-intervals.png
on the page). ORVAN_BENCH_REPETITIONS: repetitions of each micro-benchmark
(default 15).
"""
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "system"))
import displays, harness  # noqa: E401, E402
import report  # noqa: E402
from records import keys  # noqa: E402

BUILD = Path(os.environ.get("ORVAN_BUILD_DIR", REPO / "build" / "default")).resolve()
EXE = BUILD / "orvan-demo-window"
LOW, HIGH = 10, 610  # frames of the two callgrind runs; the allocations are counted between them


def say(text):
    print(f"bench: {text}", flush=True)


def output(*argv):
    return subprocess.run(argv, capture_output=True, text=True).stdout.strip()


def version(package):
    return output("dpkg-query", "-W", "-f=${Version}", package) or "unknown"


def load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def add_machine(results, *lines):
    with open(results / "machine.txt", "a") as f:
        f.writelines(line + "\n" for line in lines)


def machine(results):
    cpu = [ln.split(":", 1)[1].strip() for ln in output("lscpu").splitlines() if ln.startswith("Model name:")]
    lib = REPO / ".deps/prefix/lib/libraylib.so.600"  # named as a path in the repository
    raylib = f".deps/prefix/lib/{lib.resolve().name}" if lib.exists() else "system"
    add_machine(results, f"date: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}", f"cpu: {(cpu or ['?'])[0]}",
                f"cores: {os.cpu_count()}", f"kernel: {os.uname().sysname} {os.uname().release}",
                f"os: {platform.freedesktop_os_release().get('PRETTY_NAME', 'unknown')}",
                f"compiler: {output('g++', '--version').splitlines()[0]}, preset default (-O2)",
                f"glibc: {platform.libc_ver()[1]}", f"mesa: {version('libgl1-mesa-dri')} (llvmpipe)",
                f"raylib: 6.0 ({raylib})", f"xvfb: {version('xvfb')}", f"load before: {load()}")


def pace(results, work, name, env, frames=601):
    """One run of FRAMES frames with the pacing probe, its record in
    RESULTS/NAME.txt; the program's output in RESULTS/NAME.out and .err."""
    env = dict(env, LD_PRELOAD=str(BUILD / "bench/libpacing_probe.so"), ORVAN_PACING_FRAMES=str(frames),
               ORVAN_PACING_OUT=str(results / f"{name}.txt"), ORVAN_PACING_START_NS=str(time.time_ns()))
    program = harness.Process([str(EXE)], name, results, env=env, cwd=work, mark=work.name)
    status = program.wait(90)
    if status != 0:
        raise harness.Failed(f"the program ({name}) ended with {status}\n{harness.tail(program.err)}")
    return program


def cpu_seconds(pid):
    """User and system time of a process so far (/proc/PID/stat)."""
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def pace_server(results, work, name, server, env):
    """pace, plus the display server's CPU time per frame over the whole run
    (start-up and shutdown included), added to the record."""
    before = cpu_seconds(server.pid)
    pace(results, work, name, env, frames=301)
    per_frame = (cpu_seconds(server.pid) - before) / int(keys(results / f"{name}.txt", "# ")["frames"])
    with open(results / f"{name}.txt", "a") as f:
        f.write(f"# server_cpu_seconds_per_frame {per_frame:.6f}\n")


def backends(results, work):
    say("X11 and Wayland side by side, 3 runs of 300 intervals each, in turns")
    xvfb = displays.Xvfb(work, mark=work.name)
    runtime = work / "runtime"
    runtime.mkdir(mode=0o700)
    weston = None
    try:
        weston = displays.Weston(work, harness.clean_env(XDG_RUNTIME_DIR=runtime), "orvan-bench",
                                "--backend=headless-backend.so", "--use-pixman", "--width=1600", "--height=900",
                                mark=work.name)
        # No session bus: else libdecor's plugin, reading the desktop's settings, has
        # libdbus start one, whose processes inherit the probe and overwrite the record.
        wayland = dict(weston.env, DBUS_SESSION_BUS_ADDRESS=f"unix:path={work}/no-bus")
        for turn in (1, 2, 3):
            pace_server(results, work, f"x11-{turn}", xvfb.process, xvfb.env)
            pace_server(results, work, f"wayland-{turn}", weston.process, wayland)
            if "GLFW - Wayland" not in (results / f"wayland-{turn}.out").read_text(errors="replace"):
                raise harness.Failed(f"the Wayland run {turn} did not use Wayland")
    finally:
        if weston is not None:
            weston.stop()
        xvfb.stop()
    add_machine(results, f"weston: {version('weston')}")


def web(results):
    say("the desktop and the browsers, 300 intervals each")
    with open(results / "web-pacing.txt", "w") as out:
        subprocess.run([REPO / "scripts/web-pacing.sh", "300"], stdout=out, check=True, cwd=REPO,
                       env=dict(os.environ, ORVAN_WEB_PACING_OUT=str(results / "web")))
    for line in (results / "web/machine.txt").read_text().splitlines():
        if line.split(":")[0] in ("chromium", "firefox", "emscripten"):
            add_machine(results, line)
    print((results / "web-pacing.txt").read_text(), end="")


def engine_and_counts(results):
    say("engine micro-benchmarks")
    with open(results / "engine.txt", "w") as out:
        repetitions = os.environ.get("ORVAN_BENCH_REPETITIONS", "15")
        subprocess.run([BUILD / "bench/engine_bench", f"--benchmark_repetitions={repetitions}",
                        "--benchmark_report_aggregates_only=true", "--benchmark_out_format=json",
                        f"--benchmark_out={results / 'engine.json'}"], stdout=out, stderr=subprocess.STDOUT,
                       check=True)
    quiet = {k: v for k, v in os.environ.items() if k != "RECORDING_RAYLIB_LOG"}
    quiet["LD_LIBRARY_PATH"] = str(BUILD / "tests/recording_raylib")
    (results / "frames.txt").write_text(f"{LOW} {HIGH}\n")
    for frames in (LOW, HIGH):
        say(f"callgrind, {frames} frames")
        with open(results / f"callgrind.{frames}.log", "w") as log:
            subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={results}/callgrind.{frames}",
                            EXE], env=dict(quiet, RECORDING_RAYLIB_FRAMES=str(frames)), stdout=log, stderr=log,
                           check=True)
    say(f"heap allocations, frames {LOW} to {HIGH}")
    probe = dict(LD_PRELOAD=str(BUILD / "bench/liballoc_probe.so"), ORVAN_ALLOC_OUT=str(results / "allocs.txt"),
                 ORVAN_ALLOC_FROM_FRAME=str(LOW), ORVAN_ALLOC_TO_FRAME=str(HIGH), RECORDING_RAYLIB_FRAMES=str(HIGH))
    subprocess.run([EXE], check=True, env=dict(quiet, **probe))


def pacing(results, work):
    say("frame pacing under Xvfb, 600 intervals, then again with the heap trimmed")
    xvfb = displays.Xvfb(work, mark=work.name)
    try:
        pace(results, work, "pacing", xvfb.env)
        pace(results, work, "pacing-trimmed", dict(xvfb.env, ORVAN_PACING_IGNORE_MALLOPT="1"))
    finally:
        xvfb.stop()


def main(argv):
    part = argv[0] if argv else ""
    if len(argv) > 1 or part not in ("", "backends", "web"):
        sys.exit("usage: bench.py [backends|web]")
    results = BUILD / "bench" / ("results" + (f"-{part}" if part else ""))
    shutil.rmtree(results, ignore_errors=True)
    results.mkdir(parents=True)
    machine(results)
    with tempfile.TemporaryDirectory(prefix="orvan-bench-") as folder:
        work = Path(folder)
        try:
            if not part:
                engine_and_counts(results)
                pacing(results, work)
            if part in ("", "backends"):
                backends(results, work)
            if part in ("", "web"):
                web(results)
        except (harness.Failed, subprocess.CalledProcessError) as failure:
            sys.exit(f"bench: FAIL {failure}")
        finally:
            left = harness.kill_leftovers(work.name)
            if left:
                say(f"processes left behind, killed: {left}")
    add_machine(results, f"load after: {load()}")
    (results / "tables.md").write_text(tables := report.text(str(results)))
    if not part:
        report.plot(str(results), str(results / "frame-intervals.png"))
    print(tables, end="")
    say(f"tables in {results}/tables.md" + ("" if part else ", the plot in frame-intervals.png"))


if __name__ == "__main__":
    main(sys.argv[1:])
