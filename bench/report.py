#!/usr/bin/env python3
"""Writes docs/performance.md from the results scripts/bench.sh collected.

usage: report.py RESULTS_DIR OUTPUT.md

RESULTS_DIR holds: engine.json (Google Benchmark), callgrind.<N> for two
frame counts N, frames.txt (the two counts), allocs.txt (alloc probe),
pacing.txt (pacing probe), machine.txt ("key: value" lines), and
intervals.dat is written there for the plot.
"""
import json
import math
import os
import re
import sys
from collections import defaultdict

PROGRAM = "orvan-demo-window"


# ---- callgrind ---------------------------------------------------------------


def callgrind_self_costs(path):
    """Self cost (Ir) of every (object, function) in a callgrind output file."""
    names = {"ob": {}, "fl": {}, "fn": {}}
    kind_of = {"ob": "ob", "cob": "ob", "fl": "fl", "fi": "fl", "fe": "fl", "cfi": "fl", "cfl": "fl",
               "fn": "fn", "cfn": "fn"}
    costs = defaultdict(int)
    ob = fn = ""
    skip_next_cost = False
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            m = re.match(r"^(ob|cob|fl|fi|fe|cfi|cfl|fn|cfn)=(?:\((\d+)\))?\s*(.*)$", line)
            if m:
                key, ident, name = m.groups()
                table = names[kind_of[key]]
                if ident is not None:
                    if name:
                        table[ident] = name
                    name = table.get(ident, "?")
                if key == "ob":
                    ob = name
                elif key == "fn":
                    fn = name
                continue
            if line.startswith("calls="):
                skip_next_cost = True  # the next cost line is the call's inclusive cost
                continue
            if line and (line[0].isdigit() or line[0] in "+-*"):
                if skip_next_cost:
                    skip_next_cost = False
                    continue
                fields = line.split()
                if len(fields) >= 2:
                    costs[(ob, fn)] += int(fields[1])
    return costs


def object_group(ob):
    base = os.path.basename(ob)
    if base == PROGRAM:
        return "program"
    if base.startswith("libm.so") or base.startswith("libm-"):
        return "libm"
    if base.startswith("libraylib.so"):
        return "raylib"
    return "other"


# ---- helpers -----------------------------------------------------------------


def read_keys(path, prefix=""):
    values = {}
    with open(path) as f:
        for line in f:
            if not line.startswith(prefix):
                continue
            parts = line[len(prefix):].strip().split(None, 1)
            if len(parts) == 2:
                values[parts[0].rstrip(":")] = parts[1]
    return values


def nearest_rank(sorted_values, p):
    """The p-th percentile by nearest rank: the smallest value with at least p% at or below it."""
    k = max(1, math.ceil(p / 100.0 * len(sorted_values)))
    return sorted_values[k - 1]


