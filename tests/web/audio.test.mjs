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
      if (window.framesSeen.length > 2000) window.framesSeen.shift();
      if (drawn) drawn();
    };
  });
}

// The frames drawn between two times of the test's clock, latest first
// where asked.
async function framesBetween(page, fromMs, toMs, { latestFirst = false } = {}) {
  const frames = (await page.evaluate(() => window.framesSeen)).filter((frame) => frame.now >= fromMs && frame.now <= toMs);
  return latestFirst ? frames.reverse() : frames;
}

async function lastFrame(page, afterMs = 0) {
  await page.waitFor((after) => window.framesSeen.length > 0 && window.framesSeen[window.framesSeen.length - 1].now > after, afterMs, 20000);
  return page.evaluate(() => window.framesSeen[window.framesSeen.length - 1]);
}

// Where the music heard at the sound server stood (s of the song) as a
// frame was drawn: read from the three stretches of a fifth of a second
// nearest to it, within a second, that are found in the song (only those
// before it where the music then stopped), each moved to the frame by the
// time between them; null where the output is too broken up for that.
function musicAt(song, samples, recording, frame, stopped) {
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
  if (found.length < 3) return null;
  return found.sort((x, y) => x.distance - y.distance).slice(0, 3).map((f) => f.heard).sort((x, y) => x - y)[1];
}

// How far the picture stands ahead of the music heard (s), at the first of
// the frames where the music can be read: its position is taken ahead by
// what a frame takes to reach the screen.
function pictureAhead(song, samples, recording, frames, { stopped = false } = {}) {
  for (const frame of frames) {
    const heard = musicAt(song, samples, recording, frame, stopped);
    if (heard !== null) return { frame, heard, ahead: songSeconds(frame.position) - heard };
  }
  assert.ok(frames.length > 0, "no frame drawn where the music is to be read");
  assert.fail(`the music heard around ${frames.length} frames from ${frames[0].position.join(":")} is not the song`);
}

// How long (ms) the output was broken up between two samples: silent, or
// sounding but not the song where it goes on from the song's time `songAt`
// at the first. A browser starved on a loaded machine breaks its output
// up (silences, and stretches heard twice) while its audio clock runs on:
// the music then falls behind the picture by up to that much.
function brokenMs(song, samples, from, to, songAt) {
  const length = RATE / 5;
  let broken = 0;
  let offset = songAt - from / RATE;
  for (let start = from; start + length <= Math.min(to, samples.length); start += RATE / 10) {
    const there = offset + start / RATE;
    const match = rms(samples, start, start + length) < 2 * GAP_RMS ? null : song.find(samples.subarray(start, start + length), there - 0.6, there + 0.6);
    if (match !== null && match.level >= CLEAR) offset = match.seconds - start / RATE;
    else broken += 100;
  }
  return broken;
}

