#include "connect_timeout.h"

#include <sys/socket.h>

namespace win {
namespace socket_layer {
namespace {

// How long a connect may go without an outcome before it fails with
// WSAETIMEDOUT.
std::chrono::milliseconds connectTimeout{21000};

// Sockets whose connect has no outcome yet, in the order they started.
thread_local std::vector<Pending> pendingConnects;

// A connect without outcome by its deadline fails, and the kernel gives up
// its attempt (a connect to AF_UNSPEC dissolves it), so that it cannot
// complete behind the owner's back.
void TimeOutConnect(Sock& s) {
  ::sockaddr none{};
  none.sa_family = AF_UNSPEC;
  ::connect(s.fd, &none, sizeof none);
  s.connecting = false;
  s.readEnabled = false;
  Post(s, FD_CONNECT, WSAETIMEDOUT);
}

}  // namespace

void StartConnectTimer(Sock& sock, SOCKET s) {
  sock.connectDeadline = std::chrono::steady_clock::now() + connectTimeout;
  pendingConnects.push_back({s, sock.tag});
}

int ExpireConnects() {
  if (pendingConnects.empty()) return -1;
  auto now = std::chrono::steady_clock::now();
  auto next = std::chrono::steady_clock::time_point::max();
  std::erase_if(pendingConnects, [&](const Pending& p) {
    Sock* s = table().Find(p);
    if (!s || s->orphan || !s->connecting) return true;
    if (now < s->connectDeadline) {
      next = std::min(next, s->connectDeadline);
      return false;
    }
    TimeOutConnect(*s);
    return true;
  });
  if (pendingConnects.empty()) return -1;
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
  return static_cast<int>(std::max<decltype(wait)>(wait, 0));
}

}  // namespace socket_layer

void SetConnectTimeout(int milliseconds) {
  socket_layer::connectTimeout = std::chrono::milliseconds(milliseconds);
}

}  // namespace win
