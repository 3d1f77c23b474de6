// The music through the audio context's troubles, in one browser engine
// (LANTERN_WEB_ENGINE): the context suspended from outside for 5 s, and the
// page hidden behind another tab for 10 s. The sound server's sink is
// recorded throughout and each stretch of it placed in the song (rendered
// by openmpt123), so that the checks see where the music stands, not only
// that something sounds.
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { mkdirSync, writeFileSync } from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";

import { launch } from "./browsers.mjs";
import { buildDir, lantern, serve, site, songRow } from "./support.mjs";

const engine = process.env.LANTERN_WEB_ENGINE || "chromium";

const RATE = 8000;
const ROWS_PER_SECOND = (31 * 64) / 238.1;
// The show starts at order 12 (92.2 s into the song): from there the song
// sounds without a pause for 75 s, every 50 ms of it louder than 0.039
// (RMS), so a quieter stretch is a gap.
const FROM = "12";
const GAP_RMS = 0.005;
// A recorded stretch is placed in the song within this much (s) of where
// it should be: a pattern repeats after 7.7 s, and the search stays well
// inside that.
const SEARCH = 4;
// Found in the song: the normalised correlation of a recorded fifth of a
// second with the song there. Measured: 0.95 to 1.0 where the music is
// whole; mostly under 0.8 across a break of a starved output, and at the
// same beat of another bar.
const CLEAR = 0.9;
// How far the picture may move from where it should stand (s): a row is
// 0.12 s, and the program takes the position ahead by up to 0.16 s as its
// frames take longer.
const PICTURE_TOLERANCE = 0.5;
// On this shared machine a browser's own output goes without sound now and
// then (tens to hundreds of ms, a quarter of the time at load 20) whatever
// the page does; music missing for most of a stretch is the page's.
const HEARD_SHARE = 0.5;

// The song as heard at the sound server, mono at RATE, with its 4-sample
// means (a crude 2 kHz copy) for a coarse search first.
class Song {
  constructor(samples) {
    this.fine = samples;
    this.coarse = decimate(samples);
    this.fineEnergy = prefixEnergy(this.fine);
    this.coarseEnergy = prefixEnergy(this.coarse);
  }

  // Where (s) a recorded stretch starts in the song, searched from one song
  // time to another, and the normalised correlation there.
  find(stretch, from, to) {
    const block = decimate(stretch);
    let best = { at: -1, level: -1 };
    const first = Math.max(0, Math.floor((from * RATE) / 4));
    const last = Math.min(this.coarse.length - block.length, Math.ceil((to * RATE) / 4));
    for (let lag = first; lag <= last; ++lag) {
      const level = correlation(block, this.coarse, lag, this.coarseEnergy);
      if (level > best.level) best = { at: lag, level };
    }
    if (best.at < 0) return { seconds: -1, level: 0 };
    let fine = { at: 4 * best.at, level: -1 };
    for (let lag = 4 * best.at - 6; lag <= 4 * best.at + 6; ++lag) {
      if (lag < 0 || lag + stretch.length > this.fine.length) continue;
      const level = correlation(stretch, this.fine, lag, this.fineEnergy);
      if (level > fine.level) fine = { at: lag, level };
    }
    return { seconds: fine.at / RATE, level: fine.level };
  }
}

function decimate(samples) {
  const out = new Float32Array(Math.floor(samples.length / 4));
  for (let i = 0; i < out.length; ++i) out[i] = (samples[4 * i] + samples[4 * i + 1] + samples[4 * i + 2] + samples[4 * i + 3]) / 4;
  return out;
}

function prefixEnergy(samples) {
  const sums = new Float64Array(samples.length + 1);
  for (let i = 0; i < samples.length; ++i) sums[i + 1] = sums[i] + samples[i] * samples[i];
  return sums;
}

function correlation(block, song, lag, songEnergy) {
  let dot = 0;
  let energy = 0;
  for (let i = 0; i < block.length; ++i) {
    dot += block[i] * song[lag + i];
    energy += block[i] * block[i];
  }
  const there = songEnergy[lag + block.length] - songEnergy[lag];
  return energy > 0 && there > 0 ? dot / Math.sqrt(energy * there) : 0;
}

function int16ToFloat(bytes) {
  const out = new Float32Array(bytes.length >> 1);
  for (let i = 0; i < out.length; ++i) out[i] = bytes.readInt16LE(2 * i) / 32768;
  return out;
}

