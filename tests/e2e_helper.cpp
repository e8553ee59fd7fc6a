// Helper for the end-to-end window test, over loopback and the X server:
//   e2e_helper freeport            prints a free TCP port
//   e2e_helper echo                prints the port of an echo server, then
//                                  serves until it is terminated
//   e2e_helper roundtrip PORT TEXT sends TEXT through PORT (trying to connect
//                                  for up to ten seconds) and succeeds when the
//                                  same text comes back
//   e2e_helper close WINDOW_ID     asks the window to close, as a window
//                                  manager's close button does
//   e2e_helper position WINDOW_ID  prints the window's position on the
//                                  screen (its client area's top-left corner)
//   e2e_helper wm                  succeeds when a window manager runs
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "loopback.h"
#include "roundtrip.h"

namespace {

int CheckRoundTrip(int port, const std::string& text) {
  std::string reply = RoundTrip(port, text);
  std::printf("%s\n", reply.c_str());
  return reply == text ? 0 : 1;
}

int CloseWindow(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XCloseDisplay(display);
  return 0;
}

int PrintPosition(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  int x = 0, y = 0;
  Window child = 0;
  Bool found = XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
  XCloseDisplay(display);
  if (!found) return 1;
  std::printf("%d,%d\n", x, y);
  return 0;
}

// A window manager that follows the desktop conventions names its check
// window on the root window.
int WindowManagerRuns() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 1;
  Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  bool runs = check != None &&
              XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, AnyPropertyType, &type,
                                 &format, &items, &after, &data) == Success &&
              items == 1;
  if (data) XFree(data);
  XCloseDisplay(display);
  return runs ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "freeport" && argc == 2) {
    std::printf("%d\n", loopback::FreePort());
    return 0;
  }
  if (command == "echo" && argc == 2) {
    loopback::TestServer server(loopback::TestServer::kEcho);
    std::printf("%d\n", server.port());
    std::fflush(stdout);
    for (;;) ::pause();
  }
  if (command == "roundtrip" && argc == 4) return CheckRoundTrip(std::atoi(argv[2]), argv[3]);
  if (command == "close" && argc == 3) return CloseWindow(std::strtoul(argv[2], nullptr, 0));
  if (command == "position" && argc == 3) return PrintPosition(std::strtoul(argv[2], nullptr, 0));
  if (command == "wm" && argc == 2) return WindowManagerRuns();
  std::fprintf(stderr, "usage: e2e_helper freeport | echo | roundtrip PORT TEXT | close WINDOW_ID | position WINDOW_ID | wm\n");
  return 2;
}
