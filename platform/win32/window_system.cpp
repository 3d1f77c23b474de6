// The window system on Win32 and WGL: message boxes, the window class, the
// display mode, the window and its device context, the pixel format and the
// GL context, and a window procedure that answers Windows at once while
// handing the shell's messages to takeMessage in the order they came.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>

#include "platform/window_system.h"

namespace {

// The module handle, taken at every class registration.
HINSTANCE g_instance = nullptr;

// The pixel format descriptor of the last request; Windows keeps a pointer
// to what SetPixelFormat was given, so it lives as long as the program.
PIXELFORMATDESCRIPTOR g_pixelFormatDescriptor;

static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "the descriptor Windows expects");
static_assert(sizeof(DEVMODEA) == 156, "the display-mode record Windows expects");

// Messages the window procedure received for the shell, oldest first. The
// window procedure runs inside DispatchMessageA and inside the Win32 calls
// that send messages (creation, showing, destruction, message boxes, and
// the modal loops of a window being moved or sized or of a menu), where the
// shell does not take messages; it takes every queued message before it
// draws its next frame (RunDemoPass drains takeMessage). So a message may
// be folded into one already queued when the shell, handling the whole
// queue at once, would end in the same state either way:
//   - WM_SIZE: the queued one takes the latest size;
//   - WM_ACTIVATE: the queued one takes the latest state;
//   - WM_CLOSE, and WM_SYSCOMMAND with the same command: queued once;
//   - a key down while that key's last queued message is a down (the
//     key's auto-repeat), or an up after an up: queued once;
//   - a key down while that key's queued messages end in a down and an up
//     (a whole press): the up is taken back, the key stays down; the shell
//     acts on a press once per frame however often it came.
// Every other message is queued. That leaves at most three messages per
// key and kind (up, down, up) and one of each other kind, which the
// capacity holds: no key, activation or close is ever lost.
constexpr int kKeyCodes = 256;
constexpr int kQueueCapacity = 2 * kKeyCodes * 3 + 8;
WindowMessage g_queue[kQueueCapacity];
int g_queueCount = 0;

bool IsKeyMessage(UINT message) {
  return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN ||
         message == WM_SYSKEYUP;
}

bool IsKeyDown(UINT message) { return message == WM_KEYDOWN || message == WM_SYSKEYDOWN; }

// Whether two key messages are about the same key, both system keys or both not.
bool SameKey(const WindowMessage& queued, UINT message, WPARAM wParam) {
  bool queuedSystem = queued.message == WM_SYSKEYDOWN || queued.message == WM_SYSKEYUP;
  bool system = message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
  return IsKeyMessage(queued.message) && queuedSystem == system &&
         (queued.wParam & 0xFFu) == (wParam & 0xFFu);
}

// The newest queued message of a kind (for keys: of that key), -1 when none.
int FindQueued(UINT message, WPARAM wParam, int before) {
  for (int i = before - 1; i >= 0; --i) {
    const WindowMessage& queued = g_queue[i];
    if (IsKeyMessage(message) ? SameKey(queued, message, wParam)
                              : queued.message == message &&
                                    (message != WM_SYSCOMMAND || queued.wParam == wParam)) {
      return i;
    }
  }
  return -1;
}

void RemoveQueued(int index) {
  for (int i = index; i + 1 < g_queueCount; ++i) g_queue[i] = g_queue[i + 1];
  --g_queueCount;
}

void QueueMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  int last = FindQueued(message, wParam, g_queueCount);
  if (last >= 0) {
    WindowMessage& queued = g_queue[last];
    switch (message) {
      case WM_SIZE:
      case WM_ACTIVATE:
        queued.wParam = static_cast<uint32_t>(wParam);
        queued.lParam = static_cast<uint32_t>(lParam);
        return;
      case WM_CLOSE:
      case WM_SYSCOMMAND:
        return;
      default:
        break;
    }
    // A key: the same direction twice is one message; a down after a
    // whole queued press takes its up back.
    if (IsKeyDown(message) == IsKeyDown(queued.message)) return;
    int before = FindQueued(message, wParam, last);
    if (IsKeyDown(message) && before >= 0 && IsKeyDown(g_queue[before].message)) {
      RemoveQueued(last);
      return;
    }
  }
  if (g_queueCount == kQueueCapacity) return;  // unreachable: see the bound above
  g_queue[g_queueCount] = {static_cast<uint32_t>(message), static_cast<uint32_t>(wParam),
                           static_cast<uint32_t>(lParam)};
  ++g_queueCount;
}

bool UnqueueMessage(WindowMessage* message) {
  if (g_queueCount == 0) return false;
  *message = g_queue[0];
  RemoveQueued(0);
  return true;
}

