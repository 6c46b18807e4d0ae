# SPDX-License-Identifier: MIT
"""openbox on an Xvfb of its own, its default theme drawing the title and, at the bar's right, iconify, maximise and
close. All is read from the X server; Esc is a key press sent to the program's window alone (no key left held)."""
from Xlib import X

import displays
from desktops import Base, Window


class Desktop(Base):
    backend = "X11"

    def start(self):
        self.xvfb = self.own(displays.Xvfb(self.work, mark=self.mark))
        self.x, self.screenshot = self.xvfb.x, self.xvfb.shot
        env = self.base_env(DISPLAY=self.xvfb.display, XDG_CONFIG_HOME=self.work / "config")
        self.compositor = self.spawn(["openbox", "--sm-disable"], "openbox", env)
        self.wait("openbox to name itself on the root window", lambda: self.manager() == "Openbox", 20)
        self.env = self.base_env(DISPLAY=self.xvfb.display, XDG_RUNTIME_DIR=self.runtime, XDG_SESSION_TYPE="x11")

    def manager(self):
        """_NET_WM_NAME of the root's _NET_SUPPORTING_WM_CHECK window (wmctrl -m)."""
        atom = self.x.intern_atom("_NET_SUPPORTING_WM_CHECK")
        check = self.x.screen().root.get_full_property(atom, X.AnyPropertyType)
        return check and self.xvfb.title(self.x.create_resource_object("window", check.value[0]))

    def place(self, window):
        """(x, y, width, height) of WINDOW on the screen."""
        geometry = window.get_geometry()
        at = window.translate_coords(self.x.screen().root, 0, 0)
        return -at.x, -at.y, geometry.width, geometry.height

    def window(self, pid):
        windows = self.xvfb.windows_of(pid)
        if not windows:
            return None
        window = self._window = windows[0]
        wm_class = window.get_wm_class()
        x, y, w, h = contents = self.place(window)
        extents = window.get_full_property(self.x.intern_atom("_NET_FRAME_EXTENTS"), X.AnyPropertyType)
        left, right, top, _ = extents.value if extents else (0, 0, 0, 0)
        title = (x - left, y - top, w + left + right, top)
        return Window(wm_class[1] if wm_class else None, contents, title, self.close_button(window, title))

    def close_button(self, window, title):
        """The rightmost small square window in the title bar of the frame (the
        window's parent): openbox draws each button in one, close the last."""
        best, todo = None, list(window.query_tree().parent.query_tree().children)
        while todo:
            child = todo.pop()
            todo.extend(child.query_tree().children)
            if child.get_attributes().map_state != X.IsViewable:
                continue
            x, y, w, h = self.place(child)
            if w == h and 8 <= w <= 40 and y >= title[1] and y + h <= title[1] + title[3]:
                if best is None or x > best[0]:
                    best = (x, y, w)
        return None if best is None else (best[0] + best[2] // 2, best[1] + best[2] // 2)

    def click(self, x, y):
        self.xvfb.move_pointer((0, 899))  # the screen's bottom-left corner, outside the centred window
        self.xvfb.click(x, y)

    def key_escape(self):
        self.xvfb.send_escape(self._window)