function renderSong() {
  const raw = execFileSync(
    "openmpt123",
    ["--quiet", "--batch", "--stdout", "--samplerate", String(RATE), "--channels", "1", "--no-float", path.join(buildDir, "data", "TRK-MAIN.mo3")],
    { maxBuffer: 1 << 24, stdio: ["ignore", "pipe", "ignore"] }
  );
  return new Song(int16ToFloat(raw));
}

// Records the sound server's sink (LANTERN_WEB_SINK), mono at RATE, once
// started() has resolved (parec can take a while to start on a loaded
// machine). sampleAt(ms) is the sample the sink played at that time of the
// test's clock (Date.now), from the reads that came soonest after their
// samples; heard(sinceMs, ms) waits until the recording holds that much
// sound since then; stop() waits until it holds a given time, and resolves
// to the samples.
function record() {
  const recorder = spawn(
    "parec",
    [`--device=${process.env.LANTERN_WEB_SINK}.monitor`, "--raw", "--format=s16le", "--channels=1", `--rate=${RATE}`, "--latency-msec=20"],
    { stdio: ["ignore", "pipe", "pipe"] }
  );
  const parts = [];
  let bytes = 0;
  let origin = Infinity;
  let began;
  const beginning = new Promise((resolve) => (began = resolve));
  // Whether each 10 ms of the recording sounds (one sample of it not 0).
  const sounds = [];
  recorder.stdout.on("data", (data) => {
    parts.push(data);
    const block = RATE / 100;
    for (let i = (block - ((bytes / 2) % block)) % block; 2 * i + 1 < data.length; i += block) sounds.push(data.readInt16LE(2 * i) !== 0);
    bytes += data.length;
    origin = Math.min(origin, Date.now() - (bytes / 2 / RATE) * 1000);
    began();
  });
  const exited = new Promise((resolve) => recorder.on("exit", resolve));
  const sampleAt = (ms) => Math.round(((ms - origin) * RATE) / 1000);
  const soundSince = (ms) => 10 * sounds.slice(Math.max(0, Math.floor(sampleAt(ms) / (RATE / 100)))).filter((sounded) => sounded).length;
  return {
    sampleAt,
    heard: async (sinceMs, ms, what) => {
      for (let waited = 0; soundSince(sinceMs) < ms && waited < 30000; waited += 50) await new Promise((resolve) => setTimeout(resolve, 50));
      assert.ok(soundSince(sinceMs) >= ms, `${what}: ${soundSince(sinceMs)} ms of sound at the sound server in 30 s`);
    },
    started: () => Promise.race([beginning, exited.then(() => assert.fail("parec ended before recording anything"))]),
    stop: async (untilMs = 0) => {
      for (let waited = 0; bytes / 2 < sampleAt(untilMs) && waited < 10000; waited += 50) await new Promise((resolve) => setTimeout(resolve, 50));
      recorder.kill("SIGTERM");
      await exited;
      const all = Buffer.concat(parts);
      return int16ToFloat(all.subarray(0, all.length & ~1));
    },
  };
}

function rms(samples, from, to) {
  let sum = 0;
  for (let i = from; i < to; ++i) sum += samples[i] * samples[i];
  return Math.sqrt(sum / Math.max(1, to - from));
}

// The silences between two samples: [where (s from the first), how long
// (ms)] for each stretch of 10 ms blocks quieter than GAP_RMS.
function silences(samples, from, to) {
  const block = RATE / 100;
  const found = [];
  let start = -1;
  for (let i = Math.max(0, from); i + block <= Math.min(to, samples.length); i += block) {
    const quiet = rms(samples, i, i + block) < GAP_RMS;
    if (quiet && start < 0) start = i;
    if (!quiet && start >= 0) {
      found.push([(start - from) / RATE, ((i - start) * 1000) / RATE]);
      start = -1;
    }
  }
  if (start >= 0) found.push([(start - from) / RATE, ((to - start) * 1000) / RATE]);
  return found;
}

// The song's time at a position shown (every row lasts as long).
const songSeconds = (position) => songRow(position) / ROWS_PER_SECOND;

// The frames the show draws, as it draws them: its position and when
// (the page's clock and the test's). lastFrame(page, afterMs) waits for a
// frame drawn after that time of the test's clock.
function noteFrames(page) {
  return page.evaluate(() => {
    const drawn = Module.lanternFrameDrawn;
    window.framesSeen = [];
    Module.lanternFrameDrawn = function () {
      window.framesSeen.push({ position: window.lantern.position(), ms: performance.now(), now: Date.now() });
      if (window.framesSeen.length > 100) window.framesSeen.shift();
      if (drawn) drawn();
    };
  });
}

