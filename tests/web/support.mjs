// Support for the browser checks: a static server on 127.0.0.1 for the web
// folder, the page's own record of the show, the canvas's pixels and their
// per-region mean colours, and frames of the native capture tool for
// comparison. The engines are in browsers.mjs.
import { execFileSync, spawn } from "node:child_process";
import { createReadStream, existsSync, mkdtempSync, readdirSync, rmSync, statSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import path from "node:path";

export const site = process.env.LANTERN_WEB_SITE;
export const buildDir = process.env.LANTERN_BUILD_DIR;

const types = {
  ".html": "text/html; charset=utf-8",
  ".js": "text/javascript",
  ".css": "text/css",
  ".wasm": "application/wasm",
  ".txt": "text/plain",
  ".png": "image/png",
  ".webmanifest": "application/manifest+json",
};

// Serves a folder as any static server would; resolves to its address and
// close(), which also drops the connections kept open, so that nothing
// more is served.
export function serve(root) {
  const server = createServer((request, response) => {
    const url = new URL(request.url, "http://127.0.0.1");
    const file = path.join(root, decodeURIComponent(url.pathname === "/" ? "/index.html" : url.pathname));
    if (!file.startsWith(root) || !existsSync(file) || !statSync(file).isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { "Content-Type": types[path.extname(file)] || "application/octet-stream" });
    createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => {
    server.listen(0, "127.0.0.1", () => {
      resolve({
        url: `http://127.0.0.1:${server.address().port}/`,
        close: () => {
          server.close();
          server.closeAllConnections();
        },
      });
    });
  });
}

export function lantern(page) {
  return page.evaluate(() => ({
    errors: window.lantern.errors.slice(),
    state: window.lantern.state,
    audio: window.lantern.audio,
    findings: window.lantern.findings.slice(),
    frames: window.lantern.frames(),
    position: window.lantern.position(),
    firstFrameMs: window.lantern.firstFrameMs,
    startMs: window.lantern.startMs,
    exitCode: window.lantern.exitCode,
  }));
}

// Rows of the song from its start to a position (every pattern has 64).
export function songRow(position) {
  return position[0] * 64 + position[1];
}

export const WIDTH = 640;
export const HEIGHT = 480;

// RGB bytes of a PNG (through ImageMagick), top row first.
export function pngToRgb(png) {
  return execFileSync("convert", ["png:-", "-depth", "8", "rgb:-"], { input: png, maxBuffer: 1 << 24 });
}

// The canvas as shown, 640 x 480 RGB.
export async function canvasRgb(page) {
  const rgb = pngToRgb(await page.canvasPng());
  if (rgb.length !== WIDTH * HEIGHT * 3) throw new Error(`canvas screenshot of ${rgb.length} bytes`);
  return rgb;
}

// Mean colour of each cell of a 4 x 4 grid (160 x 120 pixels each).
export function regionMeans(rgb) {
  const means = [];
  for (let gy = 0; gy < 4; ++gy) {
    for (let gx = 0; gx < 4; ++gx) {
      const sum = [0, 0, 0];
      for (let y = gy * 120; y < gy * 120 + 120; ++y) {
        for (let x = gx * 160; x < gx * 160 + 160; ++x) {
          const i = 3 * (y * WIDTH + x);
          sum[0] += rgb[i];
          sum[1] += rgb[i + 1];
          sum[2] += rgb[i + 2];
        }
      }
      means.push(sum.map((s) => s / (160 * 120)));
    }
  }
  return means;
}

// The largest difference of any channel of any region's mean colour.
export function largestRegionDifference(a, b) {
  let largest = 0;
  for (let r = 0; r < a.length; ++r) {
    for (let c = 0; c < 3; ++c) largest = Math.max(largest, Math.abs(a[r][c] - b[r][c]));
  }
  return largest;
}

export function differingPixels(a, b, threshold) {
  let count = 0;
  for (let i = 0; i < a.length; i += 3) {
    if (
      Math.abs(a[i] - b[i]) > threshold ||
      Math.abs(a[i + 1] - b[i + 1]) > threshold ||
      Math.abs(a[i + 2] - b[i + 2]) > threshold
    ) {
      ++count;
    }
  }
  return count;
}

// The native capture's frames from one music position to another, as RGB.
export function captureFrames(from, to) {
  const dir = mkdtempSync(path.join(tmpdir(), "lantern-web-capture-"));
  try {
    execFileSync(
      path.join(buildDir, "lantern-capture"),
      ["--quiet", "--from", `${from[0]}:${from[1]}`, "--to", `${to[0]}:${to[1]}`, "--out", dir],
      { stdio: ["ignore", "ignore", "pipe"] }
    );
    return readdirSync(dir)
      .filter((name) => name.endsWith(".png"))
      .sort()
      .map((name) => ({ name, rgb: execFileSync("convert", [path.join(dir, name), "-depth", "8", "rgb:-"], { maxBuffer: 1 << 24 }) }));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// What reaches the PulseAudio server's sink (LANTERN_WEB_SINK, in
// PULSE_SERVER) over a stretch of time: the root mean square of the
// samples (0..1) and how many came. Null where no server is set.
export function listen(milliseconds) {
  if (!process.env.PULSE_SERVER || !process.env.LANTERN_WEB_SINK) return Promise.resolve(null);
  return new Promise((resolve, reject) => {
    const recorder = spawn(
      "parec",
      [`--device=${process.env.LANTERN_WEB_SINK}.monitor`, "--raw", "--format=s16le", "--channels=1", "--rate=8000", "--latency-msec=20"],
      { stdio: ["ignore", "pipe", "pipe"] }
    );
    let squares = 0;
    let samples = 0;
    let errors = "";
    let rest = Buffer.alloc(0);
    recorder.stdout.on("data", (data) => {
      const all = Buffer.concat([rest, data]);
      const whole = all.length & ~1;
      for (let i = 0; i < whole; i += 2) {
        const v = all.readInt16LE(i) / 32768;
        squares += v * v;
      }
      samples += whole / 2;
      rest = all.subarray(whole);
    });
    recorder.stderr.on("data", (data) => (errors += data));
    recorder.on("error", reject);
    recorder.on("exit", () => {
      if (samples === 0 && errors) reject(new Error(`parec: ${errors}`));
      else resolve({ rms: samples ? Math.sqrt(squares / samples) : 0, samples });
    });
    setTimeout(() => recorder.kill("SIGTERM"), milliseconds);
  });
}
