# SPDX-License-Identifier: MIT
"""Real desktops for test_desktop.py, one module each with a class Desktop:
start() starts it with all its state in the test's folder, stop() stops it.

  env            what a client needs to open a window on it
  backend        "X11" or "Wayland": where GLFW must open the window
  window(pid)    what the desktop knows of PID's window, a Window (or None)
  screenshot()   the whole screen, taken the desktop's own way (PIL)
  click(x, y)    the pointer moved in from elsewhere, a left click
  key_escape()   Esc, to the focused window (the program's)
  close(pid)     the desktop's own close request (where no close button is)
  compositor     its main process (on X11 the window manager), which the test kills on Wayland
  top_bar        (x, y, w, h) where its top bar names the focused program, or None
"""
import contextlib
import os
import subprocess
from collections import namedtuple

import displays
import harness

# name: the app_id or WM_CLASS the desktop reports; contents, title: their boxes
# (x, y, w, h) on the screen; close: the close button's centre (x, y), or None.
Window = namedtuple("Window", "name contents title close")


class Base:
    backend = "Wayland"
    top_bar = None

    def __init__(self, build, work, runtime, mark):
        self.build, self.work, self.runtime, self.mark = build, work, runtime, mark
        self.processes, self.env = [], {}
        self.undo = contextlib.ExitStack()  # what stop() undoes, last done first
        try:
            self.start()
        except BaseException:
            self.stop()
            raise

    def own(self, thing):
        """THING (a Process, an X server, a bus), stopped by stop(); its logs
        shown when a wait for the desktop fails."""
        self.undo.callback(thing.stop)
        self.processes.append(getattr(thing, "process", thing))
        return thing

    def spawn(self, argv, name, env, **popen):
        """A process of the desktop's, stopped by stop()."""
        return self.own(harness.Process(argv, name, self.work, env=env, mark=self.mark, **popen))

    def run(self, *argv, env=None):
        """A tool's output; the test fails if it fails."""
        done = subprocess.run(argv, env=dict(env or self.env, ORVAN_TEST_MARK=self.mark), capture_output=True,
                              timeout=60)
        if done.returncode != 0:
            raise harness.Failed(f"{' '.join(argv)}: status {done.returncode}\n{done.stderr.decode()[-2000:]}")
        return done.stdout

    def base_env(self, **extra):
        """A clean environment: the path, a home in the test's folder, EXTRA."""
        return dict({"PATH": os.environ["PATH"], "HOME": str(self.work), "LC_ALL": "C.UTF-8"},
                    **{k: str(v) for k, v in extra.items()})

    def session_bus(self, env):
        """A session bus of the desktop's own, its address put in ENV, and self.bus the test's connection to it."""
        session = self.own(displays.Bus(self.work, self.runtime / "bus", env, "dbus-session", self.mark))
        env["DBUS_SESSION_BUS_ADDRESS"] = session.address
        self.bus = session.connect()
        self.undo.callback(self.bus.close_sync, None)

    def logs(self):
        return [log for process in self.processes for log in process.logs()]

    def wait(self, what, predicate, timeout, interval=0.1):
        """harness.wait_for while the compositor runs, showing all the desktop's logs."""
        return harness.wait_for(what, predicate, timeout, interval, process=self.compositor, logs=self.logs())

    def stop(self):
        self.undo.close()
