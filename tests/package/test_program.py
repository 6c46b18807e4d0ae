# SPDX-License-Identifier: MIT
"""The program unpacked from its package: it finds its own raylib, says why and ends without a display, and against the
recording raylib of the tests it makes the tested build's calls (conftest.py says how the packages are made)."""
import os
import subprocess
from types import SimpleNamespace

import pytest

from debs import LIBDIR, MULTIARCH, NAME, REPO, raylib_loaded, run, runpath, without

NO_WINDOW = (f"{NAME}: the window could not be opened; a graphical display with OpenGL 2.1 or later is needed "
             "(raylib's lines above say what failed)")


def test_program_runpath_is_its_raylib_folder(packages):
    assert runpath(packages.exe) == f"$ORIGIN/../lib/{MULTIARCH}/{NAME}"


def test_program_loads_raylib_from_the_package_folder(packages):
    want = packages.program.root / LIBDIR / NAME / "libraylib.so.600"
    assert raylib_loaded(packages.exe, without("LD_LIBRARY_PATH")) == [want.resolve()]


def test_without_a_display_the_program_with_its_raylib_says_so_and_exits_with_status_1(packages):
    result = subprocess.run([packages.exe], env=without("DISPLAY", "WAYLAND_DISPLAY", "LD_LIBRARY_PATH"),
                            capture_output=True, text=True)
    assert result.returncode == 1, result.stderr
    assert NO_WINDOW in result.stderr


@pytest.fixture(scope="module")
def recorded(packages):
    """The calls in 120 frames to the default build's recording raylib of the packaged program, of the tested build's
    (demo_window_test.cpp checks them bit for bit), and of the packaged one when the window is not ready."""
    build = REPO / "build" / "default"
    for step in (["--preset", "default"], ["--build", "--preset", "default", "--target", "recording_raylib", NAME]):
        run("cmake", *step, cwd=REPO)
    library_path = ":".join(filter(None, [str(build / "tests/recording_raylib"), os.environ.get("LD_LIBRARY_PATH")]))

    def record(exe, name, not_ready=0):
        log = packages.work / f"{name}.log"
        env = dict(os.environ, LD_LIBRARY_PATH=library_path, RECORDING_RAYLIB_LOG=str(log),
                   RECORDING_RAYLIB_FRAMES="120", RECORDING_RAYLIB_NOT_READY=str(not_ready))
        status = subprocess.run([exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        return SimpleNamespace(status=status, calls=log.read_text().splitlines() if log.exists() else [])
    return SimpleNamespace(packaged=record(packages.exe, "packaged"), built=record(build / NAME, "built"),
                           not_ready=record(packages.exe, "not-ready", not_ready=1))


def test_against_the_recording_raylib_the_program_ends_with_status_0(recorded):
    assert recorded.packaged.status == 0


def test_against_the_recording_raylib_the_program_makes_the_tested_build_calls(recorded):
    assert recorded.packaged.calls == recorded.built.calls, \
        f"{len(recorded.packaged.calls)} calls, the tested build's {len(recorded.built.calls)}"


def test_against_the_recording_raylib_the_program_draws_120_frames(recorded):
    assert recorded.packaged.calls.count("EndDrawing") == 120


def test_when_the_window_is_not_ready_the_program_exits_with_status_1(recorded):
    assert recorded.not_ready.status == 1
