// The window system on SDL2: message boxes, the 640x480 full-screen mode,
// the GL window and context, SDL events turned into window messages.
#include <SDL.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "platform/window_system.h"

bool g_allowInvisibleWindow = false;

namespace {

bool g_classRegistered = false;
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

bool HasEnvironment(const char* name) {
  const char* value = SDL_getenv(name);
  return value != nullptr && value[0] != '\0';
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

int ShowBox(const char* text, const char* caption, unsigned style) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
  if (NoVisibleDisplay()) return kAnswerNone;

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
  int chosen = -1;
  if (SDL_ShowMessageBox(&box, &chosen) != 0 || chosen < 0) return kAnswerNone;
  return chosen;
}

// The class stands for SDL's video subsystem, started by the first
// registration and kept for the program's life: reconnecting to the X server
// at every F1 now and then finds it "not available" and falls back to the
// invisible offscreen driver.
bool RegisterClass(const char*) {
  if (g_classRegistered) return false;
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
    // Without the poll sentinel, an empty poll means an empty queue, so a
    // quit request never overtakes an event that is already queued.
    SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
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
    SDL_SetError("no display to show a window on (video driver %s)",
                 SDL_GetCurrentVideoDriver());
    return nullptr;
  }
  SDL_GL_ResetAttributes();
  SetGlAttributes(g_pixelFormat);
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
  if (fullscreen) flags |= SDL_WINDOW_FULLSCREEN;
  SDL_Window* window = SDL_CreateWindow(title, 0, 0, width, height, flags);
  if (window == nullptr) return nullptr;
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
  if (context == nullptr) return nullptr;
  int depth = 0;
  int doubleBuffer = 0;
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
  SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &doubleBuffer);
  bool needsDoubleBuffer = g_pixelFormat.doubleBuffer && !NoVisibleDisplay();
  if (depth < g_pixelFormat.depthBits || (needsDoubleBuffer && doubleBuffer == 0)) {
    SDL_SetError("context has %d depth bits, double buffer %d", depth, doubleBuffer);
    SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_GL_DeleteContext(context);
    return nullptr;
  }
  return context;
}

bool MakeGlContextCurrent(DrawableHandle drawable, GlContextHandle context) {
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
  return SDL_GL_MakeCurrent(static_cast<SDL_Window*>(drawable), context) == 0;
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
