# SPDX-License-Identifier: MIT
"""Display servers and buses of a test's own: Xvfb (and what a test does to
windows through it), weston, a D-Bus daemon; stop() ends each."""
import contextlib
import os
import time
from pathlib import Path

from PIL import Image
from Xlib import X, XK, Xatom, display as xdisplay, error as xerror, protocol
from Xlib.ext import xtest

from harness import Process, clean_env, wait_for


class Xvfb:
    """Xvfb on a free display; env is what a client needs to use it, no more."""

    def __init__(self, folder, mark=None):
        read, write = os.pipe()
        self.process = Process(["Xvfb", "-displayfd", str(write), "-screen", "0", "1600x900x24", "-nolisten", "tcp",
                                "-noreset"], "Xvfb", folder, mark=mark, pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as pipe:
            number = wait_for("Xvfb to name its display", lambda: pipe.readline().strip(), 30, process=self.process)
        self.display = f":{number}"
        self.env = clean_env(DISPLAY=self.display, XDG_SESSION_TYPE="x11")
        self.x = xdisplay.Display(self.display)

    def stop(self):
        with contextlib.suppress(xerror.ConnectionClosedError, OSError, AttributeError):
            self.x.close()
        self.x = None
        self.process.stop()

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

    def wait_window(self, process):
        return wait_for(f"a window of {process.name}", lambda: self.windows_of(process.pid), 60, interval=0.1,
                        process=process)[0]

    def window_gone(self, window):
        wait_for(f"window {window.id:#x} to be destroyed",
                 lambda: window not in self.x.screen().root.query_tree().children, 5)

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
        """What a window manager sends for the close button (WM_DELETE_WINDOW), to WINDOW alone."""
        data = (32, [self.x.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])
        window.send_event(protocol.event.ClientMessage(window=window, client_type=self.x.intern_atom("WM_PROTOCOLS"),
                                                       data=data), event_mask=X.NoEventMask)
        self.x.sync()

    def send_escape(self, window):
        """A press of Esc sent to that window alone, not through the server's
        keyboard: no key is left held if the window goes before a release."""
        window.send_event(protocol.event.KeyPress(
            time=X.CurrentTime, root=self.x.screen().root, window=window, same_screen=1, child=X.NONE, root_x=0,
            root_y=0, event_x=0, event_y=0, state=0, detail=self.x.keysym_to_keycode(XK.XK_Escape)),
            event_mask=X.KeyPressMask)
        self.x.sync()

    def fake(self, *events, **where):
        """EVENTS (type, detail: a keysym for a key) through the server's keyboard and pointer."""
        for kind, detail in events:
            key = kind in (X.KeyPress, X.KeyRelease)
            xtest.fake_input(self.x, kind, self.x.keysym_to_keycode(detail) if key else detail, **where)
        self.x.sync()

    def move_pointer(self, *points):
        """Moves the pointer through POINTS (x, y), a moment at each, as a
        hand does: a compositor nested in the server learns where it is so."""
        for x, y in points:
            self.fake((X.MotionNotify, 0), x=x, y=y)
            time.sleep(0.3)

    def click(self, x, y):
        self.move_pointer((x, y))
        self.fake((X.ButtonPress, 1), (X.ButtonRelease, 1))

    def press_key(self, keysym, x=640, y=360):
        """A key pressed and released with the pointer at (x, y) (the focus follows it where no window manager runs)."""
        self.move_pointer((x, y))
        self.fake((X.KeyPress, keysym), (X.KeyRelease, keysym))


class Weston:
    """weston on SOCKET in the private runtime folder of ENV, with ARGS."""

    def __init__(self, folder, env, socket, *args, mark=None):
        self.socket = Path(env["XDG_RUNTIME_DIR"]) / socket
        self.process = Process(["weston", "--idle-time=0", f"--socket={socket}", *args], f"weston-{socket}",
                               folder, env=env, mark=mark)
        wait_for(f"weston's socket {self.socket}", self.socket.is_socket, 30, interval=0.1, process=self.process)
        self.env = dict(env, WAYLAND_DISPLAY=socket, XDG_SESSION_TYPE="wayland")
        self.env.pop("DISPLAY", None)
        self.stop = self.process.stop


class Bus:
    """A dbus-daemon configured as a session bus on the socket PATH; what it
    starts on demand runs with ENV (and the mark)."""

    def __init__(self, folder, path, env, name, mark=None):
        read, write = os.pipe()
        self.process = Process(["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--address=unix:path={path}",
                                f"--print-address={write}"], name, folder, env=env, mark=mark, pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as pipe:  # printed once it listens
            self.address = wait_for(f"{name} to print its address", lambda: pipe.readline().strip(), 30,
                                    process=self.process)
        self.stop = self.process.stop

    def connect(self):
        """A connection of this process to the bus (Gio.DBusConnection)."""
        from gi.repository import Gio
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        return Gio.DBusConnection.new_for_address_sync(self.address, flags, None, None)
