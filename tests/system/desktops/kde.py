# SPDX-License-Identifier: MIT
"""kwin_wayland on its virtual backend (one 1600x900 output, no input devices), a session bus of its own. The
program's server-side decorations are Breeze's (kwin-style-breeze; without it no title bar). Input goes through
kwin's fake-input protocol (kde_fake_input.c); a KWin script calls the test back over D-Bus with the window's
place and desktopFileName, the app_id (the resourceClass kwin makes up from the executable's name proves
nothing). Permission checks are off: the test's programs may take screenshots and send input."""
import itertools
import json
import os
import re
import shutil
from pathlib import Path

from gi.repository import Gio, GLib
from PIL import Image

import harness
import displays
from desktops import Base, Window

CALLBACK = """<node><interface name="org.orvan.DesktopTest">
  <method name="Windows"><arg type="s" direction="in"/><arg type="s" direction="in"/></method>
</interface></node>"""
# Per window of the process: desktopFileName, its frame (with title bar), its buffer (contents): x y w h.
SCRIPT = """var found = [];
(workspace.windowList ? workspace.windowList() : workspace.clientList()).forEach(function (c) {
    if (c.pid !== %(pid)d) return;
    var f = c.frameGeometry, b = c.bufferGeometry;
    found.push([c.desktopFileName, f.x, f.y, f.width, f.height, b.x, b.y, b.width, b.height]);
});
callDBus("%(bus)s", "/org/orvan/DesktopTest", "org.orvan.DesktopTest", "Windows", "%(tag)s", JSON.stringify(found));
"""
# QImage's RGB32, ARGB32, ARGB32_Premultiplied: B, G, R, x or A in memory (little-endian)
BGRX_FORMATS = (4, 5, 6)


class Desktop(Base):
    def start(self):
        self.fake_input = self.build.frame_counter.parent / "kde_fake_input"
        if not self.fake_input.exists():
            raise harness.Failed(f"{self.fake_input} not built (the build's desktop tests are off?)")
        # Some machines (containers) refuse to run kwin_wayland's file capability at all: a copy
        # has none, and keeps the name, by which kwin finds its platform plugins.
        (kwin := self.work / "kde-bin" / "kwin_wayland").parent.mkdir()
        shutil.copy("/usr/bin/kwin_wayland", kwin)
        home = self.work / "kde-home"
        env = self.base_env(HOME=home, XDG_CONFIG_HOME=home / ".config", XDG_RUNTIME_DIR=self.runtime,
                            KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1, KWIN_WAYLAND_NO_PERMISSION_CHECKS=1)
        backend, self.nested = ["--virtual"], None
        version = int(re.search(rb"\d+", self.run(str(kwin), "--version", env=env))[0])
        if version >= 6 and not any(Path("/dev/dri").glob("renderD*")):
            # Without a GPU's render node kwin 6 composites with QPainter, without ScreenShot2:
            # it then runs in a window on Xvfb, whose contents (what it composites) are the screenshot.
            self.nested = self.own(displays.Xvfb(self.work, mark=self.mark))
            env["DISPLAY"], backend = self.nested.display, ["--x11-display", self.nested.display]
        self.session_bus(env)
        self.compositor = self.spawn([kwin, *backend, "--width", "1600", "--height", "900", "--socket",
                                      "orvan-kde", "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"],
                                     "kwin", env)
        self.answers, self.queries = {}, itertools.count(1)
        self.bus.register_object("/org/orvan/DesktopTest", Gio.DBusNodeInfo.new_for_xml(CALLBACK).interfaces[0],
                                 self.answered, None, None)
        self.wait("kwin's Wayland socket and its scripting on D-Bus", self.ready, 60)
        self.env = self.base_env(XDG_RUNTIME_DIR=self.runtime, WAYLAND_DISPLAY="orvan-kde",
                                 XDG_SESSION_TYPE="wayland")

    def call(self, path, iface, method, args=None, reply=None):
        return self.bus.call_sync("org.kde.KWin", path, iface, method, args,
                                  GLib.VariantType(reply) if reply else None, 0, 20000, None).unpack()

    def ready(self):
        try:
            return (self.runtime / "orvan-kde").is_socket() and "org.kde.kwin.Scripting" in self.call(
                "/Scripting", "org.freedesktop.DBus.Introspectable", "Introspect", reply="(s)")[0]
        except GLib.Error:  # not there yet
            return False

    def answered(self, connection, sender, path, iface, method, args, invocation):
        tag, found = args.unpack()
        self.answers[tag] = json.loads(found)
        invocation.return_value(None)

    def handled(self, tag):
        """Whether TAG's answer is in (handled in this thread's main context, run here)."""
        while GLib.MainContext.default().iteration(False):
            pass
        return tag in self.answers

    def window(self, pid):
        tag = f"orvan-query-{next(self.queries)}"
        script = self.work / f"{tag}.js"
        script.write_text(SCRIPT % {"pid": pid, "bus": self.bus.get_unique_name(), "tag": tag})
        scripting = ("/Scripting", "org.kde.kwin.Scripting")
        (number,) = self.call(*scripting, "loadScript", GLib.Variant("(ss)", (str(script), tag)), "(i)")
        try:
            try:  # the script's object: /Scripting/ScriptN (kwin 6), /N (kwin 5)
                self.call(f"/Scripting/Script{number}", "org.kde.kwin.Script", "run")
            except GLib.Error:
                self.call(f"/{number}", "org.kde.kwin.Script", "run")
            self.wait(f"KWin script {tag} to call back", lambda: self.handled(tag), 10, 0.01)
        finally:
            self.call(*scripting, "unloadScript", GLib.Variant("(s)", (tag,)), "(b)")
        found = self.answers.pop(tag)
        if not found:
            return None
        name, fx, fy, fw, _, bx, by, bw, bh = found[0]
        # Breeze's title bar: the frame's top to the contents; its close button
        # the rightmost, centred 18 px from the frame's right edge.
        return Window(name, (bx, by, bw, bh), (fx, fy, fw, by - fy), (fx + fw - 18, fy + (by - fy) // 2))

    def screenshot(self):
        if self.nested:
            return self.nested.shot()
        read, write = os.pipe()
        fds = Gio.UnixFDList.new()
        fds.append(write)  # a copy of it, closed with the list
        os.close(write)
        (info,), _ = self.bus.call_with_unix_fd_list_sync(
            "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureWorkspace",
            GLib.Variant("(a{sv}h)", ({"native-resolution": GLib.Variant("b", True)}, 0)),
            GLib.VariantType("(a{sv})"), 0, 20000, fds, None)
        del fds  # the last copy of the write end here: the read ends where kwin's writing does
        with os.fdopen(read, "rb") as pipe:
            data = pipe.read()
        width, height, stride = info["width"], info["height"], info["stride"]
        assert info["format"] in BGRX_FORMATS and len(data) >= stride * height, f"kwin's screenshot: {info}"
        return Image.frombuffer("RGB", (width, height), data, "raw", "BGRX", stride, 1).copy()

    def click(self, x, y):
        self.run(str(self.fake_input), "click", str(x), str(y))

    def key_escape(self):
        self.run(str(self.fake_input), "key", "1")  # evdev KEY_ESC
