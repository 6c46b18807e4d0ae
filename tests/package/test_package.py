# SPDX-License-Identifier: MIT
"""The packages against Debian's policy, their contents and their dependencies (conftest.py says how they are made)."""
import os
import re
import subprocess
from pathlib import Path

import pytest

from debs import LIBDIR, NAME, REPO, run

PROGRAM_FILES = sorted(f"./{path}" for path in (
    f"usr/bin/{NAME}", f"{LIBDIR}/{NAME}/libraylib.so.600", f"usr/share/applications/{NAME}.desktop",
    f"usr/share/icons/hicolor/scalable/apps/{NAME}.svg", f"usr/share/metainfo/{NAME}.metainfo.xml",
    f"usr/share/doc/{NAME}/changelog.gz", f"usr/share/doc/{NAME}/copyright", f"usr/share/man/man1/{NAME}.1.gz"))
DEVELOPMENT_FILES = ["usr/include/orvan/orvan_kernel.hpp", "usr/include/orvan/orvan_raylib.hpp",
                     f"{LIBDIR}/liborvan_engine.a", f"{LIBDIR}/cmake/orvan/orvanConfig.cmake",
                     f"{LIBDIR}/pkgconfig/orvan.pc", "usr/share/doc/liborvan-dev/copyright",
                     "usr/share/doc/liborvan-dev/changelog.gz"]
RELATIONS = [("Depends", package) for package in
             "libc6 libx11-6 libgl1 libxrandr2 libxinerama1 libxcursor1 libxi6".split()] + \
            [("Recommends", package) for package in "libwayland-client0 libwayland-cursor0 libwayland-egl1 "
             "libxkbcommon0 libegl1 libdecor-0-0 libdecor-0-plugin-1-cairo".split()]
# The raylib and GLFW notices shipped are copies of those of the sources
# scripts/setup-deps.sh built (none where it found a system raylib 6.0).
NOTICES = [(copy, source) for copy, pattern in (("raylib-LICENSE", "raylib-*/LICENSE"),
                                                ("glfw-LICENSE.md", "glfw3-*/LICENSE.md"),
                                                ("raylib-debian-copyright", "raylib-*/debian/copyright"))
           for source in sorted((REPO / ".deps" / "src").glob(pattern))]


# ---- Debian policy -------------------------------------------------------------------------------
@pytest.mark.parametrize("key", ["program", "development"])
def test_lintian_finds_no_error_or_warning_in_the_package(packages, key):
    # No tag is overridden. Debian 13's lintian repeats appstreamcli's "not reverse-DNS" (the AppStream id is the
    # program's name on purpose) as a tag Debian 12's does not know: suppressed where known, the file validated below.
    # lintian's leftover temporary files (mldbm-elf-*) go to pytest's folder.
    tag = "appstream-metadata-validation-failed"
    known = subprocess.run(["lintian-explain-tags", tag], capture_output=True).returncode == 0
    suppress = ["--suppress-tags", tag] if known else []
    (tmp := packages.work / "tmp").mkdir(exist_ok=True)
    deb = getattr(packages, key).deb
    result = subprocess.run(["lintian", "--fail-on", "error,warning", *suppress, deb], text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=dict(os.environ, TMPDIR=str(tmp)))
    assert result.returncode == 0, f"{deb.name}, {deb.stat().st_size} bytes; lintian says:\n{result.stdout}"


def test_manual_page_gives_no_warning_from_man(packages):
    page = packages.program.root / f"usr/share/man/man1/{NAME}.1.gz"
    env = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")
    assert subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=env, text=True,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE).stderr == ""


# The AppStream id is the program's name, as the window's app_id and WM_CLASS, by which
# software centres match them: appstreamcli's "not reverse-DNS" the only finding lowered.
@pytest.mark.parametrize("checker, file", [
    (["desktop-file-validate"], "desktop"),
    (["appstreamcli", "validate", "--no-net", "--override=cid-desktopapp-is-not-rdns=info"], "metainfo")],
    ids=["desktop entry", "AppStream file"])
