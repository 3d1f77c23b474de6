// The show in headless Chromium (SwiftShader's WebGL, Web Audio on the
// browser's silent output): the start question, a clean start, motion,
// the picture against the native capture of the same music position, the
// end of the show, keys, and the findings about damaged data.
import assert from "node:assert/strict";
import { cpSync, mkdtempSync, rmSync, truncateSync, unlinkSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";

import {
  canvasRgb,
  captureFrames,
  differingPixels,
  largestRegionDifference,
  lantern,
  launchChromium,
  openPage,
  regionMeans,
  serve,
  site,
  songRow,
  waitUntil,
} from "./support.mjs";

// The song plays 31 orders of 64 rows in 238.1 s (openmpt123 --info):
// 8.33 rows a second. Over a stretch of wall-clock time the position shown
// must advance at that pace, within this factor either way.
const ROWS_PER_SECOND = (31 * 64) / 238.1;
const PACE_MARGIN = 1.5;

async function rowsPerSecond(page, milliseconds) {
  const a = await page.evaluate(() => [window.lantern.position(), performance.now()]);
  await page.waitForTimeout(milliseconds);
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
  browser = await launchChromium();
});

after(async () => {
  await browser?.close();
  server?.close();
});

function errorsIn(messages) {
  return messages.filter((m) => m.type === "error" || m.type === "pageerror");
}

async function running(page, frames = 30, timeoutMs = 30000) {
  await waitUntil(page, (n) => window.lantern.state === "running" && window.lantern.frames() > n, frames, timeoutMs);
}

test("the start question is the page's own box; No plays in the page at 640 by 480 with sound and no console error", async () => {
  const { page, messages } = await openPage(browser, server.url);
  try {
    await page.locator("#question").waitFor({ state: "visible" });
    assert.equal(await page.locator("#question-caption").textContent(), "Start FullScreen?");
    assert.equal(await page.locator("#question-text").textContent(), "Would You Like To Run In Fullscreen Mode?");
    assert.equal(await page.locator("#answer-yes").textContent(), "Yes");
    // Nothing runs before the answer.
    await page.waitForTimeout(300);
    assert.equal((await lantern(page)).state, "question");

    await page.locator("#answer-no").click();
    await running(page);
    const state = await lantern(page);
    assert.equal(state.audio, "web audio");
    // The position heard moves with the music.
    assertPace(await rowsPerSecond(page, 3000));
    assert.deepEqual(state.findings, []);
    assert.equal(await page.evaluate(() => document.fullscreenElement), null);
    const box = await page.locator("#canvas").boundingBox();
    assert.deepEqual([box.width, box.height], [640, 480]);
    assert.deepEqual(errorsIn(messages), []);
  } finally {
    await page.close();
  }
});

test("?fullscreen=no answers the question; two screenshots a second apart differ", async () => {
  const { page, messages } = await openPage(browser, `${server.url}?fullscreen=no`);
  try {
    assert.equal(await page.locator("#question").isVisible(), false);
    await running(page, 60);
    const first = await canvasRgb(page);
    const before = await lantern(page);
    await page.waitForTimeout(1000);
    const second = await canvasRgb(page);
    const after = await lantern(page);
    assert.ok(after.frames > before.frames + 3, `frames ${before.frames} then ${after.frames}`);
    const moved = differingPixels(first, second, 8);
    assert.ok(moved > 640 * 480 * 0.01, `only ${moved} pixels changed in a second`);
    assert.deepEqual(errorsIn(messages), []);
  } finally {
    await page.close();
  }
});

test("when the browser refuses sound the silent real-time clock runs, and the page says why", async () => {
  const quiet = await launchChromium([], false);
  try {
    const { page, messages } = await openPage(quiet, `${server.url}?fullscreen=no`);
    await running(page, 10);
    const state = await lantern(page);
    assert.equal(state.audio, "silent");
    assert.ok(
      state.findings.some((line) => /^lantern: no audio device \(.*\); the music plays silently$/.test(line)),
      JSON.stringify(state.findings)
    );
    assertPace(await rowsPerSecond(page, 3000));
    assert.deepEqual(errorsIn(messages), []);
  } finally {
    await quiet.close();
  }
});

