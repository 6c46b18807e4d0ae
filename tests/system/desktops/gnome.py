# SPDX-License-Identifier: MIT
"""GNOME Shell headless on Wayland: a virtual monitor, no X11, buses of its own, its settings in a key file in
the test's folder (no dconf). libdecor's cairo plugin draws the title bar (24 px high, buttons 32 px wide, close
the rightmost). Screenshots, input and the window list go through the shell's and mutter's D-Bus interfaces,
some only to the bus names it trusts (org.gnome.Screenshot, the desktop portal), which the test owns while it
calls; the test's extension (gnome_extension.js) says where the window is."""
import json
import re
import time
from pathlib import Path

from gi.repository import GLib
from PIL import Image

import displays
from desktops import Base, Window

UUID = "orvan-desktop-test@orvan.example"
TITLE_HEIGHT, BUTTON_WIDTH = 24, 32
WIDTH, HEIGHT = 1600, 900
# The test's extension, no animations, banners (one as root) nor welcome tour.
SETTINGS = f"""[org/gnome/shell]
enabled-extensions=['{UUID}']
disable-user-extensions=false
welcome-dialog-last-shown-version='999'
[org/gnome/desktop/interface]
enable-animations=false
[org/gnome/desktop/notifications]
show-banners=false
"""
OLD = ("const { Gio } = imports.gi;\nconst Main = imports.ui.main;\n",
       "function init() { return new DesktopTest(); }\n")
MODULE = ("import Gio from 'gi://Gio';\nimport * as Main from 'resource:///org/gnome/shell/ui/main.js';\n",
          "export default DesktopTest;\n")


