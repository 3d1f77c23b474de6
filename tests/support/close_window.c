/* Closes an X window as a window manager does: sends it the WM_DELETE_WINDOW
 * message of the WM_PROTOCOLS protocol. For the real-window test scripts,
 * which compile it with `cc close_window.c -lX11`.
 * Usage: close-window WINDOW_ID */
#include <X11/Xlib.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(NULL);
  if (display == NULL || argc < 2) return 1;
  XEvent event = {0};
  event.xclient.type = ClientMessage;
  event.xclient.window = strtoul(argv[1], NULL, 0);
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = XInternAtom(display, "WM_DELETE_WINDOW", False);
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
  XCloseDisplay(display);
  return 0;
}
