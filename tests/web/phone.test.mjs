// The page on phones and tablets, in one engine (LANTERN_WEB_ENGINE): in
// Chromium's device emulation a phone upright and turned, a phone on its
// side without the Fullscreen API (an iPhone) and a tablet, every control
// tapped; in WebKit and Firefox a phone-sized window. Then the page as an
// installed app: manifest and icons, the show played offline, and a changed
// site reaching the viewer whole. LANTERN_WEB_SHOTS=DIR keeps screenshots.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { appendFileSync, cpSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";

import { launch } from "./browsers.mjs";
import { lantern, serve, site } from "./support.mjs";

const engine = process.env.LANTERN_WEB_ENGINE || "chromium";
const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), "../..");
const phone = { width: 360, height: 740, deviceScaleFactor: 3, isMobile: true, hasTouch: true, isLandscape: false };
const turned = { ...phone, width: 740, height: 360, isLandscape: true };
const tablet = { ...phone, width: 768, height: 1024, deviceScaleFactor: 2 };

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

const running = (page, frames = 10) =>
  page.waitFor((n) => window.lantern.state === "running" && window.lantern.frames() > n, frames, 30000);
const state = (page, wanted) => page.waitFor((s) => window.lantern && window.lantern.state === s, wanted, 30000);
const fullscreen = (page, on) =>
  page.waitFor((o) => Boolean(document.fullscreenElement || document.webkitFullscreenElement) === o, on, 5000);

// Waits for fn in the page a navigation brings; the old one may go first.
async function afterNavigation(page, fn) {
  for (let tries = 0; ; ++tries) {
    if (await page.evaluate(fn).catch(() => false)) return;
    assert.ok(tries < 300, `never ${fn} after the navigation`);
    await page.sleep(100);
  }
}

// The layout now: the viewport is the screen (the browser did not zoom
// out to a wider page) and the page no wider; the picture all on the
// screen at 4:3, 640 wide in the page or filling the screen's width or
// height; every box and button on the screen, each button 44 by 44 or
// more, 8 px or more from the next, and the panel's off the picture.
async function checkLayout(page, label, shape, shot) {
  const l = await page.evaluate(() => {
    const box = (e) => ({ id: e.id, panel: Boolean(e.closest("#panel")), ...e.getBoundingClientRect().toJSON() });
    const shown = [...document.querySelectorAll(".box, button, #install-hint")].filter((e) => e.getClientRects().length);
    return {
      view: [window.innerWidth, window.innerHeight, window.visualViewport?.scale ?? 1, document.documentElement.scrollWidth],
      full: Boolean(document.fullscreenElement || document.webkitFullscreenElement),
      canvas: box(document.getElementById("canvas")),
      shown: shown.map(box),
    };
  });
  const [width, height, scale, scrollWidth] = l.view;
  const where = `${label}: ${JSON.stringify(l)}`;
  if (shape) assert.deepEqual([width, height, scale], [shape.width, shape.height, 1], where);
  assert.ok(scrollWidth <= width, `${label}: the page is ${scrollWidth} px wide`);
  const inside = (r) => r.left >= -0.5 && r.top >= -0.5 && r.right <= width + 0.5 && r.bottom <= height + 0.5;
  const c = l.canvas;
  assert.ok(inside(c) && Math.abs(c.width / c.height - 4 / 3) < 0.01, `${label}: the picture ${where}`);
  assert.ok((!l.full && Math.abs(c.width - 640) < 0.5) || c.width >= 0.85 * width || c.height >= 0.8 * height, `${label}: small ${where}`);
  const buttons = l.shown.filter((b) => b.id !== "install-hint" && !b.id.match(/question|ended/));
  for (const b of l.shown) assert.ok(inside(b), `${label}: #${b.id} is off the screen ${where}`);
  for (const [i, a] of buttons.entries()) {
    assert.ok(a.width >= 44 && a.height >= 44, `${label}: #${a.id} is ${a.width} by ${a.height}`);
    const off = a.left >= c.right || a.right <= c.left || a.top >= c.bottom || a.bottom <= c.top;
    assert.ok(off || !a.panel, `${label}: #${a.id} lies on the picture ${where}`);
    for (const b of buttons.slice(i + 1)) {
      const apart = Math.max(b.left - a.right, a.left - b.right, b.top - a.bottom, a.top - b.bottom);
      assert.ok(apart >= 8, `${label}: #${a.id} and #${b.id} are ${apart} px apart`);
    }
  }
  if (shot && process.env.LANTERN_WEB_SHOTS) writeFileSync(path.join(process.env.LANTERN_WEB_SHOTS, `${shot}.png`), await page.screenshot());
  return l;
}

