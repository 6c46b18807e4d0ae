# SPDX-License-Identifier: MIT
"""The Debian packages, built once by the release workflow preset (its output in build/release-workflow.log, the
packages in build/release/): checked by test_package.py (policy, contents, dependencies, apt) and test_program.py (the
program unpacked), scripts/test.sh's "package" check."""
import re
import subprocess
from types import SimpleNamespace

import pytest

from debs import NAME, REPO, run


@pytest.fixture(scope="session")
def packages(tmp_path_factory):
    """The program's and the development package: each its .deb, listing,
    files (not folders) and unpacked folder; the program's files; a work folder."""
    release = REPO / "build" / "release"
    for old in release.glob("*.deb"):
        old.unlink()
    made = subprocess.run(["cmake", "--workflow", "--preset", "release"], cwd=REPO, text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    (REPO / "build" / "release-workflow.log").write_text(made.stdout)
    assert made.returncode == 0, "the release workflow failed:\n" + "\n".join(made.stdout.splitlines()[-30:])
    version = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", (release / "CMakeCache.txt").read_text(), re.M)[1]
    arch = run("dpkg", "--print-architecture").strip()
    found = SimpleNamespace(work=tmp_path_factory.mktemp("packages"))
    for key, package in (("program", NAME), ("development", "liborvan-dev")):
        deb = release / f"{package}_{version}_{arch}.deb"
        assert deb.is_file(), f"{deb} was not made"
        listing = run("dpkg-deb", "-c", deb)
        run("dpkg", "-x", deb, found.work / key)
        setattr(found, key, SimpleNamespace(
            deb=deb, listing=listing, root=found.work / key,
            files=sorted(line.split()[5] for line in listing.splitlines() if not line.startswith("d"))))
    found.exe = found.program.root / "usr/bin" / NAME
    found.desktop = found.program.root / f"usr/share/applications/{NAME}.desktop"
    found.metainfo = found.program.root / f"usr/share/metainfo/{NAME}.metainfo.xml"
    return found
