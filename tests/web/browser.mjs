// SPDX-License-Identifier: MIT
// Drives a browser: opens a page, waits for the program's frames, takes
// screenshots and reads what the page reports and how it is laid out.
// Two engines:
//   chromium  headless Chromium through the DevTools protocol over a pipe (no
//             network port)
//   firefox   Firefox in a window on the display of $DISPLAY, through its
//             Marionette protocol: length-prefixed JSON on 127.0.0.1, on a
//             free port Firefox picks and writes into its profile
//
// usage: node browser.mjs ENGINE BROWSER PROFILE-DIR OUTDIR URL [--disable-webgl] [FLAG...]
//
// PROFILE-DIR is the browser's profile folder (a new, empty one);
// --disable-webgl turns WebGL off in either engine, other FLAGs go to the
// browser's command line. The viewport is 1280x720 CSS pixels. Writes
// OUTDIR/first.png and OUTDIR/second.png (the canvas, a second apart) when
// the program runs, else OUTDIR/notice.png (the viewport), and prints one
// line of JSON:
//   {"frames": n, "firstFrameMs": ms, "message": text, "title": text,
//    "description": text, "canvasRole": text, "canvasLabel": text, "fps": f,
//    "renderer": text, "layout": {...}, "narrow": {...}}
// message is the page's notice (empty while the program runs), firstFrameMs
// the time of the first frame from the start of navigation, fps the program's
// frames per second over the two seconds of the screenshots, layout where
// the canvas and the notice are (CSS pixels in the viewport), narrow the
// layout once the viewport is made 640x480 (while the program runs). Exits 1
// if the browser fails or the page neither draws frames nor shows a message
// in time; the browser is ended in every case.
//
// With ORVAN_BROWSER_INTERVALS=N in the environment (a measurement, not a
// check), N more frame intervals are then recorded where the program's frames
// end, and the report gains "intervals": them, in ms, and "processes": the
// CPU time (ms) and minor page faults per frame of the browser's processes
// over those frames, by kind of process.
import { spawn } from "node:child_process";
import { readdirSync, readFileSync, writeFileSync } from "node:fs";
import { connect } from "node:net";
import { join } from "node:path";

const [engine, binary, profile, outDir, url, ...args] = process.argv.slice(2);
const noWebGL = args.includes("--disable-webgl");
const extraFlags = args.filter((a) => a !== "--disable-webgl");
const wanted = Number(process.env.ORVAN_BROWSER_INTERVALS || 0);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

let browserLog = "";
let launched = null;  // the browser's process, ended in every case
function launch(command, flags, stdio, env = process.env) {
  const child = spawn(command, flags, { stdio, env });
  launched = child;
  child.stderr.on("data", (d) => { browserLog = (browserLog + d).slice(-4000); });
  child.exited = new Promise((resolve) => child.on("exit", resolve));
  for (const signal of ["SIGINT", "SIGTERM", "SIGHUP"]) {
    process.on(signal, () => { child.kill("SIGKILL"); process.exit(1); });
  }
  return child;
}

