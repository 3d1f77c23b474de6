// The window system on SDL2: the display the environment names (reached
// with brief retries, never swapped for an invisible driver), message boxes,
// the 640x480 full-screen mode, the GL window and context, SDL events turned
// into window messages. Each failure is said on stderr with SDL's reason.
#include <SDL.h>
#include <strings.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/window_system.h"

bool g_allowInvisibleWindow = false;
double g_displayRetrySeconds = 3.0;

namespace {

// Said when SDL's X11 box fails: it gives no reason of its own, and fails
// when it cannot connect or the X server has no core font matching its
// pattern (Xvfb without xfonts-base has none).
const char* const kX11BoxFailed =
    "SDL's X11 box failed without a reason (it needs the X server and a core font "
    "matching -*-*-medium-r-normal--*-120-*, as in xfonts-base); SDL's fallback then said: ";

// Pauses between tries to reach a display: the first, and the longest.
constexpr Uint32 kFirstRetryPauseMs = 50;
constexpr Uint32 kLongestRetryPauseMs = 400;

bool g_classRegistered = false;
// Set once the display named in the environment stayed out of reach for the
// whole retry time: later boxes try once instead of waiting again.
bool g_displayGivenUp = false;
SDL_Window* g_sdlWindow = nullptr;
bool g_sdlWindowFullscreen = false;
SDL_DisplayMode g_fullscreenMode;
bool g_quitPosted = false;
int g_quitCode = 0;
PixelFormatRequest g_pixelFormat = {32, 16, true};

bool IsInvisibleDriver(const char* driver) {
  return driver != nullptr &&
         (strcasecmp(driver, "offscreen") == 0 || strcasecmp(driver, "dummy") == 0);
}

bool IsSet(const char* value) { return value != nullptr && value[0] != '\0'; }

bool HasEnvironment(const char* name) { return IsSet(SDL_getenv(name)); }

// The video driver and the display it talks to, for messages: `the x11
// video driver on DISPLAY ":0"`. The driver is the one in use, else the one
// a start would pick.
void DescribeDriver(const char* driver, char* out, size_t size) {
  if (driver == nullptr && SDL_WasInit(SDL_INIT_VIDEO) != 0) driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr && HasEnvironment("SDL_VIDEODRIVER")) driver = SDL_getenv("SDL_VIDEODRIVER");
  const char* drivers[2];
  if (driver == nullptr &&
      DisplayVideoDrivers(nullptr, SDL_getenv("DISPLAY"), SDL_getenv("WAYLAND_DISPLAY"), drivers) > 0) {
    driver = drivers[0];
  }
  if (driver == nullptr) {
    SDL_snprintf(out, size, "no video driver (no display named)");
  } else if (strcasecmp(driver, "x11") == 0 && HasEnvironment("DISPLAY")) {
    SDL_snprintf(out, size, "the x11 video driver on DISPLAY \"%s\"", SDL_getenv("DISPLAY"));
  } else if (strcasecmp(driver, "wayland") == 0 && HasEnvironment("WAYLAND_DISPLAY")) {
    SDL_snprintf(out, size, "the wayland video driver on WAYLAND_DISPLAY \"%s\"",
                 SDL_getenv("WAYLAND_DISPLAY"));
  } else {
    SDL_snprintf(out, size, "the %s video driver", driver);
  }
}

// One stderr line saying which step failed, on which drivers and displays
// (those given, else the one in use), and why (SDL's error text), beside
// the box the shell shows for it:
//   lantern: WHAT (DRIVER ON DISPLAY)AFTER: LEAD+SDL's error
void SayFailure(const char* what, const char* after = "", const char* lead = "",
                const char* const* drivers = nullptr, int count = 0) {
  char error[256];
  SDL_strlcpy(error, SDL_GetError(), sizeof error);
  char described[400] = "";
  for (int i = 0; i < SDL_max(count, 1); ++i) {
    char driver[160];
    DescribeDriver(count > 0 ? drivers[i] : nullptr, driver, sizeof driver);
    if (i > 0) SDL_strlcat(described, "; ", sizeof described);
    SDL_strlcat(described, driver, sizeof described);
  }
  std::fprintf(stderr, "lantern: %s (%s)%s: %s%s\n", what, described, after, lead,
               error[0] != '\0' ? error : "no reason given");
  std::fflush(stderr);
}

