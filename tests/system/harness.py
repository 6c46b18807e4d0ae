# SPDX-License-Identifier: MIT
"""Processes, displays, frames and pictures for the system tests (and for the
scripts that measure the program, which use it without pytest).

Every process is started with a mark in its environment; `leftovers(mark)`
finds whatever is still running with it, the children it started included.
Every wait follows the program's own pace where it can (frames drawn, a
socket made) and has a bound only as a guard against a hang; a wait that
fails says what it waited for and shows the end of the logs involved.
"""
import mmap
import os
import resource
import signal
import subprocess
import sys
import time
import uuid
from pathlib import Path

import psutil
from PIL import Image, ImageFilter, ImageStat
from Xlib import X, Xatom, display as xdisplay, error as xerror, protocol
from Xlib.ext import xtest

TITLE = "QUENDRA / Orvan Engine \u2014 Live GPU Window (Raylib/OpenGL)"
BACKGROUND = (10, 10, 18)


class Failed(AssertionError):
    """A check or a wait that did not hold; pytest shows it as a failure."""


def tail(path, lines=20):
    """The last lines of a log file, indented, or a note that it is empty."""
    try:
        text = Path(path).read_text(errors="replace").splitlines()[-lines:]
    except OSError:
        return f"  ({path}: none)"
    return "\n".join(f"  | {line}" for line in text) or f"  ({path}: empty)"


def wait_for(what, predicate, timeout=60.0, interval=0.05, process=None, logs=()):
    """Polls predicate until it returns something true and returns that; fails
    when timeout seconds have gone, or at once if process has ended."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        ended = process is not None and not process.alive()
        if ended or time.monotonic() > deadline:
            why = f"{process.name} ended with status {process.status}" if ended else f"not within {timeout:g} s"
            shown = "\n".join(f"{log}:\n{tail(log)}" for log in logs)
            raise Failed(f"waited for {what}: {why}\n{shown}")
        time.sleep(interval)


def no_core_files():
    """A crash writes no core file into the working folder."""
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


class Process:
    """A process started for a test: stdout and stderr in FOLDER/NAME.out and
    .err, a mark in its environment. stop() ends it and waits for it."""

    def __init__(self, argv, name, folder, env=None, cwd=None, mark=None, **popen):
        self.name = name
        self.out = Path(folder) / f"{name}.out"
        self.err = Path(folder) / f"{name}.err"
        self.mark = mark or uuid.uuid4().hex
        env = dict(os.environ if env is None else env, ORVAN_TEST_MARK=self.mark)
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.popen = subprocess.Popen(argv, stdout=out, stderr=err, stdin=subprocess.DEVNULL, env=env,
                                          cwd=cwd, preexec_fn=no_core_files, **popen)
        self.pid = self.popen.pid

    @property
    def status(self):
        return self.popen.poll()

    def alive(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """The exit status, or None if it was still running after timeout
        seconds (it is then killed)."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            self.popen.wait()
            return None

    def stop(self, sig=signal.SIGTERM, timeout=10):
        if self.alive():
            self.popen.send_signal(sig)
            if self.wait(timeout) is None:
                return
        self.popen.wait()

    def stdout(self):
        return self.out.read_text(errors="replace")

    def stderr(self):
        return self.err.read_text(errors="replace")

    def logs(self):
        return (self.out, self.err)


def leftovers(mark):
    """Processes still running with MARK in their environment."""
    found = []
    for proc in psutil.process_iter():
        try:
            if proc.environ().get("ORVAN_TEST_MARK") == mark and proc.status() != psutil.STATUS_ZOMBIE:
                found.append(proc)
        except (psutil.Error, OSError):
            continue
    return found


def kill_leftovers(mark):
    """Kills what is left with MARK and returns a description of it (empty if
    nothing was left)."""
    left, names = leftovers(mark), []
    for proc in left:
        try:
            names.append(f"{proc.pid} {proc.name()}")
            proc.kill()
        except psutil.Error:
            pass
    psutil.wait_procs(left, timeout=5)
    return ", ".join(names)


