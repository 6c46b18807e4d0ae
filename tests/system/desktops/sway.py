# SPDX-License-Identifier: MIT
"""sway on wlroots' headless backend (one 1600x900 output, no input devices). It draws the title bar
(server-side decorations, asked for and granted) without buttons: the close is `swaymsg kill`, what its key
binding sends. wtype's virtual keyboard goes to the focused window. Windows float at the size they ask for
(tiled, one would fill the output). sway refuses to run as root: as root (CI) it runs as nobody, in a folder of
its own that nobody can reach (pytest's is private to root)."""
import io
import json
import os
import pwd
import tempfile
from pathlib import Path

from PIL import Image

from desktops import Base, Window

CONFIG = """output HEADLESS-1 resolution 1600x900 position 0 0
default_border normal 2
xwayland disable
for_window [title=".*"] floating enable
"""


class Desktop(Base):
    def start(self):
        folder = tempfile.TemporaryDirectory(prefix="orvan-sway-", ignore_cleanup_errors=True)
        home = Path(self.undo.enter_context(folder))
        runtime, config = home / "runtime", home / "sway.config"
        runtime.mkdir(mode=0o700)
        config.write_text(CONFIG)
        run_as = []
        if os.getuid() == 0:
            nobody = pwd.getpwnam("nobody")
            home.chmod(0o711)
            config.chmod(0o644)
            os.chown(runtime, nobody.pw_uid, nobody.pw_gid)
            run_as = ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}", "--clear-groups"]
        env = self.base_env(HOME=runtime, XDG_RUNTIME_DIR=runtime, WLR_BACKENDS="headless",
                            WLR_LIBINPUT_NO_DEVICES=1)
        self.compositor = self.spawn([*run_as, "sway", "-c", str(config)], "sway", env)

        def sockets():  # its IPC and Wayland (wayland-N) sockets
            ipc = sorted(runtime.glob("sway-ipc.*.sock"))
            wayland = sorted(p.name for p in runtime.glob("wayland-[0-9]*") if p.is_socket())
            return ipc and wayland and (str(ipc[0]), wayland[0])
        self.socket, display = self.wait("sway's IPC and Wayland sockets", sockets, 30)
        self.env = self.base_env(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY=display, XDG_SESSION_TYPE="wayland")
        self.swaymsg("-t", "get_version")

    def swaymsg(self, *args):
        return json.loads(self.run("swaymsg", "-s", self.socket, *args))

    def window(self, pid):
        def views(node):
            yield node
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                yield from views(child)
        rect = lambda r: (r["x"], r["y"], r["width"], r["height"])  # noqa: E731
        for view in views(self.swaymsg("-t", "get_tree")):
            if view.get("pid") == pid:
                # window_rect is the contents' place inside the container's
                # rect; deco_rect the title bar's, on the output (at 0, 0)
                x, y, _, _ = rect(view["rect"])
                wx, wy, w, h = rect(view["window_rect"])
                return Window(view.get("app_id"), (x + wx, y + wy, w, h), rect(view["deco_rect"]), None)
        return None

    def screenshot(self):
        return Image.open(io.BytesIO(self.run("grim", "-t", "png", "-")))

    def key_escape(self):
        # Held 1.5 s: a virtual keyboard that comes with the key already down
        # would otherwise show the program the release only.
        self.run("wtype", "-s", "1500", "-k", "Escape")

    def close(self, pid):
        self.swaymsg(f"[pid={pid}] kill")