def median(values):
    s = sorted(values)
    n = len(s)
    return s[n // 2] if n % 2 else 0.5 * (s[n // 2 - 1] + s[n // 2])


def mark(ok):
    return "met" if ok else "**missed**"


# ---- main --------------------------------------------------------------------


def main():
    results, output = sys.argv[1], sys.argv[2]
    machine = read_keys(os.path.join(results, "machine.txt"))

    # Engine benchmarks: medians over repetitions.
    with open(os.path.join(results, "engine.json")) as f:
        bench = json.load(f)
    medians = {}
    repetitions = None
    for b in bench["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            medians[b["run_name"]] = (b["real_time"], b["cpu_time"], b["time_unit"])
            repetitions = b.get("repetitions", repetitions)
    for name, (_, _, unit) in medians.items():
        if unit != "ns":
            sys.exit(f"report: {name} is in {unit}, expected ns")
    floor = medians["BM_rotate_floor_sincos"][0]
    rotate = medians["BM_rotate"][0]
    rotate_chained = medians["BM_rotate_chained"][0]
    normalize = medians["BM_normalize"][0]
    normalize_fallback = medians["BM_normalize_fallback"][0]

    # Callgrind: the difference between two frame counts.
    n_low, n_high = (int(x) for x in open(os.path.join(results, "frames.txt")).read().split())
    low = callgrind_self_costs(os.path.join(results, f"callgrind.{n_low}"))
    high = callgrind_self_costs(os.path.join(results, f"callgrind.{n_high}"))
    frames = n_high - n_low
    per_function = {}
    groups = defaultdict(int)
    for key in set(low) | set(high):
        delta = high.get(key, 0) - low.get(key, 0)
        per_function[key] = delta
        groups[object_group(key[0])] += delta
    own = groups["program"] + groups["libm"]
    own_per_frame = own / frames
    top = sorted(((d, ob, fn) for (ob, fn), d in per_function.items() if object_group(ob) in ("program", "libm")),
                 reverse=True)

    allocs = read_keys(os.path.join(results, "allocs.txt"))
    allocs_window = int(allocs["allocations_window"])
    if allocs.get("window_complete") != "1":
        sys.exit("report: the allocation run did not reach the end of its window")

    # Pacing.
    pacing_path = os.path.join(results, "pacing.txt")
    head = read_keys(pacing_path, "# ")
    rows = []
    with open(pacing_path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            i, at, interval, swap, wait = line.split()
            rows.append((int(i), float(at), float(interval), float(swap), float(wait)))
    if len(rows) < 2:
        sys.exit("report: the pacing run recorded fewer than two frames")
    intervals = [r[2] for r in rows[1:]]
    s = sorted(intervals)
    n_int = len(intervals)
    span_ms = rows[-1][1] - rows[0][1]
    fps = n_int / (span_ms / 1000.0)
    med = median(intervals)
    p99 = nearest_rank(s, 99)
    worst = s[-1]
    worst_frame = rows[1 + intervals.index(worst)][0]
    swap_med = median([r[3] for r in rows[1:]])
    wait_med = median([r[4] for r in rows[1:]])
    rest_med = median([r[2] - r[3] - r[4] for r in rows[1:]])
    cpu_per_frame = float(head["cpu_seconds_per_frame"])
    with open(os.path.join(results, "intervals.dat"), "w") as f:
        f.write("# frame interval_ms swap_ms wait_ms\n")
        for r in rows[1:]:
            f.write(f"{r[0]} {r[2]:.6f} {r[3]:.6f} {r[4]:.6f}\n")

    L = []
    w = L.append
    w("# Performance of the engine and of orvan-demo-window")
    w("")
    w("Written by `scripts/bench.sh`, which reruns every measurement below and rewrites this page and")
    w("`docs/frame-intervals.png`. Nothing here is a test: no figure passes or fails in CI. The figures are")
    w("those of the run described under *Machine*.")
    w("")
    w("## Summary")
    w("")
    w("| Figure | Measured | Target | |")
    w("|---|---|---|---|")
    w(f"| `rotate` / its floor (4 × sin, cos), medians | {rotate / floor:.2f}× ({rotate:.1f} ns / {floor:.1f} ns) "
      f"| ≤ 1.5× | {mark(rotate / floor <= 1.5)} |")
    w(f"| `normalize`, ordinary input, median | {normalize:.2f} ns | < 10 ns | {mark(normalize < 10)} |")
    w(f"| `normalize`, fallback input, median | {normalize_fallback:.2f} ns | < 10 ns | "
      f"{mark(normalize_fallback < 10)} |")
    w(f"| Program's own instructions per frame (frame loop, engine, libm sin/cos) | {own_per_frame:,.0f} "
      f"| < 5,000 | {mark(own_per_frame < 5000)} |")
    w(f"| Heap allocations, end of frame {allocs['window_from_frame']} to end of frame {allocs['window_to_frame']} "
      f"| {allocs_window} | 0 | {mark(allocs_window == 0)} |")
    w(f"| Frames per second, real window, {n_int} intervals | {fps:.2f} | 60 | |")
    w(f"| Frame interval: median / 99th percentile / worst | {med:.3f} / {p99:.3f} / {worst:.3f} ms | "
      f"median 16.67 ms | |")
    w("")
    w("## Machine")
    w("")
    for key in ("date", "cpu", "cores", "kernel", "os", "compiler", "glibc", "mesa", "raylib", "xvfb",
                "load before", "load after", "build"):
        if key in machine:
            w(f"- {key}: {machine[key]}")
    w("")
    w("The machine is a virtual machine shared with other work; the load averages above are those of the")
    w("whole machine just before and after the run. Instruction counts and allocation counts do not depend on")
    w("the load; times do.")
    w("")

    w("## 1. Engine micro-benchmarks")
    w("")
    w(f"`build/default/bench/engine_bench` (Google Benchmark), {repetitions} repetitions; each figure is the")
    w("median over the repetitions of the mean time per call in one repetition.")
    w("")
    w("| Benchmark | What one iteration does | Median real time | Median CPU time |")
    w("|---|---|---|---|")
    what = {
        "BM_dot": "`HomVec4::dot`",
        "BM_norm": "`HomVec4::norm`",
        "BM_normalize": "`HomVec4::normalize`, ordinary input",
        "BM_normalize_fallback": "`HomVec4::normalize`, length below 1e-15 (fallback (0, 0, 0, 1))",
        "BM_pickBestCard": "`HomVec4::pickBestCard`, z largest (longest path)",
        "BM_HomVec4_fromCartesian": "`HomVec4::fromCartesian`",
        "BM_OrvanCamera_fromCartesian": "`OrvanCamera::fromCartesian`, the program's eye and target",
        "BM_rotate": "`OrvanCamera::rotate(0.005, 0.002)` of the same camera, calls independent",
        "BM_rotate_chained": "`rotate` of the camera the previous call returned, as the program does",
        "BM_rotate_floor_sincos": "floor: cos and sin of 0.005 and of 0.002 alone",
    }
    for name, label in what.items():
        real, cpu, _ = medians[name]
        w(f"| `{name}` | {label} | {real:.2f} ns | {cpu:.2f} ns |")
    w("")
    w(f"`rotate` is **{rotate / floor:.2f}×** its floor (independent calls) and {rotate_chained / floor:.2f}× when")
    w("chained. The floor is written as `rotate` writes its cosines and sines; GCC pairs each `cos` with the")
    w("`sin` of the same angle into one `sincos` call, in `rotate` and in the floor alike.")
    w("")
    w("What the benchmark guards against: every input passes through `benchmark::DoNotOptimize` on every")
    w("iteration (no constant folding, no hoisting out of the loop) and every result too (no dead call); the")
    w("engine is a separate library compiled without link-time optimisation, so its calls are not inlined")
    w("into the loop. After each loop the last result is checked for its known value and for being zero or a")
    w("normal number (a subnormal takes the processor's slow path); the chained `rotate` checks that the")
    w("camera is still of unit length after all its iterations. A failed check makes `engine_bench` exit")
    w("with status 1, and CI runs it once briefly (`EngineBenchSmoke`) so it cannot rot.")
    w("")

    w("## 2. The program's own work per frame, counted")
    w("")
    w(f"The shipped `orvan-demo-window` runs against the tests' recording raylib in its quiet mode (no")
    w(f"`RECORDING_RAYLIB_LOG`: it records nothing, and its `WindowShouldClose` reports true after")
    w(f"`RECORDING_RAYLIB_FRAMES` frames) under `valgrind --tool=callgrind`, once for {n_low} and once for")
    w(f"{n_high} frames. The self cost (instructions executed, Ir) of every function is taken from each")
    w(f"profile and the two are subtracted, so start-up and shut-down cancel and {frames} frames remain.")
    w("Functions are grouped by the object they are in: the executable (the frame loop in `main` and the")
    w("engine, which is linked in statically), the C maths library (the `sinf`, `sincosf` and `sincos` the")
    w("loop and `rotate` call), the raylib stand-in, and anything else.")
    w("")
    w("| Instructions per frame | |")
    w("|---|---|")
    w(f"| executable: frame loop and engine | {groups['program'] / frames:,.1f} |")
    w(f"| C maths library (sin, cos) | {groups['libm'] / frames:,.1f} |")
    w(f"| **program's own work** | **{own_per_frame:,.1f}** |")
    w(f"| raylib stand-in (not the program's; the real raylib does far more) | {groups['raylib'] / frames:,.1f} |")
    w(f"| anything else | {groups['other'] / frames:,.1f} |")
    w("")
    w("The program's own functions, per frame:")
    w("")
    w("| Function | Object | Instructions per frame |")
    w("|---|---|---|")
    for d, ob, fn in top:
        if d / frames < 0.5:
            continue
        w(f"| `{fn}` | {os.path.basename(ob)} | {d / frames:,.1f} |")
    w("")
    w(f"Heap allocations: `bench/alloc_probe.c`, preloaded into the same program against the same quiet")
    w(f"recording raylib, counts every `malloc`, `calloc`, `realloc`, `memalign`, `aligned_alloc`,")
    w(f"`posix_memalign` and `valloc` (`operator new` calls `malloc`), and notes the count at the top of")
    w(f"frame {int(allocs['window_from_frame']) + 1} and of frame {int(allocs['window_to_frame']) + 1}, that is")
    w(f"between the end of frame {allocs['window_from_frame']} and the end of frame {allocs['window_to_frame']}:")
    w(f"**{allocs_window}** allocations in those frames, {allocs['allocations_total']} in the whole run (start-up:")
    w("the C++ runtime's emergency exception pool), which shows the counter is live. CI checks the same")
    w("(`FrameLoopAllocatesNothing`).")
    w("")

    w("## 3. Frame pacing of the real window")
    w("")
    w("The program runs under Xvfb (1600×900×24) with Mesa's llvmpipe, over the real raylib 6.0, with")
    w("`bench/pacing_probe.c` preloaded. raylib's `EndDrawing` calls its exported `SwapScreenBuffer` (Mesa")
    w("renders the frame and hands it to the X server) and then `WaitTime` for the rest of the 1/60 s; both")
    w("go through raylib's PLT, so the probe wraps them. A frame counts as presented when `SwapScreenBuffer`")
    w(f"returns (CLOCK_MONOTONIC). The probe records {len(rows)} frames, the {n_int} intervals between them,")
    w("then makes `WindowShouldClose` report true and the program ends normally.")
    w("")
    w("| Figure | Value |")
    w("|---|---|")
    w(f"| frames per second ({n_int} intervals / their total span) | {fps:.2f} |")
    w(f"| median frame interval | {med:.3f} ms |")
    w(f"| 99th percentile (nearest rank) | {p99:.3f} ms |")
    w(f"| worst interval | {worst:.3f} ms (frame {worst_frame}) |")
    w(f"| CPU time per frame, all threads (getrusage, frames 0 to {len(rows) - 1}) | "
      f"{cpu_per_frame * 1e3:.2f} ms ({cpu_per_frame:.5f} s) |")
    w(f"| peak resident memory (ru_maxrss) | {int(head['peak_rss_kib']) / 1024:.1f} MiB |")
    w(f"| process start to first presented frame | {float(head['start_to_first_frame_ms']):.1f} ms |")
    w("")
    w("Where a frame's time goes (medians over the intervals):")
    w("")
    w("| Part of the interval | Median |")
    w("|---|---|")
    w(f"| `SwapScreenBuffer`: llvmpipe renders, the image goes to Xvfb | {swap_med:.3f} ms |")
    w(f"| `WaitTime`: raylib waits out the rest of the 1/60 s | {wait_med:.3f} ms |")
    w(f"| the rest: the frame loop, raylib's batching and draw calls, event polling | {rest_med:.3f} ms |")
    w("")
    w("![Frame intervals over the run](frame-intervals.png)")
    w("")
    w("The start-up time runs from a CLOCK_REALTIME stamp taken by `scripts/bench.sh` just before it executes")
    w("the program, to the return of the first `SwapScreenBuffer`; it includes loading the libraries, opening")
    w("the window, Mesa's set-up and raylib's shader compilation. CPU time counts every thread of the process,")
    w("llvmpipe's rendering threads included.")
    w("")
    analysis = os.path.join(results, "analysis.md")
    if os.path.exists(analysis):
        w(open(analysis).read().rstrip("\n"))
        w("")
    w("## Method, in one command")
    w("")
    w("```sh")
    w("scripts/setup-deps.sh   # once, on a fresh Debian 12 machine")
    w("scripts/bench.sh        # builds the default preset, runs all of the above, rewrites this page")
    w("```")
    w("")
    w("Raw results of the last run stay in `build/default/bench/results/` (benchmark JSON, callgrind")
    w("profiles, probe outputs).")

    with open(output, "w") as f:
        f.write("\n".join(L) + "\n")


if __name__ == "__main__":
    main()
