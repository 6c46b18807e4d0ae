# SPDX-License-Identifier: MIT
"""What the package tests share: names, folders, and a way to run a command."""
import os
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
NAME = "orvan-demo-window"
MULTIARCH = subprocess.run(["gcc", "-print-multiarch"], capture_output=True, text=True, check=True).stdout.strip()
# Libraries go to the multiarch folder (the release preset installs to /usr),
# where pkg-config of cross builds looks; the program's raylib to a folder of
# its own there, which ldconfig does not scan: no ldconfig in maintainer scripts.
LIBDIR = f"usr/lib/{MULTIARCH}"


def run(*args, **options):
    """What a command that must succeed prints, its errors included."""
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **options)
    assert result.returncode == 0, f"{args[0]} failed:\n{result.stdout}"
    return result.stdout


def without(*names):
    """This process's environment without those variables."""
    return {key: value for key, value in os.environ.items() if key not in names}
