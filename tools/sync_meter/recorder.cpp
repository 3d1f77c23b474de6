// The sync meter's recorder: one PulseAudio connection (the monitors' record
// streams and the marker stream) on a threaded main loop, opened again when
// the server goes away, one thread reading the screen, one flipping the
// marker patch. Every time is CLOCK_MONOTONIC.
#include "tools/sync_meter/recorder.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <pulse/pulseaudio.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "render/position_code.h"

namespace syncmeter {
namespace {

int64_t Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntil(int64_t nanos) {
  timespec ts;
  ts.tv_sec = nanos / 1000000000;
  ts.tv_nsec = nanos % 1000000000;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
  }
}

template <typename T>
T MedianOf(std::vector<T> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// A stretch of one monitor recorded without a hole, and its clock's
// readings (framesRead counted from the stretch's first frame).
struct Segment {
  std::vector<float> mono;
  std::vector<AudioTiming> timing;
};

// The moment a segment's first frame was captured, from its readings.
double SegmentOrigin(const Segment& segment, int rate, size_t last) {
  std::vector<double> origins;
  const size_t from = segment.timing.size() > last ? segment.timing.size() - last : 0;
  for (size_t i = from; i < segment.timing.size(); ++i) {
    const AudioTiming& t = segment.timing[i];
    origins.push_back(static_cast<double>(t.nanos) - t.latencyMicros * 1e3 - t.framesRead * 1e9 / rate);
  }
  return MedianOf(origins);
}

struct Session;

// One monitor: a new segment opens with each new stream (the server came
// back) and when a read comes over 100 ms after the last one (a suspended
// sink, a stalled server, or only a busy machine: the segments' clocks
// tell, when they are laid out).
struct Capture {
  Session* session = nullptr;
  std::string source;
  pa_stream* stream = nullptr;
  std::vector<Segment> segments;
  bool fresh = true;          // the next read starts a segment
  int64_t lastRead = 0;       // when the last read came
  int64_t lastAsked = 0;      // when a timing report was last asked for
  int64_t streamFrames = 0;   // frames read from this stream
  int64_t segmentFrame = 0;   // the stream's frame that begins the last segment
  std::vector<float> incoming;
};

struct Session {
  const RecordOptions* options;
  Recording* recording;
  std::mutex mutex;  // guards recording's vectors and the captures' segments
  std::atomic<bool> stop{false};
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  std::deque<Capture> captures;
  pa_stream* marker = nullptr;
  int64_t markerFrames = 0;   // frames written to the marker streams
  int64_t firstBurst = 0;     // marker frame of burst 0
  int64_t period = 0;
  int64_t burstFrames = 0;
  // The marker stream now playing began at this marker frame; its clock
  // readings are recorded from this index of recording->markerTiming on.
  int64_t epochFrame = 0;
  size_t epochReading = 0;
  int64_t markerAsked = 0;  // when the marker stream's timing was last asked for
};

// A server's timing report is stamped with the wall clock: the same moment
// on CLOCK_MONOTONIC.
int64_t MonotonicOf(const timeval& stamp) {
  timespec real;
  clock_gettime(CLOCK_REALTIME, &real);
  const int64_t now = Now();
  const int64_t realNanos = static_cast<int64_t>(real.tv_sec) * 1000000000 + real.tv_nsec;
  return static_cast<int64_t>(stamp.tv_sec) * 1000000000 + static_cast<int64_t>(stamp.tv_usec) * 1000 -
         (realNanos - now);
}

// Asks for a timing report at most every 50 ms (the automatic ones thin
// out to one every 1.5 s).
void AskTiming(pa_stream* stream, int64_t* asked) {
  const int64_t now = Now();
  if (now - *asked < 50000000) return;
  *asked = now;
  pa_operation* operation = pa_stream_update_timing_info(stream, nullptr, nullptr);
  if (operation != nullptr) pa_operation_unref(operation);
}

// ---- Sound -------------------------------------------------------------

void ContextState(pa_context*, void* data) {
  pa_threaded_mainloop_signal(static_cast<Session*>(data)->loop, 0);
}

void StreamState(pa_stream*, void* data) {
  pa_threaded_mainloop_signal(static_cast<Session*>(data)->loop, 0);
}

void CaptureState(pa_stream*, void* data) {
  pa_threaded_mainloop_signal(static_cast<Capture*>(data)->session->loop, 0);
}

void RecordRead(pa_stream* stream, size_t, void* data) {
  Capture* capture = static_cast<Capture*>(data);
  Session* session = capture->session;
  std::vector<float>& incoming = capture->incoming;
  incoming.clear();
  for (;;) {
    const void* bytes = nullptr;
    size_t size = 0;
    if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) break;
    const size_t frames = size / (2 * sizeof(float));
    if (bytes == nullptr) {
      incoming.insert(incoming.end(), frames, 0.0f);  // a hole
    } else {
      const float* samples = static_cast<const float*>(bytes);
      for (size_t i = 0; i < frames; ++i) incoming.push_back(0.5f * (samples[2 * i] + samples[2 * i + 1]));
    }
    pa_stream_drop(stream);
  }
  const int64_t now = Now();
  std::lock_guard<std::mutex> lock(session->mutex);
  if (session->recording->startNanos == 0) session->recording->startNanos = now;
  if (capture->fresh || capture->segments.empty() || now - capture->lastRead > 100000000) {
    capture->segments.emplace_back();
    capture->segmentFrame = capture->streamFrames;
  }
  capture->fresh = false;
  capture->lastRead = now;
  Segment& segment = capture->segments.back();
  segment.mono.insert(segment.mono.end(), incoming.begin(), incoming.end());
  capture->streamFrames += static_cast<int64_t>(incoming.size());
  AskTiming(stream, &capture->lastAsked);
}

// A timing report of a monitor's stream: at its stamp, the server had
// written write_index into the stream, the source held source_usec more,
// and the sink had rendered sink_usec ahead of what it played (a monitor
// gets the sink's sound as it is rendered). Dated by the server's own
// report rather than interpolated, so that a sink that changes its latency
// (a stream moved, a new server) does not bend the dating while the
// client's estimate catches up. A suspended stream's report dates nothing.
void MonitorReport(pa_stream* stream, void* data) {
  Capture* capture = static_cast<Capture*>(data);
  Session* session = capture->session;
  const pa_timing_info* info = pa_stream_get_timing_info(stream);
  if (info == nullptr || info->write_index_corrupt || info->write_index < 0 || pa_stream_is_suspended(stream) == 1) {
    return;
  }
  const int64_t written = info->write_index / static_cast<int64_t>(2 * sizeof(float));
  const int64_t latency = static_cast<int64_t>(info->source_usec) - static_cast<int64_t>(info->sink_usec);
  std::lock_guard<std::mutex> lock(session->mutex);
  // Before this stream's first read its segment is not open yet.
  if (capture->fresh || capture->segments.empty() || written < capture->segmentFrame) return;
  capture->segments.back().timing.push_back({MonotonicOf(info->timestamp), latency, written - capture->segmentFrame});
}

void RecordOverflow(pa_stream*, void* data) {
  Session* session = static_cast<Capture*>(data)->session;
  std::lock_guard<std::mutex> lock(session->mutex);
  ++session->recording->overflows;
}

void MarkerUnderflow(pa_stream*, void* data) {
  Session* session = static_cast<Session*>(data);
  std::lock_guard<std::mutex> lock(session->mutex);
  ++session->recording->markerUnderruns;
}

// Silence with a faded tone burst every period, continuous in phase.
void MarkerWrite(pa_stream* stream, size_t bytes, void* data) {
  Session* session = static_cast<Session*>(data);
  const int rate = session->options->rate;
  const double hz = MarkerHz(rate);
  void* buffer = nullptr;
  size_t size = bytes;
  if (pa_stream_begin_write(stream, &buffer, &size) < 0 || buffer == nullptr) return;
  float* out = static_cast<float*>(buffer);
  const size_t frames = size / sizeof(float);
  for (size_t i = 0; i < frames; ++i) {
    const int64_t frame = session->markerFrames + static_cast<int64_t>(i);
    float value = 0.0f;
    if (frame >= session->firstBurst) {
      const int64_t into = (frame - session->firstBurst) % session->period;
      if (into < session->burstFrames) {
        const double fade = 0.5 - 0.5 * std::cos(2.0 * M_PI * (into + 0.5) / session->burstFrames);
        value = static_cast<float>(kMarkerLevel * fade * std::sin(2.0 * M_PI * hz * static_cast<double>(frame) / rate));
      }
    }
    out[i] = value;
  }
  pa_stream_write(stream, buffer, frames * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
  session->markerFrames += static_cast<int64_t>(frames);
  AskTiming(stream, &session->markerAsked);
}

// A timing report of the marker stream: at its stamp, the sink was playing
// what lies sink_usec before read_index.
void MarkerReport(pa_stream* stream, void* data) {
  Session* session = static_cast<Session*>(data);
  const pa_timing_info* info = pa_stream_get_timing_info(stream);
  if (info == nullptr || info->read_index_corrupt || info->read_index < 0 || pa_stream_is_suspended(stream) == 1) {
    return;
  }
  const int64_t played = static_cast<int64_t>(pa_bytes_to_usec(info->read_index, pa_stream_get_sample_spec(stream))) -
                         static_cast<int64_t>(info->sink_usec);
  if (played <= 0) return;
  std::lock_guard<std::mutex> lock(session->mutex);
  session->recording->markerTiming.push_back(
      {MonotonicOf(info->timestamp), played + session->epochFrame * 1000000 / session->options->rate});
}

// Waits, with the loop locked, until ready() or failed() or the deadline
// (a frozen server answers nothing); true when ready.
template <typename Ready, typename Failed>
bool WaitFor(Session* session, int64_t deadline, Ready ready, Failed failed) {
  for (;;) {
    if (ready()) return true;
    if (failed() || Now() > deadline) return false;
    pa_threaded_mainloop_unlock(session->loop);
    SleepUntil(Now() + 2000000);
    pa_threaded_mainloop_lock(session->loop);
  }
}

bool StreamReady(Session* session, pa_stream* stream, int64_t deadline) {
  return WaitFor(
      session, deadline, [&] { return pa_stream_get_state(stream) == PA_STREAM_READY; },
      [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)); });
}