// Milliseconds to pause before the next try to reach the display, 0 when
// the retry time is spent; *pause doubles up to the longest pause.
Uint32 NextRetryPause(Uint64 startedMs, Uint32* pause) {
  Uint64 elapsed = SDL_GetTicks64() - startedMs;
  Uint64 budget = static_cast<Uint64>(g_displayRetrySeconds * 1000.0);
  if (elapsed >= budget) return 0;
  Uint32 now = static_cast<Uint32>(SDL_min(static_cast<Uint64>(*pause), budget - elapsed));
  *pause = SDL_min(*pause * 2, kLongestRetryPauseMs);
  return SDL_max(now, 1u);
}

void SetGlAttributes(const PixelFormatRequest& request) {
  int channel = request.colorBits >= 24 ? 8 : 5;
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, channel);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, channel);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, channel);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, request.depthBits);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, request.doubleBuffer ? 1 : 0);
}

// A connection to the display that the server closes while the client
// writes its greeting raises SIGPIPE in Xlib's write, which would end the
// program without a word; ignored, the write fails with EPIPE and the
// connection counts as not made, so it is tried again and said.
void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

int ShowBox(const char* text, const char* caption, unsigned style) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
  if (NoVisibleDisplay()) return kAnswerNone;
  IgnoreBrokenPipes();

  SDL_MessageBoxButtonData okButton[1] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
       kAnswerOk, "OK"}};
  SDL_MessageBoxButtonData yesNoButtons[2] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, kAnswerYes, "Yes"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, kAnswerNo, "No"}};
  bool yesNo = (style & kBoxButtonMask) == kBoxYesNo;

  Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
  unsigned icon = style & kBoxIconMask;
  if (icon == kBoxIconStop) flags = SDL_MESSAGEBOX_ERROR;
  if (icon == kBoxIconExclamation) flags = SDL_MESSAGEBOX_WARNING;

  SDL_MessageBoxData box;
  std::memset(&box, 0, sizeof box);
  box.flags = flags | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
  box.window = nullptr;
  box.title = caption;
  box.message = text;
  box.numbuttons = yesNo ? 2 : 1;
  box.buttons = yesNo ? yesNoButtons : okButton;
  // With DISPLAY set, SDL shows a box (one without a parent window) on X11
  // first, from a child process with a connection of its own. Before the
  // video holds a connection of its own, the X server may reset and drop
  // the box's: a box that could not be shown is then tried again while the
  // retry time lasts (nothing was answered yet).
  bool x11Box = HasEnvironment("DISPLAY");
  bool videoHoldsX11 = SDL_WasInit(SDL_INIT_VIDEO) != 0 &&
                       strcasecmp(SDL_GetCurrentVideoDriver(), "x11") == 0;
  bool retry = x11Box && !videoHoldsX11 && !g_displayGivenUp;
  Uint64 started = SDL_GetTicks64();
  Uint32 pause = kFirstRetryPauseMs;
  for (int tries = 1;; ++tries) {
    int chosen = -1;
    if (SDL_ShowMessageBox(&box, &chosen) == 0) {
      if (tries > 1) {
        std::fprintf(stderr, "lantern: the \"%s\" box was shown on try %d\n", caption, tries);
        std::fflush(stderr);
      }
      return chosen < 0 ? kAnswerNone : chosen;
    }
    Uint32 wait = retry ? NextRetryPause(started, &pause) : 0;
    if (wait == 0) {
      // The X11 box's own error stays in its child process; what SDL says
      // then comes from its fallback, and is named as such.
      char what[160];
      char after[32];
      SDL_snprintf(what, sizeof what, "the \"%s\" box could not be shown", caption);
      SDL_snprintf(after, sizeof after, ", %d %s", tries, tries == 1 ? "try" : "tries");
      SayFailure(what, after, x11Box ? kX11BoxFailed : "");
      return kAnswerNone;
    }
    SDL_Delay(wait);
  }
}