// The picture stands as far ahead of the music as it did before, or at
// most by the output's breaks further ahead.
function assertInStep(before, after, broken, what) {
  const change = after.ahead - before.ahead;
  assert.ok(change >= -PICTURE_TOLERANCE && change <= PICTURE_TOLERANCE + broken / 1000,
    `${what}, the picture stood ${after.ahead.toFixed(2)} s ahead of the music, ${before.ahead.toFixed(2)} s before (the output broken up for ${broken} ms between)`);
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
    const beforeSuspending = await framesBetween(page, Date.now() - 5000, Date.now(), { latestFirst: true });
    await page.evaluate(() => {
      const context = Module.lanternAudioContext;
      context.resume = () => Promise.reject(new DOMException("wants a gesture", "NotAllowedError"));
      return context.suspend();
    });
    const suspendedAt = (facts.suspendedAt = Date.now());
    await page.waitFor(() => !document.getElementById("audio-paused").hidden, null, 30000);
    assert.match(
      await page.evaluate(() => document.getElementById("audio-paused").textContent),
      /paused the music\. Tap, click or press a key to hear it again\./
    );
    // The line under the picture comes from the context's own event; the
    // finding from the program's next pump of the audio, a frame or a
    // timer call later.
    const stalled = /^lantern: the audio device stopped \(the browser suspended the audio\); the music goes on silently/;
    const noted = await page
      .waitFor((pattern) => window.lantern.findings.some((line) => new RegExp(pattern).test(line)), stalled.source, 5000)
      .then(() => true, () => false);
    assert.ok(noted, JSON.stringify((await lantern(page)).findings));
    // Still suspended after 5 s, the show has gone on at the wall clock's
    // pace, drawing.
    const onSilentClock = await lastFrame(page, suspendedAt + 1000);
    await page.sleep(Math.max(0, suspendedAt + 5000 - Date.now()));
    const during = await lastFrame(page, onSilentClock.now + 2000);
    assert.equal(await page.evaluate(() => Module.lanternAudioContext.state), "suspended");
    const moved = songSeconds(during.position) - songSeconds(onSilentClock.position);
    assert.ok(Math.abs(moved - (during.ms - onSilentClock.ms) / 1000) <= PICTURE_TOLERANCE,
      `the show moved ${moved.toFixed(2)} s of the song in ${((during.ms - onSilentClock.ms) / 1000).toFixed(2)} s`);

    // The viewer taps the picture, and the browser lets the context run.
    const tappedAt = (facts.tappedAt = Date.now());
    await page.evaluate(() => delete Module.lanternAudioContext.resume);
    await page.click("#canvas");
    await page.waitFor(() => Module.lanternAudioContext.state === "running" && document.getElementById("audio-paused").hidden, null, 30000);
    await recording.heard(tappedAt, 6000, "the music is not heard after the tap");
    const end = Date.now();
    samples = await recording.stop(end);

    // Silent from half a second into the suspension until the tap.
    const silence = rms(samples, recording.sampleAt(suspendedAt + 500), recording.sampleAt(tappedAt));
    assert.ok(silence < GAP_RMS / 5, `the suspended context still sounded (${silence.toFixed(4)} RMS)`);
    let stoppedAt = recording.sampleAt(beforeSuspending[0].now);
    while (stoppedAt < samples.length && rms(samples, stoppedAt, stoppedAt + RATE / 4) >= GAP_RMS) stoppedAt += RATE / 100;
    let backAt = recording.sampleAt(tappedAt);
    while (backAt < samples.length && rms(samples, backAt, backAt + RATE / 100) < GAP_RMS) backAt += RATE / 100;
    // The picture against the music just before the suspension, and once
    // the music is back.
    const before = pictureAhead(song, samples, recording, beforeSuspending, { stopped: true });
    const afterBack = (await framesBetween(page, tappedAt, end - 1000)).filter((frame) => recording.sampleAt(frame.now) >= backAt + (3 * RATE) / 10);
    const after = pictureAhead(song, samples, recording, afterBack);
    Object.assign(facts, { before, after, stoppedAt, backAt });
    // Nothing of what was scheduled before the suspension plays when the
    // music comes back, before the music that is due or under it: its
    // first fifth of a second is not more like the song where it stopped
    // than like the song where it goes on.
    const stoppedSong = before.heard + (stoppedAt - recording.sampleAt(before.frame.now)) / RATE;
    const backSong = after.heard - (recording.sampleAt(after.frame.now) - backAt) / RATE;
    const first = samples.subarray(backAt, backAt + RATE / 5);
    const stale = song.find(first, stoppedSong - 0.1, stoppedSong + 0.3).level;
    const due = song.find(first, backSong - 0.3, backSong + 0.3).level;
    assert.ok(stale < 0.6 || stale < due - 0.1, `the music came back with what was scheduled before the suspension (${stale.toFixed(2)} against ${due.toFixed(2)})`);
    const broken =
      brokenMs(song, samples, recording.sampleAt(before.frame.now), stoppedAt, before.heard) +
      brokenMs(song, samples, backAt, recording.sampleAt(after.frame.now), backSong);
    t.diagnostic(
      `${engine}: the music came back ${((backAt - recording.sampleAt(tappedAt)) / RATE).toFixed(2)} s after the tap; its first fifth of a second like the song where it stopped by ${stale.toFixed(2)}, where it goes on by ${due.toFixed(2)}; ` +
        `the picture ahead of the music by ${before.ahead.toFixed(2)} s before the suspension, ${after.ahead.toFixed(2)} s after (the output broken up for ${broken} ms)`
    );
    assertInStep(before, after, broken, "After the suspension");

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
    keep("suspended", samples, facts);
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
    await lastFrame(page);
    const hidingAt = (facts.hidingAt = Date.now());
    const showAgain = await page.hide();
    await page.waitFor(() => document.hidden, null, 30000);
    await page.sleep(10000);
    await showAgain();
    const shownAt = (facts.shownAt = Date.now());
    // A deep schedule drains for a few seconds after the page is shown; a
    // starved browser's output may break up for seconds.
    await lastFrame(page, shownAt + 14000);
    const end = Date.now();
    samples = await recording.stop(end);

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
    // The page kept the music scheduled throughout, and it was heard.
    assert.deepEqual(await pageGaps(page, hidden[1] - 1000, visible[1]), [], "the page's schedule ran dry while hidden ([s after hiding, ms of silence])");
    assert.ok(shownAt - hidingAt - silent >= 1000, `the music was heard for ${shownAt - hidingAt - silent} ms of the ${shownAt - hidingAt} ms hidden`);
    // The picture against the music before the page was hidden, as soon as
    // the music can be read after it is shown again, and 2 s later while
    // the deep schedule drains.
    const before = pictureAhead(song, samples, recording, await framesBetween(page, hidingAt - 5000, hidingAt, { latestFirst: true }));
    const again = pictureAhead(song, samples, recording, await framesBetween(page, shownAt, shownAt + 6000));
    const later = pictureAhead(song, samples, recording, await framesBetween(page, again.frame.now + 2000, again.frame.now + 6000));
    facts.framesShown = await framesBetween(page, shownAt, end);
    Object.assign(facts, { before, again, later });
    const from = recording.sampleAt(before.frame.now);
    const brokenAgain = brokenMs(song, samples, from, recording.sampleAt(again.frame.now), before.heard);
    const brokenLater = brokenMs(song, samples, from, recording.sampleAt(later.frame.now), before.heard);
    t.diagnostic(
      `the picture ahead of the music by ${[before, again, later].map((m) => m.ahead.toFixed(2)).join(", ")} s: before hiding, shown again, 2 s later ` +
        `(the output broken up for ${brokenAgain} and ${brokenLater} ms since before hiding)`
    );
    assertInStep(before, again, brokenAgain, "Shown again");
    assertInStep(before, later, brokenLater, "2 s after the page was shown again");
    assert.deepEqual(await page.evaluate(() => window.lantern.errors), []);
  } finally {
    if (samples === null) samples = await recording.stop();
    keep("hidden", samples, facts);
    await page.close();
  }
});