// Connects to the server and opens every stream; false (with why) when the
// server does not answer by the deadline or refuses a stream.
bool StartSound(Session* session, int64_t deadline, std::string* why) {
  const RecordOptions& options = *session->options;
  session->loop = pa_threaded_mainloop_new();
  session->context = pa_context_new(pa_threaded_mainloop_get_api(session->loop), "lantern-sync-meter");
  pa_context_set_state_callback(session->context, ContextState, session);
  if (pa_context_connect(session->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(session->loop) < 0) {
    *why = std::string("cannot reach the sound server: ") + pa_strerror(pa_context_errno(session->context));
    return false;
  }
  pa_threaded_mainloop_lock(session->loop);
  if (!WaitFor(
          session, deadline, [&] { return pa_context_get_state(session->context) == PA_CONTEXT_READY; },
          [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(session->context)); })) {
    *why = std::string("cannot reach the sound server: ") + pa_strerror(pa_context_errno(session->context));
    pa_threaded_mainloop_unlock(session->loop);
    return false;
  }
  const uint32_t rate = static_cast<uint32_t>(options.rate);
  const pa_stream_flags_t flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);

  bool ok = true;
  const pa_sample_spec stereo = {PA_SAMPLE_FLOAT32NE, rate, 2};
  for (Capture& capture : session->captures) {
    {
      std::lock_guard<std::mutex> lock(session->mutex);
      capture.fresh = true;
      capture.streamFrames = 0;
    }
    capture.stream = pa_stream_new(session->context, "sync meter: monitor", &stereo, nullptr);
    pa_stream_set_state_callback(capture.stream, CaptureState, &capture);
    pa_stream_set_read_callback(capture.stream, RecordRead, &capture);
    pa_stream_set_latency_update_callback(capture.stream, MonitorReport, &capture);
    pa_stream_set_overflow_callback(capture.stream, RecordOverflow, &capture);
    pa_buffer_attr recordAttr;
    recordAttr.maxlength = rate * 2 * sizeof(float) * 4;  // 4 s before anything is dropped
    recordAttr.fragsize = rate * 2 * sizeof(float) * 5 / 1000;
    recordAttr.tlength = recordAttr.prebuf = recordAttr.minreq = static_cast<uint32_t>(-1);
    ok = pa_stream_connect_record(capture.stream, capture.source.c_str(), &recordAttr, flags) == 0 &&
         StreamReady(session, capture.stream, deadline);
    if (!ok) break;
  }
  if (ok && options.markers) {
    const pa_sample_spec mono = {PA_SAMPLE_FLOAT32NE, rate, 1};
    {
      std::lock_guard<std::mutex> lock(session->mutex);
      session->epochFrame = session->markerFrames;
      session->epochReading = session->recording->markerTiming.size();
    }
    session->marker = pa_stream_new(session->context, "sync meter: markers", &mono, nullptr);
    pa_stream_set_state_callback(session->marker, StreamState, session);
    pa_stream_set_write_callback(session->marker, MarkerWrite, session);
    pa_stream_set_latency_update_callback(session->marker, MarkerReport, session);
    pa_stream_set_underflow_callback(session->marker, MarkerUnderflow, session);
    pa_buffer_attr markerAttr;
    markerAttr.maxlength = markerAttr.prebuf = markerAttr.fragsize = static_cast<uint32_t>(-1);
    // Deep enough not to run dry on a machine loaded well past its cores
    // (100 ms ran dry up to a dozen times a run at a load of 15 to 20, and
    // each underrun moves the stream's clock); its depth does not matter,
    // since each burst is dated by the server's own report, and it asks the
    // sink for less than the show's stream does.
    markerAttr.tlength = rate * sizeof(float) * 400 / 1000;
    markerAttr.minreq = rate * sizeof(float) * 20 / 1000;
    ok = pa_stream_connect_playback(session->marker, options.sink.empty() ? nullptr : options.sink.c_str(),
                                    &markerAttr, flags, nullptr, nullptr) == 0 &&
         StreamReady(session, session->marker, deadline);
  }
  if (!ok) *why = std::string("cannot open the sound streams: ") + pa_strerror(pa_context_errno(session->context));
  pa_threaded_mainloop_unlock(session->loop);
  return ok;
}