// Starts SDL's video subsystem on the display the environment names, trying
// again for g_displayRetrySeconds while it cannot be reached; never on an
// invisible driver in its place. With SDL_VIDEODRIVER set, or no display
// named, the choice is SDL's (and tried once).
bool StartVideo() {
  g_displayGivenUp = false;
  IgnoreBrokenPipes();
  const char* drivers[2];
  int count = DisplayVideoDrivers(SDL_getenv("SDL_VIDEODRIVER"), SDL_getenv("DISPLAY"),
                                  SDL_getenv("WAYLAND_DISPLAY"), drivers);
  if (count == 0) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
    SayFailure("cannot start the video subsystem");
    return false;
  }
  char firstError[256] = "";
  Uint64 started = SDL_GetTicks64();
  Uint32 pause = kFirstRetryPauseMs;
  for (int tries = 1;; ++tries) {
    for (int i = 0; i < count; ++i) {
      SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers[i]);
      bool up = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
      SDL_ResetHint(SDL_HINT_VIDEODRIVER);
      if (up) {
        if (tries > 1) {
          char driver[160];
          DescribeDriver(drivers[i], driver, sizeof driver);
          std::fprintf(stderr,
                       "lantern: %s started on try %d, %.1f s after the first, which failed: %s\n",
                       driver, tries, (SDL_GetTicks64() - started) / 1000.0, firstError);
          std::fflush(stderr);
        }
        return true;
      }
      if (firstError[0] == '\0') SDL_strlcpy(firstError, SDL_GetError(), sizeof firstError);
    }
    Uint32 wait = NextRetryPause(started, &pause);
    if (wait == 0) {
      g_displayGivenUp = true;
      char after[48];
      SDL_snprintf(after, sizeof after, ", %d tries in %.1f s", tries,
                   (SDL_GetTicks64() - started) / 1000.0);
      SayFailure("cannot reach the display", after, "", drivers, count);
      return false;
    }
    SDL_Delay(wait);
  }
}

// The class stands for SDL's video subsystem, started by the first
// registration and kept for the program's life: one connection to the X
// server for the whole show, so that F1 never reconnects (a server that
// resets when its last client leaves would drop the new connection).
bool RegisterClass(const char*) {
  if (g_classRegistered) return false;
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
    // Without the poll sentinel, an empty poll means an empty queue, so a
    // quit request never overtakes an event that is already queued.
    SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
    if (!StartVideo()) return false;
  }
  g_classRegistered = true;
  return true;
}

bool UnregisterClass(const char*) {
  if (!g_classRegistered) return false;
  g_classRegistered = false;
  return true;
}

bool ModeFits(const SDL_DisplayMode& mode, int width, int height, int bits) {
  return mode.w == width && mode.h == height &&
         static_cast<int>(SDL_BYTESPERPIXEL(mode.format)) * 8 >= bits;
}

// Looks for a width x height mode of 32-bit colour (24 colour bits in 4
// bytes count) on the first display; the window takes it when shown.
bool SwitchToFullscreenMode(int width, int height, int bits) {
  if (!g_classRegistered) return false;
  int count = SDL_GetNumDisplayModes(0);
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode mode;
    if (SDL_GetDisplayMode(0, i, &mode) == 0 && ModeFits(mode, width, height, bits)) {
      g_fullscreenMode = mode;
      return true;
    }
  }
  return false;
}

void RestoreDesktopMode() {
  if (g_sdlWindow != nullptr && g_sdlWindowFullscreen) {
    SDL_SetWindowFullscreen(g_sdlWindow, 0);
    g_sdlWindowFullscreen = false;
  }
}

