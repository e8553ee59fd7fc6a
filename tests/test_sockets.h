// Plain blocking and non-blocking sockets for the tests' own clients and
// servers, on POSIX and on Windows alike, without the engine's win:: layer.
// A socket is an int here, as on POSIX; Windows' handle values fit.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstdint>

namespace testsock {

#ifdef _WIN32
constexpr int kShutdownSend = SD_SEND;
constexpr int kShutdownBoth = SD_BOTH;
constexpr int kSendFlags = 0;
#else
constexpr int kShutdownSend = SHUT_WR;
constexpr int kShutdownBoth = SHUT_RDWR;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a vanished peer is an error, not a signal
#endif

// Readies the system's sockets (Winsock wants to be started once).
inline void Start() {
#ifdef _WIN32
  static bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
#endif
}

inline sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A TCP socket, or -1.
inline int Open() {
  Start();
#ifdef _WIN32
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
#else
  return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

// The next waiting connection of a listener, non-blocking; -1 when none waits.
inline int Accept(int listener) {
#ifdef _WIN32
  SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  u_long on = 1;
  ::ioctlsocket(s, FIONBIO, &on);
  return static_cast<int>(s);
#else
  return ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
#endif
}

inline void Close(int fd) {
#ifdef _WIN32
  ::closesocket(static_cast<SOCKET>(fd));
#else
  ::close(fd);
#endif
}

inline void SetNonBlocking(int fd, bool on = true) {
#ifdef _WIN32
  u_long value = on;
  ::ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &value);
#else
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
#endif
}

// Whether the last call failed only because it would have blocked.
inline bool WouldBlock() {
#ifdef _WIN32
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

// Whether the last receive failed because its timeout (SetTimeouts) ran out.
inline bool TimedOut() {
#ifdef _WIN32
  return ::WSAGetLastError() == WSAETIMEDOUT;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

inline void SetTimeouts(int fd, int seconds) {
#ifdef _WIN32
  DWORD ms = static_cast<DWORD>(seconds) * 1000;
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
  ::setsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
#else
  timeval timeout{seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
#endif
}

// Option setting with the value's address as either system wants it.
template <typename T>
int SetOption(int fd, int level, int name, const T& value) {
  return ::setsockopt(fd, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

inline int Poll(pollfd* fds, std::size_t count, int timeoutMs) {
#ifdef _WIN32
  return ::WSAPoll(fds, static_cast<ULONG>(count), timeoutMs);
#else
  return ::poll(fds, count, timeoutMs);
#endif
}

inline long Send(int fd, const char* data, std::size_t size) {
  return ::send(fd, data, static_cast<int>(size), kSendFlags);
}

inline long Receive(int fd, char* buffer, std::size_t size) {
  return ::recv(fd, buffer, static_cast<int>(size), 0);
}

}  // namespace testsock
