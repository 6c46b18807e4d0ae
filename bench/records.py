#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Reading the records of the measurements: "key value" files, callgrind's
profiles, and the pacing probe's record (bench/pacing_probe.c) with the
figures bench/report.py takes from it."""
import os
import re
import sys
from collections import defaultdict

from stats import median, nearest_rank


def keys(path, prefix=""):
    """The "[PREFIX]key value" (or "key: value") lines of a file, as a dict."""
    with open(path) as f:
        pairs = (line[len(prefix):].strip().split(None, 1) for line in f if line.startswith(prefix))
        return {p[0].rstrip(":"): p[1] for p in pairs if len(p) == 2}


def machine(path):
    with open(path) as f:
        return {k.strip(): v.strip() for k, _, v in (line.partition(":") for line in f) if v}


def callgrind_self_costs(path):
    """Self cost (Ir) of every (object, function) in a callgrind output file;
    a call's inclusive cost (the line after calls=) is not a self cost."""
    kind = {"ob": "ob", "cob": "ob", "fl": "fl", "fi": "fl", "fe": "fl", "cfi": "fl", "cfl": "fl", "fn": "fn",
            "cfn": "fn"}
    names, costs = {"ob": {}, "fl": {}, "fn": {}}, defaultdict(int)
    ob = fn = ""
    skip = False
    with open(path) as f:
        for line in f:
            m = re.match(r"^(ob|cob|fl|fi|fe|cfi|cfl|fn|cfn)=(?:\((\d+)\))?\s*(.*)$", line.rstrip("\n"))
            if m:
                key, ident, name = m.groups()
                if ident is not None:
                    if name:
                        names[kind[key]][ident] = name
                    name = names[kind[key]].get(ident, "?")
                if key == "ob":
                    ob = name
                elif key == "fn":
                    fn = name
            elif line.startswith("calls="):
                skip = True
            elif line[:1].isdigit() or line[:1] in ("+", "-", "*"):
                fields = line.split()
                if not skip and len(fields) >= 2:
                    costs[(ob, fn)] += int(fields[1])
                skip = False
    return costs


def group(ob):
    base = os.path.basename(ob)
    return ("program" if base == "orvan-demo-window" else "libm" if re.match(r"libm[.-]", base)
            else "raylib" if base.startswith("libraylib.so") else "other")


def pacing(path):
    """The figures of one pacing probe record."""
    head = keys(path, "# ")
    with open(path) as f:
        rows = [tuple(float(x) for x in line.split()) for line in f if line.strip() and not line.startswith("#")]
    if len(rows) < 2 or "cpu_seconds_per_frame" not in head:
        sys.exit(f"report: {path} holds fewer frames than asked for")
    iv = [r[2] for r in rows[1:]]
    s = sorted(iv)
    return {"rows": rows, "intervals": len(iv), "fps": len(iv) / ((rows[-1][1] - rows[0][1]) / 1000.0),
            "median": median(iv), "p99": nearest_rank(s, 99), "worst": s[-1],
            "worst_frame": int(rows[1 + iv.index(s[-1])][0]), "swap": median([r[3] for r in rows[1:]]),
            "wait": median([r[4] for r in rows[1:]]), "rest": median([r[2] - r[3] - r[4] for r in rows[1:]]),
            "cpu_ms": float(head["cpu_seconds_per_frame"]) * 1e3, "faults": float(head["minor_faults_per_frame"]),
            "rss_mib": int(head["peak_rss_kib"]) / 1024, "startup_ms": float(head["start_to_first_frame_ms"]),
            "server_ms": float(head.get("server_cpu_seconds_per_frame", "nan")) * 1e3}
