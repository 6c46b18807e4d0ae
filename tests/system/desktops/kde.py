# SPDX-License-Identifier: MIT
"""KDE's compositor, kwin_wayland, on its virtual backend (one 1600x900
output, no input devices), with a session bus of its own. The program asks
for server-side decorations and kwin grants them: the title bar and its
buttons are Breeze's (package kwin-style-breeze; without it kwin draws no
title bar at all). Keys and clicks go through kwin's fake-input Wayland
protocol (kde_fake_input.c), the window's name and place come from a KWin
script that calls the test back over D-Bus: its desktopFileName, the app_id,
which kwin matches with the desktop entry (kwin makes up a resourceClass
from the executable's name when there is no app_id: that proves nothing).

No permission checks: kwin lets this test's own programs take screenshots
and send input, which it otherwise allows only to programs whose desktop
entries ask for it."""
import itertools
import json
import os
import re
import shutil
import subprocess
from pathlib import Path

from gi.repository import Gio, GLib
from PIL import Image

import harness
import displays
from desktops import Base, Window

CALLBACK = """<node><interface name="org.orvan.DesktopTest">
  <method name="Windows"><arg type="s" direction="in"/><arg type="s" direction="in"/></method>
</interface></node>"""
# One list per window of the process: desktopFileName, then its frame (title
# bar and borders included) and its buffer (the contents), x y width height.
SCRIPT = """var found = [];
(workspace.windowList ? workspace.windowList() : workspace.clientList()).forEach(function (c) {
    if (c.pid !== %(pid)d) return;
    var f = c.frameGeometry, b = c.bufferGeometry;
    found.push([c.desktopFileName, f.x, f.y, f.width, f.height, b.x, b.y, b.width, b.height]);
});
callDBus("%(bus)s", "/org/orvan/DesktopTest", "org.orvan.DesktopTest", "Windows", "%(tag)s", JSON.stringify(found));
"""
# QImage::Format_RGB32, Format_ARGB32, Format_ARGB32_Premultiplied: 32 bits
# a pixel, in memory B, G, R, then x or A on this little-endian machine
BGRX_FORMATS = (4, 5, 6)


class Desktop(Base):
    def start(self):
        self.fake_input = self.build.frame_counter.parent / "kde_fake_input"
        if not self.fake_input.exists():
            raise harness.Failed(f"{self.fake_input} not built (the build's desktop tests are off?)")
        # /usr/bin/kwin_wayland carries a file capability (cap_sys_resource,
        # to raise its own priority) that some machines (containers) refuse
        # to execute at all, for root too. A copy has no capability and runs;
        # it keeps the name, by which kwin finds its platform plugins.
        kwin = self.work / "kde-bin" / "kwin_wayland"
        kwin.parent.mkdir()
        shutil.copy("/usr/bin/kwin_wayland", kwin)
        home = self.work / "kde-home"
        env = self.base_env(HOME=home, XDG_CONFIG_HOME=home / ".config", XDG_RUNTIME_DIR=self.runtime,
                            KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1, KWIN_WAYLAND_NO_PERMISSION_CHECKS=1)
        backend, self.nested = ["--virtual"], None
        version = subprocess.run([kwin, "--version"], env=env, capture_output=True, text=True).stdout
        if int(re.search(r"\d+", version).group()) >= 6 and not list(Path("/dev/dri").glob("renderD*")):
            # kwin 6 renders with OpenGL only on a GPU's render node; without
            # one it composites with QPainter and offers no ScreenShot2 (its
            # screenshots need OpenGL). It then runs in a window of its own on
            # Xvfb, whose contents are exactly what it composites: those are
            # the screenshot.
            self.nested = self.own(displays.Xvfb(self.work, mark=self.mark))
            env["DISPLAY"], backend = self.nested.display, ["--x11-display", self.nested.display]
        session = self.own(displays.Bus(self.work, self.runtime / "bus", env, "dbus-session", self.mark))
        env["DBUS_SESSION_BUS_ADDRESS"] = session.address
        self.compositor = self.spawn([kwin, *backend, "--width", "1600", "--height", "900", "--socket",
                                      "orvan-kde", "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"],
                                     "kwin", env)
        self.bus = session.connect()
        self.undo.callback(self.bus.close_sync, None)
        self.answers, self.queries = {}, itertools.count(1)
        self.bus.register_object("/org/orvan/DesktopTest", Gio.DBusNodeInfo.new_for_xml(CALLBACK).interfaces[0],
                                 self.answered, None, None)
        harness.wait_for("kwin's Wayland socket and its scripting on D-Bus", self.ready, 60, interval=0.1,
                         process=self.compositor, logs=self.logs())
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
        """Whether TAG's answer is in: calls to the test are handled where
        they were registered, in this thread's main context, when it runs."""
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
            harness.wait_for(f"KWin script {tag} to call back", lambda: self.handled(tag), 10, interval=0.01,
                             process=self.compositor, logs=self.logs())
        finally:
            self.call(*scripting, "unloadScript", GLib.Variant("(s)", (tag,)), "(b)")
        found = self.answers.pop(tag)
        if not found:
            return None
        name, fx, fy, fw, _, bx, by, bw, bh = found[0]
        # Breeze's title bar: from the frame's top to the contents. Its close
        # button is the rightmost, its centre 18 pixels from the frame's right
        # edge (with its default button size and font).
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