void ShowCursor(bool show) {
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

WindowHandle CreateWindow(const char*, const char* title, int width, int height,
                          bool fullscreen) {
  if (!g_classRegistered || g_sdlWindow != nullptr) return nullptr;
  if (NoVisibleDisplay() && !g_allowInvisibleWindow) {
    SDL_SetError("that driver shows nothing; a display (DISPLAY, WAYLAND_DISPLAY) is needed");
    SayFailure("cannot create the window");
    return nullptr;
  }
  SDL_GL_ResetAttributes();
  SetGlAttributes(g_pixelFormat);
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
  if (fullscreen) flags |= SDL_WINDOW_FULLSCREEN;
  SDL_Window* window = SDL_CreateWindow(title, 0, 0, width, height, flags);
  if (window == nullptr) {
    SayFailure("cannot create the window");
    return nullptr;
  }
  if (fullscreen) SDL_SetWindowDisplayMode(window, &g_fullscreenMode);
  SDL_DisableScreenSaver();
  g_sdlWindow = window;
  g_sdlWindowFullscreen = fullscreen;
  return window;
}

bool DestroyWindow(WindowHandle window) {
  if (window == nullptr || window != g_sdlWindow) return false;
  SDL_DestroyWindow(g_sdlWindow);
  g_sdlWindow = nullptr;
  g_sdlWindowFullscreen = false;
  return true;
}

// On SDL the window is its own drawable.
DrawableHandle AcquireDrawable(WindowHandle window) {
  return window != nullptr && window == g_sdlWindow ? window : nullptr;
}

bool ReleaseDrawable(WindowHandle window, DrawableHandle drawable) {
  return drawable != nullptr && drawable == window;
}

// SDL fixes the visual when the window is created (from the same request);
// choosing checks that the request is one SDL can express.
int ChoosePixelFormat(DrawableHandle drawable, const PixelFormatRequest* request) {
  if (drawable == nullptr || request == nullptr) return 0;
  if (request->colorBits != 16 && request->colorBits != 24 && request->colorBits != 32) return 0;
  if (request->depthBits < 0 || request->depthBits > 32) return 0;
  g_pixelFormat = *request;
  return 1;
}

bool SetPixelFormat(DrawableHandle drawable, int format, const PixelFormatRequest* request) {
  if (drawable == nullptr || format != 1 || request == nullptr) return false;
  SetGlAttributes(*request);
  return true;
}

// A context that lacks the requested depth bits, or double buffering on a
// visible display, is refused. (The offscreen driver's pbuffers are single
// buffered; with nothing on screen there is nothing to tear.)
GlContextHandle CreateGlContext(DrawableHandle drawable) {
  if (drawable == nullptr) return nullptr;
  SDL_GLContext context = SDL_GL_CreateContext(static_cast<SDL_Window*>(drawable));
  if (context == nullptr) {
    SayFailure("cannot create the OpenGL context");
    return nullptr;
  }
  int depth = 0;
  int doubleBuffer = 0;
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
  SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &doubleBuffer);
  bool needsDoubleBuffer = g_pixelFormat.doubleBuffer && !NoVisibleDisplay();
  if (depth < g_pixelFormat.depthBits || (needsDoubleBuffer && doubleBuffer == 0)) {
    SDL_SetError("context has %d depth bits, double buffer %d", depth, doubleBuffer);
    SayFailure("cannot create the OpenGL context");
    SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_GL_DeleteContext(context);
    return nullptr;
  }
  return context;
}

bool MakeGlContextCurrent(DrawableHandle drawable, GlContextHandle context) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  if (SDL_GL_MakeCurrent(static_cast<SDL_Window*>(drawable), context) == 0) return true;
  SayFailure(context != nullptr ? "cannot make the OpenGL context current"
                                : "cannot release the OpenGL context");
  return false;
}

bool DeleteGlContext(GlContextHandle context) {
  if (context == nullptr) return false;
  SDL_GL_DeleteContext(context);
  return true;
}

bool GlContextIsCurrent() {
  return SDL_WasInit(SDL_INIT_VIDEO) != 0 && SDL_GL_GetCurrentContext() != nullptr;
}

void ShowAndFocusWindow(WindowHandle window) {
  if (window == nullptr) return;
  SDL_Window* sdlWindow = static_cast<SDL_Window*>(window);
  SDL_ShowWindow(sdlWindow);
  SDL_RaiseWindow(sdlWindow);
}

