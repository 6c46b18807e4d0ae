#!/usr/bin/env python3
# SPDX-License-Identifier: MIT

"""Writes docs/performance.md from the results scripts/bench.sh collected.

usage: report.py RESULTS_DIR OUTPUT.md
       report.py --backends RESULTS_DIR         (section 4's table, printed)
       report.py --web RESULTS_DIR OUTPUT.md    (section 5 alone, rewritten in OUTPUT.md)

RESULTS_DIR holds: engine.json (Google Benchmark), callgrind.<N> for two
frame counts N, frames.txt (the two counts), allocs.txt (alloc probe),
pacing.txt (pacing probe), machine.txt ("key: value" lines), web/ (the
records of scripts/web-pacing.sh), and intervals.dat is written there for
the plot. Section 5's findings, written by hand, are bench/web-pacing.md.
"""
import json
import os
import re
import sys
from collections import defaultdict

from stats import median, nearest_rank, summary

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


def read_machine(path):
    """The "key: value" lines of a machine.txt (keys may hold spaces)."""
    machine = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.partition(":")
            machine[key.strip()] = value.strip()
    return machine


def mark(ok):
    return "met" if ok else "**missed**"


def read_pacing(path):
    """Figures of one pacing probe record."""
    head = read_keys(path, "# ")
    rows = []
    with open(path) as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            i, at, interval, swap, wait = line.split()
            rows.append((int(i), float(at), float(interval), float(swap), float(wait)))
    if len(rows) < 2 or "cpu_seconds_per_frame" not in head:
        sys.exit(f"report: {path} holds fewer frames than asked for")
    intervals = [r[2] for r in rows[1:]]
    s = sorted(intervals)
    worst = s[-1]
    return {
        "rows": rows,
        "intervals": len(intervals),
        "fps": len(intervals) / ((rows[-1][1] - rows[0][1]) / 1000.0),
        "median": median(intervals),
        "p90": nearest_rank(s, 90),
        "p99": nearest_rank(s, 99),
        "worst": worst,
        "worst_frame": rows[1 + intervals.index(worst)][0],
        "swap": median([r[3] for r in rows[1:]]),
        "wait": median([r[4] for r in rows[1:]]),
        "rest": median([r[2] - r[3] - r[4] for r in rows[1:]]),
        "cpu_ms": float(head["cpu_seconds_per_frame"]) * 1e3,
        "faults": float(head["minor_faults_per_frame"]),
        "rss_mib": int(head["peak_rss_kib"]) / 1024,
        "startup_ms": float(head["start_to_first_frame_ms"]),
    }


def backends_table(results):
    """Section 4's table: X11 and Wayland, medians over the runs of each."""
    rows = {}
    for backend in ("x11", "wayland"):
        runs = []
        for n in (1, 2, 3):
            path = os.path.join(results, f"{backend}-{n}.txt")
            run = read_pacing(path)
            run["server_ms"] = float(read_keys(path, "# ")["server_cpu_seconds_per_frame"]) * 1e3
            runs.append(run)
        rows[backend] = {k: median([r[k] for r in runs]) for k in ("fps", "median", "cpu_ms", "server_ms")}
        rows[backend]["intervals"] = runs[0]["intervals"]
        rows[backend]["fps_runs"] = ", ".join(f"{r['fps']:.1f}" for r in runs)
    x, y = rows["x11"], rows["wayland"]
    out = ["| Figure (median of 3 runs) | X11 (Xvfb) | Wayland (weston, headless, pixman) | Wayland / X11 |",
           "|---|---|---|---|"]
    out.append(f"| frames per second ({x['intervals']} intervals / their span) | {x['fps']:.2f} | {y['fps']:.2f} "
               f"| {y['fps'] / x['fps']:.3f} |")
    out.append(f"| frames per second of each run | {x['fps_runs']} | {y['fps_runs']} | |")
    out.append(f"| median frame interval | {x['median']:.3f} ms | {y['median']:.3f} ms | |")
    out.append(f"| program's CPU time per frame, all threads | {x['cpu_ms']:.2f} ms | {y['cpu_ms']:.2f} ms "
               f"| {y['cpu_ms'] / x['cpu_ms']:.3f} |")
    out.append(f"| display server's CPU time per frame | {x['server_ms']:.2f} ms | {y['server_ms']:.2f} ms | |")
    total_x, total_y = x["cpu_ms"] + x["server_ms"], y["cpu_ms"] + y["server_ms"]
    out.append(f"| both together | {total_x:.2f} ms | {total_y:.2f} ms | {total_y / total_x:.3f} |")
    return out


