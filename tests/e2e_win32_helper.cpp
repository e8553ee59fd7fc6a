// The end-to-end test's helper on Windows (under Wine), over loopback:
//   e2e_win32_helper echo             an echo server; prints its port, runs until killed
//   e2e_win32_helper freeport         prints a free port
//   e2e_win32_helper roundtrip PORT TEXT
//                                     sends TEXT through PORT; status 0 when it comes back
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "loopback.h"
#include "roundtrip.h"

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
  std::fprintf(stderr, "usage: e2e_win32_helper echo | freeport | roundtrip PORT TEXT\n");
  return 2;
}
