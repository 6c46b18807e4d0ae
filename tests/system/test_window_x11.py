# SPDX-License-Identifier: MIT
"""The program in a real window on Xvfb (Mesa's llvmpipe): title, name, size,
what it shows, every way it ends, the OpenGL it needs."""
import os
import re
import time

import pytest
from Xlib import X, XK

import harness
import pictures

MESSAGE = "the window could not be opened; a graphical display with OpenGL 2.1 or later is needed"


# GLFW picks Wayland when WAYLAND_DISPLAY is set or the runtime folder holds a
# wayland-0 socket: these cases run with an empty runtime folder, or none.
@pytest.mark.parametrize("case, display", [
    ("no display at all", {}),
    ("no display and no runtime folder", {"XDG_RUNTIME_DIR": None}),
    ("unreachable X display", {"DISPLAY": ":999"}),
    ("unreachable Wayland display", {"WAYLAND_DISPLAY": "orvan-nowhere"}),
])
def test_without_a_display_it_says_so_and_exits_1(program, runtime, case, display):
    run = program(harness.clean_env(**dict({"XDG_RUNTIME_DIR": runtime}, **display)))
    assert run.wait(60) == 1, f"{case}: exit status"
    assert MESSAGE in run.stderr(), f"{case}: the message on stderr"


# Mesa capped below OpenGL 2.1, the build's minimum: the message names it.
def test_an_opengl_older_than_2_1_is_named_and_exits_1(program, xvfb):
    run = program(xvfb.env, MESA_GL_VERSION_OVERRIDE="2.0")
    assert run.wait(60) == 1
    assert MESSAGE in run.stderr()


# The close button: what a window manager sends for it, WM_DELETE_WINDOW.
@pytest.mark.parametrize("opengl, end", [("as the driver offers", "close request"), ("3.1", "Esc"), ("2.1", "Esc")])
def test_the_window_shows_the_scene_and_ends_with_0(program, xvfb, keep_shot, opengl, end):
    cap = {} if opengl.startswith("as") else {"MESA_GL_VERSION_OVERRIDE": opengl}
    run = program(xvfb.env, **cap)
    window = xvfb.wait_window(run)
    assert xvfb.title(window) == pictures.TITLE
    # Named after the program (GLFW patched), as its desktop entry, to match them.
    assert window.get_wm_class() == ("orvan-demo-window", "orvan-demo-window")
    assert xvfb.size(window) == (1280, 720)
    run.wait_frames(60)  # a second's frames at 60 per second, however long they take
    shot = xvfb.shot(window)
    keep_shot(shot, "real_window.png" if not cap else f"real_window_gl{opengl}.png")
    pictures.assert_scene(shot)
    (xvfb.send_escape if end == "Esc" else xvfb.send_close_request)(window)
    assert run.wait(5) == 0, f"{end}: exit status 0 within 5 s"
    xvfb.window_gone(window)


# Each cycle's event goes to its own window only, and it ends once that is destroyed:
# the next program usually gets the same window id and must receive nothing meant for this one.
def test_start_close_cycles_each_open_a_window_and_end_with_0(program, xvfb):
    cycles = int(os.environ.get("ORVAN_CLOSE_CYCLES", "50"))
    failures = []
    for i in range(1, cycles + 1):
        run, sent, status = program(xvfb.env, name="cycle"), None, None
        try:
            window = xvfb.wait_window(run)
            run.wait_frames(3)
            sent = "Esc" if i % 2 else "close request"
            (xvfb.send_escape if i % 2 else xvfb.send_close_request)(window)
            status = run.wait(5)
            xvfb.window_gone(window)
            assert status == 0, f"\n{harness.tail(run.err, 5)}"
        except AssertionError as failed:  # harness.Failed too
            failures.append(f"cycle {i}: sent {sent}, exit status {status}: {failed}")
    assert not failures, f"{len(failures)} of {cycles} cycles failed:\n" + "\n".join(failures)


# Xlib's default handler exits 1 with a message that depends on where the loss is noticed.
def test_when_the_x_server_goes_it_ends_within_2_s_with_a_message(program, xvfb):
    run = program(xvfb.env)
    xvfb.wait_window(run)
    run.wait_frames(10)
    gone = time.monotonic()
    xvfb.stop()
    status, elapsed = run.wait(2), time.monotonic() - gone
    assert status not in (None, 0), f"ended with a status other than 0 (got {status})"
    assert elapsed <= 2, f"ended within 2 s (took {elapsed:.2f} s)"
    pattern = rf'X connection to {xvfb.display} broken|XIO: +fatal IO error .* on X server "{xvfb.display}"'
    assert re.search(pattern, run.stderr()), f"a message on stderr: {run.stderr()[:200]!r}"


# raylib's default build saves screenshot000.png (from 0 in every run) on F12.
def test_f12_writes_no_file(program, xvfb, work):
    folder = work / "cwd"
    earlier = folder / "screenshot000.png"
    earlier.write_bytes(b"a file of the user's")
    run = program(xvfb.env)
    window = xvfb.wait_window(run)
    run.wait_frames(10)
    xvfb.move_pointer((640, 360))  # the keyboard's focus follows the pointer where no window manager runs
    # F12 held for 5 frames, as a person's press is: one inside a frame is no press to the program.
    xvfb.fake((X.KeyPress, XK.XK_F12))
    run.wait_frames(run.frames() + 5)
    xvfb.fake((X.KeyRelease, XK.XK_F12))
    run.wait_frames(run.frames() + 30)
    xvfb.press_key(XK.XK_Escape)  # the same keyboard path ends it
    assert run.wait(5) == 0
    xvfb.window_gone(window)
    assert sorted(p.name for p in folder.iterdir()) == ["screenshot000.png"]
    assert earlier.read_bytes() == b"a file of the user's"
