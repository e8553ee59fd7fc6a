#include "net.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <chrono>
#include <cstring>
#include <thread>

namespace net {

// --- What differs between the two socket interfaces -------------------------

#ifdef _WIN32
const Socket kNoSocket = INVALID_SOCKET;
using AddressLength = int;
using PollEntry = WSAPOLLFD;
constexpr int kSendFlags = 0;

void Startup() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}
int LastError() { return WSAGetLastError(); }
static bool IsWouldBlock(int error) { return error == WSAEWOULDBLOCK; }
static bool IsInProgress(int error) { return error == WSAEWOULDBLOCK; }
static void SetNonBlocking(Socket s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}
void Close(Socket s) { closesocket(s); }
void ShutdownSend(Socket s) { shutdown(s, SD_SEND); }
long UnreadBytes(Socket s) {
  u_long n = 0;
  ioctlsocket(s, FIONREAD, &n);
  return static_cast<long>(n);
}
static int PollSockets(PollEntry* entries, std::size_t count, int timeoutMs) {
  return WSAPoll(entries, static_cast<ULONG>(count), timeoutMs);
}
int OpenSockets() { return -1; }

std::string ErrorName(int error) {
  switch (error) {
    case WSAECONNRESET: return "WSAECONNRESET";
    case WSAECONNABORTED: return "WSAECONNABORTED";
    case WSAESHUTDOWN: return "WSAESHUTDOWN";
    case WSAECONNREFUSED: return "WSAECONNREFUSED";
    case WSAETIMEDOUT: return "WSAETIMEDOUT";
    default: return "error " + std::to_string(error);
  }
}
#else
const Socket kNoSocket = -1;
using AddressLength = socklen_t;
using PollEntry = pollfd;
constexpr int kSendFlags = MSG_NOSIGNAL;

void Startup() {
  signal(SIGPIPE, SIG_IGN);
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}
int LastError() { return errno; }
static bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
static bool IsInProgress(int error) { return error == EINPROGRESS; }
static void SetNonBlocking(Socket s) { fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK); }
void Close(Socket s) { close(s); }
void ShutdownSend(Socket s) { shutdown(s, SHUT_WR); }
long UnreadBytes(Socket s) {
  int n = 0;
  ioctl(s, FIONREAD, &n);
  return n;
}
static int PollSockets(PollEntry* entries, std::size_t count, int timeoutMs) {
  return poll(entries, count, timeoutMs);
}

int OpenSockets() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  char target[64];
  while (dirent* entry = readdir(dir)) {
    std::string path = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, n).starts_with("socket:")) ++count;
  }
  closedir(dir);
  return count;
}

std::string ErrorName(int error) {
  switch (error) {
    case ECONNRESET: return "ECONNRESET";
    case EPIPE: return "EPIPE";
    case ECONNABORTED: return "ECONNABORTED";
    case ECONNREFUSED: return "ECONNREFUSED";
    case ETIMEDOUT: return "ETIMEDOUT";
    default: return std::strerror(error);
  }
}
#endif

// --- The same on both -------------------------------------------------------

static sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<unsigned short>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

static int PortOf(Socket s) {
  sockaddr_in a{};
  AddressLength length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

Socket ListenLoopback(int* port) {
  Socket s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 1024) != 0) {
    Close(s);
    return kNoSocket;
  }
  SetNonBlocking(s);
  *port = PortOf(s);
  return s;
}

int FreeLoopbackPort() {
  Socket s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int port = PortOf(s);
  Close(s);
  return port;
}

Socket ConnectLoopback(int port) {
  Socket s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == kNoSocket) return kNoSocket;
  SetNonBlocking(s);
  sockaddr_in a = Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && !IsInProgress(LastError())) {
    Close(s);
    return kNoSocket;
  }
  return s;
}

int ConnectError(Socket s) {
  int error = 0;
  AddressLength length = sizeof error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
  return error;
}

Socket Accept(Socket listener) {
  Socket s = accept(listener, nullptr, nullptr);
  if (s != kNoSocket) SetNonBlocking(s);
  return s;
}

long Send(Socket s, const char* data, std::size_t size) {
  long n = send(s, data, static_cast<int>(size), kSendFlags);
  if (n >= 0) return n;
  return IsWouldBlock(LastError()) ? kWouldBlock : kFailed;
}

long Recv(Socket s, char* data, std::size_t size) {
  long n = recv(s, data, static_cast<int>(size), 0);
  if (n >= 0) return n;
  return IsWouldBlock(LastError()) ? kWouldBlock : kFailed;
}

void Abort(Socket s) {
  linger reset{};
  reset.l_onoff = 1;
  reset.l_linger = 0;
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
  Close(s);
}

void Poll(std::vector<Watch>& watches, int timeoutMs) {
  if (watches.empty()) {  // WSAPoll does not wait on an empty set
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return;
  }
  std::vector<PollEntry> entries(watches.size());
  for (std::size_t i = 0; i < watches.size(); ++i) {
    entries[i].fd = watches[i].socket;
    entries[i].events = static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0));
  }
  if (PollSockets(entries.data(), entries.size(), timeoutMs) <= 0) return;
  for (std::size_t i = 0; i < watches.size(); ++i) {
    short r = entries[i].revents;
    bool broken = r & (POLLERR | POLLHUP | POLLNVAL);
    watches[i].readable = broken || (r & POLLIN);
    watches[i].writable = broken || (r & POLLOUT);
  }
}

}  // namespace net
