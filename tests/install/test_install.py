# SPDX-License-Identifier: MIT
"""The build (ORVAN_BUILD_DIR, by default build/default) installed into a scratch prefix and used as another project
would: consumer/, built with find_package(orvan CONFIG) and with pkg-config (by ORVAN_CXX, by default the build's
compiler), prints the start camera's exact bits; the program, where built, comes with its desktop entry and its own
raylib."""
import os
import re
import shutil
import tempfile
from pathlib import Path

import pytest

from debs import REPO as SOURCE, raylib_loaded, run, runpath

HERE = Path(__file__).resolve().parent
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


@pytest.fixture(scope="module")
def prefix():
    """The build installed in /tmp (the consumer must use nothing of the tree),
    beside a copy of the consumer; removed at the end."""
    with tempfile.TemporaryDirectory(prefix="orvan-install-") as scratch:
        shutil.copytree(HERE / "consumer", Path(scratch, "consumer"))
        run("cmake", "--install", BUILD, "--prefix", Path(scratch, "prefix"))
        yield Path(scratch, "prefix")


@pytest.fixture(scope="module")
def consumer(prefix):
    """The consumer's build folder, configured and built with find_package."""
    build = prefix.parent / "consumer-build"
    run("cmake", "-S", prefix.parent / "consumer", "-B", build, f"-DCMAKE_PREFIX_PATH={prefix}",
        f"-DCMAKE_CXX_COMPILER={CXX}", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON")
    run("cmake", "--build", build)
    return build


def installed(prefix, name):
    """The one file of that name in the prefix."""
    found = list(prefix.rglob(name))
    assert len(found) == 1, f"{name} installed: {found}"
    return found[0]


# ---- what the development component installs ------------------------------
@pytest.mark.parametrize("header", ["orvan_kernel.hpp", "orvan_raylib.hpp"])
def test_header_is_installed_in_include_orvan(prefix, header):
    assert (prefix / "include" / "orvan" / header).is_file()


@pytest.mark.parametrize("name", ["orvanConfig.cmake", "orvan.pc"])
def test_the_engine_package_is_installed_and_names_no_raylib(prefix, name):
    file = installed(prefix, name)
    files = [file] if name.endswith(".pc") else [path for path in file.parent.rglob("*") if path.is_file()]
    assert [path for path in files if re.search(r"\braylib\b", path.read_text())] == []


# ---- a project outside the source tree -------------------------------------------
def test_find_package_finds_the_scratch_install(consumer, prefix):
    found = re.search(r"^orvan_DIR:PATH=(.*)$", (consumer / "CMakeCache.txt").read_text(), re.M)[1]
    assert found.startswith(f"{prefix}/"), found


def test_nothing_of_the_source_tree_is_on_the_consumer_command_lines(consumer):
    assert str(SOURCE) not in (consumer / "compile_commands.json").read_text()


def test_the_consumer_does_not_need_raylib(consumer):
    assert "raylib" not in run("readelf", "-d", consumer / "consumer")


def test_the_find_package_consumer_prints_the_exact_start_camera(consumer):
    assert run(consumer / "consumer") == START_CAMERA


def test_the_pkg_config_consumer_prints_the_exact_start_camera(prefix):
    flags = run("pkg-config", "--cflags", "--libs", "orvan",
                env=dict(os.environ, PKG_CONFIG_PATH=str(installed(prefix, "orvan.pc").parent)))
    program = prefix.parent / "consumer-pc"
    run(CXX, "-std=c++20", prefix.parent / "consumer/main.cpp", "-o", program, *flags.split())
    assert run(program) == START_CAMERA


# ---- the program, if this build has it -------------------------------------------
if CACHE.get("ORVAN_BUILD_WINDOW") == "ON":
    def test_the_program_is_installed_in_bin(prefix):
        assert os.access(prefix / EXE, os.X_OK)

    def test_the_desktop_entry_is_valid(prefix):
        run("desktop-file-validate", prefix / DESKTOP)

    def test_the_desktop_entry_icon_is_installed(prefix):
        icon = re.search(r"^Icon=(.*)$", (prefix / DESKTOP).read_text(), re.M)
        assert icon and (prefix / f"share/icons/hicolor/scalable/apps/{icon[1]}.svg").stat().st_size > 0

    def test_an_appstream_file_is_installed_for_the_desktop_entry(prefix):
        assert '<launchable type="desktop-id">orvan-demo-window.desktop</launchable>' in \
            (prefix / "share/metainfo/orvan-demo-window.metainfo.xml").read_text()

    if CACHE.get("ORVAN_BUNDLE_RAYLIB") == "ON":
        def test_the_program_runpath_is_its_raylib_folder(prefix):
            assert runpath(prefix / EXE) == "$ORIGIN/../lib/orvan-demo-window"

        def test_the_program_loads_raylib_from_the_install(prefix):
            assert raylib_loaded(prefix / EXE) == [(prefix / "lib/orvan-demo-window/libraylib.so.600").resolve()]

if CACHE.get("ORVAN_BUILD_WINDOW") != "ON":
    def test_an_engine_only_build_installs_no_program(prefix):
        assert not (prefix / EXE).exists() and not (prefix / DESKTOP).exists()