class Frames:
    """The count of frames a program has finished, written by the preloaded
    frame counter into FILE (a native unsigned 64-bit integer)."""

    def __init__(self, path):
        self.path = Path(path)

    def reset(self):
        self.path.unlink(missing_ok=True)

    def __call__(self):
        try:
            with open(self.path, "rb") as file, mmap.mmap(file.fileno(), 8, prot=mmap.PROT_READ) as data:
                return int.from_bytes(data[:8], sys.byteorder)
        except (OSError, ValueError):
            return 0


class Program(Process):
    """The program, counting its frames through the frame counter preload
    (with ORVAN_PROGRAM_PRELOAD after it, as the sanitizer build needs)."""

    def __init__(self, program, frame_counter, folder, env, cwd=None, name="program", mark=None):
        self.frames = Frames(Path(folder) / f"{name}.frames")
        self.frames.reset()
        preload = ":".join(filter(None, [str(frame_counter), os.environ.get("ORVAN_PROGRAM_PRELOAD")]))
        env = dict(env, ORVAN_FRAME_COUNT_FILE=str(self.frames.path), LD_PRELOAD=preload)
        super().__init__([str(program)], name, folder, env=env, cwd=cwd, mark=mark)

    def wait_frames(self, n, timeout=60):
        """Waits until the program has finished N frames."""
        wait_for(f"frame {n} of the program (drawn: {self.frames()})", lambda: self.frames() >= n,
                 timeout, process=self, logs=self.logs())
        return self.frames()


def clean_env(**extra):
    """This process's environment without any display, plus EXTRA; a value of
    None removes that variable."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE")}
    for key, value in extra.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = str(value)
    return env


class Xvfb:
    """An X server of its own (Xvfb, Mesa renders in software) on a free
    display: env is what a client needs to use it and nothing else."""

    def __init__(self, folder, size="1600x900x24", mark=None):
        read, write = os.pipe()
        self.process = Process(["Xvfb", "-displayfd", str(write), "-screen", "0", size, "-nolisten", "tcp",
                                "-noreset"], "Xvfb", folder, mark=mark, pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as pipe:
            number = wait_for("Xvfb to name its display", lambda: pipe.readline().strip(), 30,
                              process=self.process, logs=self.process.logs())
        self.display = f":{number}"
        self.env = clean_env(DISPLAY=self.display, XDG_SESSION_TYPE="x11")
        self.x = xdisplay.Display(self.display)

    def stop(self):
        if self.x is not None:
            try:
                self.x.close()
            except (xerror.ConnectionClosedError, OSError):
                pass
            self.x = None
        self.process.stop()

    # -- windows -------------------------------------------------------------
    def windows_of(self, pid):
        """The viewable windows whose _NET_WM_PID is PID."""
        atom = self.x.intern_atom("_NET_WM_PID")
        found, todo = [], [self.x.screen().root]
        while todo:
            window = todo.pop()
            try:
                prop = window.get_full_property(atom, Xatom.CARDINAL)
                if prop and prop.value[0] == pid and window.get_attributes().map_state == X.IsViewable:
                    found.append(window)
                todo.extend(window.query_tree().children)
            except xerror.XError:
                continue
        return found

    def wait_window(self, process, timeout=60):
        windows = wait_for(f"a window of {process.name}", lambda: self.windows_of(process.pid), timeout,
                           interval=0.1, process=process, logs=process.logs())
        return windows[0]

    def window_gone(self, window, timeout=5):
        def gone():
            try:
                window.get_geometry()
                return False
            except xerror.XError:
                return True
        wait_for(f"window {window.id:#x} to be destroyed", gone, timeout)

    def title(self, window):
        prop = window.get_full_property(self.x.intern_atom("_NET_WM_NAME"), self.x.intern_atom("UTF8_STRING"))
        return prop.value.decode() if prop else None

    def size(self, window):
        geometry = window.get_geometry()
        return geometry.width, geometry.height

    def shot(self, window=None):
        """The window's contents (the whole screen without WINDOW) as an RGB image."""
        window = window or self.x.screen().root
        width, height = self.size(window)
        raw = window.get_image(0, 0, width, height, X.ZPixmap, 0xFFFFFFFF)
        return Image.frombytes("RGB", (width, height), raw.data, "raw", "BGRX")

    def send_close_request(self, window):
        """What a window manager sends for the close button: WM_PROTOCOLS with
        WM_DELETE_WINDOW, to that window alone."""
        data = (32, [self.x.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])
        event = protocol.event.ClientMessage(window=window, client_type=self.x.intern_atom("WM_PROTOCOLS"),
                                             data=data)
        window.send_event(event, event_mask=X.NoEventMask)
        self.x.sync()

    def send_escape(self, window):
        """A press of Esc sent to that window alone, not through the server's
        keyboard: no key is left held if the window goes before a release."""
        keycode = self.x.keysym_to_keycode(0xFF1B)
        event = protocol.event.KeyPress(time=X.CurrentTime, root=self.x.screen().root, window=window,
                                        same_screen=1, child=X.NONE, root_x=0, root_y=0, event_x=0,
                                        event_y=0, state=0, detail=keycode)
        window.send_event(event, event_mask=X.KeyPressMask)
        self.x.sync()

    def move_pointer(self, *points):
        """Moves the pointer through POINTS (x, y), a moment at each, as a
        hand does: a compositor nested in the server learns where the pointer
        is from these moves."""
        for x, y in points:
            xtest.fake_input(self.x, X.MotionNotify, x=x, y=y)
            self.x.sync()
            time.sleep(0.3)

    def click(self, x, y):
        self.move_pointer((x, y))
        xtest.fake_input(self.x, X.ButtonPress, 1)
        xtest.fake_input(self.x, X.ButtonRelease, 1)
        self.x.sync()

    def press_key(self, keysym, x=640, y=360):
        """Moves the pointer to (x, y) (the focus follows it where no window
        manager runs) and presses and releases a key there."""
        self.move_pointer((x, y))
        keycode = self.x.keysym_to_keycode(keysym)
        xtest.fake_input(self.x, X.KeyPress, keycode)
        xtest.fake_input(self.x, X.KeyRelease, keycode)
        self.x.sync()

    def hold_key(self, keysym, program, frames=5):
        """Presses a key on the server's keyboard, holds it while the program
        draws FRAMES frames, and releases it: a press and release inside one
        frame is not seen as a press by the program."""
        keycode = self.x.keysym_to_keycode(keysym)
        xtest.fake_input(self.x, X.KeyPress, keycode)
        self.x.sync()
        program.wait_frames(program.frames() + frames)
        xtest.fake_input(self.x, X.KeyRelease, keycode)
        self.x.sync()


