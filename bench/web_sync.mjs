// Shows the page in one engine for the sync measurement (bench/sync/
// chromium.sh, firefox.sh, webkit.sh): serves the web folder, starts the
// engine in a window at the screen's top-left corner (Chromium too, so that
// the picture reaches the X screen) with sound allowed, playing into
// PULSE_SERVER, and opens the page with the position code drawn, at 640 by
// 480 so that the code reaches the screen 1:1. Runs until SIGTERM, then
// closes the browser. Prints what the page found on exit.
// usage: node bench/web_sync.mjs ENGINE FROM
import { launch } from "../tests/web/browsers.mjs";
import { serve, site } from "../tests/web/support.mjs";

const [engine, from = "0"] = process.argv.slice(2);
const server = await serve(site);
const browser = await launch(engine, {
  window: true,
  chromiumArgs: ["--window-position=0,0", "--window-size=840,760", "--hide-scrollbars"],
});
let page = null;
let closing = false;
async function close(code) {
  if (closing) return;
  closing = true;
  try {
    if (page) {
      const end = await page.evaluate(() => [window.lantern.frames(), performance.now(), window.lantern.audio, window.lantern.findings]);
      const fps = start ? ((end[0] - start[0]) * 1000) / (end[1] - start[1]) : null;
      console.log(JSON.stringify({ audio: end[2], findings: end[3], framesPerSecond: fps && Number(fps.toFixed(1)) }));
    }
  } catch (error) {
    console.log(`the page did not answer: ${error.message}`);
  }
  await browser.close().catch(() => {});
  server.close();
  process.exit(code);
}
process.on("SIGTERM", () => close(0));
process.on("SIGINT", () => close(0));
// LANTERN_WEB_SYNC_QUERY adds parameters (like &framestoscreen=1).
page = await browser.open(
  `${server.url}?fullscreen=no&positioncode=1&from=${encodeURIComponent(from)}${process.env.LANTERN_WEB_SYNC_QUERY || ""}`
);
// Nothing of the page scrolled away: the canvas's top-left corner in view.
await page.evaluate(() => window.scrollTo(0, 0));
console.log(`${engine}: page open`);
// Frames per second from when the show runs to the end.
let start = null;
page
  .waitFor(() => window.lantern.state === "running" && window.lantern.frames() > 0, null, 60000)
  .then(() => page.evaluate(() => [window.lantern.frames(), performance.now()]))
  .then((sample) => (start = sample))
  .catch(() => {});
// Every 5 s: the position drawn and the audio clock, for the log.
setInterval(() => {
  page
    .evaluate(() => {
      const context = window.Module && Module.lanternAudioContext;
      return [window.lantern.state, window.lantern.position(), context ? [context.state, Number(context.currentTime.toFixed(3))] : null];
    })
    .then((state) => console.log(JSON.stringify(state)))
    .catch(() => {});
}, 5000);
