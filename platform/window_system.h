// The window-system layer under the shell: message boxes, display mode,
// window, drawable, GL context, event messages and buffer swaps, as a table
// of calls selected through one global so that a stand-in can replace it.
#pragma once

#include <cstdint>

// Opaque handles; null means "none held".
typedef void* WindowHandle;
typedef void* DrawableHandle;
typedef void* GlContextHandle;

// Message-box styles and answers (the Win32 values, so the shell's tables
// read as the boxes they describe).
constexpr unsigned kBoxOk = 0x00;
constexpr unsigned kBoxYesNo = 0x04;
constexpr unsigned kBoxIconStop = 0x10;
constexpr unsigned kBoxIconQuestion = 0x20;
constexpr unsigned kBoxIconExclamation = 0x30;
constexpr unsigned kBoxIconInformation = 0x40;
constexpr unsigned kBoxButtonMask = 0x0F;
constexpr unsigned kBoxIconMask = 0xF0;

constexpr int kAnswerNone = 0;  // the box could not be shown
constexpr int kAnswerOk = 1;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

// Window messages, with the Win32 numbers and parameter layouts:
//   kMsgActivate: wParam low word 0 inactive / 1 active, high word non-zero while minimised.
//   kMsgSize:     lParam low word client width, high word client height.
//   kMsgKeyDown/kMsgKeyUp: wParam the virtual-key code.
//   kMsgSysKeyDown/kMsgSysKeyUp: the same for keys pressed with Alt (and F10).
//   kMsgSysCommand: wParam the command (kSysCommandScreenSave, ...).
//   kMsgQuit:     wParam the exit code given to PostQuit.
constexpr uint32_t kMsgSize = 0x0005;
constexpr uint32_t kMsgActivate = 0x0006;
constexpr uint32_t kMsgClose = 0x0010;
constexpr uint32_t kMsgQuit = 0x0012;
constexpr uint32_t kMsgKeyDown = 0x0100;
constexpr uint32_t kMsgKeyUp = 0x0101;
constexpr uint32_t kMsgSysKeyDown = 0x0104;
constexpr uint32_t kMsgSysKeyUp = 0x0105;
constexpr uint32_t kMsgSysCommand = 0x0112;

constexpr uint32_t kSysCommandScreenSave = 0xF140;
constexpr uint32_t kSysCommandMonitorPower = 0xF170;

// Virtual-key codes the shell reacts to.
constexpr int kVkEscape = 27;
constexpr int kVkF1 = 112;

struct WindowMessage {
  uint32_t message;
  uint32_t wParam;
  uint32_t lParam;
};

// The pixel format the demo asks for: RGBA colour bits, depth bits, double buffering.
struct PixelFormatRequest {
  int colorBits;
  int depthBits;
  bool doubleBuffer;
};

// Each call mirrors one window-system step of window creation, the loop or
// destruction. Calls that can fail return false, null or 0 on failure.
struct WindowSystem {
  // Modal box with the given buttons and icon (kBox* style bits); the text
  // also goes to stderr (on Windows only an OK box's, a failure: a question
  // is no finding for a double-clicked run's log). Returns the button
  // chosen (kAnswer*), kAnswerNone when no box could be shown.
  int (*showMessageBox)(const char* text, const char* caption, unsigned style);
  // Makes the window system ready for a window of the demo's class.
  bool (*registerWindowClass)(const char* className);
  bool (*unregisterWindowClass)(const char* className);
  // Switches the screen to width x height at bits per pixel for a full-screen window.
  bool (*switchToFullscreenMode)(int width, int height, int bits);
  // Back to the desktop's own mode (harmless when none was switched).
  void (*restoreDesktopMode)();
  void (*showCursor)(bool show);
  // A hidden top-level window whose client area is width x height: framed,
  // or covering the switched screen when fullscreen.
  WindowHandle (*createWindow)(const char* className, const char* title, int width,
                               int height, bool fullscreen);
  bool (*destroyWindow)(WindowHandle window);
  // The window's drawable surface (the device context).
  DrawableHandle (*acquireDrawable)(WindowHandle window);
  bool (*releaseDrawable)(WindowHandle window, DrawableHandle drawable);
  // Finds a pixel format matching the request: its index, 0 when none.
  int (*choosePixelFormat)(DrawableHandle drawable, const PixelFormatRequest* request);
  bool (*setPixelFormat)(DrawableHandle drawable, int format, const PixelFormatRequest* request);
  GlContextHandle (*createGlContext)(DrawableHandle drawable);
  // Makes context current on drawable; both null releases the current context.
  bool (*makeGlContextCurrent)(DrawableHandle drawable, GlContextHandle context);
  bool (*deleteGlContext)(GlContextHandle context);
  // True when a real OpenGL context is current on this thread (GL calls are safe).
  bool (*glContextIsCurrent)();
  // Shows the window, brings it to the front and gives it the keyboard focus.
  void (*showAndFocusWindow)(WindowHandle window);
  // Takes the next message off the queue, if any (non-blocking).
  bool (*takeMessage)(WindowMessage* message);
  // Queues a kMsgQuit carrying exitCode.
  void (*postQuitMessage)(int exitCode);
  void (*swapBuffers)(DrawableHandle drawable);
};

// The window system in use; the SDL one unless a test installs another.
extern const WindowSystem* g_windowSystem;

// The window system on SDL2 with OpenGL.
extern const WindowSystem kSdlWindowSystem;

// When true, the SDL window system also opens windows on SDL's invisible
// drivers (offscreen, dummy); by default creation fails there, since a live
// show that nobody can see is a fault. For tools that render off screen.
extern bool g_allowInvisibleWindow;

// Win32 virtual-key code for an SDL keycode, 0 when it has none.
int VirtualKeyFromSdlKeycode(int32_t sdlKeycode);

// True when SDL has (or would pick) a driver that shows nothing: offscreen
// or dummy, or no display to connect to.
bool NoVisibleDisplay();

// How long, in seconds, the SDL window system keeps trying to reach a
// display it was given (DISPLAY, WAYLAND_DISPLAY) before it says it failed:
// an X server that resets when its last client leaves drops a client that
// connects just then, and a server may still be starting. Set on the main
// thread; tests shorten it.
extern double g_displayRetrySeconds;

// The SDL video drivers for the displays the environment names, in SDL's
// own order of preference: "x11" when display (DISPLAY) is set, then
// "wayland" when waylandDisplay (WAYLAND_DISPLAY) is; none when requested
// (SDL_VIDEODRIVER) is set, since that choice is SDL's to honour, or when
// no display is named. Null and empty mean unset. Returns the count.
int DisplayVideoDrivers(const char* requested, const char* display,
                        const char* waylandDisplay, const char* drivers[2]);