class Weston:
    """weston on SOCKET in the private runtime folder of ENV, with ARGS."""

    def __init__(self, folder, env, socket, *args, mark=None):
        self.socket = Path(env["XDG_RUNTIME_DIR"]) / socket
        self.process = Process(["weston", "--idle-time=0", f"--socket={socket}", *args], f"weston-{socket}",
                               folder, env=env, mark=mark)
        wait_for(f"weston's socket {self.socket}", self.socket.is_socket, 30, interval=0.1,
                 process=self.process, logs=self.process.logs())
        self.env = dict(env, WAYLAND_DISPLAY=socket, XDG_SESSION_TYPE="wayland")
        self.env.pop("DISPLAY", None)

    def stop(self, sig=signal.SIGTERM):
        self.process.stop(sig)


# -- pictures ----------------------------------------------------------------
# Checks count pixels of an exact colour in a region of a screenshot taken
# about a second after the window appeared. llvmpipe draws the unlit spheres,
# the lines and raylib's bitmap font without filtering, so colours match
# exactly where nothing is blended over them; the scene moves, so the
# thresholds are lower bounds, about a third of what a typical frame shows.

def count(image, box, colour):
    """Pixels of exactly COLOUR in BOX (x, y, width, height) of IMAGE."""
    x, y, w, h = box
    colours = image.convert("RGB").crop((x, y, x + w, y + h)).getcolors(w * h) or []
    return sum(n for n, c in colours if c == colour)


