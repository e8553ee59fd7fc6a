// The end-to-end test's helper on Windows (under Wine), over loopback:
//   e2e_win32_helper echo             an echo server; prints its port, runs until killed
//   e2e_win32_helper freeport         prints a free port
//   e2e_win32_helper roundtrip PORT TEXT
//                                     sends TEXT through PORT; status 0 when it comes back
//   e2e_win32_helper box CAPTION      prints the text of the open message box with that
//                                     caption, then the title of its owner when the box
//                                     keeps the owner from taking input ("enabled" if not)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "loopback.h"
#include "roundtrip.h"
#include "utf16.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "echo") {
    loopback::TestServer server(loopback::TestServer::kEcho);
    std::printf("%d\n", server.port());
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (mode == "freeport") {
    std::printf("%d\n", loopback::FreePort());
    return 0;
  }
  if (mode == "roundtrip" && argc == 4) {
    const std::string reply = RoundTrip(std::atoi(argv[2]), argv[3]);
    std::printf("%s\n", reply.c_str());
    return reply == argv[3] ? 0 : 1;
  }
  if (mode == "box" && argc == 3) {
    HWND box = FindWindowW(L"#32770", Widen(argv[2]).c_str());
    if (!box) return 1;
    wchar_t text[512] = {}, title[256] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);  // a message box's text control
    HWND owner = GetWindow(box, GW_OWNER);
    GetWindowTextW(owner, title, 256);
    std::printf("%s\n%s\n", Narrow(text).c_str(), owner && !IsWindowEnabled(owner) ? Narrow(title).c_str() : "enabled");
    return 0;
  }
  std::fprintf(stderr, "usage: e2e_win32_helper echo | freeport | roundtrip PORT TEXT | box CAPTION\n");
  return 2;
}