void StopSound(Session* session) {
  if (session->loop == nullptr) return;
  pa_threaded_mainloop_lock(session->loop);
  std::vector<pa_stream**> streams = {&session->marker};
  for (Capture& capture : session->captures) streams.push_back(&capture.stream);
  for (pa_stream** stream : streams) {
    if (*stream == nullptr) continue;
    pa_stream_set_state_callback(*stream, nullptr, nullptr);
    pa_stream_set_read_callback(*stream, nullptr, nullptr);
    pa_stream_set_write_callback(*stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(*stream, nullptr, nullptr);
    pa_stream_disconnect(*stream);
    pa_stream_unref(*stream);
    *stream = nullptr;
  }
  pa_context_set_state_callback(session->context, nullptr, nullptr);
  pa_context_disconnect(session->context);
  pa_context_unref(session->context);
  session->context = nullptr;
  pa_threaded_mainloop_unlock(session->loop);
  pa_threaded_mainloop_stop(session->loop);
  pa_threaded_mainloop_free(session->loop);
  session->loop = nullptr;
}

// True when the connection or one of its streams has failed.
bool SoundLost(Session* session) {
  if (session->loop == nullptr) return true;
  pa_threaded_mainloop_lock(session->loop);
  bool lost = !PA_CONTEXT_IS_GOOD(pa_context_get_state(session->context));
  for (const Capture& capture : session->captures) {
    lost = lost || capture.stream == nullptr || !PA_STREAM_IS_GOOD(pa_stream_get_state(capture.stream));
  }
  if (session->options->markers) {
    lost = lost || session->marker == nullptr || !PA_STREAM_IS_GOOD(pa_stream_get_state(session->marker));
  }
  pa_threaded_mainloop_unlock(session->loop);
  return lost;
}

// The monitors' segments laid on one timeline, the first monitor's first
// segment at frame 0, each other one where its clock puts it; the first
// monitor's readings date the whole.
void Assemble(Session* session) {
  Recording* recording = session->recording;
  const int rate = recording->rate;
  double reference = 0.0;
  bool dated = false;
  for (const Segment& segment : session->captures.front().segments) {
    if (segment.timing.empty()) continue;
    reference = SegmentOrigin(segment, rate, segment.timing.size());
    dated = true;
    break;
  }
  recording->mono.clear();
  recording->audioTiming.clear();
  for (size_t c = 0; c < session->captures.size(); ++c) {
    int64_t end = -1;  // where this monitor's previous segment ended
    for (const Segment& segment : session->captures[c].segments) {
      int64_t at = end < 0 ? 0 : end;
      if (dated && !segment.timing.empty()) {
        at = std::llround((SegmentOrigin(segment, rate, segment.timing.size()) - reference) * rate / 1e9);
        // Within 20 ms of the previous one's end, it only looks moved (the
        // readings wander that far while a sink changes its latency).
        if (end >= 0 && std::llabs(at - end) <= rate / 50) at = end;
      }
      const int64_t size = static_cast<int64_t>(segment.mono.size());
      if (at + size > static_cast<int64_t>(recording->mono.size())) recording->mono.resize(at + size, 0.0f);
      for (int64_t i = std::max<int64_t>(0, -at); i < size; ++i) recording->mono[at + i] += segment.mono[i];
      end = at + size;
      if (c != 0) continue;
      recording->segmentNanos.push_back(static_cast<int64_t>(reference + at * 1e9 / rate));
      for (const AudioTiming& t : segment.timing) {
        recording->audioTiming.push_back({t.nanos, t.latencyMicros, at + t.framesRead});
      }
    }
  }
}

// ---- Screen ------------------------------------------------------------

// A shared-memory image of a small part of the root window.
struct ShmArea {
  XImage* image = nullptr;
  XShmSegmentInfo info{};
};

bool MakeArea(Display* display, int width, int height, ShmArea* area) {
  const int screen = DefaultScreen(display);
  area->image = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                                nullptr, &area->info, width, height);
  if (area->image == nullptr) return false;
  area->info.shmid = shmget(IPC_PRIVATE, area->image->bytes_per_line * height, IPC_CREAT | 0600);
  area->info.shmaddr = area->image->data = static_cast<char*>(shmat(area->info.shmid, nullptr, 0));
  area->info.readOnly = False;
  const bool attached = XShmAttach(display, &area->info);
  XSync(display, False);
  shmctl(area->info.shmid, IPC_RMID, nullptr);
  return attached;
}