async function lastFrame(page, afterMs = 0) {
  await page.waitFor((after) => window.framesSeen.length > 0 && window.framesSeen[window.framesSeen.length - 1].now > after, afterMs, 20000);
  return page.evaluate(() => window.framesSeen[window.framesSeen.length - 1]);
}

// How far the picture of a frame stands ahead of the music heard as it was
// drawn (s): its position is taken ahead by what a frame takes to reach
// the screen. A browser starved on a loaded machine breaks its output up
// (silences, and stretches heard twice), so the music at the frame is
// read from the three stretches of a fifth of a second nearest to it that
// are found in the song (only those before it where the music then
// stopped), each moved to the frame by the time between them.
function pictureAhead(song, samples, recording, frame, { stopped = false } = {}) {
  const at = recording.sampleAt(frame.now);
  const expected = songSeconds(frame.position);
  const length = RATE / 5;
  const found = [];
  for (let start = at - RATE; start <= (stopped ? at - length : at + RATE); start += RATE / 10) {
    if (start < 0 || start + length > samples.length || rms(samples, start, start + length) < 2 * GAP_RMS) continue;
    const there = expected + (start - at) / RATE;
    const match = song.find(samples.subarray(start, start + length), there - SEARCH, there + SEARCH);
    if (match.level >= CLEAR) found.push({ distance: Math.abs(start + length / 2 - at), heard: match.seconds + (at - start) / RATE });
  }
  assert.ok(found.length >= 3, `the music heard around ${frame.position.join(":")} is not the song (${found.length} stretches found)`);
  const nearest = found.sort((x, y) => x.distance - y.distance).slice(0, 3).map((f) => f.heard).sort((x, y) => x - y);
  return expected - nearest[1];
}

// With LANTERN_WEB_RECORDINGS set to a folder, what a check heard (8 kHz
// mono 16-bit raw) and what it read from the page stay there.
function keep(name, samples, facts) {
  const folder = process.env.LANTERN_WEB_RECORDINGS;
  if (!folder || !samples) return;
  mkdirSync(folder, { recursive: true });
  const stamp = `${engine}-${name}-${Date.now()}`;
  writeFileSync(path.join(folder, `${stamp}.raw`), Buffer.from(Int16Array.from(samples, (v) => Math.round(v * 32767)).buffer));
  writeFileSync(path.join(folder, `${stamp}.json`), JSON.stringify(facts));
}

// The silences the page itself put into the music (its schedule ran dry)
// between two times of its clock: [when (s after the first), how long (ms)].
const pageGaps = (page, sinceMs, untilMs) =>
  page.evaluate(
    ([since, until]) =>
      Module.lanternAudio.gaps.filter((gap) => gap[0] >= since && gap[0] <= until).map((gap) => [((gap[0] - since) / 1000).toFixed(2), Math.round(gap[1] / 44.1)]),
    [sinceMs, untilMs]
  );

let browser;
let server;
let song;

before(async () => {
  song = renderSong();
  server = await serve(site);
  browser = await launch(engine);
});

after(async () => {
  await browser?.close();
  server?.close();
});

// The show from order 12, its music heard, its frames noted. The position
// is taken ahead only by the program's own part of the frame's way to the
// screen (framestoscreen=0), which moves little with the frame rate.
async function startShow() {
  const page = await browser.open(`${server.url}?fullscreen=no&framestoscreen=0&from=${FROM}`);
  await page.waitFor(() => window.lantern.state === "running" && window.lantern.frames() > 30, null, 60000);
  assert.equal((await lantern(page)).audio, "web audio");
  await noteFrames(page);
  const recording = record();
  await recording.started();
  // The music has reached the sound server and settled.
  await recording.heard(0, 2500, "the music is not heard");
  return { page, recording };
}

