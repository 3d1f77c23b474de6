// The show's entry in the browser. The page starts it once the viewer has
// answered the start question; then every animation frame runs one pass of
// the shared main loop, and a 14 ms timer (and every change of the page's
// visibility) makes the music clock's passes, schedules the audio and
// drives the silent player, since the page runs without threads.
#include <emscripten.h>
#include <emscripten/eventloop.h>
#include <emscripten/html5.h>

#include "platform/music_player.h"
#include "platform/web/platform.h"
#include "render/position_code.h"
#include "shell/data_directory.h"
#include "shell/main_loop.h"
#include "shell/window.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"
#include "timeline/skip_ahead.h"

#include <cstdio>

namespace {

// Set when window creation wants the scenes loaded: the load waits for the
// next animation frame, so that the page shows the loading screen meanwhile.
bool g_loadPending = false;
// When the clock made its last pass (ms, the page's clock); negative while
// no clock runs.
double g_lastPassMs = -1.0;
// When the clock started waiting for the music to be heard (ms); negative
// when it is not waiting.
double g_waitSinceMs = -1.0;
// The longest wait (ms): an output that never starts does not hold the
// show's clock for ever.
constexpr double kLongestWaitMs = 3000.0;
long g_timer = 0;
bool g_firstFrameReported = false;
// The animation frames' interval (ms, a running mean) and the last frame's
// time; what a frame takes to reach the screen is counted in intervals.
double g_frameInterval = 1000.0 / 60.0;
double g_lastFrameTime = -1.0;
// Frame intervals from an animation frame's time to its picture on the
// screen beyond what the shared loop counts (the page sets it).
double g_framesToScreen = 0.0;

// The presentation delay follows the frame rate: the browser shows a frame
// a fixed number of its own frames after the one it was drawn in. Gaps (the
// loading, a hidden page) are not frames.
void TrackFrameInterval(double time) {
  if (g_lastFrameTime >= 0.0) {
    const double step = time - g_lastFrameTime;
    if (step > 0.0 && step < 250.0) g_frameInterval += (step - g_frameInterval) * 0.1;
  }
  g_lastFrameTime = time;
  SetWebPresentationDelay(g_framesToScreen * g_frameInterval / 1000.0);
}

void RequestLoading() { g_loadPending = true; }

// Every pass that is due: one per 14 ms since the last, however late the
// timer comes (a slow frame or the loading holds it up), so that the ticks
// follow the wall clock as the clock thread's do elsewhere.
void PumpClock() {
  if (ClockThreadsRunning() == 0 || g_running.load(std::memory_order_relaxed) == 0) {
    g_lastPassMs = -1.0;
    g_waitSinceMs = -1.0;
    return;
  }
  const double now = emscripten_get_now();
  if (g_lastPassMs < 0.0) {
    // StartClockThread has just made the first pass. The next ones count
    // from when the music is heard: an audio output that takes a second to
    // start would otherwise leave the scenes' ticks that much ahead of the
    // music.
    if (g_waitSinceMs < 0.0) g_waitSinceMs = now;
    if (!WebMusicHeard() && now - g_waitSinceMs < kLongestWaitMs) return;
    g_waitSinceMs = -1.0;
    g_lastPassMs = now;
    return;
  }
  while (now - g_lastPassMs >= kTickMilliseconds) {
    ClockPass();
    g_lastPassMs += kTickMilliseconds;
  }
}

void Pump() {
  PumpWebAudio();
  if (MusicOutputIsSilent()) PumpSilentPlayer();
  PumpClock();
}

void OnTimer(void*) { Pump(); }

// A page just hidden gets its music scheduled deeper at once, before its
// timers slow down.
EM_BOOL OnVisibilityChange(int, const EmscriptenVisibilityChangeEvent*, void*) {
  if (g_timer != 0) Pump();
  return EM_FALSE;
}

void Finish(int exitCode) {
  if (g_timer != 0) emscripten_clear_interval(g_timer);
  g_timer = 0;
  StopClockThread();
  ShutdownMusicOutput();
  EM_ASM({ if (Module.lanternEnded) Module.lanternEnded($0); }, exitCode);
}

EM_BOOL OnAnimationFrame(double time, void*) {
  TrackFrameInterval(time);
  if (g_loadPending) {
    g_loadPending = false;
    LoadAllScenes();
    // A start at a later position has set the clock itself, with its own
    // clock stopped (as a clock thread is joined first): the passes count
    // from now, not from before the skip.
    if (ShowPosition{0, 0} < g_startFrom) {
      g_lastPassMs = -1.0;
      g_waitSinceMs = -1.0;
    }
  }
  Pump();
  const int presented = WebPresentedFrames();
  const bool goOn = RunDemoPass();
  // The page may copy the frame now, while its pixels are still there.
  if (WebPresentedFrames() > presented) {
    EM_ASM({ if (Module.lanternFrameDrawn) Module.lanternFrameDrawn(); });
  }
  if (!g_firstFrameReported && WebPresentedFrames() > presented) {
    g_firstFrameReported = true;
    EM_ASM({ if (Module.lanternFirstFrame) Module.lanternFirstFrame(); });
  }
  if (!goOn) {
    Finish(EndDemo());
    return EM_FALSE;
  }
  return EM_TRUE;
}

}  // namespace

extern "C" {

// Starts the show with the viewer's answer to the start question
// (kAnswerYes or kAnswerNo), the address's from= value ("" for none) and
// whether it asks for the position code (positioncode=1).
EMSCRIPTEN_KEEPALIVE void lantern_start(int answer, const char* from, int positionCode) {
  g_drawPositionCode = positionCode != 0;
  if (from != nullptr && from[0] != '\0') {
    ShowPosition position;
    if (ParseShowPosition(from, &position, nullptr)) {
      g_startFrom = position;
    } else {
      std::fprintf(stderr,
                   "lantern: from=\"%s\" is not ORDER or ORDER:ROW (like 12 or 12:32); the show "
                   "starts from the beginning\n",
                   from);
    }
  }
  g_presetFullscreenAnswer = answer;
  ChangeToDataDirectory();
  g_loadAllScenesHook = RequestLoading;
  if (!BeginDemo()) {
    Finish(EndDemo());
    return;
  }
  g_timer = emscripten_set_interval(OnTimer, kTickMilliseconds, nullptr);
  emscripten_set_visibilitychange_callback(nullptr, EM_FALSE, OnVisibilityChange);
  emscripten_request_animation_frame_loop(OnAnimationFrame, nullptr);
}

// Frame intervals from drawing a frame to its appearance on the screen.
EMSCRIPTEN_KEEPALIVE void lantern_set_frames_to_screen(double frames) {
  if (frames >= 0.0 && frames <= 10.0) g_framesToScreen = frames;
}

// Frames presented so far, for the page's measurements.
EMSCRIPTEN_KEEPALIVE int lantern_presented_frames() { return WebPresentedFrames(); }

// The music position of the last frame drawn: order times 65536 plus row.
EMSCRIPTEN_KEEPALIVE int lantern_frame_position() { return g_scene * 65536 + g_sceneRow; }

}  // extern "C"

int main() {
  EM_ASM({ if (Module.lanternReady) Module.lanternReady(); });
  return 0;
}