void FreeArea(Display* display, ShmArea* area) {
  if (area->image == nullptr) return;
  XShmDetach(display, &area->info);
  XDestroyImage(area->image);
  shmdt(area->info.shmaddr);
  area->image = nullptr;
}

// 1 for a light pixel, 0 for a dark one, -1 for neither (a torn or blended read).
int Level(XImage* image, int x, int y) {
  const unsigned long pixel = XGetPixel(image, x, y);
  const int r = static_cast<int>((pixel & image->red_mask) >> __builtin_ctzl(image->red_mask));
  const int g = static_cast<int>((pixel & image->green_mask) >> __builtin_ctzl(image->green_mask));
  const int b = static_cast<int>((pixel & image->blue_mask) >> __builtin_ctzl(image->blue_mask));
  const int sum = r + g + b;
  if (sum > 3 * 180) return 1;
  if (sum < 3 * 75) return 0;
  return -1;
}

// Reads the strip whose first cell's top-left pixel is (x, y) in image.
bool ReadCode(XImage* image, int x, int y, int* order, int* row) {
  uint8_t cells[kPositionCodeCells];
  for (int i = 0; i < kPositionCodeCells; ++i) {
    const int level = Level(image, x + i * kPositionCodeCell + kPositionCodeCell / 2, y + kPositionCodeCell / 2);
    if (level < 0) return false;
    cells[i] = static_cast<uint8_t>(level);
  }
  return DecodePositionCode(cells, order, row);
}

