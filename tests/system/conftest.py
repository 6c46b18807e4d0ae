# SPDX-License-Identifier: MIT
"""Fixtures of the system tests. Each starts what it names and stops it when the test ends; then the test fails if a
process it started (or a child of one) still runs: each carries the test's mark in its environment. The build under
test is ORVAN_BUILD_DIR (by default build/default): one test runs alone with `pytest tests/system/FILE -k NAME`."""
import contextlib
import itertools
import os
import tempfile
from pathlib import Path
from types import SimpleNamespace

import pytest

import harness
import displays

REPO = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def build():
    """The program and the helper libraries the tests load into it."""
    # A relative ORVAN_BUILD_DIR is read from where pytest starts; the program runs in the test's own folder.
    folder = Path(os.environ.get("ORVAN_BUILD_DIR", REPO / "build" / "default")).resolve()
    found = SimpleNamespace(program=folder / "orvan-demo-window", frame_counter=folder / "tests/libframe_counter.so",
                            no_libdecor=folder / "tests/no_libdecor")
    if missing := [str(path) for path in (found.program, found.frame_counter) if not path.exists()]:
        pytest.fail(f"{', '.join(missing)} not built: build the preset first (cmake --build --preset default)")
    return found


@pytest.fixture
def work(tmp_path):
    """The test's folder: logs, screenshots, and the program's working folder cwd/."""
    (tmp_path / "cwd").mkdir()
    return tmp_path


@pytest.fixture
def mark(work):
    """The test's mark: at the end nothing may run with it, nor with the test's folder in its command line."""
    token = os.urandom(8).hex()
    yield token
    if left := harness.kill_leftovers(token, folder=work):
        pytest.fail(f"processes left behind by the test: {left}")


@pytest.fixture
def stop_at_end(mark):
    """stop_at_end(thing) returns THING, stopped at the test's end (last started first), before the leftovers check."""
    with contextlib.ExitStack() as stack:
        yield lambda thing: stack.callback(thing.stop) and thing


@pytest.fixture
def runtime():
    """An empty private XDG runtime folder (0700) in /tmp: a socket's path must
    stay short (108 bytes), which one under a build's folder may not be."""
    with tempfile.TemporaryDirectory(prefix="orvan-runtime-", ignore_cleanup_errors=True) as folder:
        yield Path(folder)


@pytest.fixture
def xvfb(work, mark, stop_at_end):
    """An X server of the test's own (a test may stop it earlier)."""
    return stop_at_end(displays.Xvfb(work, mark=mark))


@pytest.fixture
def weston(work, mark, stop_at_end):
    """weston(env, socket, *args) starts weston, once its socket is there."""
    return lambda env, socket, *args: stop_at_end(displays.Weston(work, env, socket, *args, mark=mark))


@pytest.fixture
def program(build, work, mark, stop_at_end):
    """program(env, name="program", **vars): the program, counting its frames, in work/cwd."""
    count = itertools.count()

    def start(env, name="program", **extra):
        env = dict(env, **{k: str(v) for k, v in extra.items()})
        return stop_at_end(harness.Program(build.program, build.frame_counter, work, env, cwd=work / "cwd",
                                           name=f"{name}-{next(count)}", mark=mark))
    return start


@pytest.fixture
def keep_shot(work):
    """keep_shot(image, name): saves a screenshot in the test's folder, and in
    ORVAN_SHOT_DIR if set (the docs' pictures come from there)."""
    def keep(image, name):
        for folder in filter(None, [work, os.environ.get("ORVAN_SHOT_DIR")]):
            Path(folder).mkdir(parents=True, exist_ok=True)
            image.save(Path(folder) / name)
    return keep
