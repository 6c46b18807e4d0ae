# SPDX-License-Identifier: MIT
"""A browser for the page's tests and measurements, each a harness.Process
with a new profile in FOLDER/profile, in one of two engines with the same
methods: headless Chromium over its DevTools protocol on a pipe (its fds 3
and 4, NUL-separated JSON; no network port), or Firefox in a window on the
display of its environment over Marionette (length-prefixed JSON on
127.0.0.1, on a free port Firefox picks and writes into its profile)."""
import base64
import fcntl
import io
import json
import os
import select
import socket
import time
from pathlib import Path

from PIL import Image

import harness

# The page exposes orvanPage: frames drawn, time of the first frame, notice.
STATE = """typeof orvanPage === "undefined" ? null : {
    frames: orvanPage.frames, firstFrameMs: orvanPage.firstFrameMs, message: orvanPage.message(),
    title: document.title, description: document.querySelector("meta[name=description]")?.content ?? "",
    canvasRole: document.querySelector("canvas").getAttribute("role") ?? "",
    canvasLabel: document.querySelector("canvas").getAttribute("aria-label") ?? ""}"""
# Where the canvas and the notice are, in CSS pixels of the viewport.
LAYOUT = """(() => {
    const box = (e) => { const r = e.getBoundingClientRect(); return {x: r.x, y: r.y, width: r.width, height: r.height}; };
    return {viewport: {width: innerWidth, height: innerHeight}, scrollWidth: document.documentElement.scrollWidth,
            canvas: box(document.querySelector("canvas")), notice: box(document.getElementById("notice")),
            statusFontPx: parseFloat(getComputedStyle(document.getElementById("status")).fontSize)};
  })()"""
# The renderer WebGL draws with, as its debug extension names it.
RENDERER = """(() => { const gl = document.createElement("canvas").getContext("webgl");
    const info = gl && gl.getExtension("WEBGL_debug_renderer_info");
    return gl ? gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER) : ""; })()"""


def png(data):
    return Image.open(io.BytesIO(base64.b64decode(data))).convert("RGB")


class Browser:
    def open(self, url, timeout=30):
        """Opens URL in a 1280x720 viewport: the page's state (STATE) once the
        program has drawn 10 frames or the page shows a notice."""
        self.viewport(1280, 720)
        self.navigate(url)
        return harness.wait_for(f"10 frames or a notice on {url}", lambda: (
            (s := self.evaluate(STATE)) is not None and (s["frames"] >= 10 or s["message"] != "") and s),
            timeout, 0.1, process=self.process, logs=self.process.logs())

    def close(self, timeout=10):
        """Asks the browser to quit; kills it if it has not ended in time."""
        if self.process.alive():
            try:
                self.quit()
            except (harness.Failed, OSError, ValueError):
                pass
        self.process.wait(timeout)

    def failed(self, what):
        return harness.Failed(f"{what} (status {self.process.status})\n{harness.tail(self.process.err)}")


