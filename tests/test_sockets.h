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
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstdint>
#include <string>

#ifndef _WIN32
#include <dirent.h>
#include <sys/resource.h>
#endif

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

// Lets this process use as many descriptors as the hard limit allows (POSIX;
// Windows has no such limit to raise).
inline void RaiseDescriptorLimit() {
#ifndef _WIN32
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
#endif
}

#ifndef _WIN32
// The sockets among a process's descriptors ("self" or a PID), or -1 when
// /proc cannot tell.
inline int CountSockets(const std::string& pid) {
  std::string folder = "/proc/" + pid + "/fd/";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return -1;
  int n = 0;
  char target[64];
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    ssize_t length = ::readlink((folder + entry->d_name).c_str(), target, sizeof target - 1);
    n += length >= 0 && std::string(target, static_cast<std::size_t>(length)).starts_with("socket:");
  }
  ::closedir(dir);
  return n;
}
#endif

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

// Why the last call failed: errno, or Winsock's error code.
inline int LastError() {
#ifdef _WIN32
  return ::WSAGetLastError();
#else
  return errno;
#endif
}

// Bytes that arrived on a socket and were not read yet.
inline long UnreadBytes(int fd) {
#ifdef _WIN32
  u_long n = 0;
  ::ioctlsocket(static_cast<SOCKET>(fd), FIONREAD, &n);
  return static_cast<long>(n);
#else
  int n = 0;
  ::ioctl(fd, FIONREAD, &n);
  return n;
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
