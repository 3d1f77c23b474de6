// The Windows platform layer's check, run under Wine: floods of window
// messages, sent while the shell takes none (as during a modal move or size
// loop) and posted, lose no key, activation or close, and fold repeated
// sizes into the latest; the display is kept awake while the window exists;
// a waveOut device lost again and again is opened anew each time, and the
// music plays on it, with no handle or thread left behind.
// Prints what it checked; exit status 0 when all passed.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "platform/audio_output.h"
#include "platform/music_player.h"
#include "platform/window_system.h"
#include "shell/main_loop.h"
#include "shell/window.h"
#include "tests/support/test_module.h"

namespace {

// What the shell took in a pass, recorded between the Win32 layer and it.
const WindowSystem* g_win32 = nullptr;
std::vector<WindowMessage> g_taken;

bool RecordingTakeMessage(WindowMessage* message) {
  if (!g_win32->takeMessage(message)) return false;
  g_taken.push_back(*message);
  return true;
}

bool DrawNothing() { return true; }

// The shell's state after handling, in order, every message of a pass.
struct Expected {
  bool down[256];
  bool pressed[256];
  bool active;
  uint32_t size;  // 0: no size came
  bool closed;
};

void Expect(Expected* e, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN) e->down[wParam] = e->pressed[wParam] = true;
  if (message == WM_KEYUP) e->down[wParam] = false;
  if (message == WM_ACTIVATE) e->active = (wParam >> 16) == 0;
  if (message == WM_SIZE) e->size = static_cast<uint32_t>(lParam);
  if (message == WM_CLOSE) e->closed = true;
}

// One pass of the shell against what was expected; the difference, or null.
const char* Compare(const Expected& e, bool passGoesOn) {
  bool pressed[256] = {};
  int sizes = 0, closes = 0, quits = 0;
  uint32_t size = 0;
  for (const WindowMessage& m : g_taken) {
    if (m.message == WM_KEYDOWN) pressed[m.wParam & 0xFF] = true;
    if (m.message == WM_SIZE) ++sizes, size = m.lParam;
    closes += m.message == WM_CLOSE;
    quits += m.message == WM_QUIT;
  }
  for (int key = 0; key < 256; ++key) {
    if (g_keys[key] != e.down[key]) return "a key's state differs";
    if (pressed[key] != e.pressed[key]) return "a key press was lost";
  }
  if (g_active != e.active) return "the activation state differs";
  if (sizes != (e.size != 0) || size != e.size) return "the sizes were not folded into the latest";
  if (closes != e.closed || quits != closes || passGoesOn == e.closed) return "a close or quit was lost";
  return nullptr;
}

