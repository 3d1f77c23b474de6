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

int RunDemo() {
  const WindowSystem* system = g_windowSystem;
  int answer = g_presetFullscreenAnswer;
  if (answer == 0) {
    answer = system->showMessageBox("Would You Like To Run In Fullscreen Mode?",
                                    "Start FullScreen?", kBoxYesNo | kBoxIconQuestion);
  }
  if (answer == kAnswerNo) g_fullscreen = false;

  if (!CreateDemoWindow(kWindowTitle, kWindowWidth, kWindowHeight, kWindowBits, g_fullscreen)) {
    return kExitCreationFailed;
  }

  bool done = false;
  WindowMessage message = {0, 0, 0};
  bool quitTaken = false;
  // An Escape press taken off the queue since the last idle pass: a press
  // and release that both waited out a long pass (the loading after F1, or
  // at start) still end the show at the next idle pass.
  bool escapePressed = false;
  while (!done) {
    if (system->takeMessage(&message)) {
      if (message.message == kMsgQuit) {
        done = true;
        quitTaken = true;
      } else {
        if (message.message == kMsgKeyDown && message.wParam == kVkEscape) escapePressed = true;
        DemoWindowProc(g_hWnd, message.message, message.wParam, message.lParam);
      }
      continue;
    }

    // Idle pass: one frame, unless the show has ended or Escape is down.
    if ((g_active && !g_drawFrameHook()) || g_keys[kVkEscape] || escapePressed) {
      done = true;
      g_running.store(0, std::memory_order_relaxed);
    } else {
      system->swapBuffers(g_hDC);
      if (g_countFrames && g_active) ++g_framesPresented;
      if (g_reportFirstFrame && g_active) ReportFirstFrame();
    }

    if (g_keys[kVkF1]) {
      g_keys[kVkF1] = false;
      DestroyDemoWindow();
      g_fullscreen = !g_fullscreen;
      if (!CreateDemoWindow(kWindowTitle, kWindowWidth, kWindowHeight, kWindowBits,
                            g_fullscreen)) {
        return kExitCreationFailed;
      }
    }
  }

  ReportFrameRate();
  DestroyDemoWindow();
  return quitTaken ? static_cast<int>(message.wParam) : 0;
}
