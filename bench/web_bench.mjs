// The browser build's measurements in one engine (LANTERN_WEB_ENGINE, as
// tests/web/browsers.mjs starts it): time from opening the page to the
// first frame of the show, and frames per second over stretches of scenes
// 1 and 4, paced by the browser's animation frames; in Chromium also
// unpaced, in a second browser. Prints one JSON object. Run by
// bench/web.sh, which sets the environment the test support reads.
import { launch } from "../tests/web/browsers.mjs";
import { serve, site } from "../tests/web/support.mjs";

const engine = process.env.LANTERN_WEB_ENGINE || "chromium";
const runs = Number(process.env.BENCH_WEB_RUNS || 3);
const seconds = Number(process.env.BENCH_WEB_SECONDS || 10);

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// Frames presented per second over `seconds`, once the show runs.
async function framesPerSecond(browser, url, query) {
  const page = await browser.open(`${url}?fullscreen=no${query}`);
  try {
    await page.waitFor(() => window.lantern.state === "running" && window.lantern.frames() > 5, null, 60000);
    await page.sleep(500);
    const sample = () => page.evaluate(() => [window.lantern.frames(), performance.now(), window.lantern.position()]);
    const a = await sample();
    await page.sleep(seconds * 1000);
    const b = await sample();
    return { fps: ((b[0] - a[0]) * 1000) / (b[1] - a[1]), from: a[2], to: b[2] };
  } finally {
    await page.close();
  }
}

const server = await serve(site);
const result = { engine, firstFrameMs: [], answerToFirstFrameMs: [], paced: {}, unpaced: {} };
try {
  // Each start in a fresh browser: nothing comes from its cache.
  for (let i = 0; i < runs; ++i) {
    const browser = await launch(engine);
    try {
      const page = await browser.open(`${server.url}?fullscreen=no`);
      await page.waitFor(() => window.lantern.firstFrameMs !== null, null, 60000);
      const t = await page.evaluate(() => [window.lantern.firstFrameMs, window.lantern.startMs]);
      result.firstFrameMs.push(t[0]);
      result.answerToFirstFrameMs.push(t[0] - t[1]);
      await page.close();
    } finally {
      await browser.close();
    }
  }
  const browser = await launch(engine);
  try {
    result.paced.scene1 = await framesPerSecond(browser, server.url, "");
    result.paced.scene4 = await framesPerSecond(browser, server.url, "&from=8");
  } finally {
    await browser.close();
  }
  if (engine === "chromium") {
    const unpaced = await launch(engine, { chromiumArgs: ["--disable-frame-rate-limit", "--disable-gpu-vsync"] });
    try {
      result.unpaced.scene1 = await framesPerSecond(unpaced, server.url, "");
      result.unpaced.scene4 = await framesPerSecond(unpaced, server.url, "&from=8");
    } finally {
      await unpaced.close();
    }
  }
} finally {
  server.close();
}
result.firstFrameMedianMs = median(result.firstFrameMs);
result.answerToFirstFrameMedianMs = median(result.answerToFirstFrameMs);
console.log(JSON.stringify(result));
