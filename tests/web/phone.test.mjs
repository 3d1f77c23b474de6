// The page on phones and tablets, in one engine (LANTERN_WEB_ENGINE): in
// Chromium's device emulation an upright phone turned on its side and
// back, a phone on its side without the Fullscreen API (as an iPhone) and
// a tablet; in WebKit and Firefox a phone-sized window. Then the page as an
// app on a home screen: its manifest and icons, the service worker, the
// show played with the server stopped, and a changed site reaching the
// viewer whole. LANTERN_WEB_SHOTS=DIR keeps a screenshot of each shape in
// the page and full screen (docs/web.md shows them).
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { appendFileSync, cpSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";

import { launch } from "./browsers.mjs";
import { lantern, serve, site } from "./support.mjs";

const engine = process.env.LANTERN_WEB_ENGINE || "chromium";
const shots = process.env.LANTERN_WEB_SHOTS;
const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), "../..");

const phone = { width: 360, height: 740, deviceScaleFactor: 3, isMobile: true, hasTouch: true, isLandscape: false };
const turned = { width: 740, height: 360, isLandscape: true };
const tablet = { width: 768, height: 1024, deviceScaleFactor: 2, isMobile: true, hasTouch: true, isLandscape: false };

// The smallest target a finger hits reliably, and the least room between two.
const FINGER = 44;
const APART = 8;

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

async function running(page, frames = 10) {
  await page.waitFor((n) => window.lantern.state === "running" && window.lantern.frames() > n, frames, 30000);
}