test("with from=20:32 the picture a few seconds in resembles the native capture of the same music position", async (t) => {
  const { page, messages } = await openPage(browser, `${server.url}?fullscreen=no&from=20:32`);
  try {
    await running(page, 5, 60000);
    await page.waitForTimeout(2000);
    // The screenshot lies between the frames drawn before and after it.
    let shot;
    let from;
    let to;
    for (let attempt = 0; attempt < 5; ++attempt) {
      from = (await lantern(page)).position;
      shot = await canvasRgb(page);
      to = (await lantern(page)).position;
      if (from[0] === to[0] && to[1] - from[1] <= 4) break;
    }
    assert.ok(from[0] === 20 || from[0] === 21, `position ${from} after starting at 20:32`);
    const browserMeans = regionMeans(shot);

    const frames = captureFrames(from, to);
    assert.ok(frames.length > 0, `no capture frames from ${from} to ${to}`);
    const best = Math.min(...frames.map((f) => largestRegionDifference(browserMeans, regionMeans(f.rgb))));
    t.diagnostic(`${from}..${to}: ${frames.length} capture frames, region means within ${best.toFixed(2)}`);
    assert.ok(best <= REGION_TOLERANCE, `region means differ by ${best.toFixed(1)} at ${from}..${to}`);

    // The comparison tells scenes apart: another part of the show is far off.
    const elsewhere = captureFrames([12, 32], [12, 32]);
    const far = largestRegionDifference(browserMeans, regionMeans(elsewhere[0].rgb));
    t.diagnostic(`against order 12, row 32: ${far.toFixed(1)}`);
    assert.ok(far > 3 * REGION_TOLERANCE, `another scene differs by only ${far.toFixed(1)}`);
    assert.deepEqual(errorsIn(messages), []);
  } finally {
    await page.close();
  }
});

test("started at from=30:40 the show reaches its end: the last frame stays and the page says so", async () => {
  const { page, messages } = await openPage(browser, `${server.url}?fullscreen=no&from=30:40`);
  try {
    await waitUntil(page, () => window.lantern.state === "ended", null, 30000);
    const state = await lantern(page);
    assert.equal(state.exitCode, 0);
    assert.deepEqual(state.position, [30, 63]);
    assert.equal(await page.locator("#ended").isVisible(), true);
    assert.match(await page.locator("#ended").textContent(), /The show has ended\./);
    // The canvas keeps the last frame: the show's last picture, not black.
    const last = await canvasRgb(page);
    await page.waitForTimeout(500);
    const later = await canvasRgb(page);
    assert.equal(differingPixels(last, later, 0), 0);
    const means = regionMeans(last);
    const brightness = means.reduce((s, m) => s + m[0] + m[1] + m[2], 0) / (3 * means.length);
    assert.ok(brightness > 2, `the last frame is black (mean ${brightness})`);
    assert.deepEqual(errorsIn(messages), []);
  } finally {
    await page.close();
  }
});

test("F1 switches full screen and restarts the show; Escape ends it and leaves full screen", async () => {
  const { page } = await openPage(browser, `${server.url}?fullscreen=no`);
  try {
    await running(page, 10);
    await waitUntil(page, () => window.lantern.position()[1] >= 20, null, 20000);
    // A tap whose press and release arrive within one frame still counts.
    await page.keyboard.press("F1");
    await waitUntil(page, () => document.fullscreenElement !== null, null, 5000);
    // The show starts again from its beginning.
    await waitUntil(page, () => window.lantern.position()[0] === 0 && window.lantern.position()[1] < 10, null, 10000);
    await running(page, (await lantern(page)).frames + 10);
    await page.keyboard.press("Escape");
    await waitUntil(page, () => window.lantern.state === "ended", null, 5000);
    await waitUntil(page, () => document.fullscreenElement === null, null, 5000);
    assert.equal((await lantern(page)).exitCode, 0);
  } finally {
    await page.close();
  }
});

test("a missing and a damaged picture give the desktop's findings in the console and under the canvas; the show goes on", async () => {
  const damaged = mkdtempSync(path.join(tmpdir(), "lantern-web-damaged-"));
  const folder = path.join(damaged, "site");
  cpSync(site, folder, { recursive: true });
  unlinkSync(path.join(folder, "data", "guy.tga"));
  truncateSync(path.join(folder, "data", "end.tga"), 1000);
  const damagedServer = await serve(folder);
  const { page, messages } = await openPage(browser, `${damagedServer.url}?fullscreen=no`);
  try {
    await running(page, 30);
    const findings = (await lantern(page)).findings;
    const expected = ['lantern: cannot open picture "guy.tga"', 'lantern: picture "end.tga" is shorter than its size'];
    for (const line of expected) {
      assert.ok(findings.includes(line), `finding ${line} missing from ${JSON.stringify(findings)}`);
      assert.ok(messages.some((m) => m.type === "warning" && m.text === line), `console lacks ${line}`);
    }
    assert.match(await page.locator("#findings").textContent(), /lantern: /);
    const before = (await lantern(page)).frames;
    await page.waitForTimeout(500);
    assert.ok((await lantern(page)).frames > before + 5);
  } finally {
    await page.close();
    damagedServer.close();
    rmSync(damaged, { recursive: true, force: true });
  }
});