// The class's window procedure. What Windows needs an answer to now is
// answered here; every message the shell's own window procedure knows is
// also queued for it.
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      // The default gives the keyboard focus back to the window when it is
      // activated again (after Alt+Tab); without a focus window Windows
      // sends every key as a system key, which the shell ignores.
      QueueMessage(message, wParam, lParam);
      DefWindowProcA(window, message, wParam, lParam);
      return 0;
    case WM_SIZE:
    case WM_KEYDOWN:
    case WM_KEYUP:
      QueueMessage(message, wParam, lParam);
      return 0;
    case WM_CLOSE:
      // The default would destroy the window; the shell posts the quit
      // message instead and destroys the window itself.
      QueueMessage(message, wParam, lParam);
      return 0;
    case WM_SYSCOMMAND: {
      // The low four bits of the command are Windows' own.
      WPARAM command = wParam & 0xFFF0;
      if (command == SC_SCREENSAVE || command == SC_MONITORPOWER) {
        QueueMessage(message, command, lParam);
        return 0;  // no screen saver, no monitor power-down
      }
      break;
    }
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      // Alt combinations and F10 keep their default meaning (Alt+F4 closes).
      QueueMessage(message, wParam, lParam);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A box that reports a failure (an OK box) also goes to stderr; a question
// (Yes/No) is the person's choice, not a finding, and is not written: a
// double-clicked program's stderr is lantern.log, which should appear only
// when something went wrong.
int ShowBox(const char* text, const char* caption, unsigned style) {
  if ((style & kBoxButtonMask) == kBoxOk) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
  }
  // IDOK, IDYES and IDNO are the kAnswer values; 0 when no box was shown.
  return MessageBoxA(nullptr, text, caption, style);
}

bool RegisterWindowClass(const char* className) {
  g_instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = 0;
  windowClass.hInstance = g_instance;
  // The program's own icon (resource 1, lantern.rc), else Windows' logo.
  windowClass.hIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(1));
  if (windowClass.hIcon == nullptr) {
    windowClass.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32517));  // IDI_WINLOGO
  }
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = nullptr;
  windowClass.lpszMenuName = nullptr;
  windowClass.lpszClassName = className;
  return RegisterClassA(&windowClass) != 0;
}

bool UnregisterWindowClass(const char* className) {
  return UnregisterClassA(className, g_instance) != FALSE;
}

bool SwitchToFullscreenMode(int width, int height, int bits) {
  DEVMODEA mode = {};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = static_cast<DWORD>(width);
  mode.dmPelsHeight = static_cast<DWORD>(height);
  mode.dmBitsPerPel = static_cast<DWORD>(bits);
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
  return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}

void RestoreDesktopMode() { ChangeDisplaySettingsA(nullptr, 0); }

void ShowCursorFlag(bool show) { ShowCursor(show ? TRUE : FALSE); }

WindowHandle CreateDemoWindowHandle(const char* className, const char* title, int width,
                                    int height, bool fullscreen) {
  DWORD extendedStyle = fullscreen ? WS_EX_APPWINDOW : WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
  DWORD style = fullscreen ? WS_POPUP : WS_OVERLAPPEDWINDOW;
  RECT rectangle = {0, 0, width, height};
  AdjustWindowRectEx(&rectangle, style, FALSE, extendedStyle);
  HWND window = CreateWindowExA(extendedStyle, className, title,
                                style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                rectangle.right - rectangle.left,
                                rectangle.bottom - rectangle.top, nullptr, nullptr, g_instance,
                                nullptr);
  // While the show's window exists the display stays on and the machine
  // awake: since Windows Vista the answer to SC_MONITORPOWER no longer holds
  // back the display's idle timeout, this does (for this thread, the main
  // one, until it says otherwise).
  if (window != nullptr) {
    SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
  }
  return window;
}

bool DestroyDemoWindowHandle(WindowHandle window) {
  SetThreadExecutionState(ES_CONTINUOUS);  // the display may sleep again
  return DestroyWindow(static_cast<HWND>(window)) != FALSE;
}

DrawableHandle AcquireDrawable(WindowHandle window) { return GetDC(static_cast<HWND>(window)); }

bool ReleaseDrawable(WindowHandle window, DrawableHandle drawable) {
  return ReleaseDC(static_cast<HWND>(window), static_cast<HDC>(drawable)) == 1;
}

