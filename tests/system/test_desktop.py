# SPDX-License-Identifier: MIT
"""The program on real desktops: each compositor or window manager started
with all its state in the test's folder, by its adapter in desktops/. The
same checks on every desktop: the desktop knows the window by the program's
name and it opens on the expected backend; the desktop's own screenshot
shows the scene, and a title bar with the title and (where the desktop
draws one) a close button; the close button (or the desktop's own close
request) ends the program with 0, as Esc does; on Wayland, the compositor
going away ends it within 2 s. Screenshots are kept in ORVAN_DESKTOP_SHOTS
(if set) as DESKTOP-screen.png. What is done to the window waits for frames
it has drawn, never for a fixed time."""
import importlib
import os
import re
from pathlib import Path

import pytest

import harness
import pictures

DESKTOPS = ["openbox", "sway", "gnome", "kde"]


@pytest.fixture(params=DESKTOPS)
def desktop(request, build, work, runtime, mark):
    adapter = importlib.import_module(f"desktops.{request.param}").Desktop(build, work, runtime, mark)
    adapter.name = request.param
    yield adapter
    adapter.stop()


def launch(desktop, program, name):
    """The program, until the desktop knows its window (60 s at most)."""
    run = program(desktop.env, name=name)
    harness.wait_for("a window of the program known to the desktop", lambda: desktop.window(run.pid), 60,
                     interval=0.2, process=run, logs=[*run.logs(), *desktop.logs()])
    return run


def ended(run, how, seconds):
    status = run.wait(seconds)
    assert status == 0, f"{how}: exit status 0 within {seconds} s (got {status})\n{harness.tail(run.err, 5)}"


def keep(desktop, shot):
    shot.save(desktop.work / "screen.png")
    if os.environ.get("ORVAN_DESKTOP_SHOTS"):
        folder = Path(os.environ["ORVAN_DESKTOP_SHOTS"])
        folder.mkdir(parents=True, exist_ok=True)
        shot.save(folder / f"{desktop.name}-screen.png")


def test_the_window_on_a_real_desktop(desktop, program):
    # ---- the window, its name, what the screen shows
    run = launch(desktop, program, "run")
    name = desktop.window(run.pid).name
    assert name == "orvan-demo-window", f"the desktop knows the window as orvan-demo-window (got {name!r})"
    run.wait_frames(72)  # 1.2 s of frames at 60 per second: the desktop has drawn its bar too
    shot = desktop.screenshot()
    keep(desktop, shot)
    window = desktop.window(run.pid)
    x, y, w, h = window.contents
    assert (w, h) == (1280, 720), f"the window's contents 1280x720 (got {w}x{h} at {x}, {y})"
    pictures.assert_scene(shot.crop((x, y, x + w, y + h)))
    pictures.title_bar_checks(shot, window.title, window.close)
    if desktop.top_bar:
        text = pictures.read_title(shot, desktop.top_bar)
        assert "orvan-demo-window" in text, f"the top bar names the program (read: {text!r})"

    # ---- the close button, or the desktop's own close request
    if window.close is not None:
        desktop.click(*window.close)
        ended(run, "close button", 5)
    else:
        desktop.close(run.pid)
        ended(run, "the desktop's close request", 5)
    # (read once it has ended: its output to a file is flushed at the end)
    opened = re.search(r"PLATFORM: DESKTOP \(GLFW - (\w+)\): Initialized successfully", run.stdout())
    backend = opened[1] if opened else None
    assert backend == desktop.backend, f"the window opened on {desktop.backend} (raylib says: {backend})"

    # ---- Esc
    run = launch(desktop, program, "esc")
    run.wait_frames(30)  # focused, drawing
    desktop.key_escape()
    ended(run, "Esc", 5)

    # ---- the compositor goes away
    if desktop.backend == "Wayland":
        run = launch(desktop, program, "gone")
        run.wait_frames(30)
        desktop.kill()
        ended(run, "compositor gone", 2)
