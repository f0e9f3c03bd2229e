// Asks the window titled argv[1] to close the way a window manager does: a
// WM_DELETE_WINDOW client message. Exits 0 when it was sent, 1 when no such window.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>

namespace {
Window FindByTitle(Display* display, Window window, const char* title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name != nullptr) {
    bool match = std::strcmp(name, title) == 0;
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
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 2;
  Window target = FindByTitle(display, DefaultRootWindow(display), argv[1]);
  if (!target) {
    std::fprintf(stderr, "no window titled %s\n", argv[1]);
    return 1;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = target;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, target, False, NoEventMask, &event);
  XFlush(display);
  XCloseDisplay(display);
  return 0;
}