// Each engine: { browser, navigate(url), evaluate(expression), shot(rect: the
// canvas, or null: the viewport),
// viewport(width, height), close() }.
async function chromium() {
  const browser = launch(binary, [
    "--headless", "--remote-debugging-pipe", `--user-data-dir=${profile}`,
    "--window-size=1280,720", "--force-device-scale-factor=1", "--hide-scrollbars",
    // Mesa's llvmpipe through ANGLE's EGL back end: SwiftShader, the default
    // software renderer, drops lines that cross the near plane.
    "--use-angle=gl-egl", "--ignore-gpu-blocklist",
    // Nothing but the page's own server: no background traffic, and every
    // host name but 127.0.0.1 unresolvable.
    "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--disable-default-apps", "--disable-extensions",
    "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
    // A background tab must not be throttled while the program runs.
    "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
    // The sandbox guards against hostile pages; this browser opens only the
    // test's own page, and every other host is unresolvable. It cannot start as
    // root, nor in a chroot, which refuses the user namespaces it needs (where
    // scripts/fresh-machine.sh runs the tests as a user).
    "--no-sandbox",
    ...(noWebGL ? ["--disable-webgl"] : []), ...extraFlags, "about:blank",
  ], ["ignore", "ignore", "pipe", "pipe", "pipe"]);
  for (const stream of [browser.stdio[3], browser.stdio[4]]) stream.on("error", () => {});  // gone with the browser
  let nextId = 1;
  const pending = new Map();
  let buffer = Buffer.alloc(0);
  browser.stdio[4].on("data", (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (let end; (end = buffer.indexOf(0)) >= 0; buffer = buffer.subarray(end + 1)) {
      const message = JSON.parse(buffer.subarray(0, end).toString());
      const waiter = pending.get(message.id);
      if (waiter === undefined) continue;
      pending.delete(message.id);
      if (message.error) waiter.reject(new Error(`${waiter.method}: ${message.error.message}`));
      else waiter.resolve(message.result);
    }
  });
  const send = (method, params = {}, sessionId = undefined) => {
    const id = nextId++;
    browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
    return new Promise((resolve, reject) => pending.set(id, { resolve, reject, method }));
  };
  const { targetInfos } = await send("Target.getTargets");
  const page = targetInfos.find((t) => t.type === "page");
  const { sessionId } = await send("Target.attachToTarget", { targetId: page.targetId, flatten: true });
  await send("Page.enable", {}, sessionId);
  return {
    browser,
    navigate: (to) => send("Page.navigate", { url: to }, sessionId),
    evaluate: async (expression) =>
      (await send("Runtime.evaluate", { expression, returnByValue: true }, sessionId)).result.value,
    shot: async (rect) =>
      Buffer.from((await send("Page.captureScreenshot",
                              { format: "png", ...(rect && { clip: { ...rect, scale: 1 } }) }, sessionId)).data, "base64"),
    viewport: (width, height) =>
      send("Emulation.setDeviceMetricsOverride", { width, height, deviceScaleFactor: 1, mobile: false }, sessionId),
    close: () => send("Browser.close"),
  };
}

async function firefox() {
  const prefs = {
    "marionette.port": 0,  // a free one, written to PROFILE-DIR/MarionetteActivePort
    "webgl.disabled": noWebGL,
    // Nothing but the page's own server: every other address goes to a proxy
    // that is not there (127.0.0.1 itself never goes through a proxy).
    "network.proxy.type": 1, "network.proxy.http": "127.0.0.1", "network.proxy.http_port": 9,
    "network.proxy.share_proxy_settings": true, "network.proxy.allow_hijacking_localhost": false,
    "browser.shell.checkDefaultBrowser": false, "datareporting.policy.dataSubmissionEnabled": false,
    "toolkit.telemetry.reportingpolicy.firstRun": false, "browser.startup.homepage_override.mstone": "ignore",
    "browser.tabs.warnOnClose": false, "app.update.disabledForTesting": true,
    // performance.now() to the microsecond, as in Chromium, not rounded to 1 ms.
    "privacy.reduceTimerPrecision": false,
  };
  writeFileSync(join(profile, "user.js"),
                Object.entries(prefs).map(([k, v]) => `user_pref(${JSON.stringify(k)}, ${JSON.stringify(v)});\n`).join(""));
  const browser = launch(binary, ["--marionette", "--no-remote", "--new-instance", "--profile", profile,
                                  ...extraFlags, "about:blank"], ["ignore", "ignore", "pipe"], {
    ...process.env, MOZ_CRASHREPORTER_DISABLE: "1",
    // No session bus: else Firefox starts one (dbus-launch, and GTK the
    // accessibility bus) that outlives it.
    DBUS_SESSION_BUS_ADDRESS: `unix:path=${join(profile, "no-bus")}`, NO_AT_BRIDGE: "1",
  });
  let port = 0;
  for (let waited = 0; port === 0; waited += 100) {
    if (waited > 30000) throw new Error("Firefox wrote no Marionette port");
    try { port = Number(readFileSync(join(profile, "MarionetteActivePort"), "utf8")); } catch { await sleep(100); }
  }
  const socket = connect(port, "127.0.0.1");
  socket.on("error", () => {});  // gone with the browser
  let nextId = 1;
  const pending = new Map();
  let buffer = Buffer.alloc(0);
  let hello;
  const greeted = new Promise((resolve) => { hello = resolve; });
  socket.on("data", (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    for (;;) {
      const colon = buffer.indexOf(58);  // "length:json"
      if (colon < 0) break;
      const length = Number(buffer.subarray(0, colon).toString());
      if (buffer.length < colon + 1 + length) break;
      const message = JSON.parse(buffer.subarray(colon + 1, colon + 1 + length).toString());
      buffer = buffer.subarray(colon + 1 + length);
      if (!Array.isArray(message)) { hello(message); continue; }
      const [, id, error, result] = message;
      const waiter = pending.get(id);
      if (waiter === undefined) continue;
      pending.delete(id);
      if (error) waiter.reject(new Error(`${waiter.method}: ${error.error}: ${error.message}`));
      else waiter.resolve(result);
    }
  });
  const send = (method, params = {}) => {
    const id = nextId++;
    const body = Buffer.from(JSON.stringify([0, id, method, params]));
    socket.write(`${body.length}:`);
    socket.write(body);
    return new Promise((resolve, reject) => pending.set(id, { resolve, reject, method }));
  };
  await greeted;
  // The driver polls the page itself: Navigate returns at once.
  await send("WebDriver:NewSession", { capabilities: { alwaysMatch: { pageLoadStrategy: "none" } } });
  const evaluate = async (expression) =>
    (await send("WebDriver:ExecuteScript", { script: `return (${expression});`, args: [] })).value;
  return {
    browser,
    navigate: (to) => send("WebDriver:Navigate", { url: to }),
    evaluate,
    shot: async (rect) => {
      let id;
      if (rect) id = Object.values((await send("WebDriver:FindElement", { using: "css selector", value: "canvas" })).value)[0];
      return Buffer.from((await send("WebDriver:TakeScreenshot", { id, full: false, hash: false })).value, "base64");
    },
    // The window's size less the viewport's is the browser's own bars.
    viewport: async (width, height) => {
      for (let i = 0; i < 3; i++) {
        const [w, h, ow, oh] = await evaluate("[innerWidth, innerHeight, outerWidth, outerHeight]");
        if (w === width && h === height) return;
        await send("WebDriver:SetWindowRect", { width: width + ow - w, height: height + oh - h });
        await sleep(200);
      }
    },
    close: () => send("Marionette:Quit", { flags: ["eForceQuit"] }),
  };
}