def backends_section(w, results):
    w("## 4. X11 and Wayland side by side")
    w("")
    w("The same program, build and scene, in turns under Xvfb (X11) and under weston's headless backend")
    w("with its pixman renderer (Wayland; like Xvfb, weston then copies each frame on the CPU), both started")
    w("once, each with the pacing probe of section 3: 3 runs of 300 intervals per backend, X11 and Wayland")
    w("alternating. The")
    w("program's CPU time is `getrusage` between its first and last recorded frame; the display server's is")
    w("its user and system time from `/proc/PID/stat` over the whole run, start-up and shutdown included,")
    w("divided by the frames. GLFW picks the backend at run time (`XDG_SESSION_TYPE`, `WAYLAND_DISPLAY`).")
    w("")
    for line in backends_table(results):
        w(line)
    w("")


def web_section(w, results):
    """Section 5, from scripts/web-pacing.sh's records in RESULTS/web."""
    web = os.path.join(results, "web")
    desktop = read_pacing(os.path.join(web, "desktop.txt"))
    runs = {}
    for engine in ("chromium", "firefox"):
        with open(os.path.join(web, f"{engine}.json")) as f:
            runs[engine] = json.load(f)
        if not runs[engine].get("intervals"):
            sys.exit(f"report: {web}/{engine}.json holds no frame intervals")
    machine = read_machine(os.path.join(web, "machine.txt"))
    sizes = read_keys(os.path.join(web, "sizes.txt"))
    d = summary([r[2] for r in desktop["rows"][1:]])
    rows = [("desktop (Xvfb)", f"{desktop['startup_ms']:.0f} ms after the start", d)]
    for engine, label in (("chromium", "Chromium (headless)"), ("firefox", "Firefox (a window on Xvfb)")):
        rows.append((label, f"{runs[engine]['firstFrameMs']:.0f} ms after navigation", summary(runs[engine]["intervals"])))
    w("## 5. The browser beside the desktop")
    w("")
    w(f"`scripts/web-pacing.sh {d['n']}` ({machine['date']}; load averages {machine['load before']} before,")
    w(f"{machine['load after']} after): the desktop window under Xvfb with the pacing probe of section 3, then")
    w("the web build's page in headless Chromium (ANGLE on EGL) and in Firefox in a window on Xvfb, one")
    w(f"after the other, all drawn by Mesa's llvmpipe, {d['n']} frame intervals each. In a browser an interval")
    w("is the time between two calls of the frame, taken with `performance.now()` in the page (Firefox's")
    w("to the microsecond: the driver turns off its rounding to 1 ms). Percentiles by nearest rank")
    w("(`bench/percentiles.py`), for every row.")
    w("")
    w("| | first frame | p50 | p90 | p99 | max | frames per second by p50 | p50 / desktop's |")
    w("|---|---|---|---|---|---|---|---|")
    for label, first, f in rows:
        w(f"| {label} | {first} | {f['p50']:.1f} ms | {f['p90']:.1f} ms | {f['p99']:.1f} ms | {f['max']:.1f} ms "
          f"| {1000 / f['p50']:.0f} | {f['p50'] / d['p50']:.2f} |")
    w("")
    w("Where a frame's processor time goes, over the same intervals: the desktop program's threads")
    w("(`getrusage`, llvmpipe's rendering threads included), and each browser's processes by kind")
    w("(`/proc/PID/stat` of the browser and every process under it, read by the driver as the intervals")
    w("begin and end, divided by the frames drawn meanwhile). WebGL is drawn by llvmpipe in Chromium's")
    w("GPU process and in Firefox's main process; the page's program runs in the renderer or tab.")
    w("")
    w("| | process | CPU time per frame | minor page faults per frame |")
    w("|---|---|---|---|")
    w(f"| desktop | the program | {desktop['cpu_ms']:.1f} ms | {desktop['faults']:,.1f} |")
    for engine, label in (("chromium", "Chromium"), ("firefox", "Firefox")):
        procs = runs[engine].get("processes", {})
        for kind, p in sorted(procs.items(), key=lambda kv: -kv[1]["cpuMs"]):
            if p["cpuMs"] >= 0.1:
                w(f"| {label} | {kind} | {p['cpuMs']:.1f} ms | {p['faults']:,} |")
    w("")
    w(f"Browsers: Chromium {machine['chromium']}; Firefox {machine['firefox']}; emscripten {machine['emscripten']}.")
    kb = lambda key: int(sizes[key]) / 1000
    w(f"The page is {kb('html'):.1f} KB of HTML, {kb('js'):.0f} KB of JavaScript, {kb('wasm'):.0f} KB of WebAssembly "
      f"and a {kb('svg'):.1f} KB icon,")
    w(f"{kb('gzip'):.0f} KB gzipped (each file with `gzip -9`, summed).")
    w("")
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "web-pacing.md")) as f:
        for line in f.read().rstrip("\n").split("\n"):
            w(line)
    w("")


