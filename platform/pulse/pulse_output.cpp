// PulseAudio playback: a threaded main loop whose write requests pull the
// music player's stream. After every write, and whenever the server's
// timing report arrives, the stream's latency (what is buffered at the
// server plus the sink's own delay, interpolated between reports) goes to
// the player, so the heard position follows the figure the server reports
// as it changes, on whichever sink the stream is moved to. A suspended sink
// stalls the music (what it held is dropped, so it does not play stale when
// the sink wakes); a failed stream or a server that goes away loses it.
#include "platform/pulse/pulse_output.h"

#include <SDL.h>
#include <pulse/pulseaudio.h>

#include <cstdint>
#include <cstdio>

namespace {

// The buffer the stream asks the server to keep, writes included: deep
// enough that a busy machine does not starve the sound (the position is
// corrected by the reported latency, so depth costs nothing visible),
// short enough that the music starts promptly after a restart. Measured on
// two cores: 40 ms already played without a gap beside a busy loop per
// core; 120 ms also did with a parallel build on top (load 4.6), as did
// 250 ms, which bought nothing more.
constexpr int kTargetLatencyMs = 120;
// How often the server asks for more, at most.
constexpr int kRequestMs = 20;
// How long opening waits for a server that accepted the connection to
// answer (one that is frozen would otherwise hold it for half a minute).
constexpr pa_usec_t kOpenTimeoutUsec = 2000000;

pa_threaded_mainloop* g_loop = nullptr;
pa_context* g_context = nullptr;
pa_stream* g_stream = nullptr;
int g_rate = 44100;
// Opening gave up waiting (set by its timer, under the loop's lock).
bool g_openTimedOut = false;

void ContextState(pa_context* context, void*) {
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
    if (g_stream != nullptr) {
      char reason[160];
      std::snprintf(reason, sizeof reason, "the sound server went away: %s",
                    pa_strerror(pa_context_errno(context)));
      AudioDeviceLost(reason);
    }
  }
  pa_threaded_mainloop_signal(g_loop, 0);
}

void StreamState(pa_stream* stream, void*) {
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
    char reason[160];
    std::snprintf(reason, sizeof reason, "the sound server ended the stream: %s",
                  pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
    AudioDeviceLost(reason);
  }
  pa_threaded_mainloop_signal(g_loop, 0);
}

// The server wants bytes more: render them straight into its buffer. The
// player learns how much the stream already holds, for placing the music
// when it re-joins after a silence. While the sink is suspended nothing is
// written (it would not be heard until the sink wakes, stale by then): the
// request stands, and is answered when the sink resumes.
void StreamWrite(pa_stream* stream, size_t bytes, void*);

// The sink was suspended (idle, its device taken away, the machine asleep,
// a change of its rate): the music goes on silently, and what the stream
// holds is dropped so that the sink does not play it stale when it wakes.
// When it resumes, what it asked for meanwhile is written: the music
// re-joins.
void StreamSuspended(pa_stream* stream, void*) {
  if (pa_stream_is_suspended(stream) != 1) {
    const size_t writable = pa_stream_writable_size(stream);
    if (writable != static_cast<size_t>(-1) && writable > 0) StreamWrite(stream, writable, nullptr);
    return;
  }
  AudioDeviceStalled("the sound server suspended its output");
  pa_operation* operation = pa_stream_flush(stream, nullptr, nullptr);
  if (operation != nullptr) pa_operation_unref(operation);
}

void OpenTimedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) {
  g_openTimedOut = true;
  pa_threaded_mainloop_signal(g_loop, 0);
}

// How far the heard audio trails the end of what was written, now.
void ReportLatency(pa_stream* stream, void*) {
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
    DeviceLatencyNow(negative ? 0 : static_cast<int64_t>(latency) * g_rate / 1000000);
  }
}

void StreamWrite(pa_stream* stream, size_t bytes, void*) {
  if (pa_stream_is_suspended(stream) == 1) return;
  // The main loop's thread feeds the sound: it asks for the priority SDL
  // gives its own audio threads (a higher one where the system allows,
  // through RealtimeKit on a desktop), so a busy machine does not starve it.
  static bool raised = false;
  if (!raised) {
    raised = true;
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL);
  }
  const size_t frameBytes = 2 * sizeof(float);
  pa_usec_t latency = 0;
  int negative = 0;
  int64_t queued = -1;
  if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
    queued = negative ? 0 : static_cast<int64_t>(latency) * g_rate / 1000000;
  }
  while (bytes >= frameBytes) {
    void* data = nullptr;
    size_t size = bytes;
    if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) return;
    size -= size % frameBytes;
    if (size == 0) {
      pa_stream_cancel_write(stream);
      return;
    }
    const int frames = static_cast<int>(size / frameBytes);
    RenderMusicForDeviceQueued(static_cast<float*>(data), frames, queued);
    if (pa_stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    if (queued >= 0) queued += frames;
    bytes -= size;
  }
  ReportLatency(stream, nullptr);
}

