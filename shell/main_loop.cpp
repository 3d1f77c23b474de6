// The program's life on the main thread: the question, creation, the loop
// that drains every message before each idle frame, Escape, the end of the
// show, the F1 toggle and the exit.
#include "shell/main_loop.h"

#include <strings.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/window_system.h"
#include "shell/window.h"
#include "timeline/clock.h"
#include "timeline/sequencer.h"
#include "timeline/skip_ahead.h"

int g_presetFullscreenAnswer = 0;
bool g_reportFirstFrame = false;
bool (*g_drawFrameHook)() = DrawFrame;

namespace {
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 480;
constexpr int kWindowBits = 32;

std::chrono::steady_clock::time_point g_programStart;

// With LANTERN_TIMING: frames presented since the first one, and when that was.
bool g_countFrames = false;
long long g_framesPresented = 0;
std::chrono::steady_clock::time_point g_firstFrameTime;

// Prints the time to the first presented frame, once.
void ReportFirstFrame() {
  g_reportFirstFrame = false;
  g_countFrames = true;
  g_firstFrameTime = std::chrono::steady_clock::now();
  const auto elapsed = g_firstFrameTime - g_programStart;
  std::fprintf(stderr, "lantern: first frame after %lld ms\n",
               static_cast<long long>(
                   std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

// Prints how many frames were presented after the first, and how fast.
void ReportFrameRate() {
  if (!g_countFrames || g_framesPresented == 0) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - g_firstFrameTime).count();
  std::fprintf(stderr, "lantern: %lld frames in %.2f s after the first (%.1f fps)\n",
               g_framesPresented, seconds, seconds > 0.0 ? g_framesPresented / seconds : 0.0);
}
}  // namespace

void StartTimingFromEnvironment() {
  g_programStart = std::chrono::steady_clock::now();
  g_countFrames = false;
  g_framesPresented = 0;
  const char* value = std::getenv("LANTERN_TIMING");
  g_reportFirstFrame = value != nullptr && value[0] != '\0' && value[0] != '0';
}

void ReadFullscreenAnswerFromEnvironment() {
  const char* value = std::getenv("LANTERN_FULLSCREEN");
  g_presetFullscreenAnswer = 0;
  if (value == nullptr) return;
  if (strcasecmp(value, "yes") == 0) g_presetFullscreenAnswer = kAnswerYes;
  if (strcasecmp(value, "no") == 0) g_presetFullscreenAnswer = kAnswerNo;
}

void ReadStartPositionFromEnvironment() {
  g_startFrom = {0, 0};
  const char* value = std::getenv("LANTERN_FROM");
  if (value == nullptr || value[0] == '\0') return;
  ShowPosition position;
  if (!ParseShowPosition(value, &position, nullptr)) {
    std::fprintf(stderr,
                 "lantern: LANTERN_FROM=\"%s\" is not ORDER or ORDER:ROW (like 12 or 12:32); the show "
                 "starts from the beginning\n",
                 value);
    return;
  }
  g_startFrom = position;
}

namespace {

// The loop's state between passes (main thread only): set up by BeginDemo.
// The last message taken, whether it was the quit message, and Escape and
// F1 presses taken off the queue since the last idle pass: a press and
// release that both waited out a long pass (the loading after F1, at start,
// or a frame on a busy machine) still act at the next idle pass.
WindowMessage g_loopMessage = {0, 0, 0};
bool g_loopQuitTaken = false;
bool g_loopEscapePressed = false;
bool g_loopF1Pressed = false;
// Set when the window could not be created (at start or after F1).
bool g_loopCreationFailed = false;

}  // namespace

bool BeginDemo() {
  g_loopMessage = {0, 0, 0};
  g_loopQuitTaken = false;
  g_loopEscapePressed = false;
  g_loopF1Pressed = false;
  g_loopCreationFailed = false;

  int answer = g_presetFullscreenAnswer;
  if (answer == 0) {
    answer = g_windowSystem->showMessageBox("Would You Like To Run In Fullscreen Mode?",
                                            "Start FullScreen?", kBoxYesNo | kBoxIconQuestion);
  }
  if (answer == kAnswerNo) g_fullscreen = false;

  if (!CreateDemoWindow(kWindowTitle, kWindowWidth, kWindowHeight, kWindowBits, g_fullscreen)) {
    g_loopCreationFailed = true;
    return false;
  }
  return true;
}

bool RunDemoPass() {
  const WindowSystem* system = g_windowSystem;
  // Every waiting message first: no frame is drawn while the queue is busy.
  while (system->takeMessage(&g_loopMessage)) {
    if (g_loopMessage.message == kMsgQuit) {
      g_loopQuitTaken = true;
      return false;
    }
    if (g_loopMessage.message == kMsgKeyDown && g_loopMessage.wParam == kVkEscape) {
      g_loopEscapePressed = true;
    }
    if (g_loopMessage.message == kMsgKeyDown && g_loopMessage.wParam == kVkF1) {
      g_loopF1Pressed = true;
    }
    DemoWindowProc(g_hWnd, g_loopMessage.message, g_loopMessage.wParam, g_loopMessage.lParam);
  }

  // Idle pass: one frame, unless the show has ended or Escape is down.
  bool done = false;
  const auto frameStart = std::chrono::steady_clock::now();
  if ((g_active && !g_drawFrameHook()) || g_keys[kVkEscape] || g_loopEscapePressed) {
    done = true;
    g_running.store(0, std::memory_order_relaxed);
  } else {
    system->swapBuffers(g_hDC);
    if (g_active) {
      NoteFrameDuration(std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - frameStart)
                            .count());
    }
    if (g_countFrames && g_active) ++g_framesPresented;
    if (g_reportFirstFrame && g_active) ReportFirstFrame();
  }

  if (g_keys[kVkF1] || g_loopF1Pressed) {
    g_keys[kVkF1] = false;
    g_loopF1Pressed = false;
    DestroyDemoWindow();
    g_fullscreen = !g_fullscreen;
    if (!CreateDemoWindow(kWindowTitle, kWindowWidth, kWindowHeight, kWindowBits,
                          g_fullscreen)) {
      g_loopCreationFailed = true;
      return false;
    }
  }
  return !done;
}

int EndDemo() {
  if (g_loopCreationFailed) return kExitCreationFailed;
  ReportFrameRate();
  DestroyDemoWindow();
  return g_loopQuitTaken ? static_cast<int>(g_loopMessage.wParam) : 0;
}

int RunDemo() {
  if (!BeginDemo()) return kExitCreationFailed;
  while (RunDemoPass()) {
  }
  return EndDemo();
}
