#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Frame intervals of the web build's page in a browser (tests/system/browsers.py;
Firefox opens its window on $DISPLAY), a measurement, not a check: opens URL, lets
the program run, then records INTERVALS frame intervals where its frames end, and
prints one line of JSON: firstFrameMs (from the start of navigation), renderer,
intervals (ms) and processes: CPU time (ms) and minor page faults per frame of the
browser and every process under it over those frames, by kind of process.

usage: browser_pacing.py chromium|firefox BROWSER URL INTERVALS   (scripts/web-pacing.sh runs it)
"""
import json
import os
import sys
import tempfile
import time
from pathlib import Path

import psutil

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "system"))
import browsers  # noqa: E402
import harness  # noqa: E402


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


def measure(engine, binary, url, intervals):
    with tempfile.TemporaryDirectory() as folder:
        browser = browsers.ENGINES[engine](binary, folder, os.environ)
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


if __name__ == "__main__":
    if len(sys.argv) != 5 or sys.argv[1] not in browsers.ENGINES or not sys.argv[4].isdigit():
        sys.exit("usage: browser_pacing.py chromium|firefox BROWSER URL INTERVALS")
    print(json.dumps(measure(*sys.argv[1:4], int(sys.argv[4]))))
