# SPDX-License-Identifier: MIT
"""A browser with a new profile in FOLDER/profile: headless Chromium over DevTools on a pipe (fds 3 and 4,
NUL-separated JSON), or Firefox on its environment's display over Marionette (length-prefixed JSON on 127.0.0.1)."""
import base64
import contextlib
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

# The page's orvanPage: frames drawn, first frame's time (ms from navigation), its notice ("" while it runs).
PAGE = """typeof orvanPage === "undefined" ? null :
    {frames: orvanPage.frames, firstFrameMs: orvanPage.firstFrameMs, message: orvanPage.message()}"""
# The renderer WebGL draws with, as its debug extension names it.
RENDERER = """(() => { const gl = document.createElement("canvas").getContext("webgl");
    const info = gl && gl.getExtension("WEBGL_debug_renderer_info");
    return gl ? gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER) : ""; })()"""


class Browser:
    def open(self, url):
        """PAGE once URL, opened in a 1280x720 viewport, has drawn 10 frames or shows a notice."""
        self.viewport(1280, 720)
        self.send(self.NAVIGATE, url=url)
        return harness.wait_for(f"10 frames or a notice on {url}", lambda: (
            (s := self.evaluate(PAGE)) is not None and (s["frames"] >= 10 or s["message"] != "") and s),
            30, 0.1, process=self.process)

    def shot(self, rect=None):
        """The canvas (RECT: its x, y, width and height), or the viewport."""
        return Image.open(io.BytesIO(base64.b64decode(self.screenshot(rect)))).convert("RGB")

    def close(self):
        """Asks the browser to quit; kills it if it has not ended within 10 s."""
        if self.process.alive():
            with contextlib.suppress(harness.Failed, OSError, ValueError):
                self.quit()
        self.process.wait(10)
        self.disconnect()
    stop = close  # as the tests' stop_at_end calls it

    def failed(self, what):
        return harness.Failed(f"{what} (status {self.process.status})\n{harness.tail(self.process.err)}")


class Chromium(Browser):
    NAVIGATE = "Page.navigate"
    FLAGS = [
        "--headless", "--remote-debugging-pipe", "--window-size=1280,720", "--force-device-scale-factor=1",
        "--hide-scrollbars", "--no-first-run", "--no-default-browser-check",
        # llvmpipe through ANGLE's EGL: SwiftShader (the default) drops lines crossing the near plane.
        "--use-angle=gl-egl", "--ignore-gpu-blocklist",
        # Nothing but the page's own server: no background traffic, no host but 127.0.0.1.
        "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-default-apps",
        "--disable-extensions", "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
        # A background tab must not be throttled while the program runs.
        "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
        # The sandbox (against hostile pages; this opens only its own) fails as root or in a chroot.
        "--no-sandbox"]

    def __init__(self, binary, folder, env, mark=None, webgl=True):
        reads, self.writer = os.pipe()
        self.reader, writes = os.pipe()
        fds = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (reads, writes)]  # bash moves these to 3 and 4
        argv = ["bash", "-c", f'exec "$@" 3<&{fds[0]} 4>&{fds[1]} {fds[0]}<&- {fds[1]}>&-', "chromium", binary,
                *self.FLAGS, f"--user-data-dir={Path(folder) / 'profile'}", *([] if webgl else ["--disable-webgl"]),
                "about:blank"]
        self.process = harness.Process(argv, "chromium", folder, env=env, mark=mark, pass_fds=fds)
        for fd in (reads, writes, *fds):
            os.close(fd)
        self.buffer, self.id, self.session = b"", 0, None
        self.disconnect = lambda: (os.close(self.reader), os.close(self.writer))
        page = next(t for t in self.send("Target.getTargets")["targetInfos"] if t["type"] == "page")
        self.session = self.send("Target.attachToTarget", targetId=page["targetId"], flatten=True)["sessionId"]

    def send(self, method, timeout=60, **params):
        self.id += 1
        message = dict(id=self.id, method=method, params=params, **{"sessionId": self.session} if self.session else {})
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

    def evaluate(self, expression):
        answer = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in answer:
            raise harness.Failed(f"{expression}: {answer['exceptionDetails']}")
        return answer["result"].get("value")

    def screenshot(self, rect):
        clip = {"clip": dict(rect, scale=1)} if rect else {}
        return self.send("Page.captureScreenshot", format="png", **clip)["data"]

    def viewport(self, width, height):
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1,
                  mobile=False)

    def quit(self):
        self.session = None
        self.send("Browser.close", timeout=10)


class Firefox(Browser):
    NAVIGATE = "WebDriver:Navigate"
    PREFS = {
        "marionette.port": 0,  # a free one, written to the profile's MarionetteActivePort
        # Nothing but the page's own server: all else goes to a proxy that is not there.
        "network.proxy.type": 1, "network.proxy.http": "127.0.0.1", "network.proxy.http_port": 9,
        "network.proxy.share_proxy_settings": True, "network.proxy.allow_hijacking_localhost": False,
        "browser.shell.checkDefaultBrowser": False, "datareporting.policy.dataSubmissionEnabled": False,
        "toolkit.telemetry.reportingpolicy.firstRun": False, "browser.tabs.warnOnClose": False,
        "browser.startup.homepage_override.mstone": "ignore", "app.update.disabledForTesting": True,
        # performance.now() to the microsecond, as in Chromium, not rounded to 1 ms.
        "privacy.reduceTimerPrecision": False}

    def __init__(self, binary, folder, env, mark=None, webgl=True):
        (profile := Path(folder) / "profile").mkdir(parents=True)
        prefs = dict(self.PREFS, **{"webgl.disabled": not webgl}).items()
        (profile / "user.js").write_text("".join(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n" for k, v in prefs))
        # No session bus: else it starts one (dbus-launch, GTK's accessibility bus) that outlives it.
        env = dict(env, DBUS_SESSION_BUS_ADDRESS=f"unix:path={profile}/no-bus", NO_AT_BRIDGE="1",
                   MOZ_CRASHREPORTER_DISABLE="1")
        self.process = harness.Process([binary, "--marionette", "--no-remote", "--new-instance", "--profile",
                                        str(profile), "about:blank"], "firefox", folder, env=env, mark=mark)
        port = profile / "MarionetteActivePort"
        port = harness.wait_for("Firefox to write its Marionette port", lambda: port.exists() and port.read_text(),
                                60, 0.1, process=self.process)
        self.socket = socket.create_connection(("127.0.0.1", int(port)), timeout=60)
        self.buffer, self.id, self.disconnect = b"", 0, self.socket.close
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

    def evaluate(self, expression):
        return self.send("WebDriver:ExecuteScript", script=f"return ({expression});", args=[])["value"]

    def screenshot(self, rect):
        canvas = rect and self.send("WebDriver:FindElement", using="css selector", value="canvas")["value"]
        return self.send("WebDriver:TakeScreenshot", full=False, hash=False,
                         **({"id": next(iter(canvas.values()))} if canvas else {}))["value"]

    def viewport(self, width, height):
        for _ in range(3):  # the window's size less the viewport's is the browser's own bars
            w, h, outer_w, outer_h = self.evaluate("[innerWidth, innerHeight, outerWidth, outerHeight]")
            if (w, h) == (width, height):
                return
            self.send("WebDriver:SetWindowRect", width=width + outer_w - w, height=height + outer_h - h)
            time.sleep(0.2)

    def quit(self):
        self.send("Marionette:Quit", flags=["eForceQuit"])


ENGINES = {"chromium": Chromium, "firefox": Firefox}
