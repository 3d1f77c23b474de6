// The audio device in the browser: the page has no audio thread to pull
// the music, so the main thread renders the stream in chunks and schedules
// them back to back as Web Audio buffers, a little ahead of the audio
// clock. How far the heard audio trails each hand-over comes from the
// audio context's own clock (its output timestamp, or its time less its
// latencies), so the music position follows what is heard.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>

#include "platform/audio_output.h"
#include "platform/web/platform.h"

namespace {

// Frames per scheduled buffer (46 ms at 44.1 kHz).
constexpr int kChunkFrames = 2048;
// Buffers scheduled in one pump at most (after a long stall the stream
// starts again a little ahead of the clock instead of catching up).
constexpr int kMaxChunksPerPump = 16;

float g_chunk[kChunkFrames * 2];
bool g_open = false;
bool g_playing = false;
int g_rate = 44100;
// See SetWebPresentationDelay (s).
double g_presentationDelay = 0.0;

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
  var audio = {context : context, nextFrame : 0, firstFrame : -1, rate : rate, sources : []};
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
  Module.lanternAudio = audio;
  return 1;
});

// Seconds of audio scheduled beyond the audio clock.
EM_JS(double, WebAudioAhead, (), {
  var audio = Module.lanternAudio;
  if (!audio) return 1e9;
  return audio.nextFrame / audio.rate - audio.context.currentTime;
});

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
  if (audio.nextFrame < earliest) audio.nextFrame = earliest;
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
  return audio.nextFrame - audio.heardTime() * audio.rate;
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
  audio.sources.forEach(function(source) {
    try {
      source.stop();
    } catch (e) {
    }
  });
  Module.lanternAudio = null;
});

bool OpenAudioDevice(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize) {
  if (WebAudioOpen(frequency, reason, static_cast<int>(reasonSize)) == 0) return false;
  // Until the first hand-over says better: the lead, and the estimate may
  // run on to the end of what is scheduled.
  timing->latencyFrames = static_cast<int64_t>(kWebAudioLeadSeconds * frequency);
  timing->extrapolationLimitFrames = static_cast<int64_t>(2 * kWebAudioLeadSeconds * frequency) +
                                     kChunkFrames * kMaxChunksPerPump;
  g_rate = frequency;
  g_open = true;
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

bool WebMusicHeard() { return !g_playing || WebAudioFirstHeard() != 0; }

void PumpWebAudio() {
  if (!g_playing) return;
  for (int n = 0; n < kMaxChunksPerPump && WebAudioAhead() < kWebAudioLeadSeconds; ++n) {
    RenderMusicForDevice(g_chunk, kChunkFrames);
    // The picture appears a presentation delay after it is drawn: it shows
    // the music heard then, which trails the hand-over by that much less.
    const double trail = WebAudioQueue(g_chunk, kChunkFrames) - g_presentationDelay * g_rate;
    UpdateDeviceLatency(static_cast<int64_t>(trail));
  }
}