# ---- main --------------------------------------------------------------------


def main():
    if sys.argv[1] == "--backends":
        print("\n".join(backends_table(sys.argv[2])))
        return
    if sys.argv[1] == "--web":  # section 5 alone, in place in the page
        results, output = sys.argv[2], sys.argv[3]
        section = []
        web_section(section.append, results)
        with open(output) as f:
            text = f.read()
        begin = text.index("## 5. ")
        end = text.index("\n## ", begin) + 1
        with open(output, "w") as f:
            f.write(text[:begin] + "\n".join(section) + "\n" + text[end:])
        return
    results, output = sys.argv[1], sys.argv[2]
    machine = read_machine(os.path.join(results, "machine.txt"))

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

    pacing = read_pacing(os.path.join(results, "pacing.txt"))
    trimmed = read_pacing(os.path.join(results, "pacing-trimmed.txt"))
    fps, med, p99, worst = pacing["fps"], pacing["median"], pacing["p99"], pacing["worst"]
    n_int = pacing["intervals"]
    with open(os.path.join(results, "intervals.dat"), "w") as f:
        f.write("# frame interval_ms swap_ms wait_ms interval_heap_trimmed_ms\n")
        for r, k in zip(pacing["rows"][1:], trimmed["rows"][1:]):
            f.write(f"{r[0]} {r[2]:.6f} {r[3]:.6f} {r[4]:.6f} {k[2]:.6f}\n")

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
                "weston", "chromium", "firefox", "emscripten", "load before", "load after", "build"):
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
    w("Why `rotate` costs more than its floor: besides the two `sincos` calls it normalises three vectors")
    w("(each a dot product, a square root and four true divisions), and two of these depend on each other")
    w("(the right vector, then the turned direction), so a square root and a division stand twice on the")
    w("critical path after the cosines and sines. The engine is compiled as one translation unit and")
    w("`rotate` is flattened, so the kernel's operations are inlined and the independent work overlaps;")
    w("before that (three out-of-line `normalize` calls) `rotate` took 3.7× its floor on this machine. What")
    w("is left is fixed by the engine's exactness: the divisions may not become multiplications by a")
    w("reciprocal, and no operation may be fused or reordered, so the latency chain stays. The target of")
    w("1.5× would need fewer dependent operations than the algorithm has.")
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
    w(f"returns (CLOCK_MONOTONIC). The probe records {len(pacing['rows'])} frames, the {n_int} intervals between them,")
    w("then makes `WindowShouldClose` report true and the program ends normally.")
    w("")
    w("| Figure | As shipped | Diagnostic: glibc's default heap trimming (see below) |")
    w("|---|---|---|")
    p, k = pacing, trimmed
    w(f"| frames per second ({n_int} intervals / their total span) | {p['fps']:.2f} | {k['fps']:.2f} |")
    w(f"| median frame interval | {p['median']:.3f} ms | {k['median']:.3f} ms |")
    w(f"| 99th percentile (nearest rank) | {p['p99']:.3f} ms | {k['p99']:.3f} ms |")
    w(f"| worst interval | {p['worst']:.3f} ms (frame {p['worst_frame']}) | {k['worst']:.3f} ms "
      f"(frame {k['worst_frame']}) |")
    w(f"| CPU time per frame, all threads | {p['cpu_ms']:.2f} ms | {k['cpu_ms']:.2f} ms |")
    w(f"| minor page faults per frame | {p['faults']:,.1f} | {k['faults']:,.1f} |")
    w(f"| peak resident memory (ru_maxrss) | {p['rss_mib']:.1f} MiB | {k['rss_mib']:.1f} MiB |")
    w(f"| process start to first presented frame | {p['startup_ms']:.1f} ms | {k['startup_ms']:.1f} ms |")
    w("| **where a frame's time goes** (medians) | | |")
    w(f"| `SwapScreenBuffer`: llvmpipe renders, the image goes to Xvfb | {p['swap']:.3f} ms | {k['swap']:.3f} ms |")
    w(f"| `WaitTime`: raylib waits out the rest of the 1/60 s | {p['wait']:.3f} ms | {k['wait']:.3f} ms |")
    w(f"| the rest: frame loop, raylib's draw calls (Mesa's vertex work), events | {p['rest']:.3f} ms | "
      f"{k['rest']:.3f} ms |")
    w("")
    w("![Frame intervals over the run](frame-intervals.png)")
    w("")
    w("How the figures are taken. CPU time and page faults come from `getrusage` (every thread of the")
    w("process, llvmpipe's rendering threads included) between the first and the last recorded frame. The")
    w("start-up time runs from a CLOCK_REALTIME stamp that `scripts/bench.sh` takes just before it executes")
    w("the program to the return of the first `SwapScreenBuffer`: loading the libraries, opening the window,")
    w("Mesa's set-up and raylib's shader compilation.")
    w("")
    w("### Where the time goes")
    w("")
    w("raylib paces the loop itself: `EndDrawing` measures the frame and calls `WaitTime` for what is left")
    w("of 1/60 s. When the frame's own work already takes longer, there is nothing to wait for and the")
    w("interval is the work. The program's own part of that work is small (section 2: about 5,000")
    w("instructions, a few microseconds). Nearly all of it is raylib and Mesa drawing the scene in software:")
    w("`DrawSphere` and `DrawSphereWires` emit some 80,000 vertices a frame in immediate mode, and llvmpipe")
    w("transforms them on the program's thread before its two rendering threads rasterise.")
    w("")
    w("On every frame Mesa frees large vertex buffers at the top of the heap and allocates them again on the")
    w("next. By default glibc's `free` gives that memory back to the kernel (the heap top is trimmed past")
    w("`M_TRIM_THRESHOLD`, 128 KiB by default) and the next frame faults it in again, page by page;")
    w("`perf record -e cpu-clock -g` over the running window (run by hand once, not by the script) put a")
    w("third of all samples in the kernel's page-fault handler. The program therefore sets")
    w("`M_TRIM_THRESHOLD` to 64 MiB at start-up, and glibc keeps the memory. The diagnostic column is the")
    w("same program and run with that one call swallowed by the probe (`ORVAN_PACING_IGNORE_MALLOPT=1`):")
    w(f"{k['faults']:,.0f} minor faults a frame instead of {p['faults']:,.1f}, {k['cpu_ms']:.1f} ms of CPU a frame instead")
    w(f"of {p['cpu_ms']:.1f}, and {k['fps']:.1f} frames per second instead of {p['fps']:.1f}.")
    w("")
    w("The remaining long intervals are the machine: a virtual machine with two cores, where llvmpipe's")
    w("rendering threads and the program's thread compete with whatever else runs (see the load averages")
    w("above); frames that lose the processor show up as the long intervals of the plot.")
    w("")
    backends_section(w, results)
    web_section(w, results)

    w("## Method, in one command")
    w("")
    w("```sh")
    w("scripts/setup-deps.sh --tests   # once, on a fresh Debian 12 or 13 machine")
    w("scripts/bench.sh        # builds the default preset, runs all of the above, rewrites this page")
    w("```")
    w("")
    w("Raw results of the last run stay in `build/default/bench/results/` (benchmark JSON, callgrind")
    w("profiles, probe outputs).")

    # The page is the repository's: paths in it are relative to the repository,
    # never those of the machine it was measured on (.deps may link elsewhere).
    text = "\n".join(L) + "\n"
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    for root in {repo, os.path.realpath(repo), os.path.realpath(os.path.join(repo, ".deps"))}:
        if root + "/" in text:
            sys.exit(f"report: the page would name {root}/, a folder of this machine")
    with open(output, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