uint32_t ActivateParameter(bool active) {
  bool minimised =
      g_sdlWindow != nullptr && (SDL_GetWindowFlags(g_sdlWindow) & SDL_WINDOW_MINIMIZED) != 0;
  return (active ? 1u : 0u) | (minimised ? 0x10000u : 0u);
}

// One SDL event as a window message; false for events the shell has no message for.
bool TranslateEvent(const SDL_Event& event, WindowMessage* message) {
  switch (event.type) {
    case SDL_QUIT:
      *message = {kMsgClose, 0, 0};
      return true;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      int vk = VirtualKeyFromSdlKeycode(event.key.keysym.sym);
      if (vk == 0) return false;
      // Alt combinations, Alt itself and F10 are system keys.
      bool system = (event.key.keysym.mod & KMOD_ALT) != 0 || vk == 18 || vk == 121;
      bool down = event.type == SDL_KEYDOWN;
      uint32_t id = system ? (down ? kMsgSysKeyDown : kMsgSysKeyUp) : (down ? kMsgKeyDown : kMsgKeyUp);
      *message = {id, static_cast<uint32_t>(vk), 0};
      return true;
    }
    case SDL_WINDOWEVENT: {
      if (g_sdlWindow == nullptr || event.window.windowID != SDL_GetWindowID(g_sdlWindow)) {
        return false;
      }
      switch (event.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
          uint32_t width = static_cast<uint32_t>(event.window.data1) & 0xFFFFu;
          uint32_t height = static_cast<uint32_t>(event.window.data2) & 0xFFFFu;
          *message = {kMsgSize, 0, width | (height << 16)};
          return true;
        }
        case SDL_WINDOWEVENT_MINIMIZED:
          *message = {kMsgActivate, 0x10000u, 0};
          return true;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_MAXIMIZED:
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          *message = {kMsgActivate, ActivateParameter(true), 0};
          return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          *message = {kMsgActivate, ActivateParameter(false), 0};
          return true;
        case SDL_WINDOWEVENT_CLOSE:
          *message = {kMsgClose, 0, 0};
          return true;
        default:
          return false;
      }
    }
    default:
      return false;
  }
}

// Events first; the quit request only once the queue holds nothing else.
bool TakeMessage(WindowMessage* message) {
  if (SDL_WasInit(SDL_INIT_EVENTS) != 0) {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
      if (TranslateEvent(event, message)) return true;
    }
  }
  if (g_quitPosted) {
    g_quitPosted = false;
    *message = {kMsgQuit, static_cast<uint32_t>(g_quitCode), 0};
    return true;
  }
  return false;
}

void PostQuitMessage(int exitCode) {
  g_quitPosted = true;
  g_quitCode = exitCode;
}

void SwapBuffers(DrawableHandle drawable) {
  if (drawable != nullptr) SDL_GL_SwapWindow(static_cast<SDL_Window*>(drawable));
}

}  // namespace

int DisplayVideoDrivers(const char* requested, const char* display, const char* waylandDisplay,
                        const char* drivers[2]) {
  if (IsSet(requested)) return 0;
  int count = 0;
  if (IsSet(display)) drivers[count++] = "x11";
  if (IsSet(waylandDisplay)) drivers[count++] = "wayland";
  return count;
}

bool NoVisibleDisplay() {
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return IsInvisibleDriver(SDL_GetCurrentVideoDriver());
  const char* requested = SDL_getenv("SDL_VIDEODRIVER");
  if (requested != nullptr && requested[0] != '\0') {
    if (IsInvisibleDriver(requested)) return true;
    if (strcasecmp(requested, "x11") == 0) return !HasEnvironment("DISPLAY");
    if (strcasecmp(requested, "wayland") == 0) return !HasEnvironment("WAYLAND_DISPLAY");
    return false;
  }
  return !HasEnvironment("DISPLAY") && !HasEnvironment("WAYLAND_DISPLAY");
}

