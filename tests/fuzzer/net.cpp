#include "net.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "test_sockets.h"

namespace net {

const Socket kNoSocket = -1;

void Startup() {
  testsock::Start();
#ifndef _WIN32
  signal(SIGPIPE, SIG_IGN);
#endif
  testsock::RaiseDescriptorLimit();
}

int LastError() { return testsock::LastError(); }

std::string ErrorName(int error) {
#ifdef _WIN32
  switch (error) {
    case WSAECONNRESET: return "WSAECONNRESET";
    case WSAECONNABORTED: return "WSAECONNABORTED";
    case WSAESHUTDOWN: return "WSAESHUTDOWN";
    case WSAECONNREFUSED: return "WSAECONNREFUSED";
    case WSAETIMEDOUT: return "WSAETIMEDOUT";
    default: return "error " + std::to_string(error);
  }
#else
  switch (error) {
    case ECONNRESET: return "ECONNRESET";
    case EPIPE: return "EPIPE";
    case ECONNABORTED: return "ECONNABORTED";
    case ECONNREFUSED: return "ECONNREFUSED";
    case ETIMEDOUT: return "ETIMEDOUT";
    default: return std::strerror(error);
  }
#endif
}

static bool ConnectInProgress() {
#ifdef _WIN32
  return testsock::LastError() == WSAEWOULDBLOCK;
#else
  return errno == EINPROGRESS;
#endif
}

static int PortOf(Socket s) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

Socket ListenLoopback(int* port) {
  Socket s = testsock::Open();
  sockaddr_in a = testsock::Loopback(0);
  if (s == kNoSocket || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 1024) != 0) {
    if (s != kNoSocket) testsock::Close(s);
    return kNoSocket;
  }
  testsock::SetNonBlocking(s);
  *port = PortOf(s);
  return s;
}

int FreeLoopbackPort() {
  Socket s = testsock::Open();
  sockaddr_in a = testsock::Loopback(0);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int port = PortOf(s);
  testsock::Close(s);
  return port;
}

Socket ConnectLoopback(int port) {
  Socket s = testsock::Open();
  if (s == kNoSocket) return kNoSocket;
  testsock::SetNonBlocking(s);
  sockaddr_in a = testsock::Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && !ConnectInProgress()) {
    testsock::Close(s);
    return kNoSocket;
  }
  return s;
}

int ConnectError(Socket s) {
  int error = 0;
  socklen_t length = sizeof error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
  return error;
}

Socket Accept(Socket listener) { return testsock::Accept(listener); }

long Send(Socket s, const char* data, std::size_t size) {
  long n = testsock::Send(s, data, size);
  if (n >= 0) return n;
  return testsock::WouldBlock() ? kWouldBlock : kFailed;
}

long Recv(Socket s, char* data, std::size_t size) {
  long n = testsock::Receive(s, data, size);
  if (n >= 0) return n;
  return testsock::WouldBlock() ? kWouldBlock : kFailed;
}

long UnreadBytes(Socket s) { return testsock::UnreadBytes(s); }
void ShutdownSend(Socket s) { shutdown(s, testsock::kShutdownSend); }
void Close(Socket s) { testsock::Close(s); }

void Abort(Socket s) {
  linger reset{};
  reset.l_onoff = 1;
  reset.l_linger = 0;
  testsock::SetOption(s, SOL_SOCKET, SO_LINGER, reset);
  testsock::Close(s);
}

void Poll(std::vector<Watch>& watches, int timeoutMs) {
  if (watches.empty()) {  // WSAPoll does not wait on an empty set
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return;
  }
  std::vector<pollfd> entries(watches.size());
  for (std::size_t i = 0; i < watches.size(); ++i) {
    entries[i].fd = static_cast<decltype(pollfd::fd)>(watches[i].socket);
    entries[i].events = static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0));
  }
  if (testsock::Poll(entries.data(), entries.size(), timeoutMs) <= 0) return;
  for (std::size_t i = 0; i < watches.size(); ++i) {
    short r = entries[i].revents;
    bool broken = r & (POLLERR | POLLHUP | POLLNVAL);
    watches[i].readable = broken || (r & POLLIN);
    watches[i].writable = broken || (r & POLLOUT);
  }
}

int OpenSockets() {
#ifdef _WIN32
  return -1;
#else
  return testsock::CountSockets("self");
#endif
}

}  // namespace net
