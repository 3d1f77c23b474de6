// The audio device in the browser: the page has no audio thread to pull
// the music, so the main thread renders the stream in chunks and schedules
// them back to back as Web Audio buffers, a little ahead of the audio
// clock, and seconds ahead while the page is hidden (its timers then come
// about once a second, or less often). How far the heard audio trails each
// hand-over comes from the audio context's own clock (its output
// timestamp, or its time less its latencies), so the music position
// follows what is heard. A context that stops running (the browser
// suspends it, the system interrupts it) hands the song to the silent
// clock; its schedule is dropped, and the music re-joins in step once the
// context's clock moves again.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>

#include "platform/audio_output.h"
#include "platform/web/platform.h"

namespace {

// Frames per scheduled buffer (46 ms at 44.1 kHz).
constexpr int kChunkFrames = 2048;
// After this long without a hand-over (a deep schedule draining once the
// page is shown again) the heard position is taken from the audio clock
// at every pump instead of running on from the last hand-over.
constexpr double kRereadAfterMs = 250.0;
// A context running again re-joins once its clock has moved, or after this
// long (ms) even if it has not.
constexpr double kLongestClockWaitMs = 3000.0;
// The most a hidden page schedules ahead (s); the music player's position
// marks reach back further than this.
constexpr double kLongestHiddenLeadSeconds = 8.0;

float g_chunk[kChunkFrames * 2];
bool g_open = false;
bool g_playing = false;
int g_rate = 44100;
// See SetWebPresentationDelay (s).
double g_presentationDelay = 0.0;
// The context stopped running and the song went to the silent clock.
bool g_held = false;
// The context runs again: its time and the page's time (ms) when that was
// first seen; negative before.
double g_backClock = -1.0;
double g_backSinceMs = -1.0;
// When music was last handed over (the page's clock, ms).
double g_lastHandOverMs = 0.0;
// When the last pump came, and the longest wait between two pumps since the
// page was hidden (ms; 0 while it is shown).
double g_lastPumpMs = -1.0;
double g_longestHiddenWaitMs = 0.0;

}  // namespace

// Takes the page's audio context (made when the viewer answered the start
// question, the gesture browsers want before sound) or makes one; 1 when it
// runs, else 0 with the reason.
EM_JS(int, WebAudioOpen, (int rate, char* reason, int reasonSize), {
  var fail = function(text) {
    stringToUTF8(text, reason, reasonSize);
    return 0;
  };
  var context = Module.lanternAudioContext;
  if (!context) {
    var Type = window.AudioContext || window.webkitAudioContext;
    if (!Type) return fail("this browser has no Web Audio");
    try {
      context = new Type({sampleRate : rate, latencyHint : "playback"});
    } catch (e) {
      return fail("no audio context: " + e.message);
    }
    Module.lanternAudioContext = context;
  }
  if (context.state !== "running") {
    return fail("the browser has not let the audio start");
  }
  if (context.sampleRate !== rate) {
    return fail("the audio context runs at " + context.sampleRate + " Hz, not " + rate);
  }
  var audio = {context : context, nextFrame : 0, firstFrame : -1, rate : rate, sources : [], held : false, gaps : []};
  // The audio clock's time being heard now (s): from the context's output
  // timestamp where it has a sound one, else its time less its latencies.
  // WebKitGTK's timestamp has a performanceTime on another clock (ahead of
  // performance.now() and running at twice its pace), so a timestamp from
  // the future or more than a second old is not used. Firefox is asked
  // neither: its timestamp is its time less its outputLatency, which it
  // answers, while its output starts, with a call to its audio process
  // made under the lock that its audio callback needs; through PulseAudio
  // the two deadlock now and then, and the page never runs again.
  var firefox = navigator.userAgent.indexOf("Firefox/") >= 0;
  audio.heardTime = function() {
    if (context.getOutputTimestamp && !firefox) {
      var stamp = context.getOutputTimestamp();
      var age = performance.now() - stamp.performanceTime;
      if (stamp.contextTime > 0 && stamp.performanceTime > 0 && age >= -1 && age < 1000) {
        return stamp.contextTime + age / 1000;
      }
    }
    // An output whose latency is not known (WebKitGTK reports 0; Firefox,
    // and any engine with a timestamp, is not asked) still has one, as the
    // sync measurement found it here: WebKitGTK's output plays its time
    // 40 ms late; Firefox's plays its time as it is (its timestamp, read
    // before, said the same: contextTime plus the stamp's age is its time).
    if (firefox) return context.currentTime - (context.baseLatency || 0);
    var output = context.getOutputTimestamp ? 0 : context.outputLatency || 0;
    if (!(output > 0)) output = 0.04;
    return context.currentTime - (context.baseLatency || 0) - output;
  };
  // Frames by which the heard audio trails the end of the schedule.
  audio.trail = function() { return audio.nextFrame - audio.heardTime() * audio.rate; };
  // A context that stops running keeps its scheduled buffers and plays
  // them, stale, when it runs again: they are stopped and forgotten, and
  // the schedule starts afresh at the re-join. The state is read in the
  // event, which tells each change even when the context already runs
  // again by the time the pump looks.
  audio.hold = function() {
    if (audio.held) return;
    audio.held = true;
    audio.sources.forEach(function(source) {
      source.onended = null;
      try {
        source.stop();
      } catch (e) {
      }
      source.disconnect();
    });
    audio.sources = [];
    audio.nextFrame = 0;
  };
  audio.onStateChange = function() {
    if (context.state !== "running") audio.hold();
  };
  context.addEventListener("statechange", audio.onStateChange);
  // The page asks for the context back, and for the viewer's gesture where
  // the browser wants one (audio_state.js).
  if (window.lanternAudioState) window.lanternAudioState.watch(context);
  Module.lanternAudio = audio;
  return 1;
});