// Everything the layout checks need, measured in the page.
function measure() {
  const shown = (e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility !== "hidden";
  const box = (e) => {
    const r = e.getBoundingClientRect();
    return { id: e.id, x: r.left, y: r.top, right: r.right, bottom: r.bottom, width: r.width, height: r.height };
  };
  const panel = document.getElementById("panel");
  return {
    view: { width: window.innerWidth, height: window.innerHeight },
    scale: window.visualViewport ? window.visualViewport.scale : 1,
    scrollWidth: document.documentElement.scrollWidth,
    fullscreen: Boolean(document.fullscreenElement || document.webkitFullscreenElement),
    canvas: box(document.getElementById("canvas")),
    boxes: [...document.querySelectorAll(".box")].filter(shown).map(box),
    buttons: [...document.querySelectorAll("button")].filter(shown).map((e) => ({ ...box(e), inPanel: panel.contains(e) })),
    hint: shown(document.getElementById("install-hint")) ? box(document.getElementById("install-hint")) : null,
  };
}

// The layout at one moment: no zoom, no sideways scrolling, the picture
// whole at 4:3 and as large as the screen allows (640 wide in the page
// where there is room), every box and button inside the screen, each
// button a finger's size with room around it, the panel's off the picture.
async function checkLayout(page, label, shape) {
  const l = await page.evaluate(measure);
  const where = `${label}: ${JSON.stringify(l)}`;
  if (shape) assert.deepEqual([l.view.width, l.view.height], [shape.width, shape.height], `${label}: the viewport is not the screen`);
  assert.equal(l.scale, 1, `${label}: the browser zoomed (${where})`);
  assert.ok(l.scrollWidth <= l.view.width, `${label}: the page scrolls sideways, ${l.scrollWidth} px wide in ${l.view.width}`);
  const inside = (r) => r.x >= -0.5 && r.y >= -0.5 && r.right <= l.view.width + 0.5 && r.bottom <= l.view.height + 0.5;
  const c = l.canvas;
  assert.ok(inside(c), `${label}: the picture is not all on the screen (${where})`);
  assert.ok(Math.abs(c.width / c.height - 4 / 3) < 0.01, `${label}: the picture is ${c.width} by ${c.height}`);
  const fitted = (!l.fullscreen && Math.abs(c.width - 640) < 0.5) || c.width >= 0.85 * l.view.width || c.height >= 0.8 * l.view.height;
  assert.ok(fitted, `${label}: the picture, ${c.width} by ${c.height}, is smaller than the screen allows (${where})`);
  for (const b of [...l.boxes, ...l.buttons]) assert.ok(inside(b), `${label}: #${b.id} is not all on the screen (${where})`);
  for (const b of l.buttons) {
    assert.ok(b.width >= FINGER && b.height >= FINGER, `${label}: #${b.id} is ${b.width} by ${b.height}`);
    if (b.inPanel) {
      const off = b.x >= c.right || b.right <= c.x || b.y >= c.bottom || b.bottom <= c.y;
      assert.ok(off, `${label}: #${b.id} lies on the picture (${where})`);
    }
  }
  for (const [i, a] of l.buttons.entries()) {
    for (const b of l.buttons.slice(i + 1)) {
      const apart = Math.max(b.x - a.right, a.x - b.right, b.y - a.bottom, a.y - b.bottom);
      assert.ok(apart >= APART, `${label}: #${a.id} and #${b.id} are ${apart} px apart`);
    }
  }
  return l;
}

async function shot(page, name) {
  if (shots) writeFileSync(path.join(shots, `${name}.png`), await page.screenshot());
}

async function turn(page, shape) {
  await page.setViewport(shape);
  await page.waitFor((s) => window.innerWidth === s.width && window.innerHeight === s.height, shape, 10000);
}

const fullscreen = () => Boolean(document.fullscreenElement || document.webkitFullscreenElement);

// Waits until fn is true in the page that a navigation brings; the old
// page may go away while it is asked.
async function afterNavigation(page, fn) {
  for (let tries = 0; ; ++tries) {
    try {
      if (await page.evaluate(fn)) return;
    } catch (error) {
      if (tries > 300) throw error;
    }
    assert.ok(tries < 300, `the page after the navigation never had ${fn}`);
    await page.sleep(100);
  }
}

async function question(page) {
  await page.waitFor(() => window.lantern && window.lantern.state === "question", null, 30000);
}

if (engine === "chromium") {
  test("an upright phone: the start box fits, No fits the picture, turning the phone refits it, in the page and full screen, and a tap works every control", async () => {
    const page = await browser.open(server.url, { viewport: phone });
    try {
      await question(page);
      await checkLayout(page, "the start question", phone);
      await page.tap("#answer-no");
      await running(page);
      await checkLayout(page, "in the page", phone);
      await shot(page, "upright-page");
      await turn(page, { ...phone, ...turned });
      await checkLayout(page, "turned on its side", { ...phone, ...turned });
      await shot(page, "side-page");
      await turn(page, phone);
      await checkLayout(page, "turned upright again", phone);

      await page.tap("#toggle-fullscreen");
      await page.waitFor(fullscreen, null, 5000);
      await running(page, (await lantern(page)).frames + 10);
      await checkLayout(page, "full screen", phone);
      await shot(page, "upright-full");
      await turn(page, { ...phone, ...turned });
      await checkLayout(page, "full screen on its side", { ...phone, ...turned });
      await shot(page, "side-full");
      await turn(page, phone);
      await page.tap("#toggle-fullscreen");
      await page.waitFor(() => !(document.fullscreenElement || document.webkitFullscreenElement), null, 5000);
      await running(page, (await lantern(page)).frames + 10);

      await page.tap("#end-show");
      await page.waitFor(() => window.lantern.state === "ended", null, 10000);
      await checkLayout(page, "the end", phone);
      await page.evaluate(() => (window.lanternEnded = true));
      await page.tap("#watch-again");
      await afterNavigation(page, () => !window.lanternEnded && window.lantern && window.lantern.state === "question");
    } finally {
      await page.close();
    }
  });

  test("a phone on its side without the Fullscreen API (an iPhone): Yes plays in the page beside the controls, which say how to get full screen", async () => {
    const noFullscreen = () => {
      for (const name of ["requestFullscreen", "webkitRequestFullscreen"]) delete Element.prototype[name];
      for (const name of ["fullscreenEnabled", "webkitFullscreenEnabled"]) {
        Object.defineProperty(Document.prototype, name, { get: () => undefined, configurable: true });
      }
    };
    const shape = { ...phone, ...turned };
    const page = await browser.open(server.url, { viewport: shape, init: noFullscreen });
    try {
      await question(page);
      await checkLayout(page, "the start question", shape);
      await page.tap("#answer-yes");
      await running(page);
      const l = await checkLayout(page, "in the page", shape);
      assert.equal(l.fullscreen, false);
      assert.deepEqual(l.buttons.map((b) => b.id), ["end-show"], "the full-screen control is still offered");
      assert.ok(l.hint && l.hint.x >= l.canvas.right && l.hint.bottom <= l.view.height, `the hint: ${JSON.stringify(l)}`);
      assert.match(await page.evaluate(() => document.getElementById("install-hint").textContent), /Add to Home Screen/);
      await page.tap("#end-show");
      await page.waitFor(() => window.lantern.state === "ended", null, 10000);
    } finally {
      await page.close();
    }
  });

  test("a tablet: the start box, then the picture at 640 by 480 in the page and fitted full screen", async () => {
    const page = await browser.open(server.url, { viewport: tablet });
    try {
      await question(page);
      await checkLayout(page, "the start question", tablet);
      await page.tap("#answer-no");
      await running(page);
      const l = await checkLayout(page, "in the page", tablet);
      assert.deepEqual([l.canvas.width, l.canvas.height], [640, 480]);
      await shot(page, "tablet-page");
      await page.tap("#toggle-fullscreen");
      await page.waitFor(fullscreen, null, 5000);
      await running(page, (await lantern(page)).frames + 10);
      await checkLayout(page, "full screen", tablet);
      await shot(page, "tablet-full");
    } finally {
      await page.close();
    }
  });
} else {
  test(`a phone-sized window in ${engine}: the start box fits, and No plays the picture fitted with finger-sized controls`, async () => {
    const shape = { width: 360, height: 740 };
    const page = await browser.open(server.url, { viewport: shape });
    try {
      await question(page);
      // A window manager may keep a window from being as narrow as a phone;
      // the checks hold for the viewport it gives.
      const { view } = await checkLayout(page, "the start question");
      assert.ok(view.width <= 480, `the window is ${view.width} px wide`);
      await page.click("#answer-no");
      await running(page);
      await checkLayout(page, "in the page");
    } finally {
      await page.close();
    }
  });
}

// Every file of the built folder that the service worker keeps.
function siteFiles(folder, under = "") {
  return readdirSync(path.join(folder, under), { withFileTypes: true }).flatMap((e) =>
    e.isDirectory() ? siteFiles(folder, path.join(under, e.name)) : path.join(under, e.name) === "sw.js" ? [] : [path.join(under, e.name)]
  );
}

const kept = () =>
  navigator.serviceWorker.getRegistration().then((r) => Boolean(r && r.active && r.active.state === "activated"));

test("installable and offline: the manifest's fields and icons, the service worker keeping the show, and a second load with the server stopped playing it", async () => {
  // An address of its own: no worker from the other checks.
  const own = await serve(site);
  let page = await browser.open(`${own.url}?fullscreen=no`);
  let stopped = false;
  try {
    await running(page);
    const m = await page.evaluate(async () => {
      const link = document.querySelector('link[rel="manifest"]');
      const json = await (await fetch(link.href)).json();
      const load = async (src) => {
        const blob = await (await fetch(new URL(src, link.href))).blob();
        const bitmap = await createImageBitmap(blob);
        return `${bitmap.width}x${bitmap.height}`;
      };
      const icons = [];
      for (const icon of json.icons) icons.push({ ...icon, drawn: await load(icon.src) });
      return {
        json,
        icons,
        touchIcon: await load(document.querySelector('link[rel="apple-touch-icon"]').href),
        page: new URL(".", location.href).href,
        start: new URL(json.start_url, link.href).href,
        background: getComputedStyle(document.body).backgroundColor,
      };
    });
    assert.equal(m.json.name, "lantern");
    assert.equal(m.json.display, "fullscreen");
    assert.equal(m.json.orientation, "landscape");
    assert.equal(m.start, m.page);
    const [r, g, b] = m.json.background_color.match(/[0-9a-f]{2}/gi).map((h) => parseInt(h, 16));
    assert.equal(`rgb(${r}, ${g}, ${b})`, m.background, "the app's background is not the page's");
    for (const icon of m.icons) assert.equal(icon.drawn, icon.sizes, `${icon.src} is drawn at ${icon.drawn}`);
    for (const purpose of ["any", "maskable"]) {
      for (const size of ["192x192", "512x512"]) {
        assert.ok(m.icons.some((i) => i.purpose === purpose && i.sizes === size), `no ${purpose} icon of ${size}`);
      }
    }
    assert.equal(m.touchIcon, "180x180");
    if (page.devtools) {
      // Chromium's own reading: the manifest parses and the page is installable.
      const { errors } = await page.devtools("Page.getAppManifest");
      assert.deepEqual(errors, []);
      const { installabilityErrors } = await page.devtools("Page.getInstallabilityErrors");
      assert.deepEqual(installabilityErrors, []);
    }

    await page.waitFor(kept, null, 60000);
    const cached = await page.evaluate(async () => {
      const names = (await caches.keys()).filter((name) => name.startsWith("lantern-"));
      return { names, files: names.length === 1 ? (await (await caches.open(names[0])).keys()).length : 0 };
    });
    assert.equal(cached.names.length, 1, JSON.stringify(cached));
    assert.equal(cached.files, siteFiles(site).length, "the cache lacks files of the build");
    await page.close();
    page = null;

    own.close();
    stopped = true;
    page = await browser.open(`${own.url}?fullscreen=no`);
    await running(page, 30);
    const state = await lantern(page);
    assert.deepEqual(state.findings, []);
    assert.deepEqual(state.errors, []);
    const offline = await page.evaluate(() => [navigator.serviceWorker.controller !== null, window.lantern.dataFiles]);
    assert.deepEqual(offline, [true, siteFiles(site).filter((f) => f.startsWith("data/") && f !== "data/files.txt").length]);
    // And it goes on.
    await running(page, state.frames + 10);
  } finally {
    await page?.close();
    if (!stopped) own.close();
  }
});

// Reloads the page and waits until the new one plays.
async function reload(page) {
  await page.evaluate(() => {
    window.lanternReloaded = true;
    window.location.reload();
  });
  await afterNavigation(page, () => !window.lanternReloaded && window.lantern && window.lantern.state === "running" && window.lantern.frames() > 10);
}

if (engine === "chromium") {
  test("a changed site reaches the viewer whole: each reload runs the page and the program of one build, the new one once it is kept", async (t) => {
    const dir = mkdtempSync(path.join(tmpdir(), "lantern-web-update-"));
    const folder = path.join(dir, "site");
    cpSync(site, folder, { recursive: true });
    const own = await serve(folder);
    const page = await browser.open(`${own.url}?fullscreen=no`);
    const ran = () => page.evaluate(() => (window.lanternBuild || []).slice().sort());
    try {
      await running(page);
      await page.waitFor(kept, null, 60000);

      // A new build: its page, the page's script and the program say so.
      const mark = (what) => `window.lanternBuild = (window.lanternBuild || []).concat("${what}");`;
      const index = path.join(folder, "index.html");
      writeFileSync(index, readFileSync(index, "utf8").replace("</head>", `<script>${mark("index")}</script>\n</head>`));
      appendFileSync(path.join(folder, "page.js"), `\n${mark("page")}\n`);
      appendFileSync(path.join(folder, "lantern.js"), `\n${mark("program")}\n`);
      execFileSync("bash", [path.join(root, "scripts/web-offline.sh"), folder], { stdio: "ignore" });

      // The old build plays, whole, while the new one is fetched.
      await reload(page);
      assert.deepEqual(await ran(), []);
      await page.waitFor(() => navigator.serviceWorker.getRegistration().then((r) => Boolean(r && r.waiting)), null, 60000);

      // A reload hands over to the new one, which plays, whole.
      let seen = [];
      for (let loads = 0; loads < 3 && seen.length === 0; ++loads) {
        await reload(page);
        seen = await ran();
        assert.ok(seen.length === 0 || seen.join() === "index,page,program", `a page and a program of two builds: ${seen}`);
        t.diagnostic(`reload ${loads + 1} after the new build was kept: ${seen.length ? "the new build" : "the old one"}`);
      }
      assert.deepEqual(seen, ["index", "page", "program"]);
    } finally {
      await page.close();
      own.close();
      rmSync(dir, { recursive: true, force: true });
    }
  });
}
