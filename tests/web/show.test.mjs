// The show in one browser engine (LANTERN_WEB_ENGINE: chromium, firefox or
// webkit; see browsers.mjs for how each is started): the start question, a
// clean start with the music heard at the sound server, motion, the picture
// against the native capture of the same music position, the end of the
// show, keys, the controls under the canvas, and the findings about
// damaged data.
import assert from "node:assert/strict";
import { cpSync, mkdtempSync, rmSync, truncateSync, unlinkSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";

import { launch } from "./browsers.mjs";
import {
  canvasRgb,
  captureFrames,
  differingPixels,
  largestRegionDifference,
  lantern,
  listen,
  pngToRgb,
  regionMeans,
  serve,
  site,
  songRow,
} from "./support.mjs";

const engine = process.env.LANTERN_WEB_ENGINE || "chromium";

// The song plays 31 orders of 64 rows in 238.1 s (openmpt123 --info):
// 8.33 rows a second. Over a stretch of wall-clock time the position shown
// must advance at that pace, within this factor either way.
const ROWS_PER_SECOND = (31 * 64) / 238.1;
const PACE_MARGIN = 1.5;

async function rowsPerSecond(page, milliseconds) {
  const a = await page.evaluate(() => [window.lantern.position(), performance.now()]);
  await page.sleep(milliseconds);
  const b = await page.evaluate(() => [window.lantern.position(), performance.now()]);
  return ((songRow(b[0]) - songRow(a[0])) * 1000) / (b[1] - a[1]);
}

function assertPace(pace) {
  assert.ok(
    pace > ROWS_PER_SECOND / PACE_MARGIN && pace < ROWS_PER_SECOND * PACE_MARGIN,
    `the music position moves ${pace.toFixed(2)} rows a second`
  );
}

// Region means (4 x 4 cells of 160 x 120) of the browser's frame and the
// best-matching capture frame of the same music rows differ by at most this
// much in any channel (0..255). Measured: 0.3 to 0.4 at this position;
// another scene differs by more than 150. The two rasterisers (SwiftShader,
// llvmpipe) filter and cover edges a little differently, and the live
// clock's ticks run a little apart from the capture's simulated ones.
const REGION_TOLERANCE = 6;

let browser;
let server;

before(async () => {
  server = await serve(site);
  browser = await launch(engine);
});

after(async () => {
  await browser?.close();
  server?.close();
});

// Console errors (where the driver sees the console) and the uncaught
// errors the page itself records (in every engine).
async function errorsIn(page) {
  const errors = (page.messages || []).filter((m) => m.type === "error" || m.type === "pageerror").map((m) => m.text);
  for (const text of await page.evaluate(() => window.lantern.errors)) {
    if (!errors.includes(text)) errors.push(text);
  }
  return errors;
}

async function running(page, frames = 30, timeoutMs = 30000) {
  await page.waitFor((n) => window.lantern.state === "running" && window.lantern.frames() > n, frames, timeoutMs);
}

const fullscreen = () => (document.fullscreenElement || document.webkitFullscreenElement || null) !== null;

// A visible element's box in the page ({x, y, width, height}), or null.
function boxOf(page, selector) {
  return page.evaluate((sel) => {
    const element = document.querySelector(sel);
    if (!element || element.hidden || element.offsetParent === null) return null;
    const r = element.getBoundingClientRect();
    return { x: r.x, y: r.y, width: r.width, height: r.height };
  }, selector);
}

const textOf = (page, selector) => page.evaluate((sel) => document.querySelector(sel).textContent, selector);

// The music at the song's start, heard at the sound server (root mean
// square of the samples, 0..1), is far above this; silence is 0.
const HEARD_RMS = 0.01;

test("the start question is the page's own box; No plays in the page at 640 by 480, the music heard, with no console error", async () => {
  const page = await browser.open(server.url);
  try {
    await page.waitFor(() => window.lantern && window.lantern.state === "question", null, 30000);
    assert.notEqual(await boxOf(page, "#question"), null);
    assert.equal(await textOf(page, "#question-caption"), "Start FullScreen?");
    assert.equal(await textOf(page, "#question-text"), "Would You Like To Run In Fullscreen Mode?");
    assert.equal(await textOf(page, "#answer-yes"), "Yes");
    // Nothing runs before the answer.
    await page.sleep(300);
    assert.equal((await lantern(page)).state, "question");
    assert.equal(await page.evaluate(() => document.getElementById("end-show").disabled), true);

    await page.click("#answer-no");
    await running(page);
    const state = await lantern(page);
    assert.equal(state.audio, "web audio");
    // The position heard moves with the music, and the music reaches the
    // sound server.
    const [pace, heard] = await Promise.all([rowsPerSecond(page, 3000), listen(2000)]);
    assertPace(pace);
    if (heard !== null) {
      assert.ok(heard.samples > 8000, `only ${heard.samples} samples recorded in 2 s`);
      assert.ok(heard.rms > HEARD_RMS, `the sound server heard ${heard.rms.toFixed(4)} (rms)`);
    }
    assert.deepEqual(state.findings, []);
    assert.equal(await page.evaluate(fullscreen), false);
    const box = await boxOf(page, "#canvas");
    assert.deepEqual([box.width, box.height], [640, 480]);
    assert.deepEqual(await errorsIn(page), []);
  } finally {
    await page.close();
  }
});

test("?fullscreen=no answers the question; two screenshots a second apart differ", async () => {
  const page = await browser.open(`${server.url}?fullscreen=no`);
  try {
    await running(page, 60);
    assert.equal(await boxOf(page, "#question"), null);
    const first = await canvasRgb(page);
    const before = await lantern(page);
    await page.sleep(1000);
    const second = await canvasRgb(page);
    const after = await lantern(page);
    assert.ok(after.frames > before.frames + 3, `frames ${before.frames} then ${after.frames}`);
    const moved = differingPixels(first, second, 8);
    assert.ok(moved > 640 * 480 * 0.01, `only ${moved} pixels changed in a second`);
    assert.deepEqual(await errorsIn(page), []);
  } finally {
    await page.close();
  }
});

test("when the browser refuses sound the silent real-time clock runs, and the page says why", async () => {
  const quiet = await launch(engine, { sound: false });
  try {
    const page = await quiet.open(`${server.url}?fullscreen=no`);
    await running(page, 10);
    const state = await lantern(page);
    assert.equal(state.audio, "silent");
    assert.ok(
      state.findings.some((line) => /^lantern: no audio device \(.*\); the music plays silently$/.test(line)),
      JSON.stringify(state.findings)
    );
    assertPace(await rowsPerSecond(page, 3000));
    assert.deepEqual(await errorsIn(page), []);
    await page.close();
  } finally {
    await quiet.close();
  }
});

test("with from=20:32 the picture a few seconds in resembles the native capture of the same music position", async (t) => {
  const page = await browser.open(`${server.url}?fullscreen=no&from=20:32`);
  try {
    await running(page, 5, 60000);
    await page.sleep(2000);
    // A frame as drawn, copied in the animation frame that drew it, with
    // the position it was drawn with.
    const frame = await page.evaluate(() => window.lantern.grabFrame());
    const at = frame.position;
    assert.ok(at[0] === 20 || at[0] === 21, `position ${at} after starting at 20:32`);
    const rgb = pngToRgb(Buffer.from(frame.png.replace(/^data:image\/png;base64,/, ""), "base64"));
    const browserMeans = regionMeans(rgb);

    // The capture runs from 1 s (8 rows) before the row drawn to 2 s (16
    // rows) past it: the scenes' ticks follow the wall clock and the rows
    // the heard music, taken ahead by what a frame takes to reach the
    // screen (a tenth of a second in Chromium), and an output starved by a
    // loaded machine (silence put in) leaves the rows behind the ticks.
    const start = songRow(at) - 8;
    const end = songRow(at) + 16;
    const since = [Math.floor(start / 64), start % 64];
    const until = [Math.floor(end / 64), end % 64];
    const frames = captureFrames(since, until);
    assert.ok(frames.length > 0, `no capture frames from ${since} to ${until}`);
    const differences = frames.map((f) => largestRegionDifference(browserMeans, regionMeans(f.rgb)));
    const best = Math.min(...differences);
    t.diagnostic(
      `${engine} frame of ${at} against the capture from ${since} to ${until}: region means within ${best.toFixed(2)} at frame ${differences.indexOf(best)} of ${frames.length}`
    );
    assert.ok(best <= REGION_TOLERANCE, `region means differ by ${best.toFixed(1)} from ${since} to ${until}`);

    // The comparison tells scenes apart: another part of the show is far off.
    const elsewhere = captureFrames([12, 32], [12, 32]);
    const far = largestRegionDifference(browserMeans, regionMeans(elsewhere[0].rgb));
    t.diagnostic(`against order 12, row 32: ${far.toFixed(1)}`);
    assert.ok(far > 3 * REGION_TOLERANCE, `another scene differs by only ${far.toFixed(1)}`);
    assert.deepEqual(await errorsIn(page), []);
  } finally {
    await page.close();
  }
});

test("started at from=30:40 the show reaches its end: the last frame stays and the page says so", async () => {
  const page = await browser.open(`${server.url}?fullscreen=no&from=30:40`);
  try {
    await page.waitFor(() => window.lantern.state === "ended", null, 30000);
    const state = await lantern(page);
    assert.equal(state.exitCode, 0);
    assert.deepEqual(state.position, [30, 63]);
    assert.notEqual(await boxOf(page, "#ended"), null);
    assert.match(await textOf(page, "#ended"), /The show has ended\./);
    // The controls have nothing more to do; watching again is offered.
    assert.deepEqual(
      await page.evaluate(() => [document.getElementById("toggle-fullscreen").disabled, document.getElementById("end-show").disabled]),
      [true, true]
    );
    // The canvas keeps the last frame: the show's last picture, not black.
    const last = await canvasRgb(page);
    await page.sleep(500);
    const later = await canvasRgb(page);
    assert.equal(differingPixels(last, later, 0), 0);
    const means = regionMeans(last);
    const brightness = means.reduce((s, m) => s + m[0] + m[1] + m[2], 0) / (3 * means.length);
    assert.ok(brightness > 2, `the last frame is black (mean ${brightness})`);
    assert.deepEqual(await errorsIn(page), []);
  } finally {
    await page.close();
  }
});

// The show has started again from its beginning once the position is
// back at order 0 after having been past row 20.
async function restarted(page) {
  await page.waitFor(() => window.lantern.position()[0] === 0 && window.lantern.position()[1] < 10, null, 20000);
  await running(page, (await lantern(page)).frames + 10);
}

test("F1 switches full screen and restarts the show; Escape ends it and leaves full screen", async () => {
  const page = await browser.open(`${server.url}?fullscreen=no`);
  try {
    await running(page, 10);
    await page.waitFor(() => window.lantern.position()[1] >= 20, null, 20000);
    // A tap whose press and release arrive within one frame still counts.
    await page.press("F1");
    await page.waitFor(fullscreen, null, 5000);
    await restarted(page);
    await page.press("Escape");
    await page.waitFor(() => window.lantern.state === "ended", null, 5000);
    await page.waitFor(() => !(document.fullscreenElement || document.webkitFullscreenElement), null, 5000);
    assert.equal((await lantern(page)).exitCode, 0);
  } finally {
    await page.close();
  }
});

test("without a keyboard: the controls under the canvas switch full screen with a restart and end the show, and take keys too", async () => {
  const page = await browser.open(`${server.url}?fullscreen=no`);
  try {
    await running(page, 10);
    const canvas = await boxOf(page, "#canvas");
    const controls = await boxOf(page, "#controls");
    assert.ok(controls.y >= canvas.y + canvas.height, `the controls (${JSON.stringify(controls)}) overlap the show (${JSON.stringify(canvas)})`);
    assert.equal(await textOf(page, "#toggle-fullscreen"), "Full screen");

    await page.waitFor(() => window.lantern.position()[1] >= 20, null, 20000);
    await page.click("#toggle-fullscreen");
    await page.waitFor(fullscreen, null, 5000);
    await restarted(page);
    // In full screen the controls stay under the picture, inside the screen.
    const full = await page.evaluate(() => {
      const c = document.getElementById("canvas").getBoundingClientRect();
      const b = document.getElementById("toggle-fullscreen").getBoundingClientRect();
      return { canvasBottom: c.bottom, canvasHeight: c.height, buttonTop: b.top, buttonBottom: b.bottom, screen: window.innerHeight };
    });
    assert.ok(full.canvasHeight > 480 && full.buttonTop >= full.canvasBottom && full.buttonBottom <= full.screen, JSON.stringify(full));
    assert.equal(await textOf(page, "#toggle-fullscreen"), "Leave full screen");

    await page.waitFor(() => window.lantern.position()[1] >= 20, null, 20000);
    await page.click("#toggle-fullscreen");
    await page.waitFor(() => !(document.fullscreenElement || document.webkitFullscreenElement), null, 5000);
    await restarted(page);
    assert.equal((await lantern(page)).state, "running");
    assert.equal(await textOf(page, "#toggle-fullscreen"), "Full screen");

    // The keyboard reaches the controls: Tab from the show to "End the
    // show", then Enter.
    await page.evaluate(() => document.getElementById("canvas").focus());
    for (let i = 0; i < 4 && (await page.evaluate(() => document.activeElement.id)) !== "end-show"; ++i) await page.press("Tab");
    assert.equal(await page.evaluate(() => document.activeElement.id), "end-show");
    await page.press("Enter");
    await page.waitFor(() => window.lantern.state === "ended", null, 5000);
    assert.equal((await lantern(page)).exitCode, 0);
    assert.deepEqual(await errorsIn(page), []);
  } finally {
    await page.close();
  }
});

test("a missing and a damaged picture give the desktop's findings in the console and under the canvas; the show goes on", async (t) => {
  const damaged = mkdtempSync(path.join(tmpdir(), "lantern-web-damaged-"));
  const folder = path.join(damaged, "site");
  cpSync(site, folder, { recursive: true });
  unlinkSync(path.join(folder, "data", "guy.tga"));
  truncateSync(path.join(folder, "data", "end.tga"), 1000);
  const damagedServer = await serve(folder);
  const page = await browser.open(`${damagedServer.url}?fullscreen=no`);
  try {
    await running(page, 30);
    const findings = (await lantern(page)).findings;
    const expected = ['lantern: cannot open picture "guy.tga"', 'lantern: picture "end.tga" is shorter than its size'];
    for (const line of expected) {
      assert.ok(findings.includes(line), `finding ${line} missing from ${JSON.stringify(findings)}`);
      if (page.messages !== null) {
        assert.ok(page.messages.some((m) => (m.type === "warn" || m.type === "warning") && m.text === line), `console lacks ${line}`);
      }
    }
    if (page.messages === null) t.diagnostic(`${engine}: the driver cannot read the console; the findings are the same lines`);
    assert.match(await textOf(page, "#findings"), /lantern: /);
    // Frames keep coming (however slowly a loaded machine draws them).
    await running(page, (await lantern(page)).frames + 5);
  } finally {
    await page.close();
    damagedServer.close();
    rmSync(damaged, { recursive: true, force: true });
  }
});
