# SPDX-License-Identifier: MIT
"""The web build's page (ORVAN_WEB_BUILD_DIR, by default build/web) served on 127.0.0.1, in headless Chromium
(ORVAN_CHROMIUM; llvmpipe via ANGLE on EGL) and in Firefox (ORVAN_FIREFOX) on Xvfb (headless it gets no WebGL here)."""
import functools
import gzip
import itertools
import http.server
import os
import re
import shutil
import subprocess
import threading
import time
from pathlib import Path

import pytest
from PIL import ImageChops

import browsers
import harness
import pictures

FILES = [f"orvan-demo-window.{ext}" for ext in ("html", "js", "wasm", "svg")]
# What the page says about itself, and the canvas's and the notice's boxes (CSS pixels).
FACTS = """(() => {
    const box = (e) => { const r = e.getBoundingClientRect();
                         return {x: r.x, y: r.y, width: r.width, height: r.height}; };
    const canvas = document.querySelector("canvas");
    return {title: document.title, description: document.querySelector("meta[name=description]")?.content ?? "",
            role: canvas.getAttribute("role") ?? "", label: canvas.getAttribute("aria-label") ?? "",
            canvas: box(canvas), notice: box(document.getElementById("notice")), viewport: innerHeight,
            scrollWidth: document.documentElement.scrollWidth,
            statusFontPx: parseFloat(getComputedStyle(document.getElementById("status")).fontSize)}; })()"""


@pytest.fixture
def server(work):
    """The web build's page, and in broken/ the page without its wasm, served on a free port of 127.0.0.1: .requests
    (path, status) of each request, .unanswered(but) those with an error status but BUT, .build its folder."""
    build = Path(os.environ.get("ORVAN_WEB_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "web"))
    if missing := [name for name in FILES if not (build / name).exists()]:
        pytest.fail(f"{', '.join(missing)} not built in {build}: build the web preset first")
    (work / "site" / "broken").mkdir(parents=True)
    for name in FILES:
        for folder in ("site", "site/broken")[:1 if name.endswith(".wasm") else 2]:
            shutil.copy(build / name, work / folder)
    requests = []

    class Handler(http.server.SimpleHTTPRequestHandler):
        def log_request(self, code="-", size="-"):
            requests.append((self.path, int(code)))

    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=work / "site"))
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    httpd.url, httpd.requests, httpd.build = f"http://127.0.0.1:{httpd.server_port}/", requests, build
    httpd.unanswered = lambda but=(): [(path, code) for path, code in requests if code >= 400 and path not in but]
    yield httpd
    httpd.shutdown()
    httpd.server_close()


@pytest.fixture(params=["chromium", "firefox"])
def browser(request, work, mark, runtime, stop_at_end):
    """browser(webgl=True): the engine's browser with a new profile (Firefox on an Xvfb of the test's own), closed at
    the end; its temporary files in the runtime folder, whose short path Chromium's sockets need."""
    engine = request.param
    binary = os.environ.get(f"ORVAN_{engine.upper()}") or {"chromium": "chromium", "firefox": "firefox-esr"}[engine]
    display = request.getfixturevalue("xvfb").env if engine == "firefox" else harness.clean_env()
    count = itertools.count()

    def start(webgl=True):
        (folder := work / "browsers" / str(next(count))).mkdir(parents=True)
        return stop_at_end(browsers.ENGINES[engine](binary, folder, dict(display, TMPDIR=str(runtime)), mark, webgl))
    start.engine = engine
    return start


# The grid: a row near the canvas's bottom crosses several of its lines, which cross the near plane. SwiftShader
# (Chromium's default) drops them, and so does Chromium on Mesa 25's llvmpipe (Debian 13; the desktop program draws them
# all): there the other lines must show below the ring.
def grid_check(image):
    mesa = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", "libgl1-mesa-dri"], capture_output=True, text=True)
    major = int(re.match(r"(?:\d+:)?(\d*)", mesa.stdout).group(1) or 0)
    if major >= 25:
        n = pictures.count(image, (0, 520, 1280, 200), (191, 191, 191))
        assert n >= 500, f"grid below the ring, Mesa {major} ({n} px)"
    else:
        row = [image.getpixel((x, 700)) in ((191, 191, 191), (127, 127, 127)) for x in range(1280)]
        crossed = sum(1 for x, on in enumerate(row) if on and (x == 0 or not row[x - 1]))
        assert crossed >= 5, f"grid lines up to the bottom edge ({crossed} crossed at y = 700)"