async function turn(page, shape) {
  await page.setViewport(shape);
  await page.waitFor((s) => window.innerWidth === s.width && window.innerHeight === s.height, shape, 10000);
}

const shapes = {
  upright: { shot: "upright", viewport: phone, answer: "#answer-no", turn: turned },
  "on its side, without the Fullscreen API (an iPhone)": {
    shot: "iphone",
    viewport: turned,
    answer: "#answer-yes",
    init: () => {
      for (const name of ["requestFullscreen", "webkitRequestFullscreen"]) delete Element.prototype[name];
      for (const name of ["fullscreenEnabled", "webkitFullscreenEnabled"]) {
        Object.defineProperty(Document.prototype, name, { get: () => undefined, configurable: true });
      }
    },
  },
  tablet: { shot: "tablet", viewport: tablet, answer: "#answer-no" },
};

for (const [name, s] of Object.entries(engine === "chromium" ? shapes : {})) {
  test(`a ${name === "tablet" ? "" : "phone "}${name}: the start and end boxes fit, a tap works each control, the picture fits in the page${s.init ? "" : " and full screen"}${s.turn ? ", turned and back" : ""}`, async () => {
    const page = await browser.open(server.url, { viewport: s.viewport, init: s.init });
    // The picture as it is, and turned on its side and back.
    const views = async (mode) => {
      await running(page, (await lantern(page)).frames + 10);
      await checkLayout(page, mode, s.viewport, `${s.shot}-${mode}`);
      if (!s.turn) return;
      await turn(page, s.turn);
      await checkLayout(page, `${mode}, turned`, s.turn, `side-${mode}`);
      await turn(page, s.viewport);
      await checkLayout(page, `${mode}, turned back`, s.viewport);
    };
    try {
      await state(page, "question");
      await checkLayout(page, "the start question", s.viewport);
      await page.tap(s.answer);
      await views("page");
      if (s.init) {
        // Yes played in the page; one line says how to get full screen.
        const { shown } = await checkLayout(page, "no full screen");
        assert.deepEqual(shown.map((b) => b.id), ["end-show", "install-hint"]);
      } else {
        await page.tap("#toggle-fullscreen");
        await fullscreen(page, true);
        await views("full");
        await page.tap("#toggle-fullscreen");
        await fullscreen(page, false);
        await running(page, (await lantern(page)).frames + 10);
      }
      await page.tap("#end-show");
      await state(page, "ended");
      await checkLayout(page, "the end", s.viewport);
      await page.evaluate(() => (window.lanternEnded = true));
      await page.tap("#watch-again");
      await afterNavigation(page, () => !window.lanternEnded && window.lantern?.state === "question");
    } finally {
      await page.close();
    }
  });
}

if (engine !== "chromium") {
  test(`a phone-sized window: the start box fits, and No plays the picture fitted with finger-sized controls`, async () => {
    const page = await browser.open(server.url, { viewport: { width: 360, height: 740 } });
    try {
      await state(page, "question");
      // MiniBrowser's toolbar keeps its window 447 px wide at least.
      assert.ok((await checkLayout(page, "the start question")).canvas.width < 480);
      await page.click("#answer-no");
      await running(page);
      await checkLayout(page, "in the page");
    } finally {
      await page.close();
    }
  });
}

// Every file of the folder, sw.js aside: what the service worker keeps.
const files = (dir, under = "") =>
  readdirSync(path.join(dir, under), { withFileTypes: true }).flatMap((e) =>
    e.isDirectory() ? files(dir, path.join(under, e.name)) : under + e.name === "sw.js" ? [] : [path.join(under, e.name)]
  );
const kept = () => navigator.serviceWorker.getRegistration().then((r) => r?.active?.state === "activated");

