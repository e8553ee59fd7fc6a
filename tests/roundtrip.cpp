#include "roundtrip.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "loopback.h"

std::string RoundTrip(int port, const std::string& text) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    int fd = loopback::Connect(port);
    if (fd < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    loopback::SendAll(fd, text);
    ::shutdown(fd, SHUT_WR);
    std::string reply = loopback::ReceiveAll(fd);
    ::close(fd);
    return reply;
  }
  return "<no connection>";
}
