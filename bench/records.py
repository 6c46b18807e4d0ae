# SPDX-License-Identifier: MIT
"""What bench/'s scripts share: where the build is (ORVAN_BUILD_DIR, by default build/default), the system tests'
harness on the import path, the statistics, a run with the pacing probe (bench/pacing_probe.c), reading the records."""
import contextlib
import math
import os
import re
import subprocess
import sys
import time
from collections import defaultdict
from pathlib import Path
from statistics import median  # the middle value, or the mean of the two middle ones

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "system"))
BUILD = Path(os.environ.get("ORVAN_BUILD_DIR", REPO / "build" / "default")).resolve()
EXE = BUILD / "orvan-demo-window"

import harness  # noqa: E402


def summary(values):
    """n, the 50th, 90th and 99th percentiles by nearest rank (the smallest value with at least p % of the values at or
    below it) and the maximum."""
    s = sorted(values)
    return {"n": len(s), **{f"p{p}": s[max(1, math.ceil(p / 100.0 * len(s))) - 1] for p in (50, 90, 99)}, "max": s[-1]}


def lowest(t, values, i, until):
    """The lowest of values[i:] taken before time UNTIL (values[i] at least, whatever its time); T ascends."""
    return min([values[i]] + [v for at, v in zip(t[i:], values[i:]) if at < until])


def window_rates(t, counts, i, window):
    """Rates of a counter over consecutive windows from sample i: a window ends at the first sample at least
    WINDOW - 0.5 after its start (the last sample ends one if no window has ended before). A list of (start, rate)."""
    rates, s = [], i
    for j in range(i + 1, len(t)):
        if t[j] - t[s] >= window - 0.5 or (j == len(t) - 1 and not rates):
            rates.append((t[s], (counts[j] - counts[s]) / (t[j] - t[s])))
            s = j
    return rates


def longest_still(t, counts, i):
    """The longest time from sample i on during which a counter did not grow: (seconds, when it last grew before)."""
    longest, at, since = 0.0, t[i], i
    for j in range(i + 1, len(t)):
        if counts[j] > counts[since]:
            since = j
        elif t[j] - t[since] > longest:
            longest, at = t[j] - t[since], t[since]
    return longest, at


def say(text):
    """TEXT, after the running script's name."""
    print(f"{Path(sys.argv[0]).stem}: {text}", flush=True)


def add_machine(folder, *lines):
    with open(folder / "machine.txt", "a") as f:
        f.writelines(line + "\n" for line in lines)


def load():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def now():
    return time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())


def output(*argv):
    return subprocess.run(argv, capture_output=True, text=True).stdout.strip()


def version(package):
    return output("dpkg-query", "-W", "-f=${Version}", package) or "unknown"


@contextlib.contextmanager
def running(server, stop="stop"):
    """SERVER (of tests/system/displays.py, or another with a method named STOP), stopped at the end."""
    try:
        yield server
    finally:
        getattr(server, stop)()


def pace(results, work, name, env, frames=601):
    """The program run for FRAMES frames with the pacing probe: record RESULTS/NAME.txt, output NAME.out and .err."""
    env = dict(env, LD_PRELOAD=str(BUILD / "bench/libpacing_probe.so"), ORVAN_PACING_FRAMES=str(frames),
               ORVAN_PACING_OUT=str(results / f"{name}.txt"), ORVAN_PACING_START_NS=str(time.time_ns()))
    program = harness.Process([str(EXE)], name, results, env=env, cwd=work, mark=work.name)
    if (status := program.wait(90)) != 0:
        raise harness.Failed(f"the program ({name}) ended with {status}\n{harness.tail(program.err)}")


def keys(path, prefix="", sep=None):
    """The "[PREFIX]key value" lines of a file (SEP ":": "key: value", the key may hold spaces), as a dict."""
    with open(path) as f:
        pairs = (line[len(prefix):].split(sep, 1) for line in f if line.startswith(prefix))
        return {p[0].strip(): p[1].strip() for p in pairs if len(p) == 2}


def callgrind_self_costs(path):
    """Self cost (Ir) of every (object, function) in a callgrind profile; the line after calls= is not a self cost."""
    names, costs, current, skip = {"ob": {}, "fn": {}}, defaultdict(int), {"ob": "", "fn": ""}, False
    with open(path) as f:
        for line in f:
            if m := re.match(r"c?(ob|fn)=(?:\((\d+)\))?\s*(.*)$", line.rstrip("\n")):
                kind, ident, name = m.groups()
                if ident is not None:  # compressed: "(id) name" the first time, "(id)" after
                    names[kind][ident] = name = name or names[kind].get(ident, "?")
                if not line.startswith("c"):
                    current[kind] = name
            elif line.startswith("calls="):
                skip = True
            elif re.match(r"[\d+*-]", line):
                fields = line.split()
                if not skip and len(fields) >= 2:
                    costs[(current["ob"], current["fn"])] += int(fields[1])
                skip = False
    return costs


def group(ob):
    base = os.path.basename(ob)
    return ("program" if base == "orvan-demo-window" else "libm" if re.match(r"libm[.-]", base)
            else "raylib" if base.startswith("libraylib.so") else "other")


def pacing(path):
    """The figures of one pacing probe record, its intervals' summary() among them."""
    head = keys(path, "# ")
    with open(path) as f:
        rows = [tuple(float(x) for x in line.split()) for line in f if line.strip() and not line.startswith("#")]
    if len(rows) < 2 or "cpu_seconds_per_frame" not in head:
        sys.exit(f"report: {path} holds fewer frames than asked for")
    iv = [r[2] for r in rows[1:]]
    return {"rows": rows, **summary(iv), "fps": len(iv) / ((rows[-1][1] - rows[0][1]) / 1000.0),
            "median": median(iv), "worst_frame": int(rows[1 + iv.index(max(iv))][0]),
            "swap": median([r[3] for r in rows[1:]]), "wait": median([r[4] for r in rows[1:]]),
            "rest": median([r[2] - r[3] - r[4] for r in rows[1:]]),
            "cpu_ms": float(head["cpu_seconds_per_frame"]) * 1e3, "faults": float(head["minor_faults_per_frame"]),
            "rss_mib": int(head["peak_rss_kib"]) / 1024, "startup_ms": float(head["start_to_first_frame_ms"]),
            "server_ms": float(head.get("server_cpu_seconds_per_frame", "nan")) * 1e3}
