# SPDX-License-Identifier: MIT
"""The program on Wayland under weston (Mesa's llvmpipe): headless, and on weston's X11 backend nested in Xvfb, whose
seat (pointer, keyboard) reaches libdecor's title bar and close button. GLFW turns a lost compositor into a close
request: the program then ends as after the close button, with 0."""
import re
import signal
import time

import pytest
from PIL import Image
from Xlib import XK

import harness
import pictures
from test_window_x11 import MESSAGE


@pytest.fixture
def session(work, runtime):
    """The private runtime folder, and a session bus that is not there: else libdecor's plugin (reading the desktop's
    settings) would have libdbus start one for the X display, which outlives the program."""
    return harness.clean_env(XDG_RUNTIME_DIR=runtime, DBUS_SESSION_BUS_ADDRESS=f"unix:path={work}/no-session-bus")


@pytest.fixture
def headless(weston, session):
    # --debug allows the screenshooter.
    return weston(session, "orvan-test", "--backend=headless-backend.so", "--use-gl", "--width=1600",
                  "--height=900", "--debug")


@pytest.fixture
def nested(weston, session, xvfb, work):
    """weston's X window from Xvfb's corner (screen and output coordinates
    the same); no animations, a plain background."""
    config = work / "weston.ini"
    config.write_text("[shell]\nanimation=none\nstartup-animation=none\nbackground-color=0xff405060\n")
    env = dict(session, DISPLAY=xvfb.display)
    return weston(env, "orvan-x11", "--backend=x11-backend.so", "--width=1400", "--height=800",
                  f"--config={config}")


def libdecor_mapped(process):
    """The libdecor libraries (its own, its plugin) the process has mapped."""
    maps = open(f"/proc/{process.pid}/maps").read()
    return sorted(set(re.findall(r"[^/\s]*libdecor[^/\s]*\.so[.0-9]*$", maps, re.M)))


def window_contents(image):
    x, y, w, h = pictures.contents_rect(image)
    assert (w, h) == (1280, 720), f"the window's contents 1280x720 on the output (got {w}x{h} at {x}, {y})"
    return x, y, image.crop((x, y, x + w, y + h))


def test_on_headless_weston_it_draws_the_scene_and_ends_with_the_compositor(program, headless, work, keep_shot):
    run = program(headless.env)
    run.wait_frames(60)  # a second's frames at 60 per second
    assert "PLATFORM: DESKTOP (GLFW - Wayland): Initialized successfully" in run.stdout()
    assert re.search(r"Screen size: +1280 x 720", run.stdout())
    shooter = harness.Process(["weston-screenshooter"], "screenshooter", work, env=headless.env, cwd=work)
    assert shooter.wait(30) == 0, harness.tail(shooter.err)
    run.wait_frames(run.frames() + 30)  # it goes on drawing
    shot = Image.open(next(work.glob("wayland-screenshot-*.png")))
    _, _, contents = window_contents(shot)
    keep_shot(contents, "wayland_window.png")
    pictures.assert_scene(contents)

    gone = time.monotonic()
    headless.stop(signal.SIGKILL)
    status, elapsed = run.wait(2), time.monotonic() - gone
    assert status == 0, "compositor gone: ended as after a close request"
    assert elapsed <= 2, f"compositor gone: ended within 2 s (took {elapsed:.2f} s)"
    assert "Window closed successfully" in run.stdout(), "the window closed through raylib"
    assert run.stderr() == "", "nothing on stderr"


def test_an_opengl_older_than_2_1_is_named_and_exits_1(program, headless):
    run = program(headless.env, MESA_GL_VERSION_OVERRIDE="2.0")
    assert run.wait(60) == 1
    assert MESSAGE in run.stderr()


# libdecor's cairo plugin: a bar 24 px high above the contents, close the last of its 32 px buttons.
@pytest.mark.parametrize("opengl, end", [("as the driver offers", "close button"), ("3.1", "Esc"), ("2.1", "Esc")])
def test_nested_it_has_a_title_bar_an_app_id_and_ends_with_0(program, nested, xvfb, keep_shot, opengl, end):
    cap = {} if opengl.startswith("as") else {"MESA_GL_VERSION_OVERRIDE": opengl}
    run = program(nested.env, WAYLAND_DEBUG="client", **cap)  # the requests on stderr
    run.wait_frames(60)  # the bar drawn too
    assert "GLFW - Wayland" in run.stdout()
    assert '.set_app_id("orvan-demo-window")' in run.stderr()
    assert len(libdecor_mapped(run)) == 2, f"libdecor and its plugin mapped: {libdecor_mapped(run)}"
    shot = xvfb.shot()
    x, y, contents = window_contents(shot)
    keep_shot(shot, "wayland_decorated.png" if not cap else f"wayland_decorated_gl{opengl}.png")
    pictures.assert_scene(contents)
    close = (x + 1280 - 16, y - 12)
    pictures.title_bar_checks(shot, (x, y - 24, 1280, 24), close)
    if end == "Esc":
        xvfb.press_key(XK.XK_Escape, 700, 400)
    else:
        # The pointer comes into weston's window from outside, then onto its
        # panel: the decoration sees it enter before the click.
        xvfb.move_pointer((1500, 850), (700, 10))
        xvfb.click(*close)
    assert run.wait(5) == 0, f"{end}: exit status 0 within 5 s"


def test_nested_without_libdecor_it_opens_and_esc_ends_it(program, nested, xvfb, build):
    run = program(nested.env, LD_LIBRARY_PATH=build.no_libdecor)
    run.wait_frames(30)
    assert "GLFW - Wayland" in run.stdout()
    assert libdecor_mapped(run) == []
    window_contents(xvfb.shot())
    # weston gives the keyboard under the pointer to its newest window, the program's.
    xvfb.press_key(XK.XK_Escape, 700, 400)
    assert run.wait(5) == 0
    assert run.stderr() == "", "nothing on stderr"
    assert nested.process.alive(), "the compositor is still there"
