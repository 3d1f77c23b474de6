// The three browser engines behind one small interface, each started as it
// works on a machine with no GPU and no display: Debian's chromium headless
// (SwiftShader's WebGL) and firefox-esr in a window on the X server in
// DISPLAY (headless Firefox has no WebGL here), both driven by
// puppeteer-core (Chromium's DevTools protocol, Firefox's WebDriver BiDi);
// WebKitGTK's MiniBrowser in a window through WebKitWebDriver (classic
// WebDriver over HTTP, spoken here with fetch). Sound goes to the PulseAudio
// server in PULSE_SERVER where one is set.
//
// launch(engine, { sound }) resolves to a browser whose open(url, options)
// resolves to a page with: evaluate(fn, arg) (fn runs in the page, its
// promise is awaited, the result comes back as JSON), waitFor(fn, arg, ms),
// sleep(ms), click(selector), tap(selector) (a finger's tap where the
// engine can emulate touch, else a click), press(key) (a key's press and
// release), canvasPng(), screenshot() (the viewport as PNG),
// setViewport(shape) (a phone turned), devtools(method, params)
// (Chromium's DevTools protocol; null elsewhere), messages (console
// messages and uncaught errors as {type, text}; null where the driver
// cannot see the console), hide() (another tab in front, or in WebKit the
// window taken off the screen; resolves to a function that shows the page
// again), close(). open's options: viewport, a device
// shape {width,
// height, deviceScaleFactor, isMobile, hasTouch, isLandscape} (Chromium
// emulates the device; Firefox and WebKit size the viewport or window),
// and init, a script run before the page's own (not in WebKit).
import { execFileSync, spawn } from "node:child_process";
import { createRequire } from "node:module";
import { appendFileSync } from "node:fs";
import { createServer } from "node:net";
import path from "node:path";

const require = createRequire(path.join(process.env.LANTERN_WEB_DRIVER, "package.json"));
const puppeteer = require("puppeteer-core");

export const ENGINES = ["chromium", "firefox", "webkit"];

const VIEWPORT = { width: 800, height: 640 };
const MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser";

// Each browser's process id goes into LANTERN_WEB_PIDS where it is set, so
// that tests/web/run.sh can stop a browser that outlives its driver (the
// test runner killed at its time limit): puppeteer starts browsers in a
// process group of their own.
function notePid(pid) {
  if (process.env.LANTERN_WEB_PIDS && pid) appendFileSync(process.env.LANTERN_WEB_PIDS, `${pid}\n`);
}

function sleep(ms) {
  return new Promise((resolve) => setTimeout(resolve, ms));
}

// Polls fn(arg) in the page every 50 ms until it is true; on time-out the
// error names the page's state.
async function waitFor(page, fn, arg, timeoutMs) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    if (await page.evaluate(fn, arg)) return;
    if (Date.now() > end) {
      const state = await page.evaluate(() =>
        window.lantern ? { state: window.lantern.state, position: window.lantern.position(), frames: window.lantern.frames() } : null
      );
      throw new Error(`timed out after ${timeoutMs} ms waiting for ${fn} (page: ${JSON.stringify(state)})`);
    }
    await sleep(50);
  }
}

// --- Chromium and Firefox, through puppeteer-core ---------------------------

function chromiumOptions(sound, extraArgs, window) {
  return {
    executablePath: "/usr/bin/chromium",
    headless: !window,
    defaultViewport: VIEWPORT,
    // puppeteer mutes a headless browser and keeps a hidden page's timers
    // and process as if it were shown; the checks listen to it, and hide
    // pages as a viewer does.
    ignoreDefaultArgs: ["--mute-audio", "--disable-background-timer-throttling", "--disable-backgrounding-occluded-windows", "--disable-renderer-backgrounding"],
    args: [
      "--no-sandbox",
      "--use-angle=swiftshader",
      "--enable-unsafe-swiftshader",
      "--disable-quic",
      "--no-first-run",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      sound ? "--autoplay-policy=no-user-gesture-required" : "--autoplay-policy=document-user-activation-required",
      ...extraArgs,
    ],
  };
}

function firefoxOptions(sound) {
  return {
    browser: "firefox",
    executablePath: "/usr/bin/firefox-esr",
    headless: false,
    args: ["-width", "840", "-height", "760"],
    defaultViewport: VIEWPORT,
    extraPrefsFirefox: {
      // 0: sound allowed without a gesture; 1: audible media blocked, Web
      // Audio included, until the viewer acts.
      "media.autoplay.default": sound ? 0 : 1,
      "media.autoplay.block-webaudio": !sound,
      // Full screen at once, without the transition or the notice.
      "full-screen-api.transition-duration.enter": "0 0",
      "full-screen-api.transition-duration.leave": "0 0",
      "full-screen-api.warning.timeout": 0,
      "full-screen-api.allow-trusted-requests-only": false,
    },
  };
}

