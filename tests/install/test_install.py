# SPDX-License-Identifier: MIT
"""The build installed into a scratch prefix and used from there the way
another project would: a program outside this source tree (consumer/) built
with find_package(orvan CONFIG) and orvan::engine, and again with pkg-config;
both must print the start camera's exact bits. When the build has the
program, also its installed RUNPATH, bundled raylib and desktop entry.

CTest's InstallConsumer runs it with ORVAN_BUILD_DIR, the build, and
ORVAN_CXX, its C++ compiler (by default build/default and the compiler it
was configured with)."""
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parents[1]
BUILD = Path(os.environ.get("ORVAN_BUILD_DIR", SOURCE / "build" / "default"))
CACHE = dict(re.findall(r"^([^#/\n][^:\n]*):[A-Z]+=(.*)$", (BUILD / "CMakeCache.txt").read_text(), re.M))
CXX = os.environ.get("ORVAN_CXX", CACHE["CMAKE_CXX_COMPILER"])
# The start camera of the engine tests, bit for bit (orvan_raylib_test.cpp).
START_CAMERA = """\
position 0000000000000000 3fd3fd8077e70577 3fedfc40b3da8832 3fc3fd8077e70577
direction 0000000000000000 bfa9492f477d78e2 bfc2f6e3759e1aab 3fef9b7b195cd71c
up 0000000000000000 3fee5b9d136c6d97 bfd43d136248490f bc70dd90273c3ce2
fovy 3ff0c152382d7366
card 3
pickBestCard 2
"""
EXE = "bin/orvan-demo-window"
DESKTOP = "share/applications/orvan-demo-window.desktop"


def run(*args, **options):
    """Runs a command to its end: its status, and its output and errors as one text."""
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **options)


def output(*args):
    """What a program that must succeed prints."""
    return subprocess.run(args, stdout=subprocess.PIPE, text=True, check=True).stdout


@pytest.fixture(scope="module")
def scratch():
    """A folder outside the source tree (in /tmp, not in the build: the
    consumer must use nothing of the tree), with a copy of the consumer."""
    folder = Path(tempfile.mkdtemp(prefix="orvan-install-"))
    shutil.copytree(HERE / "consumer", folder / "consumer")
    yield folder
    shutil.rmtree(folder)


@pytest.fixture(scope="module")
def prefix(scratch):
    """The build installed into scratch/prefix."""
    installed = run("cmake", "--install", BUILD, "--prefix", scratch / "prefix")
    assert installed.returncode == 0, installed.stdout
    return scratch / "prefix"


def installed(prefix, name):
    """The one file of that name in the prefix."""
    found = list(prefix.rglob(name))
    assert len(found) == 1, f"{name} installed: {found}"
    return found[0]


@pytest.fixture(scope="module")
def consumer(scratch, prefix):
    """The consumer's build folder, configured and built with find_package."""
    build = scratch / "consumer-build"
    for step in (["-S", scratch / "consumer", "-B", build, f"-DCMAKE_PREFIX_PATH={prefix}",
                  f"-DCMAKE_CXX_COMPILER={CXX}", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"], ["--build", build]):
        result = run("cmake", *step)
        assert result.returncode == 0, f"the find_package consumer does not configure and build:\n{result.stdout}"
    return build


# ---- what the development component installs ------------------------------
@pytest.mark.parametrize("header", ["orvan_kernel.hpp", "orvan_raylib.hpp"])
def test_header_is_installed_in_include_orvan(prefix, header):
    assert (prefix / "include" / "orvan" / header).is_file()


@pytest.mark.parametrize("name", ["orvanConfig.cmake", "orvan.pc"])
def test_the_engine_package_is_installed_and_names_no_raylib(prefix, name):
    file = installed(prefix, name)
    files = [file] if name.endswith(".pc") else [path for path in file.parent.rglob("*") if path.is_file()]
    assert [path for path in files if re.search(r"\braylib\b", path.read_text())] == []


# ---- find_package(orvan CONFIG) from a project outside the source tree ------
def test_find_package_finds_the_scratch_install(consumer, prefix):
    found = re.search(r"^orvan_DIR:PATH=(.*)$", (consumer / "CMakeCache.txt").read_text(), re.M)[1]
    assert found.startswith(f"{prefix}/"), found


def test_nothing_of_the_source_tree_is_on_the_consumer_command_lines(consumer):
    assert str(SOURCE) not in (consumer / "compile_commands.json").read_text()


def test_the_consumer_does_not_need_raylib(consumer):
    assert "raylib" not in output("readelf", "-d", consumer / "consumer")


def test_the_find_package_consumer_prints_the_exact_start_camera(consumer):
    assert output(consumer / "consumer") == START_CAMERA


# ---- pkg-config -----------------------------------------------------------------
def test_the_pkg_config_consumer_prints_the_exact_start_camera(scratch, prefix):
    flags = run("pkg-config", "--cflags", "--libs", "orvan",
                env=dict(os.environ, PKG_CONFIG_PATH=str(installed(prefix, "orvan.pc").parent)))
    assert flags.returncode == 0, flags.stdout
    built = run(CXX, "-std=c++20", scratch / "consumer/main.cpp", "-o", scratch / "consumer-pc", *flags.stdout.split())
    assert built.returncode == 0, f"the pkg-config consumer does not build:\n{built.stdout}"
    assert output(scratch / "consumer-pc") == START_CAMERA


# ---- the program, if this build has it -------------------------------------------
if CACHE.get("ORVAN_BUILD_WINDOW") == "ON":
    def test_the_program_is_installed_in_bin(prefix):
        assert os.access(prefix / EXE, os.X_OK)

    def test_the_desktop_entry_is_valid(prefix):
        result = run("desktop-file-validate", prefix / DESKTOP)
        assert result.returncode == 0, result.stdout

    def test_the_desktop_entry_icon_is_installed(prefix):
        icon = re.search(r"^Icon=(.*)$", (prefix / DESKTOP).read_text(), re.M)
        assert icon and (prefix / f"share/icons/hicolor/scalable/apps/{icon[1]}.svg").stat().st_size > 0

    def test_an_appstream_file_is_installed_for_the_desktop_entry(prefix):
        assert '<launchable type="desktop-id">orvan-demo-window.desktop</launchable>' in \
            (prefix / "share/metainfo/orvan-demo-window.metainfo.xml").read_text()

if CACHE.get("ORVAN_BUILD_WINDOW") == "ON" and CACHE.get("ORVAN_BUNDLE_RAYLIB") == "ON":
    def test_the_program_runpath_is_its_raylib_folder(prefix):
        runpath = re.search(r"\(RUNPATH\).*\[(.*)\]", output("readelf", "-d", prefix / EXE))
        assert runpath and runpath[1] == "$ORIGIN/../lib/orvan-demo-window"

    def test_the_program_loads_raylib_from_the_install(prefix):
        ldd = output("ldd", prefix / EXE)
        loaded = [line.split()[2] for line in ldd.splitlines() if line.split()[:1] == ["libraylib.so.600"]]
        want = (prefix / "lib/orvan-demo-window/libraylib.so.600").resolve()
        assert [Path(path).resolve() for path in loaded] == [want], ldd

if CACHE.get("ORVAN_BUILD_WINDOW") != "ON":
    def test_an_engine_only_build_installs_no_program(prefix):
        assert not (prefix / EXE).exists() and not (prefix / DESKTOP).exists()
