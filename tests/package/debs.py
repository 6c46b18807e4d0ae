# SPDX-License-Identifier: MIT
"""What the package and install tests share (pytest.ini puts this folder on
the module path): names, folders, commands run, where raylib is found."""
import os
import re
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
NAME = "orvan-demo-window"
MULTIARCH = subprocess.run(["gcc", "-print-multiarch"], capture_output=True, text=True, check=True).stdout.strip()
# Libraries go to the multiarch folder, where cross pkg-config looks; the program's
# raylib to a folder there that ldconfig does not scan: no maintainer scripts.
LIBDIR = f"usr/lib/{MULTIARCH}"


def run(*args, **options):
    """What a command that must succeed prints, its errors included."""
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **options)
    assert result.returncode == 0, f"{args[0]} failed:\n{result.stdout}"
    return result.stdout


def without(*names):
    """This process's environment without those variables."""
    return {key: value for key, value in os.environ.items() if key not in names}


def runpath(exe):
    found = re.search(r"\(RUNPATH\).*\[(.*)\]", run("readelf", "-d", exe))
    return found and found[1]


def raylib_loaded(exe, env=None):
    """Every libraylib.so.600 that ldd finds for EXE, its real path."""
    ldd = run("ldd", exe, env=env)
    return [Path(line.split()[2]).resolve() for line in ldd.splitlines() if line.split()[:1] == ["libraylib.so.600"]]