// Looks over the whole screen for a strip; its first cell's corner in *x, *y.
bool FindCode(Display* display, int* x, int* y) {
  const int screen = DefaultScreen(display);
  const int width = DisplayWidth(display, screen);
  const int height = DisplayHeight(display, screen);
  XImage* image = XGetImage(display, RootWindow(display, screen), 0, 0, width, height, AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  const int span = kPositionCodeCells * kPositionCodeCell;
  bool found = false;
  for (int sy = 0; sy + kPositionCodeCell <= height && !found; ++sy) {
    for (int sx = 0; sx + span <= width && !found; ++sx) {
      // The corner of a white cell whose left and upper neighbours are not white.
      if (Level(image, sx, sy) != 1 || Level(image, sx + kPositionCodeCell, sy) != 0) continue;
      if (sx > 0 && Level(image, sx - 1, sy) == 1) continue;
      if (sy > 0 && Level(image, sx, sy - 1) == 1) continue;
      int order;
      int row;
      if (ReadCode(image, sx, sy, &order, &row)) {
        *x = sx;
        *y = sy;
        found = true;
      }
    }
  }
  XDestroyImage(image);
  return found;
}

constexpr int kPatchSize = 32;

void GrabScreen(Session* session) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  const int patchX = DisplayWidth(display, screen) - kPatchSize + kPatchSize / 2 - 4;
  const int patchY = DisplayHeight(display, screen) - kPatchSize + kPatchSize / 2 - 4;
  ShmArea strip;
  ShmArea patch;
  if (!MakeArea(display, kPositionCodeCells * kPositionCodeCell, kPositionCodeCell, &strip) ||
      !MakeArea(display, 8, 8, &patch)) {
    XCloseDisplay(display);
    return;
  }
  int codeX = -1;
  int codeY = -1;
  int lastOrder = -1;
  int lastRow = -1;
  int lastPatch = -1;
  int misses = 0;
  int64_t nextFind = 0;
  int64_t next = Now();
  while (!session->stop.load(std::memory_order_relaxed)) {
    next += 2000000;
    SleepUntil(next);
    const int64_t before = Now();
    if (codeX < 0 && before >= nextFind) {
      if (!FindCode(display, &codeX, &codeY)) codeX = -1;
      nextFind = Now() + 200000000;
      misses = 0;
    }
    const int64_t start = Now();
    bool haveCode = false;
    int order = 0;
    int row = 0;
    if (codeX >= 0 && XShmGetImage(display, root, strip.image, codeX, codeY, AllPlanes)) {
      haveCode = ReadCode(strip.image, 0, 0, &order, &row);
    }
    int colour = -1;
    if (XShmGetImage(display, root, patch.image, patchX, patchY, AllPlanes)) colour = Level(patch.image, 4, 4);
    const int64_t when = start + (Now() - start) / 2;
    std::lock_guard<std::mutex> lock(session->mutex);
    ++session->recording->grabs;
    if (haveCode) {
      misses = 0;
      if (order != lastOrder || row != lastRow) session->recording->codes.push_back({when, order, row});
      lastOrder = order;
      lastRow = row;
    } else if (codeX >= 0 && ++misses > 250) {
      codeX = -1;  // gone for half a second: look for it again
    }
    if (colour >= 0 && colour != lastPatch) {
      session->recording->patches.push_back({when, colour, -1});
      lastPatch = colour;
    }
  }
  FreeArea(display, &strip);
  FreeArea(display, &patch);
  XCloseDisplay(display);
}

