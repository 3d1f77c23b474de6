// The sync meter's recorder: one PulseAudio connection (the monitor's record
// stream and the marker stream) on a threaded main loop, one thread reading
// the screen, one flipping the marker patch. Every time is CLOCK_MONOTONIC.
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

struct Session {
  const RecordOptions* options;
  Recording* recording;
  std::mutex mutex;  // guards recording's vectors
  std::atomic<bool> stop{false};
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_stream* record = nullptr;
  pa_stream* marker = nullptr;
  int64_t markerFrames = 0;   // frames written to the marker stream
  int64_t firstBurst = 0;     // marker stream frame of burst 0
  int64_t period = 0;
  int64_t burstFrames = 0;
};

// ---- Sound -------------------------------------------------------------

void ContextState(pa_context*, void* data) {
  pa_threaded_mainloop_signal(static_cast<Session*>(data)->loop, 0);
}

void StreamState(pa_stream*, void* data) {
  pa_threaded_mainloop_signal(static_cast<Session*>(data)->loop, 0);
}

void RecordRead(pa_stream* stream, size_t, void* data) {
  Session* session = static_cast<Session*>(data);
  Recording* recording = session->recording;
  std::lock_guard<std::mutex> lock(session->mutex);
  for (;;) {
    const void* bytes = nullptr;
    size_t size = 0;
    if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) break;
    const size_t frames = size / (2 * sizeof(float));
    if (bytes == nullptr) {
      recording->mono.insert(recording->mono.end(), frames, 0.0f);  // a hole
    } else {
      const float* samples = static_cast<const float*>(bytes);
      for (size_t i = 0; i < frames; ++i) {
        recording->mono.push_back(0.5f * (samples[2 * i] + samples[2 * i + 1]));
      }
    }
    pa_stream_drop(stream);
  }
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream, &latency, &negative) == 0) {
    const int64_t now = Now();
    if (recording->startNanos == 0) recording->startNanos = now;
    recording->audioTiming.push_back({now, negative ? -static_cast<int64_t>(latency) : static_cast<int64_t>(latency),
                                      static_cast<int64_t>(recording->mono.size())});
  }
}

void RecordOverflow(pa_stream*, void* data) {
  Session* session = static_cast<Session*>(data);
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
        value = static_cast<float>(kMarkerLevel * fade *
                                   std::sin(2.0 * M_PI * kMarkerHz * static_cast<double>(frame) / rate));
      }
    }
    out[i] = value;
  }
  pa_stream_write(stream, buffer, frames * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
  session->markerFrames += static_cast<int64_t>(frames);
  pa_usec_t played = 0;
  if (pa_stream_get_time(stream, &played) == 0 && played > 0) {
    std::lock_guard<std::mutex> lock(session->mutex);
    session->recording->markerTiming.push_back({Now(), static_cast<int64_t>(played)});
  }
}

bool WaitReady(Session* session, pa_stream* stream) {
  for (;;) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) return true;
    if (!PA_STREAM_IS_GOOD(state)) return false;
    pa_threaded_mainloop_wait(session->loop);
  }
}

