#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The tables of docs/performance.md, and its plot, from the results bench/bench.py collected (each part read where
its table is made); the page's prose is written by hand around them.

usage: report.py RESULTS_DIR [--plot OUT.png]   (--plot: section 3's frame intervals, by gnuplot)
"""
import json
import os
import subprocess
import sys

from records import REPO, callgrind_self_costs, group, keys, median, pacing, summary

ORDER = "date cpu cores kernel os compiler glibc mesa raylib xvfb weston chromium firefox emscripten".split() + [
    "load before", "load after"]
ENGINE = {  # what one iteration of each benchmark does
    "BM_dot": "`HomVec4::dot`", "BM_norm": "`HomVec4::norm`", "BM_normalize": "`HomVec4::normalize`, ordinary input",
    "BM_normalize_fallback": "`HomVec4::normalize`, length below 1e-15 (fallback (0, 0, 0, 1))",
    "BM_pickBestCard": "`HomVec4::pickBestCard`, z largest (longest path)",
    "BM_HomVec4_fromCartesian": "`HomVec4::fromCartesian`",
    "BM_OrvanCamera_fromCartesian": "`OrvanCamera::fromCartesian`, the program's eye and target",
    "BM_rotate": "`OrvanCamera::rotate(0.005, 0.002)` of the same camera, calls independent",
    "BM_rotate_chained": "`rotate` of the camera the previous call returned, as the program does",
    "BM_rotate_floor_sincos": "floor: cos and sin of 0.005 and of 0.002 alone"}


def table(head, rows):
    line = lambda cells: "|" + "".join(f" {c} |" if str(c) else " |" for c in cells)  # noqa: E731
    return [line(head), "|" + "---|" * len(head)] + [line(r) for r in rows]


def report(results):
    at, out = lambda *p: os.path.join(results, *p), []  # noqa: E731
    has = lambda *names: all(os.path.exists(at(n)) for n in names)  # noqa: E731
    if has("machine.txt"):
        found = keys(at("machine.txt"), sep=":")
        order = [k for k in ORDER if k in found] + [k for k in found if k not in ORDER]
        out += ["## Machine", ""] + [f"- {k}: {found[k]}" for k in order] + [""]
    if has("engine.json", "frames.txt", "allocs.txt", "pacing.txt"):
        runs = json.load(open(at("engine.json")))["benchmarks"]
        # The medians of the repetitions; a single repetition has no aggregates, its run is its median.
        runs = ([b for b in runs if b.get("aggregate_name") == "median"]
                or [b for b in runs if b["run_type"] == "iteration"])
        if any(b["time_unit"] != "ns" for b in runs):
            sys.exit("report: a benchmark not timed in ns")
        med = {b["run_name"]: (b["real_time"], b["cpu_time"]) for b in runs}
        floor, rotate = med["BM_rotate_floor_sincos"][0], med["BM_rotate"][0]
        normal, fallback = med["BM_normalize"][0], med["BM_normalize_fallback"][0]
        low, high = (int(x) for x in open(at("frames.txt")).read().split())
        c_low, c_high = (callgrind_self_costs(at(f"callgrind.{k}")) for k in (low, high))
        delta, n = {k: c_high.get(k, 0) - c_low.get(k, 0) for k in set(c_low) | set(c_high)}, high - low
        groups = {g: sum(d for (ob, _), d in delta.items() if group(ob) == g)
                  for g in ("program", "libm", "raylib", "other")}
        own = (groups["program"] + groups["libm"]) / n
        allocs = keys(at("allocs.txt"))
        if allocs.get("window_complete") != "1":
            sys.exit("report: the allocation run did not reach the end of its window")
        frm, to, in_window = allocs["window_from_frame"], allocs["window_to_frame"], int(allocs["allocations_window"])
        p = pacing(at("pacing.txt"))
        mark = lambda ok: "met" if ok else "**missed**"  # noqa: E731
        out += ["## Summary", ""] + table(["Figure", "Measured", "Target", ""], [
            ["`rotate` / its floor (4 × sin, cos), medians",
             f"{rotate / floor:.2f}× ({rotate:.1f} ns / {floor:.1f} ns)", "≤ 1.5×", mark(rotate / floor <= 1.5)],
            ["`normalize`, ordinary input, median", f"{normal:.2f} ns", "< 10 ns", mark(normal < 10)],
            ["`normalize`, fallback input, median", f"{fallback:.2f} ns", "< 10 ns", mark(fallback < 10)],
            ["Program's own instructions per frame (frame loop, engine, libm sin/cos)", f"{own:,.0f}", "< 5,000",
             mark(own < 5000)],
            [f"Heap allocations, end of frame {frm} to end of frame {to}", in_window, 0, mark(in_window == 0)],
            [f"Frames per second, real window, {p['n']} intervals", f"{p['fps']:.2f}", 60, ""],
            ["Frame interval: median / 99th percentile / worst",
             f"{p['median']:.3f} / {p['p99']:.3f} / {p['max']:.3f} ms", "median 16.67 ms", ""]]) + [""]
        out += [f"## 1. Engine micro-benchmarks ({runs[0].get('repetitions')} repetitions)", ""] + table(
            ["Benchmark", "What one iteration does", "Median real time", "Median CPU time"],
            [[f"`{k}`", v, f"{med[k][0]:.2f} ns", f"{med[k][1]:.2f} ns"] for k, v in ENGINE.items()]) + [""]
        out += [f"## 2. Instructions per frame ({low} and {high} frames, {n} subtracted)", ""] + table(
            ["Instructions per frame", ""],
            [["executable: frame loop and engine", f"{groups['program'] / n:,.1f}"],
             ["C maths library (sin, cos)", f"{groups['libm'] / n:,.1f}"],
             ["**program's own work**", f"**{own:,.1f}**"],
             ["raylib stand-in (not the program's; the real raylib does far more)", f"{groups['raylib'] / n:,.1f}"],
             ["anything else", f"{groups['other'] / n:,.1f}"]]) + [""]
        top = sorted(((d, ob, fn) for (ob, fn), d in delta.items() if group(ob) in ("program", "libm")), reverse=True)
        out += table(["Function", "Object", "Instructions per frame"],
                     [[f"`{fn}`", os.path.basename(ob), f"{d / n:,.1f}"] for d, ob, fn in top if d / n >= 0.5])
        out += [""] + table(["Heap allocations", f"end of frame {frm} to end of frame {to}", "whole run"],
                            [["counted", in_window, allocs["allocations_total"]]]) + [""]
        t = pacing(at("pacing-trimmed.txt"))
        rows = [(f"frames per second ({p['n']} intervals / their total span)", "{fps:.2f}"),
                ("median frame interval", "{median:.3f} ms"), ("99th percentile (nearest rank)", "{p99:.3f} ms"),
                ("worst interval", "{max:.3f} ms (frame {worst_frame})"),
                ("CPU time per frame, all threads", "{cpu_ms:.2f} ms"),
                ("minor page faults per frame", "{faults:,.1f}"),
                ("peak resident memory (ru_maxrss)", "{rss_mib:.1f} MiB"),
                ("process start to first presented frame", "{startup_ms:.1f} ms"),
                ("**where a frame's time goes** (medians)", ""),
                ("`SwapScreenBuffer`: llvmpipe renders, the image goes to Xvfb", "{swap:.3f} ms"),
                ("`WaitTime`: raylib waits out the rest of the 1/60 s", "{wait:.3f} ms"),
                ("the rest: frame loop, raylib's draw calls (Mesa's vertex work), events", "{rest:.3f} ms")]
        out += [f"## 3. Frame pacing of the real window ({len(p['rows'])} frames)", ""] + table(
            ["Figure", "As shipped", "Diagnostic: glibc's default heap trimming (see below)"],
            [[label, form.format(**p), form.format(**t)] for label, form in rows]) + [""]
    if has("x11-1.txt"):
        out += ["## 4. X11 and Wayland side by side", ""] + backends(results) + [""]
    if has("web"):
        out += web(at("web"))
    if has("opengl.md"):  # written by bench/beside.py
        out += ["## 6. The OpenGL 2.1 build beside the 3.3 build", "", open(at("opengl.md")).read()]
    return out


def backends(results):
    runs = {b: [pacing(os.path.join(results, f"{b}-{i}.txt")) for i in (1, 2, 3)] for b in ("x11", "wayland")}
    x, y = ({**{k: median([r[k] for r in rs]) for k in ("fps", "median", "cpu_ms", "server_ms")},
             "each": ", ".join(f"{r['fps']:.1f}" for r in rs)} for rs in runs.values())
    for m in (x, y):
        m["both"] = m["cpu_ms"] + m["server_ms"]
    rows = [(f"frames per second ({runs['x11'][0]['n']} intervals / their span)", "{fps:.2f}", "fps"),
            ("frames per second of each run", "{each}", ""), ("median frame interval", "{median:.3f} ms", ""),
            ("program's CPU time per frame, all threads", "{cpu_ms:.2f} ms", "cpu_ms"),
            ("display server's CPU time per frame", "{server_ms:.2f} ms", ""),
            ("both together", "{both:.2f} ms", "both")]
    return table(["Figure (median of 3 runs)", "X11 (Xvfb)", "Wayland (weston, headless, pixman)", "Wayland / X11"],
                 [[label, form.format(**x), form.format(**y), k and f"{y[k] / x[k]:.3f}"] for label, form, k in rows])


def web(folder):
    """Section 5's tables, from bench/beside.py's records."""
    desktop = pacing(os.path.join(folder, "desktop.txt"))
    runs = {engine: json.load(open(os.path.join(folder, f"{engine}.json"))) for engine in ("chromium", "firefox")}
    if empty := [engine for engine, run in runs.items() if not run.get("intervals")]:
        sys.exit(f"report: {folder}/{empty[0]}.json holds no frame intervals")
    rows = [("desktop (Xvfb)", f"{desktop['startup_ms']:.0f} ms after the start", desktop)] + [
        (label, f"{runs[e]['firstFrameMs']:.0f} ms after navigation", summary(runs[e]["intervals"]))
        for e, label in (("chromium", "Chromium (headless)"), ("firefox", "Firefox (a window on Xvfb)"))]
    out = [f"## 5. The browser beside the desktop ({desktop['n']} intervals each)", ""] + [
        f"- {k}: {v}" for k, v in keys(os.path.join(folder, "machine.txt"), sep=":").items()] + [""]
    out += table(["", "first frame", "p50", "p90", "p99", "max", "frames per second by p50", "p50 / desktop's"],
                 [[label, first, *(f"{f[k]:.1f} ms" for k in ("p50", "p90", "p99", "max")), f"{1000 / f['p50']:.0f}",
                   f"{f['p50'] / desktop['p50']:.2f}"] for label, first, f in rows]) + [""]
    cpu = [["desktop", "the program", f"{desktop['cpu_ms']:.1f} ms", f"{desktop['faults']:,.1f}"]]
    for engine, label in (("chromium", "Chromium"), ("firefox", "Firefox")):
        procs = sorted(runs[engine].get("processes", {}).items(), key=lambda kv: -kv[1]["cpuMs"])
        cpu += [[label, kind, f"{p['cpuMs']:.1f} ms", f"{p['faults']:,}"] for kind, p in procs if p["cpuMs"] >= 0.1]
    out += table(["", "process", "CPU time per frame", "minor page faults per frame"], cpu) + [""]
    sizes = keys(os.path.join(folder, "sizes.txt"))
    kb = [f"{int(sizes[k]) / 1000:.{d}f}" for k, d in (("html", 1), ("js", 0), ("wasm", 0), ("svg", 1), ("gzip", 0))]
    out += table(["The page, KB", "HTML", "JavaScript", "WebAssembly", "icon", "all, each `gzip -9`"], [["", *kb]])
    return out


PLOT = """set terminal pngcairo size 1100,520 font "Sans,10"; set output out
set title "orvan-demo-window under Xvfb + llvmpipe: interval between presented frames (values above 100 ms are cut off)"
set xlabel "frame"; set ylabel "milliseconds"; set grid ytics lc rgb "#dddddd"; set key top right opaque box
set xrange [0:*]; set yrange [0:100]
plot dir."/pacing.txt" every ::1 using 1:3 with lines lw 1.2 lc rgb "#1f77b4" title "interval, as shipped", \\
     dir."/pacing.txt" every ::1 using 1:4 with lines lw 1 lc rgb "#d62728" title "of which swap (Mesa renders, hands to X)", \\
     dir."/pacing-trimmed.txt" every ::1 using 1:3 with lines lw 1 lc rgb "#ff7f0e" \\
       title "interval, diagnostic run with glibc trimming the heap", \\
     1000.0/60 with lines dt 2 lw 1.5 lc rgb "#000000" title "1/60 s"
"""


def plot(results, png):
    """Section 3's frame intervals, as shipped and with the heap trimmed, over the recorded frames."""
    subprocess.run(["gnuplot", "-e", f"dir='{results}'; out='{png}'", "-"], input=PLOT, text=True, check=True)


def text(results):
    """The tables, checked to name no folder of this machine (.deps may link elsewhere): paths are the repository's."""
    out = "\n".join(report(results)) + "\n"
    for root in {str(REPO), os.path.realpath(REPO), os.path.realpath(REPO / ".deps")}:
        if root + "/" in out:
            sys.exit(f"report: the tables would name {root}/, a folder of this machine")
    return out


def main(argv):
    if len(argv) not in (1, 3) or (len(argv) == 3 and argv[1] != "--plot"):
        sys.exit(__doc__.split("\n\n")[1])
    sys.stdout.write(text(argv[0]))
    if len(argv) == 3:
        plot(argv[0], argv[2])


if __name__ == "__main__":
    main(sys.argv[1:])