// CPU time (user + system, in clock ticks of 10 ms) and minor page faults of
// the browser and every process under it, summed by kind: Chromium's --type
// (gpu-process, renderer, ...), Firefox's content process kind, or "main".
function processTimes(root) {
  const procs = new Map();
  for (const pid of readdirSync("/proc").filter((name) => /^[0-9]+$/.test(name))) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, "utf8");
      const f = stat.slice(stat.lastIndexOf(")") + 2).split(" ");
      const cmdline = readFileSync(`/proc/${pid}/cmdline`, "utf8").replace(/\0/g, " ");
      const kind = cmdline.match(/--type=([a-z-]+)/)?.[1] ??
                   (cmdline.includes("-contentproc") ? cmdline.trim().split(" ").pop() : "main");
      procs.set(Number(pid), { ppid: Number(f[1]), kind, ticks: Number(f[11]) + Number(f[12]), faults: Number(f[7]) });
    } catch { /* gone meanwhile */ }
  }
  const mine = new Set([root]);
  for (let grew = true; grew;) {
    grew = false;
    for (const [pid, p] of procs) if (!mine.has(pid) && mine.has(p.ppid)) { mine.add(pid); grew = true; }
  }
  return new Map([...mine].filter((pid) => procs.has(pid)).map((pid) => [pid, procs.get(pid)]));
}
function perFrame(before, after, frames) {  // {kind: {cpuMs, faults}} per frame between two processTimes
  const out = {};
  for (const [pid, a] of after) {
    const b = before.get(pid) ?? { ticks: 0, faults: 0 };
    const k = (out[a.kind] ??= { cpuMs: 0, faults: 0 });
    k.cpuMs += ((a.ticks - b.ticks) * 10) / frames;
    k.faults += (a.faults - b.faults) / frames;
  }
  for (const k of Object.values(out)) { k.cpuMs = Math.round(k.cpuMs * 100) / 100; k.faults = Math.round(k.faults); }
  return out;
}

