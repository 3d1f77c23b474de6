// The demo's window and OpenGL context: creation (with the whole start-up
// behind it), destruction in a fixed order, the viewport and the window
// procedure that turns messages into the key table and the active flag.
#pragma once

#include <cstdint>

#include "platform/window_system.h"

// Class name and caption of the demo's window and boxes.
extern const char* const kWindowClassName;  // "OpenGL"
extern const char* const kWindowTitle;      // "lantern from kestrel"

// One flag per virtual-key code, true while the key is down. Main thread only.
extern bool g_keys[256];
// False while the window is minimised; gates drawing. Main thread only.
extern bool g_active;
// The window's current display mode. Main thread only.
extern bool g_fullscreen;
// The window, its drawable (device context) and the GL context; null when none is held.
extern WindowHandle g_hWnd;
extern DrawableHandle g_hDC;
extern GlContextHandle g_hRC;

// Steps 12 and 14 of creation: the initial render state with the loading
// screen, and the whole start-up loading. InitRenderState and LoadAllScenes
// unless a test installs recorders.
extern void (*g_initRenderStateHook)();
extern void (*g_loadAllScenesHook)();

// Creates the window (client area width x height, framed or full screen at
// bits per pixel) and its context, shows the loading screen and runs the
// start-up. False after a failure, which has been reported in a box and
// cleaned up.
bool CreateDemoWindow(const char* title, int width, int height, int bits, bool fullscreen);

// Releases whatever is held: display mode and cursor, context, drawable,
// window, class; each failure in a "SHUTDOWN ERROR" box.
void DestroyDemoWindow();

// Viewport and a default 45-degree projection for a client area in pixels;
// a height of 0 counts as 1. Changes no GL state while no context is current.
void ResizeViewport(int width, int height);

// The window procedure: activation, screen-saver suppression, close,
// key down and up, client size.
intptr_t DemoWindowProc(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam);