// 0 while the context runs as it did; 1 while it is not running (its
// schedule dropped), with why in reason; 2 once it runs again after that.
EM_JS(int, WebAudioState, (char* reason, int reasonSize), {
  var audio = Module.lanternAudio;
  if (!audio) return 0;
  var state = audio.context.state;
  if (state !== "running") {
    audio.hold();
    var why = state === "interrupted" ? "the system interrupted the audio, as for a call or a locked screen"
              : state === "closed"    ? "the audio context was closed"
                                      : "the browser suspended the audio";
    stringToUTF8(why, reason, reasonSize);
    return 1;
  }
  return audio.held ? 2 : 0;
});

// The audio clock's time (s).
EM_JS(double, WebAudioClock, (), {
  var audio = Module.lanternAudio;
  return audio ? audio.context.currentTime : 0;
});

// The schedule starts afresh: the context runs again.
EM_JS(void, WebAudioRejoin, (), {
  var audio = Module.lanternAudio;
  if (audio) audio.held = false;
});

// 1 while the page is hidden.
EM_JS(int, WebPageHidden, (), { return document.hidden ? 1 : 0; });

// Seconds of audio scheduled beyond the audio clock.
EM_JS(double, WebAudioAhead, (), {
  var audio = Module.lanternAudio;
  if (!audio) return 1e9;
  return audio.nextFrame / audio.rate - audio.context.currentTime;
});

// Where the next buffer will start (right after what is scheduled, or a
// little after the clock when the schedule has run dry), as frames by
// which the heard audio trails it: the buffer is heard that much later.
EM_JS(double, WebAudioNextStart, (), {
  var audio = Module.lanternAudio;
  var earliest = Math.ceil((audio.context.currentTime + 0.02) * audio.rate);
  if (audio.nextFrame < earliest) audio.nextFrame = earliest;
  return audio.nextFrame - audio.heardTime() * audio.rate;
});

// Frames by which the heard audio trails the end of the schedule.
EM_JS(double, WebAudioTrail, (), { return Module.lanternAudio.trail(); });

// Schedules frames of interleaved stereo right after what is scheduled (or
// a little after the clock when the schedule has run dry) and returns by
// how many frames the heard audio now trails the end of it.
EM_JS(double, WebAudioQueue, (const float* samples, int frames), {
  var audio = Module.lanternAudio;
  var context = audio.context;
  var buffer = context.createBuffer(2, frames, audio.rate);
  var left = buffer.getChannelData(0);
  var right = buffer.getChannelData(1);
  var base = samples >> 2;
  for (var i = 0; i < frames; i++) {
    left[i] = HEAPF32[base + 2 * i];
    right[i] = HEAPF32[base + 2 * i + 1];
  }
  var earliest = Math.ceil((context.currentTime + 0.02) * audio.rate);
  if (audio.nextFrame < earliest) {
    // The schedule ran dry (the main thread was held up past the lead):
    // the silence put into the music, kept for the page's checks.
    if (audio.nextFrame > 0) audio.gaps.push([ performance.now(), earliest - audio.nextFrame ]);
    audio.nextFrame = earliest;
  }
  if (audio.firstFrame < 0) audio.firstFrame = audio.nextFrame;
  var source = context.createBufferSource();
  source.buffer = buffer;
  source.connect(context.destination);
  source.start(audio.nextFrame / audio.rate);
  audio.sources.push(source);
  source.onended = function() {
    var index = audio.sources.indexOf(source);
    if (index >= 0) audio.sources.splice(index, 1);
  };
  audio.nextFrame += frames;
  return audio.trail();
});

// 1 once the first scheduled frame is being heard (or nothing plays).
EM_JS(int, WebAudioFirstHeard, (), {
  var audio = Module.lanternAudio;
  if (!audio) return 1;
  return audio.firstFrame >= 0 && audio.heardTime() * audio.rate >= audio.firstFrame ? 1 : 0;
});