def test_file_is_valid(packages, checker, file):
    run(*checker, getattr(packages, file))


def test_appstream_id_desktop_entry_and_window_class_name_the_same_application(packages):
    metainfo = packages.metainfo.read_text().splitlines()
    assert f"  <id>{NAME}</id>" in metainfo
    assert f'  <launchable type="desktop-id">{NAME}.desktop</launchable>' in metainfo
    assert f"StartupWMClass={NAME}" in packages.desktop.read_text().splitlines()


# ---- contents and dependencies ---------------------------------------------------------------------
def test_program_package_holds_the_program_its_raylib_and_data_files_and_nothing_else(packages):
    assert packages.program.files == PROGRAM_FILES


def test_program_package_has_no_maintainer_scripts(packages):
    run("dpkg-deb", "-e", packages.program.deb, control := packages.work / "control")
    assert [path.name for path in control.iterdir() if re.search(r"(pre|post)(inst|rm)$", path.name)] == []


@pytest.fixture(scope="module")
def release():
    """The names among RELATIONS of which apt-cache shows a version (none for an unknown or purely virtual name): one
    call, as each loads apt's whole cache."""
    shown = subprocess.run(["apt-cache", "show", "--no-all-versions", *{package for _, package in RELATIONS}],
                           capture_output=True, text=True).stdout
    return set(re.findall(r"^Package: (\S+)$", shown, re.M))


@pytest.mark.parametrize("field, package", RELATIONS, ids=[" ".join(case) for case in RELATIONS])
def test_program_names_a_package_of_this_release_in_its(packages, release, field, package):
    relations = run("dpkg-deb", "-f", packages.program.deb, field).strip()
    assert re.search(rf"(^|, ){re.escape(package)}( |,|$)", relations), f"{field}: {relations}"
    assert package in release, f"apt-cache shows no version of {package}"


def test_program_depends_on_no_raylib_package(packages):
    assert "raylib" not in run("dpkg-deb", "-f", packages.program.deb, "Depends")


@pytest.mark.parametrize("path", DEVELOPMENT_FILES)
def test_development_package_holds(packages, path):
    assert f"./{path}" in packages.development.files


def test_development_package_holds_no_raylib(packages):
    assert "libraylib" not in packages.development.listing


def test_pkg_config_gives_the_headers_and_library_of_the_unpacked_development_package(packages):
    env = dict(os.environ, PKG_CONFIG_PATH=str(packages.development.root / LIBDIR / "pkgconfig"))
    pkg_config = lambda *args: run("pkg-config", *args, "orvan", env=env).strip()  # noqa: E731
    flags = f"pkg-config --cflags --libs orvan: {pkg_config('--cflags', '--libs')}"
    assert Path(pkg_config("--variable=includedir"), "orvan/orvan_kernel.hpp").is_file(), flags
    assert Path(pkg_config("--variable=libdir"), "liborvan_engine.a").is_file(), flags


def test_apt_can_install_both_packages(packages):
    # The dependencies as apt on this machine resolves them, changing nothing.
    run("apt-get", "install", "--simulate", "--no-install-recommends", packages.program.deb, packages.development.deb)


@pytest.mark.parametrize("copy, source", NOTICES, ids=[copy for copy, _ in NOTICES])
def test_third_party_notice_is_the_text_of_the_source_built(copy, source):
    assert (REPO / "data" / "third-party" / copy).read_bytes() == source.read_bytes(), f"differs from {source}"


@pytest.mark.parametrize("holder", ["Ramon Santamaria", "Camilla Löwy", "Files: src/external/cgltf.h"])
def test_copyright_file_names(packages, holder):
    assert holder in (packages.program.root / f"usr/share/doc/{NAME}/copyright").read_text()