// Median of (when - played) over the recent readings of the marker stream
// now playing: the monotonic time at which marker frame 0 played.
bool MarkerOrigin(Session* session, int64_t* origin) {
  std::vector<int64_t> values;
  {
    std::lock_guard<std::mutex> lock(session->mutex);
    const std::vector<MarkerTiming>& timing = session->recording->markerTiming;
    const size_t from = std::max(session->epochReading, timing.size() > 50 ? timing.size() - 50 : 0);
    for (size_t i = from; i < timing.size(); ++i) values.push_back(timing[i].nanos - timing[i].playedMicros * 1000);
  }
  if (values.size() < 10) return false;
  *origin = MedianOf(values);
  return true;
}

// Flips the patch at the moment each burst's middle plays.
void FlipPatches(Session* session) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  const int screen = DefaultScreen(display);
  XSetWindowAttributes attributes;
  attributes.override_redirect = True;
  attributes.background_pixel = BlackPixel(display, screen);
  const Window window = XCreateWindow(display, RootWindow(display, screen), DisplayWidth(display, screen) - kPatchSize,
                                      DisplayHeight(display, screen) - kPatchSize, kPatchSize, kPatchSize, 0,
                                      CopyFromParent, InputOutput, CopyFromParent,
                                      CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display, window);
  XSync(display, False);
  const int rate = session->options->rate;
  for (int k = 0; !session->stop.load(std::memory_order_relaxed); ++k) {
    int64_t origin = 0;
    while (!MarkerOrigin(session, &origin)) {
      if (session->stop.load(std::memory_order_relaxed)) break;
      SleepUntil(Now() + 20000000);
    }
    if (session->stop.load(std::memory_order_relaxed)) break;
    const int64_t first = session->firstBurst + k * session->period;
    const int64_t middle = origin + (first * 2 + session->burstFrames) * 500000000LL / rate;
    if (Now() > middle - 1000000) continue;  // too late for this one
    SleepUntil(middle);
    const int colour = k % 2 == 0 ? 1 : 0;
    XSetWindowBackground(display, window, colour ? WhitePixel(display, screen) : BlackPixel(display, screen));
    XClearWindow(display, window);
    XRaiseWindow(display, window);
    XSync(display, False);
    const int64_t drawn = Now();
    std::lock_guard<std::mutex> lock(session->mutex);
    session->recording->markers.push_back({k, first, colour, drawn});
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
}

}  // namespace

