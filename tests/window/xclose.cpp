// Takes a window away the ways a desktop can: "close" asks as a window manager's close button
// does (WM_DELETE_WINDOW), "destroy" destroys it from this other program, and "kill" cuts
// its owner's connection to the display (what xkill does).
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: xclose close|destroy|kill WINDOW-ID\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "xclose: no display\n");
    return 1;
  }
  const Window window = std::strtoul(argv[2], nullptr, 0);
  if (std::strcmp(argv[1], "destroy") == 0) {
    XDestroyWindow(display, window);
  } else if (std::strcmp(argv[1], "kill") == 0) {
    XKillClient(display, window);
  } else {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
  }
  XSync(display, False);
  XCloseDisplay(display);
  return 0;
}