test("the audio context suspended from outside for 5 s: the show goes on on the silent clock, the page asks for a tap, and after it the music is back in step", async (t) => {
  const { page, recording } = await startShow();
  let samples = null;
  const facts = {};
  try {
    // The browser suspends the context and, as one that wants a gesture
    // first, refuses to resume it until the viewer acts.
    const earlier = await lastFrame(page);
    facts.earlier = earlier;
    await page.evaluate(() => {
      const context = Module.lanternAudioContext;
      context.resume = () => Promise.reject(new DOMException("wants a gesture", "NotAllowedError"));
      return context.suspend();
    });
    const suspendedAt = Date.now();
    facts.suspendedAt = suspendedAt;
    await page.waitFor(() => !document.getElementById("audio-paused").hidden, null, 30000);
    assert.match(
      await page.evaluate(() => document.getElementById("audio-paused").textContent),
      /paused the music\. Tap, click or press a key to hear it again\./
    );
    const findings = (await lantern(page)).findings;
    assert.ok(
      findings.some((line) => /^lantern: the audio device stopped \(the browser suspended the audio\); the music goes on silently/.test(line)),
      JSON.stringify(findings)
    );
    // Still suspended after 5 s, the show has gone on in time, drawing.
    await page.sleep(Math.max(0, suspendedAt + 5000 - Date.now()));
    const during = await lastFrame(page, suspendedAt + 3000);
    facts.during = during;
    assert.equal(await page.evaluate(() => Module.lanternAudioContext.state), "suspended");
    const moved = songSeconds(during.position) - songSeconds(earlier.position);
    assert.ok(Math.abs(moved - (during.ms - earlier.ms) / 1000) <= PICTURE_TOLERANCE,
      `the show moved ${moved.toFixed(2)} s of the song in ${((during.ms - earlier.ms) / 1000).toFixed(2)} s`);

    // The viewer taps the picture, and the browser lets the context run.
    const tappedAt = Date.now();
    facts.tappedAt = tappedAt;
    await page.evaluate(() => delete Module.lanternAudioContext.resume);
    await page.click("#canvas");
    await page.waitFor(() => Module.lanternAudioContext.state === "running" && document.getElementById("audio-paused").hidden, null, 30000);
    await recording.heard(tappedAt, 2000, "the music is not heard after the tap");
    const resumed = await lastFrame(page);
    facts.resumed = resumed;
    samples = await recording.stop(resumed.now + 2500);

    // Silent from half a second into the suspension until the tap.
    const silence = rms(samples, recording.sampleAt(suspendedAt + 500), recording.sampleAt(tappedAt));
    assert.ok(silence < GAP_RMS / 5, `the suspended context still sounded (${silence.toFixed(4)} RMS)`);
    // The picture stands as far from the music as it did before.
    const aheadBefore = pictureAhead(song, samples, recording, earlier, { stopped: true });
    const aheadAfter = pictureAhead(song, samples, recording, resumed);
    // Nothing of what was scheduled before the suspension plays when the
    // music comes back: its first fifth of a second is not the song where
    // it stopped.
    let stoppedAt = recording.sampleAt(earlier.now);
    while (stoppedAt < samples.length && rms(samples, stoppedAt, stoppedAt + RATE / 4) >= GAP_RMS) stoppedAt += RATE / 100;
    let backAt = recording.sampleAt(tappedAt);
    while (backAt < samples.length && rms(samples, backAt, backAt + RATE / 100) < GAP_RMS) backAt += RATE / 100;
    const stoppedSong = songSeconds(earlier.position) - aheadBefore + (stoppedAt - recording.sampleAt(earlier.now)) / RATE;
    const first = song.find(samples.subarray(backAt, backAt + RATE / 5), stoppedSong - 0.1, stoppedSong + 0.3);
    t.diagnostic(
      `${engine}: the music came back ${((backAt - recording.sampleAt(tappedAt)) / RATE).toFixed(2)} s after the tap; its first fifth of a second against where it stopped: ${first.level.toFixed(2)}; ` +
        `the picture ahead of the music by ${aheadBefore.toFixed(2)} s before the suspension, ${aheadAfter.toFixed(2)} s after`
    );
    assert.ok(first.level < CLEAR, `the music came back with what was scheduled before the suspension (${first.level.toFixed(2)})`);
    assert.ok(Math.abs(aheadAfter - aheadBefore) <= PICTURE_TOLERANCE,
      `the picture stood ${aheadBefore.toFixed(2)} s ahead of the music before the suspension, ${aheadAfter.toFixed(2)} s after`);

    // A browser that lets the page resume the context: the page does, with
    // no gesture, and the music is heard again.
    const second = record();
    await second.started();
    await page.sleep(500);
    const suspendedAgainAt = Date.now();
    await page.evaluate(() => Module.lanternAudioContext.suspend());
    const suspendedAgain = Date.now();
    await page.waitFor(() => Module.lanternAudioContext.state === "running", null, 30000);
    await second.heard(suspendedAgain, 1000, "the music is not heard after the page resumed the context");
    const recorded = await second.stop();
    const silent = silences(recorded, second.sampleAt(suspendedAgainAt), recorded.length).find((gap) => gap[1] >= 100);
    t.diagnostic(`${engine}: suspended again, the page resumed it itself; silent ${silent ? `for ${Math.round(silent[1])} ms` : "for less than 0.1 s"}`);
    assert.deepEqual(await page.evaluate(() => window.lantern.errors), []);
  } finally {
    if (samples === null) samples = await recording.stop();
    keep("suspended", samples, { frames: facts, sampleAt: Object.fromEntries(Object.entries(facts).map(([k, v]) => [k, recording.sampleAt(v.now ?? v)])) });
    await page.close();
  }
});