class Desktop(Base):
    def start(self):
        home = self.work / "home"
        extension = home / ".local/share/gnome-shell/extensions" / UUID
        extension.mkdir(parents=True)
        (home / ".config/glib-2.0/settings").mkdir(parents=True)
        (home / ".config/glib-2.0/settings/keyfile").write_text(SETTINGS)
        env = self.base_env(HOME=home, XDG_CONFIG_HOME=home / ".config", XDG_DATA_HOME=home / ".local/share",
                            XDG_RUNTIME_DIR=self.runtime, GSETTINGS_BACKEND="keyfile")
        version = int(re.search(rb"\d+", self.run("gnome-shell", "--version", env=env))[0])
        (extension / "metadata.json").write_text(f'{{"uuid": "{UUID}", "name": "Desktop test", "description": '
                                                 f'"Window frames for a test", "shell-version": ["{version}"]}}')
        head, tail = MODULE if version >= 45 else OLD
        # Up to GNOME 44 the top bar names the focused program (its app_id) at its left.
        self.top_bar = (0, 0, WIDTH // 2 - 100, 32) if version < 45 else None
        code = (Path(__file__).with_name("gnome_extension.js")).read_text()
        (extension / "extension.js").write_text(head + code + tail)
        # The shell needs a system bus: one of the test's own, not the machine's.
        system = self.own(displays.Bus(self.work, self.runtime / "sysbus", env, "dbus-system", self.mark))
        self.session_bus(env)
        env["DBUS_SYSTEM_BUS_ADDRESS"] = system.address
        self.compositor = self.spawn(["gnome-shell", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
                                      f"{WIDTH}x{HEIGHT}"], "gnome-shell", env)
        self.wait("GNOME Shell started, its overview closed", self.ready, 90, 0.2)  # slow when loaded
        self.env = self.base_env(XDG_RUNTIME_DIR=self.runtime, WAYLAND_DISPLAY="wayland-0",
                                 XDG_SESSION_TYPE="wayland")

    def call(self, name, path, iface, method, args=None, reply=None):
        return self.bus.call_sync(name, path, iface, method, args, GLib.VariantType(reply) if reply else None,
                                  0, 10000, None).unpack()

    def ours(self, method, reply="(s)"):
        return self.call("org.gnome.Shell", "/org/orvan/DesktopTest", "org.orvan.DesktopTest", method,
                         reply=reply)[0]

    def owning(self, name, *call):
        """self.call(*CALL), made while the test owns the bus name NAME."""
        bus = ("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus")
        (got,) = self.call(*bus, "RequestName", GLib.Variant("(su)", (name, 4)), "(u)")  # 4: do not queue
        assert got == 1, f"the test owns the bus name {name} (RequestName answered {got})"
        try:
            return self.call(*call)
        finally:
            self.call(*bus, "ReleaseName", GLib.Variant("(s)", (name,)), "(u)")

    def ready(self):
        """It has started, and its overview (where it starts) is closed."""
        shell = ("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties")
        try:
            if not self.ours("Started", "(b)"):
                return False
            if self.call(*shell, "Get", GLib.Variant("(ss)", ("org.gnome.Shell", "OverviewActive")), "(v)")[0]:
                self.call(*shell, "Set", GLib.Variant("(ssv)", ("org.gnome.Shell", "OverviewActive",
                                                               GLib.Variant("b", False))))
                return False
            return True
        except GLib.Error:  # not there yet
            return False

    def window(self, pid):
        """The app_id the shell's (Introspect's wm-class), the frame the extension's."""
        listed = self.owning("org.freedesktop.impl.portal.desktop.gnome", "org.gnome.Shell",
                             "/org/gnome/Shell/Introspect", "org.gnome.Shell.Introspect", "GetWindows", None,
                             "(a{ta{sv}})")[0]
        for wid, (wpid, x, y, w, h) in json.loads(self.ours("Frames")).items():
            if wpid == pid and int(wid) in listed:
                close = (x + w - BUTTON_WIDTH // 2, y + TITLE_HEIGHT // 2)
                return Window(listed[int(wid)].get("wm-class"), (x, y + TITLE_HEIGHT, w, h - TITLE_HEIGHT),
                              (x, y, w, TITLE_HEIGHT), close)
        return None

    def screenshot(self):
        path = self.work / "shell-screenshot.png"
        ok, _ = self.owning("org.gnome.Screenshot", "org.gnome.Shell.Screenshot",
                            "/org/gnome/Shell/Screenshot", "org.gnome.Shell.Screenshot", "Screenshot",
                            GLib.Variant("(bbs)", (False, False, str(path))), "(bs)")
        assert ok, "GNOME Shell took a screenshot"
        with Image.open(path) as image:
            return image.convert("RGB")

    def remote(self, *events):
        """EVENTS (method, signature, args) in a session of mutter's remote desktop."""
        rd = ("org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop")
        (path,) = self.call(*rd, "CreateSession", None, "(o)")
        # The session's first event is sometimes lost: a harmless one first (Shift, 42).
        shift = [("NotifyKeyboardKeycode", "(ub)", (42, True)), ("NotifyKeyboardKeycode", "(ub)", (42, False))]
        for method, signature, args in [("Start", None, ()), *shift, *events, ("Stop", None, ())]:
            self.call(rd[0], path, rd[2] + ".Session", method, GLib.Variant(signature, args) if signature else None)
            time.sleep(0.05)  # lets mutter handle one event before the next

    def click(self, x, y):
        # Relative motion (absolute needs a screen cast) to the bottom-right corner (the top-left
        # opens the overview), back to 40 px below-left of the button, onto it: the bar sees it enter.
        move = lambda dx, dy: ("NotifyPointerMotionRelative", "(dd)", (float(dx), float(dy)))  # noqa: E731
        button = lambda pressed: ("NotifyPointerButton", "(ib)", (0x110, pressed))  # noqa: E731 BTN_LEFT
        self.remote(move(10000, 10000), move(x - 40 - (WIDTH - 1), y + 40 - (HEIGHT - 1)), move(40, -40), button(True),
                    button(False))

    def key_escape(self):
        self.remote(("NotifyKeyboardKeycode", "(ub)", (1, True)), ("NotifyKeyboardKeycode", "(ub)", (1, False)))
