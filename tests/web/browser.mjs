// SPDX-License-Identifier: MIT
// Drives headless Chromium through the DevTools protocol over a pipe (no
// network port): opens a page, waits for the program's frames, takes
// screenshots and reads what the page reports.
//
// usage: node browser.mjs CHROMIUM PROFILE-DIR OUTDIR URL [CHROMIUM-FLAG...]
//
// PROFILE-DIR is the browser's user data folder (a new, empty one). Writes
// OUTDIR/first.png and OUTDIR/second.png (the canvas, a second apart) when
// the program runs, and prints one line of JSON:
//   {"frames": n, "firstFrameMs": ms, "message": text, "title": text, "fps": f}
// message is the page's notice (empty while the program runs), firstFrameMs
// the time of the first frame from the start of navigation, fps the program's
// frames per second over the two seconds of the screenshots. Exits 1 if the
// browser fails or the page neither draws frames nor shows a message in time;
// the browser is ended in every case.
//
// With ORVAN_BROWSER_INTERVALS=N in the environment (a measurement, not a
// check), N more frame intervals are then recorded where the program's frames
// end, and the report gains "intervalsMs": their 50th, 90th and 99th
// percentiles and maximum.
import { spawn } from "node:child_process";
import { writeFileSync } from "node:fs";
import { join } from "node:path";

const [chromium, profile, outDir, url, ...extraFlags] = process.argv.slice(2);
const wanted = Number(process.env.ORVAN_BROWSER_INTERVALS || 0);
const flags = [
  "--headless", "--remote-debugging-pipe", `--user-data-dir=${profile}`,
  "--window-size=1400,900", "--force-device-scale-factor=1", "--hide-scrollbars",
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
  ...extraFlags, "about:blank",
];
const browser = spawn(chromium, flags, { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"] });
let browserLog = "";
browser.stderr.on("data", (d) => { browserLog = (browserLog + d).slice(-4000); });
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
const exited = new Promise((resolve) => browser.on("exit", resolve));
for (const signal of ["SIGINT", "SIGTERM", "SIGHUP"]) {
  process.on(signal, () => { browser.kill("SIGKILL"); process.exit(1); });
}

function send(method, params = {}, sessionId = undefined) {
  const id = nextId++;
  browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
  return new Promise((resolve, reject) => pending.set(id, { resolve, reject, method }));
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function main() {
  const { targetInfos } = await send("Target.getTargets");
  const page = targetInfos.find((t) => t.type === "page");
  const { sessionId } = await send("Target.attachToTarget", { targetId: page.targetId, flatten: true });
  const evaluate = async (expression) =>
    (await send("Runtime.evaluate", { expression, returnByValue: true }, sessionId)).result.value;
  await send("Page.enable", {}, sessionId);
  await send("Page.navigate", { url }, sessionId);

  // The page exposes orvanPage: frames drawn, time of the first frame, notice.
  const state = () => evaluate(`typeof orvanPage === "undefined" ? null : {
      frames: orvanPage.frames, firstFrameMs: orvanPage.firstFrameMs,
      message: orvanPage.message(), title: document.title}`);
  let s = null;
  for (let waited = 0; waited < 30000; waited += 100) {
    s = await state();
    if (s !== null && (s.frames >= 10 || s.message !== "")) break;
    await sleep(100);
  }
  if (s === null || (s.frames < 10 && s.message === "")) throw new Error(`no frames and no message: ${JSON.stringify(s)}`);

  let fps = 0;
  if (s.message === "") {
    const rect = await evaluate(`(() => { const r = document.querySelector("canvas").getBoundingClientRect();
        return {x: r.x, y: r.y, width: r.width, height: r.height}; })()`);
    const shot = async (name) => {
      const { data } = await send("Page.captureScreenshot", { format: "png", clip: { ...rect, scale: 1 } }, sessionId);
      writeFileSync(join(outDir, name), Buffer.from(data, "base64"));
    };
    await sleep(500);
    const before = await evaluate("[orvanPage.frames, performance.now()]");
    await shot("first.png");
    await sleep(1000);
    await shot("second.png");
    await sleep(1000);
    const after = await evaluate("[orvanPage.frames, performance.now()]");
    fps = ((after[0] - before[0]) * 1000) / (after[1] - before[1]);
    s = await state();
  }
  // The renderer WebGL draws with, as its debug extension names it.
  const renderer = await evaluate(`(() => { const gl = document.createElement("canvas").getContext("webgl");
      const info = gl && gl.getExtension("WEBGL_debug_renderer_info");
      return gl ? gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER) : ""; })()`);
  const report = { ...s, fps: Math.round(fps * 10) / 10, renderer };
  if (s.message === "" && wanted > 0) {
    await evaluate(`(() => { const page = Module.postMainLoop; let last = null; window.orvanIntervals = [];
        Module.postMainLoop = () => { page(); const now = performance.now();
          if (last !== null) orvanIntervals.push(now - last); last = now; }; })()`);
    while ((await evaluate("orvanIntervals.length")) < wanted) await sleep(500);
    const sorted = (await evaluate("orvanIntervals")).slice(0, wanted).sort((a, b) => a - b);
    const at = (q) => Math.round(sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))] * 10) / 10;
    report.intervalsMs = { n: sorted.length, p50: at(0.5), p90: at(0.9), p99: at(0.99), max: at(1) };
  }
  console.log(JSON.stringify(report));
}

let status = 0;
const timer = setTimeout(() => { console.error("browser.mjs: timed out"); status = 1; browser.kill("SIGKILL"); }, 90000 + 1000 * wanted);
try {
  await Promise.race([main(), exited.then((code) => { throw new Error(`chromium exited (${code})`); })]);
} catch (error) {
  console.error(`browser.mjs: ${error.message}\n--- chromium's last output:\n${browserLog}`);
  status = 1;
}
clearTimeout(timer);
send("Browser.close").catch(() => {});
const closed = await Promise.race([exited.then(() => true), sleep(5000).then(() => false)]);
if (!closed) browser.kill("SIGKILL");
await exited;
process.exit(status);