bool StartSound(Session* session, std::string* why) {
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
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(session->context);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state)) {
      *why = std::string("cannot reach the sound server: ") + pa_strerror(pa_context_errno(session->context));
      pa_threaded_mainloop_unlock(session->loop);
      return false;
    }
    pa_threaded_mainloop_wait(session->loop);
  }
  const uint32_t rate = static_cast<uint32_t>(options.rate);
  const pa_stream_flags_t flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);

  const pa_sample_spec stereo = {PA_SAMPLE_FLOAT32NE, rate, 2};
  session->record = pa_stream_new(session->context, "sync meter: monitor", &stereo, nullptr);
  pa_stream_set_state_callback(session->record, StreamState, session);
  pa_stream_set_read_callback(session->record, RecordRead, session);
  pa_stream_set_overflow_callback(session->record, RecordOverflow, session);
  pa_buffer_attr recordAttr;
  recordAttr.maxlength = rate * 2 * sizeof(float) * 4;  // 4 s before anything is dropped
  recordAttr.fragsize = rate * 2 * sizeof(float) * 5 / 1000;
  recordAttr.tlength = recordAttr.prebuf = recordAttr.minreq = static_cast<uint32_t>(-1);
  bool ok = pa_stream_connect_record(session->record, options.source.c_str(), &recordAttr, flags) == 0 &&
            WaitReady(session, session->record);
  if (ok && options.markers) {
    const pa_sample_spec mono = {PA_SAMPLE_FLOAT32NE, rate, 1};
    session->period = static_cast<int64_t>(rate) * kMarkerPeriodMillis / 1000;
    session->burstFrames = static_cast<int64_t>(rate) * kMarkerBurstMillis / 1000;
    session->firstBurst = rate;  // after a second, once the clock readings have settled
    session->marker = pa_stream_new(session->context, "sync meter: markers", &mono, nullptr);
    pa_stream_set_state_callback(session->marker, StreamState, session);
    pa_stream_set_write_callback(session->marker, MarkerWrite, session);
    pa_stream_set_underflow_callback(session->marker, MarkerUnderflow, session);
    pa_buffer_attr markerAttr;
    markerAttr.maxlength = markerAttr.prebuf = markerAttr.fragsize = static_cast<uint32_t>(-1);
    // Deep enough not to run dry on a busy machine; its depth does not
    // matter, since each burst is dated by the server's own report.
    markerAttr.tlength = rate * sizeof(float) * 100 / 1000;
    markerAttr.minreq = rate * sizeof(float) * 10 / 1000;
    ok = pa_stream_connect_playback(session->marker, options.sink.empty() ? nullptr : options.sink.c_str(),
                                    &markerAttr, flags, nullptr, nullptr) == 0 &&
         WaitReady(session, session->marker);
  }
  if (!ok) *why = std::string("cannot open the sound streams: ") + pa_strerror(pa_context_errno(session->context));
  pa_threaded_mainloop_unlock(session->loop);
  return ok;
}

void StopSound(Session* session) {
  if (session->loop == nullptr) return;
  pa_threaded_mainloop_lock(session->loop);
  for (pa_stream** stream : {&session->record, &session->marker}) {
    if (*stream == nullptr) continue;
    pa_stream_set_state_callback(*stream, nullptr, nullptr);
    pa_stream_disconnect(*stream);
    pa_stream_unref(*stream);
    *stream = nullptr;
  }
  pa_context_set_state_callback(session->context, nullptr, nullptr);
  pa_context_disconnect(session->context);
  pa_context_unref(session->context);
  pa_threaded_mainloop_unlock(session->loop);
  pa_threaded_mainloop_stop(session->loop);
  pa_threaded_mainloop_free(session->loop);
  session->loop = nullptr;
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

// Median of (when - played) over the marker clock's readings: the monotonic
// time at which the marker stream's frame 0 played.
bool MarkerOrigin(Session* session, int64_t* origin) {
  std::vector<int64_t> values;
  {
    std::lock_guard<std::mutex> lock(session->mutex);
    const std::vector<MarkerTiming>& timing = session->recording->markerTiming;
    const size_t from = timing.size() > 200 ? timing.size() - 200 : 0;
    for (size_t i = from; i < timing.size(); ++i) values.push_back(timing[i].nanos - timing[i].playedMicros * 1000);
  }
  if (values.size() < 10) return false;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  *origin = values[values.size() / 2];
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
  Session session;
  session.options = &options;
  session.recording = recording;
  recording->mono.reserve(static_cast<size_t>(options.rate * (options.seconds + 5.0)));
  if (!StartSound(&session, why)) {
    StopSound(&session);
    return false;
  }
  std::thread grabber(GrabScreen, &session);
  std::thread flipper;
  if (options.markers) flipper = std::thread(FlipPatches, &session);
  SleepUntil(Now() + static_cast<int64_t>(options.seconds * 1e9));
  session.stop.store(true, std::memory_order_relaxed);
  grabber.join();
  if (flipper.joinable()) flipper.join();
  StopSound(&session);
  return true;
}

}  // namespace syncmeter