// Where the canvas and the notice are, in CSS pixels of the viewport.
const layout = `(() => {
    const box = (e) => { const r = e.getBoundingClientRect(); return {x: r.x, y: r.y, width: r.width, height: r.height}; };
    const status = document.getElementById("status");
    return {viewport: {width: innerWidth, height: innerHeight}, scrollWidth: document.documentElement.scrollWidth,
            canvas: box(document.querySelector("canvas")), notice: box(document.getElementById("notice")),
            statusFontPx: parseFloat(getComputedStyle(status).fontSize)};
  })()`;

async function main(b) {
  await b.viewport(1280, 720);
  await b.navigate(url);

  // The page exposes orvanPage: frames drawn, time of the first frame, notice.
  const state = () => b.evaluate(`typeof orvanPage === "undefined" ? null : {
      frames: orvanPage.frames, firstFrameMs: orvanPage.firstFrameMs,
      message: orvanPage.message(), title: document.title,
      description: document.querySelector("meta[name=description]")?.content ?? "",
      canvasRole: document.querySelector("canvas").getAttribute("role") ?? "",
      canvasLabel: document.querySelector("canvas").getAttribute("aria-label") ?? ""}`);
  let s = null;
  for (let waited = 0; waited < 30000; waited += 100) {
    s = await state();
    if (s !== null && (s.frames >= 10 || s.message !== "")) break;
    await sleep(100);
  }
  if (s === null || (s.frames < 10 && s.message === "")) throw new Error(`no frames and no message: ${JSON.stringify(s)}`);

  let fps = 0;
  let narrow = null;
  if (s.message === "") {
    const { canvas } = await b.evaluate(layout);
    const shot = async (name) => writeFileSync(join(outDir, name), await b.shot(canvas));
    await sleep(500);
    const before = await b.evaluate("[orvanPage.frames, performance.now()]");
    await shot("first.png");
    await sleep(1000);
    await shot("second.png");
    await sleep(1000);
    const after = await b.evaluate("[orvanPage.frames, performance.now()]");
    fps = ((after[0] - before[0]) * 1000) / (after[1] - before[1]);
    s = await state();
  }
  if (s.message !== "") writeFileSync(join(outDir, "notice.png"), await b.shot(null));
  const report = { ...s, fps: Math.round(fps * 10) / 10, layout: await b.evaluate(layout) };
  // The renderer WebGL draws with, as its debug extension names it.
  report.renderer = await b.evaluate(`(() => { const gl = document.createElement("canvas").getContext("webgl");
      const info = gl && gl.getExtension("WEBGL_debug_renderer_info");
      return gl ? gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER) : ""; })()`);
  if (s.message === "" && wanted > 0) {
    await b.evaluate(`(() => { const page = Module.postMainLoop; let last = null; window.orvanIntervals = [];
        Module.postMainLoop = () => { page(); const now = performance.now();
          if (last !== null) orvanIntervals.push(now - last); last = now; }; return 0; })()`);
    const before = processTimes(launched.pid);
    const start = await b.evaluate("orvanPage.frames");
    while ((await b.evaluate("orvanIntervals.length")) < wanted) await sleep(500);
    report.processes = perFrame(before, processTimes(launched.pid), (await b.evaluate("orvanPage.frames")) - start);
    report.intervals = (await b.evaluate("orvanIntervals")).slice(0, wanted).map((v) => Math.round(v * 1000) / 1000);
  }
  if (s.message === "") {
    await b.viewport(640, 480);
    await sleep(300);
    report.narrow = await b.evaluate(layout);
  }
  console.log(JSON.stringify(report));
}

let status = 0;
let b = null;
const timer = setTimeout(() => { console.error("browser.mjs: timed out"); status = 1; launched?.kill("SIGKILL"); },
                         90000 + 1000 * wanted);
try {
  b = await (engine === "firefox" ? firefox() : chromium());
  await Promise.race([main(b), b.browser.exited.then((code) => { throw new Error(`${engine} exited (${code})`); })]);
} catch (error) {
  console.error(`browser.mjs: ${error.message}\n--- ${engine}'s last output:\n${browserLog}`);
  status = 1;
}
clearTimeout(timer);
if (launched !== null) {
  b?.close().catch(() => {});
  const closed = await Promise.race([launched.exited.then(() => true), sleep(10000).then(() => false)]);
  if (!closed) launched.kill("SIGKILL");
  await launched.exited;
}
process.exit(status);