// Rounds of up to 60000 messages between two passes of the shell's loop.
bool MessageFloods() {
  HWND window = static_cast<HWND>(g_hWnd);
  const UINT keys[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', VK_SPACE, VK_LEFT};
  std::mt19937 random(19);
  Expected e = {};
  for (int key = 0; key < 256; ++key) e.down[key] = g_keys[key];
  e.active = g_active;
  long total = 0;
  for (int round = 0; round < 40; ++round) {
    const int count = static_cast<int>(std::exp2(std::uniform_real_distribution<double>(0, 15.9)(random)));
    std::vector<std::pair<UINT, WPARAM>> posted;
    for (int i = 0; i < count; ++i) {
      const unsigned kind = random() % 100;
      UINT message = WM_SYSCOMMAND;
      WPARAM wParam = random() % 2 ? SC_SCREENSAVE : SC_MONITORPOWER;
      LPARAM lParam = 0;
      if (kind < 60) {
        message = random() % 2 ? WM_KEYDOWN : WM_KEYUP;
        wParam = keys[random() % 10];
      } else if (kind < 65) {  // letters without Alt: no menu, no close
        message = random() % 2 ? WM_SYSKEYDOWN : WM_SYSKEYUP;
        wParam = keys[random() % 8];
      } else if (kind < 90) {
        message = WM_SIZE;
        wParam = 0;
        lParam = static_cast<LPARAM>((1 + random() % 2000) | (random() % 2000) << 16);
      } else if (kind < 98) {
        message = WM_ACTIVATE;
        wParam = (random() % 2) | (random() % 4 == 0 ? 0x10000 : 0);
      }
      // A tenth of the keys come posted, as a person's do: they reach the
      // window procedure when the shell takes messages, after all sent ones.
      if ((message == WM_KEYDOWN || message == WM_KEYUP) && random() % 10 == 0) {
        PostMessageA(window, message, wParam, lParam);
        posted.push_back({message, wParam});
      } else {
        SendMessageA(window, message, wParam, lParam);
        Expect(&e, message, wParam, lParam);
      }
    }
    if (round % 3 == 1) {
      SendMessageA(window, WM_CLOSE, 0, 0);
      e.closed = true;
    }
    for (const auto& m : posted) Expect(&e, m.first, m.second, 0);
    g_taken.clear();
    const char* why = Compare(e, RunDemoPass());
    if (why != nullptr) {
      std::printf("FAIL: round %d, %d messages: %s\n", round, count, why);
      return false;
    }
    e.size = 0;
    e.closed = false;
    for (bool& pressed : e.pressed) pressed = false;
    total += count;
  }
  std::printf("message floods: 40 rounds, %ld messages, nothing lost\n", total);
  return true;
}

// The handles this process holds, from the system's handle table
// (GetProcessHandleCount is a stub under Wine); -1 when it cannot be read.
long HandleCount() {
  struct Entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO
    ULONG ownerPid;
    BYTE objectType, flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<uint8_t> table(1 << 16);
  ULONG needed = 0;
  LONG status = -1;
  // SystemHandleInformation (16): a count, then the entries at pointer alignment.
  while (query != nullptr && (status = query(16, table.data(), static_cast<ULONG>(table.size()), &needed)) ==
                                 static_cast<LONG>(0xC0000004)) {
    table.resize(std::max<size_t>(table.size() * 2, needed));
  }
  if (status < 0) return -1;
  const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
  const Entry* entries = reinterpret_cast<const Entry*>(table.data() + sizeof(void*));
  long mine = 0;
  for (ULONG i = 0; i < count && sizeof(void*) + (i + 1) * sizeof(Entry) <= table.size(); ++i) {
    mine += entries[i].ownerPid == GetCurrentProcessId();
  }
  return mine;
}

int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

// Whether the music plays on a device within 5 s (the player waits 0.25 s
// after a loss, closing waits at most 1 s and opening 3 s); the slowest
// wait so far goes into slowest.
bool MusicPlaysWithin5s(double* slowest) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!MusicOutputIsSilent()) {
      *slowest = std::max(*slowest, waited);
      return true;
    }
    if (waited > 5.0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// The device lost 12 times in a row (as a failed waveOut call reports it):
// each time the player closes it and opens WAVE_MAPPER again, and the music
// plays on the new device; after the last, the program holds no more
// threads than after the second, give or take one still ending, and at
// most 4 more handles (Wine's winmm keeps an event for each device it ever
// had open at once; one handle leaked per loss would be 10 more). Needs a
// sound device (the script's sound server).
bool AudioReopens() {
  const char* module = "lantern-check.xm";
  double slowest = 0.0;
  bool ok = testmodule::WriteFile(module, testmodule::SilentXm(32, 64, 6, 125));
  InitMusicOutput(44100);
  PlayMusic(LoadMusicFile(module));
  StartMusicOutput();
  if (!ok || !MusicPlaysWithin5s(&slowest)) {
    std::printf("FAIL: the music does not play on a waveOut device\n");
    ok = false;
  }
  long handles[2] = {};
  int threads[2] = {};
  for (int loss = 1; ok && loss <= 12; ++loss) {
    AudioDeviceLost("taken away by the check");
    if (!MusicPlaysWithin5s(&slowest)) {
      std::printf("FAIL: loss %d: the music did not play on a device again within 5 s\n", loss);
      ok = false;
    }
    if (loss == 2 || loss == 12) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last opening's threads end
      handles[loss / 12] = HandleCount();
      threads[loss / 12] = ThreadCount();
    }
  }
  ShutdownMusicOutput();
  DeleteFileA(module);
  if (!ok) return false;
  std::printf("waveOut lost 12 times: back on a device within %.2f s each time; handles %ld after the 2nd, "
              "%ld after the last; threads %d and %d\n",
              slowest, handles[0], handles[1], threads[0], threads[1]);
  if (handles[0] <= 0 || handles[1] > handles[0] + 4 || threads[1] > threads[0] + 1) {
    std::printf("FAIL: re-opening the device leaves handles or threads behind\n");
    return false;
  }
  return true;
}

}  // namespace

int main() {
  g_win32 = g_windowSystem;
  WindowSystem recording = *g_win32;
  recording.takeMessage = RecordingTakeMessage;
  g_windowSystem = &recording;
  g_drawFrameHook = DrawNothing;

  SetThreadExecutionState(ES_CONTINUOUS);
  recording.registerWindowClass(kWindowClassName);
  g_hWnd = recording.createWindow(kWindowClassName, kWindowTitle, 640, 480, false);
  if (g_hWnd == nullptr) {
    std::printf("FAIL: no window\n");
    return 1;
  }
  // Each call returns the state asked for before it.
  const EXECUTION_STATE awake = ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED;
  const EXECUTION_STATE whileShown = SetThreadExecutionState(awake);
  RunDemoPass();  // what creation sent
  bool ok = MessageFloods();
  recording.destroyWindow(g_hWnd);
  const EXECUTION_STATE afterwards = SetThreadExecutionState(ES_CONTINUOUS);
  recording.unregisterWindowClass(kWindowClassName);
  std::printf("display kept awake: 0x%lx while the window exists, 0x%lx after\n", whileShown,
              afterwards);
  if (whileShown != awake || afterwards != ES_CONTINUOUS) {
    std::printf("FAIL: the display is not kept awake exactly while the window exists\n");
    ok = false;
  }
  ok = AudioReopens() && ok;
  std::printf(ok ? "PASS\n" : "FAILED\n");
  return ok ? 0 : 1;
}
