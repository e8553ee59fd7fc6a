#include "roundtrip.h"

#include <chrono>
#include <thread>

#include "loopback.h"
#include "test_sockets.h"

std::string RoundTrip(int port, const std::string& text) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    int fd = loopback::Connect(port);
    if (fd < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    loopback::SendAll(fd, text);
    ::shutdown(fd, testsock::kShutdownSend);
    std::string reply = loopback::ReceiveAll(fd);
    testsock::Close(fd);
    return reply;
  }
  return "<no connection>";
}