// A device shape as puppeteer takes it: Chromium emulates the whole device
// (touch, scale, a mobile viewport); Firefox's driver sizes the viewport.
function viewportOf(shape, chromium) {
  if (chromium) return { deviceScaleFactor: 1, isMobile: false, hasTouch: false, isLandscape: false, ...shape };
  return { width: shape.width, height: shape.height };
}

async function puppeteerPage(browser, url, { viewport, init } = {}, chromium) {
  const page = await browser.newPage();
  const messages = [];
  page.on("console", (message) => messages.push({ type: message.type(), text: message.text() }));
  page.on("pageerror", (error) => messages.push({ type: "pageerror", text: String(error.message || error) }));
  // Before the page loads: a change of touch or mobile emulation reloads it.
  if (viewport) await page.setViewport(viewportOf(viewport, chromium));
  if (init) await page.evaluateOnNewDocument(init);
  await page.goto(url);
  const self = {
    messages,
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    waitFor: (fn, arg, timeoutMs) => waitFor(self, fn, arg, timeoutMs),
    sleep,
    click: (selector) => page.click(selector),
    tap: (selector) => (viewport?.hasTouch && chromium ? page.tap(selector) : page.click(selector)),
    press: (key) => page.keyboard.press(key),
    canvasPng: async () => Buffer.from(await (await page.$("#canvas")).screenshot({ type: "png" })),
    screenshot: async () => Buffer.from(await page.screenshot({ type: "png" })),
    setViewport: (shape) => page.setViewport(viewportOf({ ...viewport, ...shape }, chromium)),
    // Chromium's DevTools protocol, for what only the browser knows.
    devtools: chromium ? async (method, params) => (await page.createCDPSession()).send(method, params) : null,
    close: () => page.close(),
    hide: async () => {
      const other = await browser.newPage();
      await other.bringToFront();
      return async () => {
        await other.close();
        await page.bringToFront();
      };
    },
  };
  return self;
}

async function launchPuppeteer(options) {
  const browser = await puppeteer.launch({ ...options, env: process.env, protocolTimeout: 120000,
    dumpio: Boolean(process.env.LANTERN_WEB_DUMPIO),
    // The caller closes the browser (bench/web_sync.mjs on SIGTERM).
    handleSIGTERM: false,
    handleSIGINT: false,
    handleSIGHUP: false,
  });
  notePid(browser.process()?.pid);
  const chromium = options.browser !== "firefox";
  return {
    open: (url, pageOptions) => puppeteerPage(browser, url, pageOptions, chromium),
    close: () => browser.close(),
  };
}

// --- WebKitGTK, through WebKitWebDriver -------------------------------------

const WEBDRIVER_KEYS = { F1: "\uE031", Escape: "\uE00C", Enter: "\uE007", Tab: "\uE004", Space: " " };
const ELEMENT = "element-6066-11e4-a52e-4f735466cecf";