// Waits, with the loop locked, until ready() or failed(); true when ready.
template <typename Ready, typename Failed>
bool WaitFor(Ready ready, Failed failed) {
  for (;;) {
    if (ready()) return true;
    if (failed()) return false;
    pa_threaded_mainloop_wait(g_loop);
  }
}

}  // namespace

bool OpenPulseOutput(int frequency, AudioDeviceTiming* timing, char* reason, size_t reasonSize) {
  g_rate = frequency;
  g_openTimedOut = false;
  g_loop = pa_threaded_mainloop_new();
  if (g_loop == nullptr) {
    std::snprintf(reason, reasonSize, "PulseAudio: no main loop");
    return false;
  }
  g_context = pa_context_new(pa_threaded_mainloop_get_api(g_loop), "lantern");
  pa_context_set_state_callback(g_context, ContextState, nullptr);
  if (pa_context_connect(g_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(g_loop) < 0) {
    std::snprintf(reason, reasonSize, "PulseAudio: %s", pa_strerror(pa_context_errno(g_context)));
    ClosePulseOutput();
    return false;
  }
  pa_threaded_mainloop_lock(g_loop);
  pa_time_event* timeout = pa_context_rttime_new(g_context, pa_rtclock_now() + kOpenTimeoutUsec, OpenTimedOut, nullptr);
  const bool connected = WaitFor(
      [] { return pa_context_get_state(g_context) == PA_CONTEXT_READY; },
      [] { return g_openTimedOut || !PA_CONTEXT_IS_GOOD(pa_context_get_state(g_context)); });
  bool ready = false;
  if (connected) {
    const pa_sample_spec format = {PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(frequency), 2};
    g_stream = pa_stream_new(g_context, "lantern music", &format, nullptr);
  }
  if (g_stream != nullptr) {
    pa_stream_set_state_callback(g_stream, StreamState, nullptr);
    pa_stream_set_write_callback(g_stream, StreamWrite, nullptr);
    pa_stream_set_latency_update_callback(g_stream, ReportLatency, nullptr);
    pa_stream_set_suspended_callback(g_stream, StreamSuspended, nullptr);
    const uint32_t bytesPerMs = static_cast<uint32_t>(frequency) * 2 * sizeof(float) / 1000;
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = kTargetLatencyMs * bytesPerMs;
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = kRequestMs * bytesPerMs;
    attr.fragsize = static_cast<uint32_t>(-1);
    const pa_stream_flags_t flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
        PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(g_stream, nullptr, &attr, flags, nullptr, nullptr) == 0) {
      ready = WaitFor([] { return pa_stream_get_state(g_stream) == PA_STREAM_READY; },
                      [] { return g_openTimedOut || !PA_STREAM_IS_GOOD(pa_stream_get_state(g_stream)); });
    }
  }
  if (timeout != nullptr) pa_threaded_mainloop_get_api(g_loop)->time_free(timeout);
  if (!ready) {
    std::snprintf(reason, reasonSize, "PulseAudio: %s",
                  g_openTimedOut ? "the server did not answer" : pa_strerror(pa_context_errno(g_context)));
    pa_threaded_mainloop_unlock(g_loop);
    ClosePulseOutput();
    return false;
  }
  const pa_buffer_attr* granted = pa_stream_get_buffer_attr(g_stream);
  const int64_t bufferFrames = granted != nullptr ? granted->tlength / (2 * sizeof(float)) : 0;
  pa_threaded_mainloop_unlock(g_loop);
  // Until the server's first report, the buffer it granted is the estimate.
  timing->latencyFrames = bufferFrames;
  timing->extrapolationLimitFrames = bufferFrames;
  return true;
}

void ResumePulseOutput() {
  if (g_stream == nullptr) return;
  pa_threaded_mainloop_lock(g_loop);
  pa_operation* operation = pa_stream_cork(g_stream, 0, nullptr, nullptr);
  if (operation != nullptr) pa_operation_unref(operation);
  pa_threaded_mainloop_unlock(g_loop);
}

void ClosePulseOutput() {
  if (g_loop == nullptr) return;
  pa_threaded_mainloop_lock(g_loop);
  if (g_stream != nullptr) {
    pa_stream_set_state_callback(g_stream, nullptr, nullptr);
    pa_stream_set_write_callback(g_stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(g_stream, nullptr, nullptr);
    pa_stream_set_suspended_callback(g_stream, nullptr, nullptr);
    pa_stream_disconnect(g_stream);
    pa_stream_unref(g_stream);
    g_stream = nullptr;
  }
  if (g_context != nullptr) {
    pa_context_set_state_callback(g_context, nullptr, nullptr);
    pa_context_disconnect(g_context);
    pa_context_unref(g_context);
    g_context = nullptr;
  }
  pa_threaded_mainloop_unlock(g_loop);
  pa_threaded_mainloop_stop(g_loop);
  pa_threaded_mainloop_free(g_loop);
  g_loop = nullptr;
}
