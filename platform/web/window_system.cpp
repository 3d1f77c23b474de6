// The window system in the browser: the page's canvas is the window, a
// WebGL 1 context on it the GL context (drawn through the fixed-function
// layer), and the page's key, visibility and full-screen events arrive as
// window messages through a queue that the page fills.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <cstdio>

#include "platform/web/gl_layer.h"
#include "platform/web/platform.h"
#include "platform/window_system.h"

namespace {

constexpr int kQueueCapacity = 256;
WindowMessage g_queue[kQueueCapacity];
int g_queueHead = 0;
int g_queueCount = 0;

// What the window handle points at: the canvas has no object on this side.
int g_canvasWindow = 0;

// The context the layer was last set up in.
EMSCRIPTEN_WEBGL_CONTEXT_HANDLE g_layerContext = 0;

int g_presentedFrames = 0;

void Post(uint32_t message, uint32_t wParam, uint32_t lParam) {
  if (g_queueCount == kQueueCapacity) return;  // a flood of events: the newest go
  g_queue[(g_queueHead + g_queueCount) % kQueueCapacity] = {message, wParam, lParam};
  ++g_queueCount;
}

// Boxes cannot stop the page: the text goes to stderr, which the page shows
// in its console and in the line under the canvas. The only question asked
// in a box on other platforms, the start question, is asked by the page.
int ShowMessageBox(const char* text, const char* caption, unsigned style) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  return (style & kBoxButtonMask) == kBoxYesNo ? kAnswerYes : kAnswerOk;
}

bool RegisterWindowClass(const char*) { return true; }
bool UnregisterWindowClass(const char*) { return true; }

// The page asks the browser for full screen when the viewer answers Yes or
// presses F1: browsers grant it only inside such a gesture.
bool SwitchToFullscreenMode(int, int, int) { return true; }

void RestoreDesktopMode() {
  EM_ASM({
    if (Module.lanternLeaveFullscreen) Module.lanternLeaveFullscreen();
  });
}

void ShowCursor(bool show) {
  EM_ASM({ Module.canvas.style.cursor = $0 ? "" : "none"; }, show ? 1 : 0);
}

WindowHandle CreateWindow(const char*, const char*, int, int, bool) { return &g_canvasWindow; }
bool DestroyWindow(WindowHandle) { return true; }
DrawableHandle AcquireDrawable(WindowHandle window) { return window; }
bool ReleaseDrawable(WindowHandle, DrawableHandle) { return true; }
int ChoosePixelFormat(DrawableHandle, const PixelFormatRequest*) { return 1; }
bool SetPixelFormat(DrawableHandle, int, const PixelFormatRequest*) { return true; }

// No alpha channel, as the desktop's pixel format: blending with the
// destination's alpha then sees 1, and the page shows the colours opaque.
GlContextHandle CreateGlContext(DrawableHandle) {
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.alpha = EM_FALSE;
  attributes.depth = EM_TRUE;
  attributes.stencil = EM_FALSE;
  attributes.antialias = EM_FALSE;
  attributes.preserveDrawingBuffer = EM_FALSE;
  attributes.majorVersion = 1;
  attributes.minorVersion = 0;
  const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context =
      emscripten_webgl_create_context("#canvas", &attributes);
  if (context <= 0) return nullptr;
  return reinterpret_cast<GlContextHandle>(static_cast<intptr_t>(context));
}

EMSCRIPTEN_WEBGL_CONTEXT_HANDLE FromHandle(GlContextHandle context) {
  return static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(context));
}

bool MakeGlContextCurrent(DrawableHandle, GlContextHandle context) {
  if (context == nullptr) {
    LglFlush();
    return emscripten_webgl_make_context_current(0) == EMSCRIPTEN_RESULT_SUCCESS;
  }
  const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle = FromHandle(context);
  if (emscripten_webgl_make_context_current(handle) != EMSCRIPTEN_RESULT_SUCCESS) return false;
  if (handle != g_layerContext) {
    LglContextCreated();
    g_layerContext = handle;
  }
  return true;
}

// The canvas keeps showing the last frame presented: only the layer's
// objects go, and the handle.
bool DeleteGlContext(GlContextHandle context) {
  const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle = FromHandle(context);
  const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE current = emscripten_webgl_get_current_context();
  if (handle == g_layerContext &&
      emscripten_webgl_make_context_current(handle) == EMSCRIPTEN_RESULT_SUCCESS) {
    LglContextDestroyed();
    g_layerContext = 0;
  }
  emscripten_webgl_make_context_current(current == handle ? 0 : current);
  return emscripten_webgl_destroy_context(handle) == EMSCRIPTEN_RESULT_SUCCESS;
}

bool GlContextIsCurrent() { return emscripten_webgl_get_current_context() != 0; }

void ShowAndFocusWindow(WindowHandle) {
  EM_ASM({ Module.canvas.focus(); });
}

bool TakeMessage(WindowMessage* message) {
  if (g_queueCount == 0) return false;
  *message = g_queue[g_queueHead];
  g_queueHead = (g_queueHead + 1) % kQueueCapacity;
  --g_queueCount;
  return true;
}

void PostQuitMessage(int exitCode) { Post(kMsgQuit, static_cast<uint32_t>(exitCode), 0); }

// The browser shows what was drawn when control returns to it; what the
// layer still holds back is drawn now.
void SwapBuffers(DrawableHandle) {
  LglFlush();
  ++g_presentedFrames;
}

}  // namespace

const WindowSystem kWebWindowSystem = {
    ShowMessageBox,     RegisterWindowClass, UnregisterWindowClass, SwitchToFullscreenMode,
    RestoreDesktopMode, ShowCursor,          CreateWindow,          DestroyWindow,
    AcquireDrawable,    ReleaseDrawable,     ChoosePixelFormat,     SetPixelFormat,
    CreateGlContext,    MakeGlContextCurrent, DeleteGlContext,      GlContextIsCurrent,
    ShowAndFocusWindow, TakeMessage,         PostQuitMessage,       SwapBuffers,
};

const WindowSystem* g_windowSystem = &kWebWindowSystem;

int WebPresentedFrames() { return g_presentedFrames; }

extern "C" {

// Called by the page for every key, visibility and full-screen event.
EMSCRIPTEN_KEEPALIVE void lantern_post_message(uint32_t message, uint32_t wParam, uint32_t lParam) {
  Post(message, wParam, lParam);
}

}  // extern "C"
