// The Windows platform layer's check, run under Wine: floods of window
// messages, sent while the shell takes none (as during a modal move or size
// loop) and posted, lose no key, activation or close, and fold repeated
// sizes into the latest; the display is kept awake while the window exists.
// Prints one line per check; exit status 0 when all pass.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "platform/window_system.h"
#include "shell/main_loop.h"
#include "shell/window.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::printf("FAIL: %s\n", what);
    ++g_failures;
  }
}

// What the shell took, recorded between the Win32 takeMessage and the shell.
const WindowSystem* g_win32 = nullptr;
std::vector<WindowMessage> g_taken;

bool RecordingTakeMessage(WindowMessage* message) {
  if (!g_win32->takeMessage(message)) return false;
  g_taken.push_back(*message);
  return true;
}

bool DrawNothing() { return true; }

// The shell's state after it has handled, in order, everything sent since
// the last pass: per key the last direction and whether it was pressed.
struct Expected {
  bool down[256];
  bool pressed[256];
  bool active;
  bool sized;
  uint32_t size;
  bool closed;
};

// Applies one message as the shell would, to the expected state.
void Expect(Expected* expected, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
      expected->down[wParam] = true;
      expected->pressed[wParam] = true;
      break;
    case WM_KEYUP:
      expected->down[wParam] = false;
      break;
    case WM_ACTIVATE:
      expected->active = (wParam >> 16) == 0;
      break;
    case WM_SIZE:
      expected->sized = true;
      expected->size = static_cast<uint32_t>(lParam);
      break;
    case WM_CLOSE:
      expected->closed = true;
      break;
    default:
      break;
  }
}

// Compares one pass of the shell (RunDemoPass) with what was expected.
// Returns false at the first difference, naming it.
bool PassMatches(const Expected& expected, bool passResult, const char** why) {
  bool pressedTaken[256] = {};
  int sizes = 0, closes = 0, quits = 0;
  uint32_t size = 0;
  for (const WindowMessage& m : g_taken) {
    if (m.message == WM_KEYDOWN) pressedTaken[m.wParam & 0xFF] = true;
    if (m.message == WM_SIZE) ++sizes, size = m.lParam;
    if (m.message == WM_CLOSE) ++closes;
    if (m.message == WM_QUIT) ++quits;
  }
  for (int key = 0; key < 256; ++key) {
    if (g_keys[key] != expected.down[key]) return *why = "a key's state differs", false;
    if (pressedTaken[key] != expected.pressed[key]) return *why = "a key press was lost", false;
  }
  if (g_active != expected.active) return *why = "the activation state differs", false;
  if (sizes != (expected.sized ? 1 : 0)) return *why = "sizes were not folded into one", false;
  if (expected.sized && size != expected.size) return *why = "the size taken is not the latest", false;
  if (closes != (expected.closed ? 1 : 0)) return *why = "the close was lost or repeated", false;
  if (quits != closes || passResult == expected.closed) return *why = "no quit after the close", false;
  return true;
}

void CheckMessageFloods() {
  HWND window = static_cast<HWND>(g_hWnd);
  const UINT keys[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', VK_SPACE, VK_LEFT};
  std::mt19937 random(19);
  Expected expected = {};
  for (int key = 0; key < 256; ++key) expected.down[key] = g_keys[key];
  expected.active = g_active;
  int rounds = 0, messages = 0, longest = 0;
  const char* why = nullptr;
  // Rounds of up to 60000 messages between two passes of the shell.
  for (int round = 0; round < 40 && why == nullptr; ++round) {
    const int count = static_cast<int>(std::exp2(std::uniform_real_distribution<double>(0, 15.9)(random)));
    struct Posted {
      UINT message;
      WPARAM wParam;
    };
    std::vector<Posted> posted;
    for (int i = 0; i < count; ++i) {
      UINT message;
      WPARAM wParam = 0;
      LPARAM lParam = 0;
      const int kind = static_cast<int>(random() % 100);
      if (kind < 60) {
        message = random() % 2 ? WM_KEYDOWN : WM_KEYUP;
        wParam = keys[random() % 10];
      } else if (kind < 65) {
        message = random() % 2 ? WM_SYSKEYDOWN : WM_SYSKEYUP;
        wParam = keys[random() % 8];  // letters without Alt: no menu, no close
      } else if (kind < 90) {
        message = WM_SIZE;
        lParam = static_cast<LPARAM>((random() % 2000) | (random() % 2000) << 16);
      } else if (kind < 98) {
        message = WM_ACTIVATE;
        wParam = (random() % 2) | (random() % 4 == 0 ? 0x10000 : 0);
      } else {
        message = WM_SYSCOMMAND;
        wParam = random() % 2 ? SC_SCREENSAVE : SC_MONITORPOWER;
      }
      // A tenth of the keys come posted, through the thread's queue, as a
      // person's keys do; they reach the window procedure when the shell
      // takes messages, after everything sent.
      if ((message == WM_KEYDOWN || message == WM_KEYUP) && random() % 10 == 0) {
        PostMessageA(window, message, wParam, lParam);
        posted.push_back({message, wParam});
      } else {
        SendMessageA(window, message, wParam, lParam);
        Expect(&expected, message, wParam, lParam);
      }
    }
    if (round % 3 == 1) {
      SendMessageA(window, WM_CLOSE, 0, 0);
      expected.closed = true;
    }
    for (const Posted& m : posted) Expect(&expected, m.message, m.wParam, 0);
    g_taken.clear();
    const bool result = RunDemoPass();
    if (!PassMatches(expected, result, &why)) {
      std::printf("round %d, %d messages: %s\n", round, count, why);
    }
    expected.sized = expected.closed = false;
    for (bool& pressed : expected.pressed) pressed = false;
    ++rounds;
    messages += count;
    if (count > longest) longest = count;
  }
  Check(why == nullptr, "a message flood changed what the shell saw");
  std::printf("message floods: %d rounds, %d messages (up to %d between two passes)%s\n", rounds,
              messages, longest, why == nullptr ? ": nothing lost" : "");
}

}  // namespace

int main() {
  g_win32 = g_windowSystem;
  WindowSystem recording = *g_win32;
  recording.takeMessage = RecordingTakeMessage;
  g_windowSystem = &recording;
  g_drawFrameHook = DrawNothing;

  SetThreadExecutionState(ES_CONTINUOUS);
  Check(recording.registerWindowClass(kWindowClassName), "the window class");
  g_hWnd = recording.createWindow(kWindowClassName, kWindowTitle, 640, 480, false);
  Check(g_hWnd != nullptr, "the window");
  if (g_hWnd == nullptr) return 1;
  // The previous state is what the window's creation asked for.
  const EXECUTION_STATE awake = ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED;
  const EXECUTION_STATE whileShown = SetThreadExecutionState(awake);
  Check(whileShown == awake, "the display is not kept awake while the window exists");

  g_taken.clear();
  RunDemoPass();  // what creation sent
  CheckMessageFloods();

  recording.destroyWindow(g_hWnd);
  g_hWnd = nullptr;
  const EXECUTION_STATE afterwards = SetThreadExecutionState(ES_CONTINUOUS);
  Check(afterwards == ES_CONTINUOUS, "the display is still kept awake after the window");
  std::printf("display kept awake: 0x%lx while the window exists, 0x%lx after\n",
              static_cast<unsigned long>(whileShown), static_cast<unsigned long>(afterwards));
  recording.unregisterWindowClass(kWindowClassName);
  std::printf(g_failures == 0 ? "PASS\n" : "FAILED: %d checks\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