test("the page hidden for 10 s behind another tab: the music plays on without a gap, and shown again the picture is where the music is", async (t) => {
  const { page, recording } = await startShow();
  let samples = null;
  const facts = {};
  try {
    // The page notes when it is hidden and shown, and how its timers come
    // meanwhile.
    await page.evaluate(() => {
      const seen = (window.visibilitySeen = { changes: [], timerGaps: [] });
      let last = performance.now();
      document.addEventListener("visibilitychange", () => seen.changes.push([document.hidden, performance.now()]));
      setInterval(() => {
        const now = performance.now();
        if (document.hidden) seen.timerGaps.push(Math.round(now - last));
        last = now;
      }, 14);
    });
    const earlier = await lastFrame(page);
    facts.earlier = earlier;
    const hidingAt = Date.now();
    facts.hidingAt = hidingAt;
    const showAgain = await page.hide();
    await page.waitFor(() => document.hidden, null, 10000);
    await page.sleep(10000);
    await showAgain();
    const shownAt = Date.now();
    facts.shownAt = shownAt;
    const again = await lastFrame(page, shownAt);
    facts.again = again;
    // A deep schedule drains for a few seconds after the page is shown.
    await page.sleep(2000);
    const later = await lastFrame(page, again.now + 1500);
    facts.later = later;
    samples = await recording.stop(later.now + 2500);

    const seen = await page.evaluate(() => window.visibilitySeen);
    const hidden = seen.changes.find((change) => change[0]);
    const visible = seen.changes.find((change) => !change[0] && hidden && change[1] > hidden[1]);
    assert.ok(hidden && visible && visible[1] - hidden[1] > 9500, `${engine} did not hide the page for 10 s: ${JSON.stringify(seen.changes)}`);
    const timerGaps = seen.timerGaps.slice().sort((a, b) => b - a);
    const quiet = silences(samples, recording.sampleAt(hidingAt), recording.sampleAt(shownAt));
    const silent = quiet.reduce((sum, gap) => sum + gap[1], 0);
    t.diagnostic(
      `${engine}, hidden ${((visible[1] - hidden[1]) / 1000).toFixed(1)} s: ${timerGaps.length} timer calls, the longest gaps ${timerGaps.slice(0, 3).join(", ")} ms; ` +
        `${quiet.length} silences at the sound server, ${Math.round(silent)} ms in all, the longest ${Math.max(0, ...quiet.map((gap) => gap[1]))} ms`
    );
    // The music was heard, and the page kept it scheduled throughout.
    const hiddenMs = shownAt - hidingAt;
    assert.ok(silent < (1 - HEARD_SHARE) * hiddenMs, `the music was silent for ${Math.round(silent)} ms of the ${hiddenMs} ms hidden`);
    assert.deepEqual(await pageGaps(page, earlier.ms, visible[1]), [], "the page's schedule ran dry while hidden ([s after hiding, ms of silence])");
    // Shown again, and while the deep schedule drains, the picture stands
    // as far from the music as it did earlier.
    const aheads = [earlier, again, later].map((frame) => pictureAhead(song, samples, recording, frame));
    t.diagnostic(`the picture ahead of the music by ${aheads.map((ahead) => ahead.toFixed(2)).join(", ")} s: before hiding, shown again, 2 s later`);
    for (const ahead of aheads.slice(1)) {
      assert.ok(Math.abs(ahead - aheads[0]) <= PICTURE_TOLERANCE,
        `the picture stood ${aheads[0].toFixed(2)} s ahead of the music before the page was hidden, then ${aheads.slice(1).map((a) => a.toFixed(2)).join(" and ")} s`);
    }
    assert.deepEqual(await page.evaluate(() => window.lantern.errors), []);
  } finally {
    if (samples === null) samples = await recording.stop();
    keep("hidden", samples, { frames: facts, sampleAt: Object.fromEntries(Object.entries(facts).map(([k, v]) => [k, recording.sampleAt(v.now ?? v)])) });
    await page.close();
  }
});
