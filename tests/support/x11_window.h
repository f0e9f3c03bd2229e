// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding the game's window on an X display and asking it to close, as the end-to-end
// tools need to.
#include <X11/Xlib.h>

#include <cstring>

// The first window below `window` (itself included) whose title is `title`; 0 if none.
inline Window FindByTitle(Display* display, Window window, const char* title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name != nullptr) {
    const bool match = std::strcmp(name, title) == 0;
    XFree(name);
    if (match) return window;
  }
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count && !found; ++i) found = FindByTitle(display, children[i], title);
    if (children) XFree(children);
  }
  return found;
}

// Asks `window` to close the way a window manager does: a WM_DELETE_WINDOW message.
inline void SendClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}