EM_JS(void, WebAudioClose, (), {
  var audio = Module.lanternAudio;
  if (!audio) return;
  audio.context.removeEventListener("statechange", audio.onStateChange);
  audio.hold();
  if (window.lanternAudioState) window.lanternAudioState.release();
  Module.lanternAudio = null;
});

namespace {
// Seconds of music to keep scheduled: the lead, or, while the page is
// hidden, at least the hidden lead and twice the longest wait between its
// timers' calls so far and a second more. Browsers run a hidden page's
// timers about once a second, and a loaded machine or a browser that
// throttles them harder leaves longer waits.
double ScheduleLead(double now) {
  if (WebPageHidden() == 0) {
    g_longestHiddenWaitMs = 0.0;
  } else if (g_lastPumpMs >= 0.0 && now - g_lastPumpMs > g_longestHiddenWaitMs) {
    g_longestHiddenWaitMs = now - g_lastPumpMs;
  }
  g_lastPumpMs = now;
  if (WebPageHidden() == 0) return kWebAudioLeadSeconds;
  const double lead = 2.0 * g_longestHiddenWaitMs / 1000.0 + 1.0;
  return lead < kWebAudioHiddenLeadSeconds ? kWebAudioHiddenLeadSeconds
         : lead > kLongestHiddenLeadSeconds ? kLongestHiddenLeadSeconds
                                            : lead;
}

}  // namespace

bool OpenAudioDevice(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize) {
  if (WebAudioOpen(frequency, reason, static_cast<int>(reasonSize)) == 0) return false;
  // Until the first hand-over says better: the lead, and the estimate may
  // run on to the end of what is scheduled.
  timing->latencyFrames = static_cast<int64_t>(kWebAudioLeadSeconds * frequency);
  timing->extrapolationLimitFrames = static_cast<int64_t>(2 * kWebAudioLeadSeconds * frequency) + kChunkFrames * 16;
  g_rate = frequency;
  g_open = true;
  g_held = false;
  g_backClock = -1.0;
  return true;
}

void ResumeAudioDevice() {
  if (g_open) g_playing = true;
}

void CloseAudioDevice() {
  if (!g_open) return;
  WebAudioClose();
  g_open = false;
  g_playing = false;
}

void SetWebPresentationDelay(double seconds) { g_presentationDelay = seconds; }

bool WebMusicHeard() { return !g_playing || g_held || WebAudioFirstHeard() != 0; }

void PumpWebAudio() {
  if (!g_playing) return;
  const double now = emscripten_get_now();
  const double lead = ScheduleLead(now);
  char reason[128] = "";
  const int state = WebAudioState(reason, sizeof reason);
  if (state != 0 && !g_held) {
    g_held = true;
    g_backClock = -1.0;
    AudioDeviceStalled(reason[0] != '\0' ? reason : "the browser suspended the audio");
  }
  if (state == 1) {
    g_backClock = -1.0;
    return;
  }
  bool rejoin = false;
  if (state == 2) {
    // Running again; an output can take a while to start, and until its
    // clock moves the silent clock keeps the show.
    const double clock = WebAudioClock();
    if (g_backClock < 0.0) {
      g_backClock = clock;
      g_backSinceMs = now;
      return;
    }
    if (clock <= g_backClock && now - g_backSinceMs < kLongestClockWaitMs) return;
    WebAudioRejoin();
    g_held = false;
    g_backClock = -1.0;
    rejoin = true;
  }
  // The picture appears a presentation delay after it is drawn: it shows
  // the music heard then, which trails the hand-over by that much less.
  const double shown = g_presentationDelay * g_rate;
  // Enough buffers for the whole lead in one pump (a hidden page's timer
  // comes once a second), and a few more.
  const int most = static_cast<int>(lead * g_rate / kChunkFrames) + 4;
  int handed = 0;
  for (; handed < most && WebAudioAhead() < lead; ++handed) {
    if (rejoin) {
      // The stream skips to what the silent clock will be at when this
      // buffer is heard.
      RenderMusicForDeviceQueued(g_chunk, kChunkFrames, static_cast<int64_t>(WebAudioNextStart() - shown));
      rejoin = false;
    } else {
      RenderMusicForDevice(g_chunk, kChunkFrames);
    }
    UpdateDeviceLatency(static_cast<int64_t>(WebAudioQueue(g_chunk, kChunkFrames) - shown));
  }
  if (handed > 0) {
    g_lastHandOverMs = now;
  } else if (now - g_lastHandOverMs > kRereadAfterMs) {
    // A deep schedule drains for seconds without a hand-over: the position
    // follows the audio clock rather than running on from the last one.
    DeviceLatencyNow(static_cast<int64_t>(WebAudioTrail() - shown));
  }
}