bool Record(const RecordOptions& options, Recording* recording, std::string* why) {
  *recording = Recording();
  recording->rate = options.rate;
  Display* probe = XOpenDisplay(nullptr);
  if (probe == nullptr) {
    *why = "cannot open the X display (DISPLAY)";
    return false;
  }
  const bool shm = XShmQueryExtension(probe);
  XCloseDisplay(probe);
  if (!shm) {
    *why = "the X server has no MIT-SHM extension";
    return false;
  }
  if (options.sources.empty()) {
    *why = "no monitor to record";
    return false;
  }
  if (options.beginNanos > Now()) SleepUntil(options.beginNanos);
  Session session;
  session.options = &options;
  session.recording = recording;
  session.period = static_cast<int64_t>(options.rate) * kMarkerPeriodMillis / 1000;
  session.burstFrames = static_cast<int64_t>(options.rate) * kMarkerBurstMillis / 1000;
  session.firstBurst = options.rate;  // after a second, once the clock readings have settled
  for (const std::string& source : options.sources) {
    session.captures.emplace_back();
    session.captures.back().session = &session;
    session.captures.back().source = source;
  }
  if (!StartSound(&session, Now() + 10000000000LL, why)) {
    StopSound(&session);
    return false;
  }
  std::thread grabber(GrabScreen, &session);
  std::thread flipper;
  if (options.markers) flipper = std::thread(FlipPatches, &session);
  // Until the end, a lost server is looked for every 50 ms.
  const int64_t end = Now() + static_cast<int64_t>(options.seconds * 1e9);
  for (int64_t now = Now(); now < end; now = Now()) {
    SleepUntil(std::min(end, now + 50000000));
    if (Now() < end && SoundLost(&session)) {
      StopSound(&session);
      std::string ignored;
      if (!StartSound(&session, end, &ignored)) StopSound(&session);
    }
  }
  session.stop.store(true, std::memory_order_relaxed);
  grabber.join();
  if (flipper.joinable()) flipper.join();
  StopSound(&session);
  Assemble(&session);
  return true;
}

}  // namespace syncmeter
