#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Frame pacing of the program on the desktop and in two browsers, one after
the other in the same run, all drawn by Mesa's llvmpipe: the desktop window
under Xvfb with bench/pacing_probe preloaded, then the web build's page
(served on 127.0.0.1) in headless Chromium and in Firefox in a window on
Xvfb, driven by tests/system/browsers.py. A measurement, not a check: it
prints the figures (bench/stats.py's percentiles) and the load before and
after. scripts/web-pacing.sh builds nothing and runs this.

usage: browser_pacing.py [INTERVALS]   (default 300 frame intervals each)

Needs the default and web builds (scripts/test.sh default web makes both).
ORVAN_WEB_PACING_OUT=DIR also keeps the records there: desktop.txt (the
pacing probe's), chromium.json and firefox.json (firstFrameMs from the start
of navigation, renderer, intervals in ms, and processes: CPU time in ms and
minor page faults per frame of the browser and every process under it, by
kind of process), sizes.txt (the page's files in bytes, and gzipped) and
machine.txt (browsers, date, load); bench/report.py reads them.
"""
import functools
import gzip
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import psutil

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "system"))
import browsers, displays, harness  # noqa: E401, E402
from stats import line  # noqa: E402


def processes(root):
    """{pid: (kind, CPU clock ticks, minor faults)} of ROOT and every process
    under it; kind is Chromium's --type, Firefox's content process kind, or main."""
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


def measure(engine, binary, url, intervals, env):
    with tempfile.TemporaryDirectory() as folder:
        browser = browsers.ENGINES[engine](binary, folder, env)
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


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def version(package):
    done = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True, text=True)
    return done.stdout or "unknown"


def main(intervals):
    build, web = REPO / "build/default", REPO / "build/web"
    for file in (build / "orvan-demo-window", build / "bench/libpacing_probe.so", web / "orvan-demo-window.wasm"):
        if not file.exists():
            sys.exit(f"web-pacing: {file} missing: run scripts/test.sh default web first")
    work = Path(tempfile.mkdtemp(prefix="orvan-web-pacing-"))
    (work / "machine.txt").write_text(
        f"date: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}\n"
        f"chromium: {version('chromium')} (headless, --use-angle=gl-egl)\n"
        f"firefox: {version('firefox-esr')} (a window on Xvfb)\nemscripten: {version('emscripten')}\n"
        f"load before: {load()}\n")
    print(f"load before: {load()}")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=str(web)))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = f"http://127.0.0.1:{server.server_address[1]}/orvan-demo-window.html"
    xvfb = displays.Xvfb(work, mark=work.name)
    try:
        env = dict(xvfb.env, LD_PRELOAD=str(build / "bench/libpacing_probe.so"),
                   ORVAN_PACING_OUT=str(work / "desktop.txt"), ORVAN_PACING_FRAMES=str(intervals + 1),
                   ORVAN_PACING_START_NS=str(time.time_ns()))
        program = harness.Process([str(build / "orvan-demo-window")], "desktop", work, env=env, cwd=work,
                                  mark=work.name)
        if program.wait(60 + intervals) != 0:
            raise harness.Failed(f"the desktop program ended with {program.status}")
        rows = [r.split() for r in (work / "desktop.txt").read_text().splitlines()]
        first = next(r[2] for r in rows if r[:2] == ["#", "start_to_first_frame_ms"])
        print(f"desktop (Xvfb): first frame {first} ms after start; intervals "
              + line([float(r[2]) for r in rows if r and r[0] != "#"][1:]))
        for engine, binary, label, browser_env in (("chromium", "chromium", "chromium (headless)", harness.clean_env()),
                                                    ("firefox", "firefox-esr", "firefox (Xvfb)", xvfb.env)):
            report = measure(engine, binary, url, intervals, browser_env)
            (work / f"{engine}.json").write_text(json.dumps(report))
            print(f"{label}: first frame {report['firstFrameMs']} ms after navigation; intervals "
                  + line(report["intervals"]))
    finally:
        xvfb.stop()
        server.shutdown()
        harness.kill_leftovers(work.name)
    print(f"load after: {load()}")
    with open(work / "machine.txt", "a") as machine:
        machine.write(f"load after: {load()}\n")
    if os.environ.get("ORVAN_WEB_PACING_OUT"):
        out = Path(os.environ["ORVAN_WEB_PACING_OUT"])
        out.mkdir(parents=True, exist_ok=True)
        for name in ("desktop.txt", "chromium.json", "firefox.json", "machine.txt"):
            shutil.copy(work / name, out)
        files = [web / f"orvan-demo-window.{ext}" for ext in ("html", "js", "wasm", "svg")]
        sizes = [f"{f.suffix[1:]} {f.stat().st_size}" for f in files]
        packed = sum(len(gzip.compress(f.read_bytes(), 9)) for f in files)
        (out / "sizes.txt").write_text("\n".join(sizes + [f"gzip {packed}"]) + "\n")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) > 2 or not (sys.argv[1:] or ["300"])[0].isdigit():
        sys.exit("usage: browser_pacing.py [INTERVALS]")
    main(int((sys.argv[1:] or ["300"])[0]))