test("installable and offline: the manifest's fields and icons; the service worker keeps the show, and a second load with the server stopped plays it", async () => {
  const own = await serve(site); // an address of its own: no worker of the other checks
  let page = await browser.open(`${own.url}?fullscreen=no`);
  try {
    await running(page);
    const m = await page.evaluate(async () => {
      const link = document.querySelector('link[rel="manifest"]');
      const json = await (await fetch(link.href)).json();
      const size = async (src) => {
        const bitmap = await createImageBitmap(await (await fetch(new URL(src, link.href))).blob());
        return `${bitmap.width}x${bitmap.height}`;
      };
      for (const icon of json.icons) icon.drawn = await size(icon.src);
      const touch = await size(document.querySelector('link[rel="apple-touch-icon"]').href);
      const start = new URL(json.start_url, link.href).href === new URL(".", location.href).href;
      return { json, touch, start, background: getComputedStyle(document.body).backgroundColor };
    });
    const { name, display, orientation, background_color: colour, icons } = m.json;
    assert.deepEqual([name, display, orientation, m.start, m.touch], ["lantern", "fullscreen", "landscape", true, "180x180"]);
    assert.equal(`rgb(${colour.match(/\w\w/g).map((h) => parseInt(h, 16)).join(", ")})`, m.background);
    for (const icon of icons) assert.equal(icon.drawn, icon.sizes, icon.src);
    const offered = icons.map((i) => `${i.purpose} ${i.sizes}`).sort();
    assert.deepEqual(offered, ["any 192x192", "any 512x512", "maskable 192x192", "maskable 512x512"]);
    if (page.devtools) {
      // Chromium's own reading: the manifest parses and the page is installable.
      assert.deepEqual((await page.devtools("Page.getAppManifest")).errors, []);
      assert.deepEqual((await page.devtools("Page.getInstallabilityErrors")).installabilityErrors, []);
    }
    await page.waitFor(kept, null, 60000);
    const stored = await page.evaluate(async () =>
      Promise.all((await caches.keys()).map(async (name) => [name, (await (await caches.open(name)).keys()).length]))
    );
    assert.deepEqual(stored.map(([, count]) => count), [files(site).length], JSON.stringify(stored));
    await page.close();
    page = null;

    own.close();
    page = await browser.open(`${own.url}?fullscreen=no`);
    await running(page, 30);
    const { findings, errors, frames } = await lantern(page);
    assert.deepEqual([findings, errors], [[], []]);
    const data = files(site).filter((f) => f.startsWith("data/")).length - 1; // files.txt lists them
    assert.deepEqual(await page.evaluate(() => [navigator.serviceWorker.controller !== null, window.lantern.dataFiles]), [true, data]);
    await running(page, frames + 10);
  } finally {
    await page?.close();
    own.close();
  }
});

if (engine === "chromium") {
  test("a changed site reaches the viewer whole: each reload runs the page and the program of one build, the new one once it is kept", async (t) => {
    const dir = mkdtempSync(path.join(tmpdir(), "lantern-web-update-"));
    const folder = path.join(dir, "site");
    cpSync(site, folder, { recursive: true });
    const own = await serve(folder);
    const page = await browser.open(`${own.url}?fullscreen=no`);
    const reload = async () => {
      await page.evaluate(() => ((window.lanternOld = true), window.location.reload()));
      await afterNavigation(page, () => !window.lanternOld && window.lantern?.state === "running" && window.lantern.frames() > 10);
      return page.evaluate(() => (window.lanternBuild || []).sort().join());
    };
    try {
      await running(page);
      await page.waitFor(kept, null, 60000);
      // A new build whose page, page script and program each say so.
      const mark = (what) => `window.lanternBuild = (window.lanternBuild || []).concat("${what}");`;
      const index = path.join(folder, "index.html");
      writeFileSync(index, readFileSync(index, "utf8").replace("</head>", `<script>${mark("index")}</script></head>`));
      appendFileSync(path.join(folder, "page.js"), `\n${mark("page")}\n`);
      appendFileSync(path.join(folder, "lantern.js"), `\n${mark("program")}\n`);
      execFileSync("bash", [path.join(root, "scripts/web-offline.sh"), folder], { stdio: "ignore" });

      // The old build plays, whole, while the new one is kept; a reload
      // then plays the new one, whole.
      assert.equal(await reload(), "");
      await page.waitFor(() => navigator.serviceWorker.getRegistration().then((r) => Boolean(r?.waiting)), null, 60000);
      let seen = "";
      for (let reloads = 1; reloads <= 3 && seen === ""; ++reloads) {
        seen = await reload();
        assert.ok(seen === "" || seen === "index,page,program", `a page and a program of two builds: ${seen}`);
        t.diagnostic(`reload ${reloads} after the new build was kept: ${seen ? "the new build" : "the old one"}`);
      }
      assert.equal(seen, "index,page,program");
    } finally {
      await page.close();
      own.close();
      rmSync(dir, { recursive: true, force: true });
    }
  });
}
