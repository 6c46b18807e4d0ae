# SPDX-License-Identifier: MIT
"""Sections 5 and 6 of docs/performance.md, which say how they measure: the program beside itself elsewhere, all
drawn by Mesa's llvmpipe. web(): on the desktop (Xvfb, the pacing probe), then the web build's page (build/web, served
on 127.0.0.1) in headless Chromium and in Firefox on Xvfb (driven by tests/system/browsers.py), its records as the
page's "Method" names them. opengl(): the set-up's raylib (OpenGL 2.1) and one built with raylib's defaults (OpenGL
3.3 core) in turns under one Xvfb, its tables in opengl.md."""
import functools
import gzip
import http.server
import json
import os
import threading
import time
from pathlib import Path

import psutil
from PIL import ImageChops

from records import BUILD, EXE, REPO, add_machine, load, median, now, pace, pacing, running, version
import browsers
import displays
import harness
import report


def processes(root):
    """{pid: (kind, CPU clock ticks, minor faults)} of ROOT and every process under it; kind is Chromium's --type,
    Firefox's content process kind, or main."""
    found = {}
    for proc in [root, *root.children(recursive=True)]:
        try:
            fields = Path(f"/proc/{proc.pid}/stat").read_text().rsplit(")", 1)[1].split()
            argv = proc.cmdline()
        except (OSError, psutil.Error):
            continue  # gone meanwhile
        kind = next((a[7:] for a in argv if a.startswith("--type=")), argv[-1] if "-contentproc" in argv else "main")
        found[proc.pid] = (kind, int(fields[11]) + int(fields[12]), int(fields[7]))
    return found


def per_frame(before, after, frames):
    """{kind: {cpuMs, faults}} per frame between two processes() records."""
    out = {}
    for pid, (kind, ticks, faults) in after.items():
        _, ticks0, faults0 = before.get(pid, (kind, 0, 0))
        sums = out.setdefault(kind, [0, 0])
        sums[0] += (ticks - ticks0) * 1000 / os.sysconf("SC_CLK_TCK") / frames
        sums[1] += (faults - faults0) / frames
    return {kind: {"cpuMs": round(cpu, 2), "faults": round(faults)} for kind, (cpu, faults) in out.items()}


def in_browser(engine, binary, folder, url, intervals, env):
    folder.mkdir()
    browser = browsers.ENGINES[engine](binary, str(folder), env, mark=folder.parent.name)
    try:
        state = browser.open(url)
        if state["message"]:
            raise harness.Failed(f"the page shows a notice: {state['message']}")
        time.sleep(2.5)  # past the first frames, which also load the page's files
        browser.evaluate("""(() => { const page = Module.postMainLoop; let last = null; window.orvanIntervals = [];
            Module.postMainLoop = () => { page(); const now = performance.now();
              if (last !== null) orvanIntervals.push(now - last); last = now; }; return 0; })()""")
        root = psutil.Process(browser.process.pid)
        before, start = processes(root), browser.evaluate("orvanPage.frames")
        harness.wait_for(f"{intervals} frame intervals", lambda: browser.evaluate("orvanIntervals.length")
                         >= intervals, 60 + intervals, 0.5, process=browser.process, logs=browser.process.logs())
        after, frames = processes(root), browser.evaluate("orvanPage.frames") - start
        return {"firstFrameMs": state["firstFrameMs"], "renderer": browser.evaluate(browsers.RENDERER),
                "intervals": [round(v, 3) for v in browser.evaluate("orvanIntervals")[:intervals]],
                "processes": per_frame(before, after, frames)}
    finally:
        browser.close()


def web(out, work, intervals):
    """Section 5's records in OUT; returns the browsers' and emscripten's versions, lines of machine.txt."""
    web = REPO / "build/web"
    needed = (EXE, BUILD / "bench/libpacing_probe.so", web / "orvan-demo-window.wasm")
    if missing := [file for file in needed if not file.exists()]:
        raise harness.Failed(f"{missing[0]} missing: scripts/bench.sh web builds it")
    out.mkdir(parents=True)
    versions = [f"chromium: {version('chromium')} (headless, --use-angle=gl-egl)",
                f"firefox: {version('firefox-esr')} (a window on Xvfb)", f"emscripten: {version('emscripten')}"]
    add_machine(out, f"date: {now()}", *versions, f"load before: {load()}")
    quiet = type("Quiet", (http.server.SimpleHTTPRequestHandler,), {"log_message": lambda *_: None})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(quiet, directory=str(web)))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/orvan-demo-window.html"
    with running(displays.Xvfb(work, mark=work.name)) as xvfb, running(server, "shutdown"):
        pace(out, work, "desktop", xvfb.env, frames=intervals + 1)
        for engine, binary, env in (("chromium", "chromium", harness.clean_env()),
                                    ("firefox", "firefox-esr", xvfb.env)):
            record = in_browser(engine, binary, work / engine, url, intervals, env)
            (out / f"{engine}.json").write_text(json.dumps(record))
    add_machine(out, f"load after: {load()}")
    files = [web / f"orvan-demo-window.{ext}" for ext in ("html", "js", "wasm", "svg")]
    sizes = [f"{f.suffix[1:]} {f.stat().st_size}" for f in files]
    packed = sum(len(gzip.compress(f.read_bytes(), 9)) for f in files)
    (out / "sizes.txt").write_text("\n".join(sizes + [f"gzip {packed}"]) + "\n")
    return versions


def frame(xvfb, work, env, n=90):
    """The window's contents at frame N exactly: the frame counter holds the program there while the shot is taken."""
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


def opengl(results, work, other):
    """Section 6: OTHER holds the other libraylib.so.600 (LD_LIBRARY_PATH comes before the program's RUNPATH);
    frame 90 compared left of the frame-rate counter."""
    builds = {"OpenGL 2.1 (the set-up's)": {}, "OpenGL 3.3 (raylib's default)": {"LD_LIBRARY_PATH": other}}
    runs = {name: [] for name in builds}
    with running(displays.Xvfb(work, mark=work.name)) as xvfb:
        for turn in (1, 2, 3):
            for i, (name, env) in enumerate(builds.items()):
                pace(results, work, f"gl{i}-{turn}", dict(xvfb.env, **env))
                runs[name].append(pacing(results / f"gl{i}-{turn}.txt"))
        shots = [frame(xvfb, work, dict(xvfb.env, **env)) for env in builds.values()]
    rows = [[name, " / ".join(f"{r['fps']:.1f}" for r in rs), f"{median([r['median'] for r in rs]):.2f}",
             f"{median([r['p99'] for r in rs]):.2f}", f"{max(r['max'] for r in rs):.1f}",
             f"{median([r['cpu_ms'] for r in rs]) * 600 / 1000:.2f}"] for name, rs in runs.items()]
    differ = ImageChops.difference(shots[0].convert("RGB"), shots[1].convert("RGB")).convert("L")
    changed = sum(n for n, level in differ.getcolors(1180 * 720) if level)
    (results / "opengl.md").write_text("\n".join(report.table(
        ["raylib", "frames/s (runs 1/2/3)", "interval median (ms)", "p99 (ms)", "worst (ms)", "CPU s per 600 frames"],
        rows)) + f"\n\nframe 90, 1180x720 compared: {changed} pixels differ\n")
