// The demo's window and OpenGL context over the window-system layer:
// creation step by step with its failure boxes, destruction, the viewport
// and the window procedure.
#include "shell/window.h"

#include "platform/gl.h"

#include "render/render_state.h"
#include "timeline/sequencer.h"

const char* const kWindowClassName = "OpenGL";
const char* const kWindowTitle = "lantern from kestrel";

bool g_keys[256] = {};
bool g_active = true;
bool g_fullscreen = true;
WindowHandle g_hWnd = nullptr;
DrawableHandle g_hDC = nullptr;
GlContextHandle g_hRC = nullptr;

void (*g_initRenderStateHook)() = InitRenderState;
void (*g_loadAllScenesHook)() = LoadAllScenes;

namespace {

// The pixel format asked for at every creation: colour bits from the
// caller, 16 depth bits, double buffered; kept for the program's life.
PixelFormatRequest g_pixelFormat = {32, 16, true};

void ErrorBox(const char* text, unsigned icon) {
  g_windowSystem->showMessageBox(text, "ERROR", kBoxOk | icon);
}

void ShutdownErrorBox(const char* text) {
  g_windowSystem->showMessageBox(text, "SHUTDOWN ERROR", kBoxOk | kBoxIconInformation);
}

// A failure from window creation on: release what is held (restoring the
// display mode and cursor) before the box appears.
bool FailCreation(const char* text) {
  DestroyDemoWindow();
  ErrorBox(text, kBoxIconExclamation);
  return false;
}

}  // namespace

bool CreateDemoWindow(const char* title, int width, int height, int bits, bool fullscreen) {
  const WindowSystem* system = g_windowSystem;
  g_fullscreen = fullscreen;

  if (!system->registerWindowClass(kWindowClassName)) {
    ErrorBox("Failed To Register The Window Class.", kBoxIconExclamation);
    return false;
  }

  if (g_fullscreen && !system->switchToFullscreenMode(width, height, bits)) {
    int answer = system->showMessageBox(
        "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed Mode "
        "Instead?",
        "lantern by kestrel", kBoxYesNo | kBoxIconExclamation);
    if (answer != kAnswerYes) {
      system->showMessageBox("Program Will Now Close.", "ERROR", kBoxOk | kBoxIconStop);
      return false;
    }
    g_fullscreen = false;
  }
  if (g_fullscreen) system->showCursor(false);

  g_hWnd = system->createWindow(kWindowClassName, title, width, height, g_fullscreen);
  if (g_hWnd == nullptr) return FailCreation("Window Creation Error.");

  g_hDC = system->acquireDrawable(g_hWnd);
  if (g_hDC == nullptr) return FailCreation("Can't Create A GL Device Context.");

  g_pixelFormat.colorBits = bits;
  int format = system->choosePixelFormat(g_hDC, &g_pixelFormat);
  if (format == 0) return FailCreation("Can't Find A Suitable PixelFormat.");
  if (!system->setPixelFormat(g_hDC, format, &g_pixelFormat)) {
    return FailCreation("Can't Set The PixelFormat.");
  }

  g_hRC = system->createGlContext(g_hDC);
  if (g_hRC == nullptr) return FailCreation("Can't Create A GL Rendering Context.");
  if (!system->makeGlContextCurrent(g_hDC, g_hRC)) {
    return FailCreation("Can't Activate The GL Rendering Context.");
  }

  system->showAndFocusWindow(g_hWnd);
  ResizeViewport(width, height);
  g_initRenderStateHook();
  system->swapBuffers(g_hDC);
  g_loadAllScenesHook();
  return true;
}

void DestroyDemoWindow() {
  const WindowSystem* system = g_windowSystem;
  if (g_fullscreen) {
    system->restoreDesktopMode();
    system->showCursor(true);
  }
  if (g_hRC != nullptr) {
    if (!system->makeGlContextCurrent(nullptr, nullptr)) {
      ShutdownErrorBox("Release Of DC And RC Failed.");
    }
    if (!system->deleteGlContext(g_hRC)) ShutdownErrorBox("Release Rendering Context Failed.");
    g_hRC = nullptr;
  }
  if (g_hDC != nullptr) {
    if (!system->releaseDrawable(g_hWnd, g_hDC)) {
      ShutdownErrorBox("Release Device Context Failed.");
    }
    g_hDC = nullptr;
  }
  if (g_hWnd != nullptr) {
    if (!system->destroyWindow(g_hWnd)) ShutdownErrorBox("Could Not Release hWnd.");
    g_hWnd = nullptr;
  }
  if (!system->unregisterWindowClass(kWindowClassName)) {
    ShutdownErrorBox("Could Not Unregister Class.");
  }
}

void ResizeViewport(int width, int height) {
  if (height == 0) height = 1;
  if (!g_windowSystem->glContextIsCurrent()) return;
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height), 0.1, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

intptr_t DemoWindowProc(WindowHandle, uint32_t message, uint32_t wParam, uint32_t lParam) {
  switch (message) {
    case kMsgActivate:
      g_active = (wParam >> 16) == 0;
      return 0;
    case kMsgSysCommand:
      if (wParam == kSysCommandScreenSave || wParam == kSysCommandMonitorPower) return 0;
      break;
    case kMsgClose:
      g_windowSystem->postQuitMessage(0);
      return 0;
    case kMsgKeyDown:
      g_keys[wParam & 0xFFu] = true;
      return 0;
    case kMsgKeyUp:
      g_keys[wParam & 0xFFu] = false;
      return 0;
    case kMsgSize:
      ResizeViewport(static_cast<int>(lParam & 0xFFFFu), static_cast<int>(lParam >> 16));
      return 0;
    default:
      break;
  }
  // Everything else, system keys included, gets the default treatment:
  // nothing the demo reacts to.
  return 0;
}