function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.on("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function launchWebKit(sound) {
  const port = await freePort();
  const driver = spawn("WebKitWebDriver", [`--port=${port}`, "--host=127.0.0.1"], {
    stdio: ["ignore", "ignore", "pipe"],
    env: process.env,
  });
  notePid(driver.pid);
  let driverErr = "";
  driver.stderr.on("data", (data) => (driverErr = (driverErr + data).slice(-4000)));
  const exited = new Promise((resolve) => driver.on("exit", resolve));
  const base = `http://127.0.0.1:${port}`;

  async function call(method, route, body) {
    const response = await fetch(base + route, {
      method,
      headers: { "content-type": "application/json" },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const reply = await response.json();
    if (!response.ok) throw new Error(`WebKitWebDriver ${method} ${route}: ${JSON.stringify(reply.value)}`);
    return reply.value;
  }

  // The driver listens within a moment of starting.
  for (let attempt = 0; ; ++attempt) {
    try {
      await call("GET", "/status");
      break;
    } catch (error) {
      if (attempt > 100) throw new Error(`WebKitWebDriver did not start: ${error.message} ${driverErr}`);
      await sleep(100);
    }
  }
  const session = await call("POST", "/session", {
    capabilities: {
      alwaysMatch: {
        "webkitgtk:browserOptions": {
          binary: MINIBROWSER,
          // "deny" holds audible media, Web Audio included, until the
          // viewer acts, as Safari does.
          args: ["--automation", `--autoplay-policy=${sound ? "allow" : "deny"}`],
        },
      },
    },
  });
  const s = `/session/${session.sessionId}`;
  await call("POST", `${s}/timeouts`, { script: 120000 });
  const desktopWindow = { x: 0, y: 0, width: VIEWPORT.width + 40, height: VIEWPORT.height + 120 };
  await call("POST", `${s}/window/rect`, desktopWindow);

  async function evaluate(fn, arg) {
    const script =
      "var done = arguments[arguments.length - 1], arg = arguments[0];" +
      `Promise.resolve().then(function () { return (${fn})(arg); })` +
      ".then(function (value) { done({ value: value === undefined ? null : value }); }," +
      " function (error) { done({ error: String((error && error.stack) || error) }); });";
    const result = await call("POST", `${s}/execute/async`, { script, args: [arg === undefined ? null : arg] });
    if (result.error !== undefined) throw new Error(`in the page: ${result.error}`);
    return result.value;
  }

  async function find(selector) {
    const found = await call("POST", `${s}/element`, { using: "css selector", value: selector });
    return found[ELEMENT];
  }

  // The window's size for a viewport of the given size: the window less
  // its viewport is MiniBrowser's frame and toolbar.
  async function sizeWindow(shape) {
    const rect = await call("GET", `${s}/window/rect`);
    const inner = await evaluate(() => [window.innerWidth, window.innerHeight]);
    await call("POST", `${s}/window/rect`, {
      width: shape.width + rect.width - inner[0],
      height: shape.height + rect.height - inner[1],
    });
  }

  let open = false;
  return {
    async open(url, { viewport, init } = {}) {
      if (open) throw new Error("one page at a time in WebKit");
      if (init) throw new Error("WebKitWebDriver runs no script before the page's own");
      open = true;
      if (viewport) await sizeWindow(viewport);
      await call("POST", `${s}/url`, { url });
      const self = {
        messages: null,
        evaluate,
        waitFor: (fn, arg, timeoutMs) => waitFor(self, fn, arg, timeoutMs),
        sleep,
        click: async (selector) => call("POST", `${s}/element/${await find(selector)}/click`, {}),
        press: async (key) => {
          const value = WEBDRIVER_KEYS[key] || key;
          await call("POST", `${s}/actions`, {
            actions: [{ type: "key", id: "keyboard", actions: [{ type: "keyDown", value }, { type: "keyUp", value }] }],
          });
          await call("DELETE", `${s}/actions`);
        },
        // WebKitGTK's element screenshot of a WebGL canvas comes back with
        // its top part black; the page's screenshot is whole, so the canvas
        // is cut out of that.
        canvasPng: async () => {
          const r = await evaluate(() => {
            const box = document.getElementById("canvas").getBoundingClientRect();
            return [box.width, box.height, box.x, box.y].map(Math.round);
          });
          const png = Buffer.from(await call("GET", `${s}/screenshot`), "base64");
          return execFileSync("convert", ["png:-", "-crop", `${r[0]}x${r[1]}+${r[2]}+${r[3]}`, "+repage", "png:-"], {
            input: png,
            maxBuffer: 1 << 25,
          });
        },
        tap: (selector) => self.click(selector),
        devtools: null,
        screenshot: async () => Buffer.from(await call("GET", `${s}/screenshot`), "base64"),
        setViewport: sizeWindow,
        // MiniBrowser opens another tab or window without hiding this one
        // (on an X server with no window manager nothing covers it): its
        // window is taken off the screen instead, as minimising does.
        hide: async () => {
          const title = await evaluate(() => document.title);
          const id = execFileSync("xdotool", ["search", "--name", title]).toString().trim().split("\n")[0];
          execFileSync("xdotool", ["windowunmap", "--sync", id]);
          return async () => {
            execFileSync("xdotool", ["windowmap", "--sync", id]);
          };
        },
        close: async () => {
          // The session keeps one window: a blank page ends the show's.
          await call("POST", `${s}/url`, { url: "about:blank" });
          if (viewport) await call("POST", `${s}/window/rect`, desktopWindow);
          open = false;
        },
      };
      return self;
    },
    async close() {
      try {
        await call("DELETE", s);
      } finally {
        driver.kill("SIGTERM");
        await Promise.race([exited, sleep(5000)]);
      }
    },
  };
}

// Starts an engine; sound: whether it lets sound start without a gesture;
// window: Chromium in a window on DISPLAY too (the others always are).
export function launch(engine, { sound = true, chromiumArgs = [], window = false } = {}) {
  if (engine === "chromium") return launchPuppeteer(chromiumOptions(sound, chromiumArgs, window));
  if (engine === "firefox") return launchPuppeteer(firefoxOptions(sound));
  if (engine === "webkit") return launchWebKit(sound);
  throw new Error(`no engine ${engine}`);
}