class Chromium(Browser):
    FLAGS = [
        "--headless", "--remote-debugging-pipe", "--window-size=1280,720", "--force-device-scale-factor=1",
        "--hide-scrollbars",
        # Mesa's llvmpipe through ANGLE's EGL back end: SwiftShader, the default
        # software renderer, drops lines that cross the near plane.
        "--use-angle=gl-egl", "--ignore-gpu-blocklist",
        # Nothing but the page's own server: no background traffic, and every
        # host name but 127.0.0.1 unresolvable.
        "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", "--disable-default-apps", "--disable-extensions",
        "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
        # A background tab must not be throttled while the program runs.
        "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
        # The sandbox guards against hostile pages; this browser opens only the
        # test's own page. It cannot start as root, nor in a chroot, which
        # refuses the user namespaces it needs.
        "--no-sandbox"]

    def __init__(self, binary, folder, env, mark=None, webgl=True):
        reads, self.writer = os.pipe()
        self.reader, writes = os.pipe()
        # Copies at 10 and up, clear of the 3 and 4 bash moves them to.
        fds = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (reads, writes)]
        for fd in (reads, writes):
            os.close(fd)
        argv = ["bash", "-c", f'exec "$@" 3<&{fds[0]} 4>&{fds[1]} {fds[0]}<&- {fds[1]}>&-', "chromium", binary,
                *self.FLAGS, f"--user-data-dir={Path(folder) / 'profile'}", *([] if webgl else ["--disable-webgl"])]
        self.process = harness.Process(argv + ["about:blank"], "chromium", folder, env=env, mark=mark, pass_fds=fds)
        for fd in fds:
            os.close(fd)
        self.buffer, self.id, self.session = b"", 0, None
        page = next(t for t in self.send("Target.getTargets")["targetInfos"] if t["type"] == "page")
        self.session = self.send("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]

    def send(self, method, timeout=60, **params):
        self.id += 1
        message = dict(id=self.id, method=method, params=params, **({"sessionId": self.session} if self.session else {}))
        os.write(self.writer, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" in self.buffer:
                raw, self.buffer = self.buffer.split(b"\0", 1)
                if (answer := json.loads(raw)).get("id") == self.id:
                    if "error" in answer:
                        raise harness.Failed(f"{method}: {answer['error'].get('message')}")
                    return answer["result"]
            if not select.select([self.reader], [], [], max(0, deadline - time.monotonic()))[0]:
                raise self.failed(f"{method}: no answer within {timeout} s")
            if not (chunk := os.read(self.reader, 1 << 20)):
                raise self.failed(f"{method}: chromium closed its pipe")
            self.buffer += chunk

    def navigate(self, url):
        self.send("Page.navigate", url=url)

    def evaluate(self, expression):
        answer = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in answer:
            raise harness.Failed(f"{expression}: {answer['exceptionDetails']}")
        return answer["result"].get("value")

    def shot(self, rect=None):
        """The canvas at RECT (LAYOUT's), or without it the viewport."""
        clip = {"clip": dict(rect, scale=1)} if rect else {}
        return png(self.send("Page.captureScreenshot", format="png", **clip)["data"])

    def viewport(self, width, height):
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=False)

    def quit(self):
        self.session = None
        self.send("Browser.close", timeout=10)


class Firefox(Browser):
    PREFS = {
        "marionette.port": 0,  # a free one, written to the profile's MarionetteActivePort
        # Nothing but the page's own server: every other address goes to a
        # proxy that is not there (127.0.0.1 itself never goes through a proxy).
        "network.proxy.type": 1, "network.proxy.http": "127.0.0.1", "network.proxy.http_port": 9,
        "network.proxy.share_proxy_settings": True, "network.proxy.allow_hijacking_localhost": False,
        "browser.shell.checkDefaultBrowser": False, "datareporting.policy.dataSubmissionEnabled": False,
        "toolkit.telemetry.reportingpolicy.firstRun": False, "browser.startup.homepage_override.mstone": "ignore",
        "browser.tabs.warnOnClose": False, "app.update.disabledForTesting": True,
        # performance.now() to the microsecond, as in Chromium, not rounded to 1 ms.
        "privacy.reduceTimerPrecision": False}

    def __init__(self, binary, folder, env, mark=None, webgl=True):
        profile = Path(folder) / "profile"
        profile.mkdir(parents=True)
        (profile / "user.js").write_text("".join(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n"
                                                 for k, v in dict(self.PREFS, **{"webgl.disabled": not webgl}).items()))
        # No session bus: else Firefox starts one (dbus-launch, and GTK the
        # accessibility bus) that outlives it.
        env = dict(env, MOZ_CRASHREPORTER_DISABLE="1", DBUS_SESSION_BUS_ADDRESS=f"unix:path={profile}/no-bus",
                   NO_AT_BRIDGE="1")
        self.process = harness.Process([binary, "--marionette", "--no-remote", "--new-instance", "--profile",
                                        str(profile), "about:blank"], "firefox", folder, env=env, mark=mark)
        port = profile / "MarionetteActivePort"
        port = harness.wait_for("Firefox to write its Marionette port", lambda: port.exists() and port.read_text(),
                                60, 0.1, process=self.process, logs=self.process.logs())
        self.socket = socket.create_connection(("127.0.0.1", int(port)), timeout=60)
        self.buffer, self.id = b"", 0
        self.receive()  # its greeting
        # The tests poll the page themselves: Navigate returns at once.
        self.send("WebDriver:NewSession", capabilities={"alwaysMatch": {"pageLoadStrategy": "none"}})

    def receive(self):
        while True:
            length, colon, rest = self.buffer.partition(b":")
            if colon and len(rest) >= int(length):
                self.buffer = rest[int(length):]
                return json.loads(rest[:int(length)])
            if not (chunk := self.socket.recv(1 << 20)):
                raise self.failed("firefox closed its Marionette connection")
            self.buffer += chunk

    def send(self, method, **params):
        self.id += 1
        body = json.dumps([0, self.id, method, params]).encode()
        self.socket.sendall(b"%d:%s" % (len(body), body))
        while not isinstance(answer := self.receive(), list) or answer[1] != self.id:
            pass
        if answer[2]:
            raise harness.Failed(f"{method}: {answer[2].get('error')}: {answer[2].get('message')}")
        return answer[3]

    def navigate(self, url):
        self.send("WebDriver:Navigate", url=url)

    def evaluate(self, expression):
        return self.send("WebDriver:ExecuteScript", script=f"return ({expression});", args=[])["value"]

    def shot(self, rect=None):
        """The canvas (if RECT), or without it the viewport."""
        canvas = rect and self.send("WebDriver:FindElement", using="css selector", value="canvas")["value"]
        element = {"id": next(iter(canvas.values()))} if canvas else {}
        return png(self.send("WebDriver:TakeScreenshot", full=False, hash=False, **element)["value"])

    def viewport(self, width, height):
        """The window's size less the viewport's is the browser's own bars."""
        for _ in range(3):
            w, h, outer_w, outer_h = self.evaluate("[innerWidth, innerHeight, outerWidth, outerHeight]")
            if (w, h) == (width, height):
                return
            self.send("WebDriver:SetWindowRect", width=width + outer_w - w, height=height + outer_h - h)
            time.sleep(0.2)

    def quit(self):
        self.send("Marionette:Quit", flags=["eForceQuit"])


ENGINES = {"chromium": Chromium, "firefox": Firefox}