def test_the_page_draws_the_scene_moves_and_fits_a_narrow_window(browser, server, keep_shot):
    gzipped = sum(len(gzip.compress((server.build / name).read_bytes(), 9)) for name in FILES)
    assert gzipped < 150_000, f"the page's files gzipped under 150 KB ({gzipped} bytes)"
    page = browser()
    assert (state := page.open(server.url + FILES[0]))["message"] == "", f"the page draws frames: {state}"
    facts = page.evaluate(FACTS)
    time.sleep(0.5)
    first = page.shot(facts["canvas"])
    time.sleep(1)
    second = page.shot(facts["canvas"])
    keep_shot(first, f"web_page_{browser.engine}.png")
    assert page.evaluate(browsers.PAGE)["message"] == "", "no notice while the program runs"
    assert facts["title"] == pictures.TITLE and "Orvan Engine" in facts["description"], facts
    assert facts["role"] == "img" and re.search("spheres.*cube.*grid", facts["label"]), \
        f"the canvas has a text alternative: {facts['role']!r}, {facts['label']!r}"
    assert first.size == (1280, 720), "the canvas is 1280x720"
    pictures.assert_scene(first)
    grid_check(first)
    renderer = page.evaluate(browsers.RENDERER)
    assert "llvmpipe" in renderer and "SwiftShader" not in renderer, f"WebGL draws with llvmpipe ({renderer})"
    moved = sum(ImageChops.difference(first, second).point(lambda v: v and 255).convert("L").histogram()[1:])
    assert moved >= 1000, f"a second later the canvas differs ({moved} px)"
    # 640 px wide: the canvas scales down, 16:9, no sideways scrolling, text as big.
    page.viewport(640, 480)
    time.sleep(0.3)
    narrow = page.evaluate(FACTS)
    assert narrow["canvas"]["width"] == 640 and 359 <= narrow["canvas"]["height"] <= 361, f"640 px wide: {narrow}"
    assert narrow["scrollWidth"] <= 640, f"640 px wide: no sideways scrolling ({narrow['scrollWidth']} px)"
    assert narrow["statusFontPx"] >= 12, f"640 px wide: status text {narrow['statusFontPx']} px"
    assert ("/orvan-demo-window.svg", 200) in server.requests, "the browser fetched the icon"
    assert not server.unanswered(), "every request answered"


# Each notice on the first screen of a 1280x720 viewport, with the canvas gone.
NOTICES = {  # case: (page on the server, or None: opened as a file), WebGL on, what the notice says
    "nowebgl": ("orvan-demo-window.html", False, "WebGL is not available"),
    "file": (None, True, "Serve this folder over HTTP"),
    "broken": ("broken/orvan-demo-window.html", True, "^The program could not be loaded"),
}


@pytest.mark.parametrize("case", NOTICES)
def test_where_the_program_cannot_run_a_notice_says_why(browser, server, keep_shot, case):
    where, webgl, notice = NOTICES[case]
    page = browser(webgl=webgl)
    state = page.open(server.url + where if where else (server.build / FILES[0]).as_uri())
    keep_shot(page.shot(), f"web_notice_{case}_{browser.engine}.png")
    facts = page.evaluate(FACTS)
    assert re.search(notice, state["message"]), f"{case}: the notice says so: {state['message']!r}"
    assert state["frames"] == 0, f"{case}: no frame drawn"
    assert facts["title"] == pictures.TITLE
    y, height, viewport = facts["notice"]["y"], facts["notice"]["height"], facts["viewport"]
    assert viewport == 720 and y >= 0 and height > 0 and y + height <= viewport, \
        f"{case}: notice on the first screen (y {y}, height {height}, viewport {viewport})"
    assert (facts["canvas"]["width"], facts["canvas"]["height"]) == (0, 0), f"{case}: the canvas takes no room"
    assert not server.unanswered({"/broken/orvan-demo-window.wasm"}), "every request but the missing wasm answered"
