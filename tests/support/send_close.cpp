// SPDX-License-Identifier: GPL-3.0-or-later
// Asks the window titled argv[1] to close the way a window manager does: a
// WM_DELETE_WINDOW client message. Exits 0 when it was sent, 1 when no such window.
#include <X11/Xlib.h>

#include <cstdio>

#include "x11_window.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 2;
  Window target = FindByTitle(display, DefaultRootWindow(display), argv[1]);
  if (!target) {
    std::fprintf(stderr, "no window titled %s\n", argv[1]);
    return 1;
  }
  SendClose(display, target);
  XCloseDisplay(display);
  return 0;
}