// RGBA, double buffered if asked, colour and depth bits from the request,
// the main plane; no alpha, accumulation, stencil or auxiliary buffers.
void FillDescriptor(const PixelFormatRequest& request) {
  PIXELFORMATDESCRIPTOR& descriptor = g_pixelFormatDescriptor;
  descriptor = PIXELFORMATDESCRIPTOR{};
  descriptor.nSize = sizeof descriptor;
  descriptor.nVersion = 1;
  descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL |
                       (request.doubleBuffer ? PFD_DOUBLEBUFFER : 0);
  descriptor.iPixelType = PFD_TYPE_RGBA;
  descriptor.cColorBits = static_cast<BYTE>(request.colorBits);
  descriptor.cDepthBits = static_cast<BYTE>(request.depthBits);
  descriptor.iLayerType = PFD_MAIN_PLANE;
}

int ChoosePixelFormatFor(DrawableHandle drawable, const PixelFormatRequest* request) {
  if (request == nullptr) return 0;
  FillDescriptor(*request);
  return ChoosePixelFormat(static_cast<HDC>(drawable), &g_pixelFormatDescriptor);
}

bool SetPixelFormatFor(DrawableHandle drawable, int format, const PixelFormatRequest* request) {
  if (request == nullptr) return false;
  FillDescriptor(*request);
  return SetPixelFormat(static_cast<HDC>(drawable), format, &g_pixelFormatDescriptor) != FALSE;
}

GlContextHandle CreateGlContext(DrawableHandle drawable) {
  return wglCreateContext(static_cast<HDC>(drawable));
}

bool MakeGlContextCurrent(DrawableHandle drawable, GlContextHandle context) {
  return wglMakeCurrent(static_cast<HDC>(drawable), static_cast<HGLRC>(context)) != FALSE;
}

bool DeleteGlContext(GlContextHandle context) {
  return wglDeleteContext(static_cast<HGLRC>(context)) != FALSE;
}

bool GlContextIsCurrent() { return wglGetCurrentContext() != nullptr; }

void ShowAndFocusWindow(WindowHandle window) {
  HWND handle = static_cast<HWND>(window);
  ShowWindow(handle, SW_SHOW);
  SetForegroundWindow(handle);
  SetFocus(handle);
}

// The shell's PeekMessageA: what the window procedure queued comes first;
// otherwise the next posted message is translated and dispatched (which may
// queue some), and WM_QUIT is handed over as it is.
bool TakeMessage(WindowMessage* message) {
  for (;;) {
    if (UnqueueMessage(message)) return true;
    MSG posted;
    if (!PeekMessageA(&posted, nullptr, 0, 0, PM_REMOVE)) return false;
    if (posted.message == WM_QUIT) {
      *message = {kMsgQuit, static_cast<uint32_t>(posted.wParam), 0};
      return true;
    }
    TranslateMessage(&posted);
    DispatchMessageA(&posted);
  }
}

void PostQuit(int exitCode) { PostQuitMessage(exitCode); }

void Swap(DrawableHandle drawable) { SwapBuffers(static_cast<HDC>(drawable)); }

}  // namespace

// The Win32 message numbers are the shell's.
static_assert(kMsgSize == WM_SIZE && kMsgActivate == WM_ACTIVATE && kMsgClose == WM_CLOSE &&
                  kMsgQuit == WM_QUIT && kMsgKeyDown == WM_KEYDOWN && kMsgKeyUp == WM_KEYUP &&
                  kMsgSysKeyDown == WM_SYSKEYDOWN && kMsgSysKeyUp == WM_SYSKEYUP &&
                  kMsgSysCommand == WM_SYSCOMMAND,
              "window messages");
static_assert(kSysCommandScreenSave == SC_SCREENSAVE &&
                  kSysCommandMonitorPower == SC_MONITORPOWER,
              "system commands");
static_assert(kBoxOk == MB_OK && kBoxYesNo == MB_YESNO && kBoxIconStop == MB_ICONSTOP &&
                  kBoxIconQuestion == MB_ICONQUESTION &&
                  kBoxIconExclamation == MB_ICONEXCLAMATION &&
                  kBoxIconInformation == MB_ICONINFORMATION,
              "box styles");
static_assert(kAnswerOk == IDOK && kAnswerYes == IDYES && kAnswerNo == IDNO, "box answers");
static_assert(kVkEscape == VK_ESCAPE && kVkF1 == VK_F1, "virtual keys");

const WindowSystem kWin32WindowSystem = {
    ShowBox,           RegisterWindowClass,  UnregisterWindowClass,  SwitchToFullscreenMode,
    RestoreDesktopMode, ShowCursorFlag,      CreateDemoWindowHandle, DestroyDemoWindowHandle,
    AcquireDrawable,   ReleaseDrawable,      ChoosePixelFormatFor,   SetPixelFormatFor,
    CreateGlContext,   MakeGlContextCurrent, DeleteGlContext,        GlContextIsCurrent,
    ShowAndFocusWindow, TakeMessage,         PostQuit,               Swap,
};

const WindowSystem* g_windowSystem = &kWin32WindowSystem;
