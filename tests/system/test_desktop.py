# SPDX-License-Identifier: MIT
"""The program on real desktops (adapters in desktops/, all state in the test's folder), the same checks on each; what
is done to the window waits for frames it has drawn, never for a fixed time."""
import importlib
import re
import signal

import pytest

import harness
import pictures

DESKTOPS = ["openbox", "sway", "gnome", "kde"]


@pytest.fixture(params=DESKTOPS)
def desktop(request, build, work, runtime, mark, stop_at_end):
    adapter = stop_at_end(importlib.import_module(f"desktops.{request.param}").Desktop(build, work, runtime, mark))
    adapter.name = request.param
    return adapter


def launch(desktop, program, name):
    """The program, until the desktop knows its window (60 s at most)."""
    run = program(desktop.env, name=name)
    harness.wait_for("a window of the program known to the desktop", lambda: desktop.window(run.pid), 60,
                     interval=0.2, process=run, logs=[*run.logs(), *desktop.logs()])
    return run


def ended(run, how, seconds):
    status = run.wait(seconds)
    assert status == 0, f"{how}: exit status 0 within {seconds} s (got {status})\n{harness.tail(run.err, 5)}"


def test_the_window_on_a_real_desktop(desktop, program, keep_shot):
    # ---- the window, its name, what the screen shows
    run = launch(desktop, program, "run")
    name = desktop.window(run.pid).name
    assert name == "orvan-demo-window", f"the desktop knows the window as orvan-demo-window (got {name!r})"
    run.wait_frames(72)  # 1.2 s of frames at 60 per second: the desktop has drawn its bar too
    shot = desktop.screenshot()
    keep_shot(shot, f"{desktop.name}-screen.png")
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
    else:
        desktop.close(run.pid)
    ended(run, "close button" if window.close else "the desktop's close request", 5)
    # (read once it has ended: its output to a file is flushed at the end)
    backend = (re.findall(r"PLATFORM: DESKTOP \(GLFW - (\w+)\): Initialized successfully", run.stdout()) or [None])[0]
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
        desktop.compositor.stop(signal.SIGKILL)
        ended(run, "compositor gone", 2)