int VirtualKeyFromSdlKeycode(int32_t key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return 112 + (key - SDLK_F1);
  if (key >= SDLK_F13 && key <= SDLK_F24) return 124 + (key - SDLK_F13);
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return 97 + (key - SDLK_KP_1);
  switch (key) {
    case SDLK_BACKSPACE: return 8;
    case SDLK_TAB: return 9;
    case SDLK_CLEAR: case SDLK_KP_CLEAR: return 12;
    case SDLK_RETURN: case SDLK_KP_ENTER: case SDLK_RETURN2: return 13;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return 16;
    case SDLK_LCTRL: case SDLK_RCTRL: return 17;
    case SDLK_LALT: case SDLK_RALT: return 18;
    case SDLK_PAUSE: return 19;
    case SDLK_CAPSLOCK: return 20;
    case SDLK_ESCAPE: return 27;
    case SDLK_SPACE: return 32;
    case SDLK_PAGEUP: return 33;
    case SDLK_PAGEDOWN: return 34;
    case SDLK_END: return 35;
    case SDLK_HOME: return 36;
    case SDLK_LEFT: return 37;
    case SDLK_UP: return 38;
    case SDLK_RIGHT: return 39;
    case SDLK_DOWN: return 40;
    case SDLK_SELECT: return 41;
    case SDLK_EXECUTE: return 43;
    case SDLK_PRINTSCREEN: return 44;
    case SDLK_INSERT: return 45;
    case SDLK_DELETE: return 46;
    case SDLK_HELP: return 47;
    case SDLK_LGUI: return 91;
    case SDLK_RGUI: return 92;
    case SDLK_APPLICATION: return 93;
    case SDLK_SLEEP: return 95;
    case SDLK_KP_0: return 96;
    case SDLK_KP_MULTIPLY: return 106;
    case SDLK_KP_PLUS: return 107;
    case SDLK_KP_COMMA: return 108;
    case SDLK_KP_MINUS: return 109;
    case SDLK_KP_PERIOD: case SDLK_KP_DECIMAL: return 110;
    case SDLK_KP_DIVIDE: return 111;
    case SDLK_NUMLOCKCLEAR: return 144;
    case SDLK_SCROLLLOCK: return 145;
    case SDLK_AC_BACK: return 166;
    case SDLK_AC_FORWARD: return 167;
    case SDLK_AC_REFRESH: return 168;
    case SDLK_AC_STOP: return 169;
    case SDLK_AC_SEARCH: return 170;
    case SDLK_AC_BOOKMARKS: return 171;
    case SDLK_AC_HOME: return 172;
    case SDLK_MUTE: return 173;
    case SDLK_VOLUMEDOWN: return 174;
    case SDLK_VOLUMEUP: return 175;
    case SDLK_AUDIONEXT: return 176;
    case SDLK_AUDIOPREV: return 177;
    case SDLK_AUDIOSTOP: return 178;
    case SDLK_AUDIOPLAY: return 179;
    case SDLK_MAIL: return 180;
    case SDLK_MEDIASELECT: return 181;
    case SDLK_SEMICOLON: return 186;
    case SDLK_EQUALS: return 187;
    case SDLK_COMMA: return 188;
    case SDLK_MINUS: return 189;
    case SDLK_PERIOD: return 190;
    case SDLK_SLASH: return 191;
    case SDLK_BACKQUOTE: return 192;
    case SDLK_LEFTBRACKET: return 219;
    case SDLK_BACKSLASH: return 220;
    case SDLK_RIGHTBRACKET: return 221;
    case SDLK_QUOTE: return 222;
    default: return 0;
  }
}

const WindowSystem kSdlWindowSystem = {
    ShowBox,          RegisterClass,        UnregisterClass,   SwitchToFullscreenMode,
    RestoreDesktopMode, ShowCursor,         CreateWindow,      DestroyWindow,
    AcquireDrawable,  ReleaseDrawable,      ChoosePixelFormat, SetPixelFormat,
    CreateGlContext,  MakeGlContextCurrent, DeleteGlContext,   GlContextIsCurrent,
    ShowAndFocusWindow, TakeMessage,        PostQuitMessage,   SwapBuffers,
};

const WindowSystem* g_windowSystem = &kSdlWindowSystem;
