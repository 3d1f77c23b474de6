// The browser build's measurements in headless Chromium (SwiftShader):
// time from opening the page to the first frame of the show, and frames
// per second over stretches of the show, paced by the browser's animation
// frames and, in a second browser, unpaced. Prints one JSON object.
// Run by bench/web.sh, which sets the environment support.mjs reads.
import { launchChromium, openPage, serve, site, waitUntil } from "../tests/web/support.mjs";

const runs = Number(process.env.BENCH_WEB_RUNS || 3);
const seconds = Number(process.env.BENCH_WEB_SECONDS || 10);

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Frames presented per second over `seconds`, once the show runs.
async function framesPerSecond(browser, url, query) {
  const { page } = await openPage(browser, `${url}?fullscreen=no${query}`);
  try {
    await waitUntil(page, () => window.lantern.state === "running" && window.lantern.frames() > 5, null, 60000);
    await page.waitForTimeout(500);
    const a = await page.evaluate(() => [window.lantern.frames(), performance.now(), window.lantern.position()]);
    await page.waitForTimeout(seconds * 1000);
    const b = await page.evaluate(() => [window.lantern.frames(), performance.now(), window.lantern.position()]);
    return { fps: ((b[0] - a[0]) * 1000) / (b[1] - a[1]), from: a[2], to: b[2] };
  } finally {
    await page.close();
  }
}

const server = await serve(site);
const result = { firstFrameMs: [], answerToFirstFrameMs: [], paced: {}, unpaced: {} };
try {
  const browser = await launchChromium();
  try {
    // Each start in a fresh context: nothing comes from the browser's cache.
    for (let i = 0; i < runs; ++i) {
      const context = await browser.newContext();
      const page = await context.newPage();
      await page.goto(`${server.url}?fullscreen=no`);
      await waitUntil(page, () => window.lantern.firstFrameMs !== null, null, 60000);
      const t = await page.evaluate(() => [window.lantern.firstFrameMs, window.lantern.startMs]);
      result.firstFrameMs.push(t[0]);
      result.answerToFirstFrameMs.push(t[0] - t[1]);
      await context.close();
    }
    result.paced.scene1 = await framesPerSecond(browser, server.url, "");
    result.paced.scene4 = await framesPerSecond(browser, server.url, "&from=8");
  } finally {
    await browser.close();
  }
  const unpaced = await launchChromium(["--disable-frame-rate-limit", "--disable-gpu-vsync"]);
  try {
    result.unpaced.scene1 = await framesPerSecond(unpaced, server.url, "");
    result.unpaced.scene4 = await framesPerSecond(unpaced, server.url, "&from=8");
  } finally {
    await unpaced.close();
  }
} finally {
  server.close();
}
result.firstFrameMedianMs = median(result.firstFrameMs);
result.answerToFirstFrameMedianMs = median(result.answerToFirstFrameMs);
console.log(JSON.stringify(result));