def scene_checks(image):
    """What the 1280x720 contents of the window show: (name, holds) pairs."""
    title = count(image, (18, 18, 700, 24), (120, 200, 255))
    fps = sum(count(image, (1198, 18, 80, 24), c) for c in ((0, 158, 47), (255, 161, 0), (230, 41, 55)))
    checks = [
        ("background above the scene", count(image, (0, 80, 1280, 60), BACKGROUND) == 76800),
        (f"title overlay at (20, 20) ({title} px)", title >= 1000),
        ("title colour nowhere else", count(image, (0, 0, 1280, 720), (120, 200, 255)) == title),
        ("device overlay at (20, 50)", count(image, (18, 48, 440, 18), (180, 180, 180)) >= 500),
        # Lime from 30 frames per second, orange from 15, red below: a loaded
        # machine or the sanitizer build may show any of them.
        (f"FPS counter at (1200, 20) ({fps} px)", fps >= 100),
        ("solid spheres", count(image, (0, 100, 1280, 620), (100, 200, 255)) >= 5000),
        ("wire cube", count(image, (0, 100, 1280, 620), (255, 180, 50)) >= 500),
    ]
    return checks


def assert_scene(image, label=""):
    failed = [name for name, holds in scene_checks(image) if not holds]
    assert not failed, f"{label}the scene is not as drawn: {', '.join(failed)}"


def contents_rect(image):
    """(x, y, width, height) of the window's contents in a screenshot of a
    whole screen: the box around the scene's background colour, which only
    the window shows. An opening (a 5x5 square) drops lone pixels of that
    colour elsewhere (in a desktop's wallpaper)."""
    rgb = image.convert("RGB")
    mask = Image.new("L", rgb.size, 0)
    mask.putdata([255 if p == BACKGROUND else 0 for p in rgb.getdata()])
    box = mask.filter(ImageFilter.MinFilter(5)).filter(ImageFilter.MaxFilter(5)).getbbox()
    if box is None:
        raise Failed("no pixel of the scene's background on the screen")
    return box[0], box[1], box[2] - box[0], box[3] - box[1]


def read_title(image, box):
    """The text tesseract reads in BOX of IMAGE (scaled up three times, grey)."""
    x, y, w, h = box
    bar = image.convert("L").crop((x, y, x + w, y + h)).resize((3 * w, 3 * h))
    with subprocess.Popen(["tesseract", "stdin", "stdout", "--psm", "7"], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL) as ocr:
        bar.save(ocr.stdin, "PNG")
        ocr.stdin.close()
        return " ".join(ocr.stdout.read().decode(errors="replace").split())


def title_bar_checks(image, box, close=None):
    """A title bar in BOX showing the title, and a close button drawn at
    CLOSE (x, y). Only "Orvan Engine" must be read exactly: themes draw the
    title's em dash, slashes and brackets in ways OCR may misread. The button
    is drawn if the 16x16 square at its centre is not plain: the standard
    deviation of its grey levels, 0 on a plain bar and about 0.25 with a cross
    drawn, must reach 0.05."""
    text = read_title(image, box)
    assert "Orvan Engine" in text, f"the title bar at {box} shows the title (read: {text!r})"
    if close is not None:
        cx, cy = close
        square = image.convert("L").crop((cx - 8, cy - 8, cx + 8, cy + 8))
        deviation = ImageStat.Stat(square).stddev[0] / 255
        assert deviation >= 0.05, f"a close button drawn at {close} (grey deviation {deviation:.3f})"


# -- D-Bus: a bus of a test's own (the desktop tests) ------------------------
class Bus:
    """A dbus-daemon with the session bus's configuration, listening on the
    socket PATH; what it starts on demand runs with ENV (and the mark)."""

    def __init__(self, folder, path, env, name="dbus", mark=None):
        read, write = os.pipe()
        self.process = Process(["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address=unix:path={path}",
                                f"--print-address={write}"], name, folder, env=env, mark=mark, pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as pipe:  # printed once it listens
            self.address = wait_for(f"{name} to print its address", lambda: pipe.readline().strip(), 30,
                                    process=self.process, logs=self.process.logs())

    def connect(self):
        """A connection of this process to the bus (Gio.DBusConnection)."""
        from gi.repository import Gio
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        return Gio.DBusConnection.new_for_address_sync(self.address, flags, None, None)

    def stop(self):
        self.process.stop()
