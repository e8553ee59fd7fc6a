#include "fake_sockets.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "messages.h"

namespace fake {

Layer& layer() {
  static Layer l;
  return l;
}

void Reset() { layer() = Layer{}; }

std::atomic<int> fetchThrows{0};

}  // namespace fake

namespace win {
namespace {

thread_local int lastError = 0;

int Fail(int error) {
  lastError = error;
  return SOCKET_ERROR;
}

// The socket of a value, or null (with a note) when the engine uses a value
// it does not hold.
fake::Socket* Find(SOCKET s, const char* call) {
  auto it = fake::layer().sockets.find(s);
  if (it == fake::layer().sockets.end() || !it->second.open) {
    fake::layer().calls.push_back(std::string(call) + " on " + std::to_string(s));
    return nullptr;
  }
  return &it->second;
}

SOCKET NewSocket() {
  auto& l = fake::layer();
  SOCKET s;
  if (!l.nextSockets.empty()) {
    s = l.nextSockets.front();
    l.nextSockets.pop_front();
  } else {
    s = l.counter++;
  }
  l.sockets[s] = fake::Socket{};
  return s;
}

}  // namespace

int WSAStartup(WORD, WSADATA*) { return 0; }
int WSACleanup() { return 0; }
int WSAGetLastError() { return lastError; }
void WSASetLastError(int error) { lastError = error; }

SOCKET socket(int, int, int) {
  if (fake::layer().failSocket) {
    lastError = WSAEMFILE;
    return INVALID_SOCKET;
  }
  return NewSocket();
}

int bind(SOCKET s, const sockaddr* name, int) {
  if (!Find(s, "bind")) return Fail(WSAENOTSOCK);
  if (fake::layer().failBind) return Fail(WSAEADDRINUSE);
  fake::layer().boundPort = ntohs(reinterpret_cast<const sockaddr_in*>(name)->sin_port);
  return 0;
}

int listen(SOCKET s, int) {
  if (!Find(s, "listen")) return Fail(WSAENOTSOCK);
  if (fake::layer().failBind) return Fail(WSAEINVAL);  // an unbound socket cannot listen
  return 0;
}

SOCKET accept(SOCKET s, sockaddr*, int*) {
  auto& l = fake::layer();
  if (!Find(s, "accept") || l.waitingClients.empty()) {
    lastError = WSAEWOULDBLOCK;
    return INVALID_SOCKET;
  }
  SOCKET c = l.waitingClients.front();
  l.waitingClients.pop_front();
  l.sockets[c] = fake::Socket{};
  return c;
}

int connect(SOCKET s, const sockaddr* name, int) {
  fake::Socket* sock = Find(s, "connect");
  if (!sock) return Fail(WSAENOTSOCK);
  sock->connectPort = ntohs(reinterpret_cast<const sockaddr_in*>(name)->sin_port);
  return Fail(WSAEWOULDBLOCK);
}

int recv(SOCKET s, char* buffer, int length, int) {
  if (fake::layer().onRecv) fake::layer().onRecv(s);
  fake::Socket* sock = Find(s, "recv");
  if (!sock) return Fail(WSAENOTSOCK);
  int result;
  if (!sock->inbound.empty()) {
    result = std::min<int>(length, static_cast<int>(sock->inbound.size()));
    std::memcpy(buffer, sock->inbound.data(), result);
    sock->inbound.erase(0, result);
    sock->recvSizes.push_back(length);
  } else if (sock->peerClosed) {
    result = 0;
  } else {
    result = Fail(sock->recvError ? sock->recvError : WSAEWOULDBLOCK);
  }
  sock->recvResults.push_back(result);
  return result;
}

int send(SOCKET s, const char* buffer, int length, int) {
  fake::Socket* sock = Find(s, "send");
  if (!sock) return Fail(WSAENOTSOCK);
  long take = length;
  if (!sock->sendScript.empty()) {
    int step = sock->sendScript.front();
    sock->sendScript.pop_front();
    if (step < 0) return Fail(-step);
    take = std::min<long>(take, step);
  }
  if (sock->sendRoom >= 0) take = std::min(take, sock->sendRoom);
  if (take == 0) return Fail(WSAEWOULDBLOCK);
  if (sock->sendRoom >= 0) sock->sendRoom -= take;
  sock->sent.append(buffer, take);
  return static_cast<int>(take);
}

int shutdown(SOCKET s, int how) {
  fake::Socket* sock = Find(s, "shutdown");
  if (!sock) return Fail(WSAENOTSOCK);
  sock->shutdowns.push_back(how);
  return 0;
}

int setsockopt(SOCKET s, int level, int name, const char* value, int length) {
  fake::Socket* sock = Find(s, "setsockopt");
  if (!sock) return Fail(WSAENOTSOCK);
  if (level != SOL_SOCKET || name != SO_LINGER || length != sizeof(linger)) return Fail(WSAEINVAL);
  const auto* l = reinterpret_cast<const linger*>(value);
  sock->abortive = l->l_onoff && l->l_linger == 0;
  return 0;
}

void SetStalledCloseLimit(int) {}

int closesocket(SOCKET s) {
  fake::layer().closed.push_back(s);
  fake::Socket* sock = Find(s, "closesocket");
  if (!sock) return Fail(WSAENOTSOCK);
  sock->open = false;
  return 0;
}

int WSAAsyncSelect(SOCKET s, HWND, UINT message, long events) {
#ifndef _WIN32  // Windows' message fetch runs none of our code
  thread_local bool hooked = false;
  if (!hooked) {
    hooked = true;
    AddFetchHook([] {
      if (fake::fetchThrows > 0 && fake::fetchThrows-- > 0) throw std::runtime_error("fake fetch failure");
      return -1;
    });
  }
#endif
  fake::Socket* sock = Find(s, "WSAAsyncSelect");
  if (!sock) return Fail(WSAENOTSOCK);
  sock->events = events;
  sock->message = message;
  return 0;
}

u_long inet_addr(const char* text) {
  unsigned a, b, c, d;
  char extra;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4) return INADDR_NONE;
  return htonl((a << 24) | (b << 16) | (c << 8) | d);
}

u_short htons(u_short v) { return static_cast<u_short>((v >> 8) | (v << 8)); }
u_long htonl(u_long v) { return __builtin_bswap32(v); }
u_short ntohs(u_short v) { return htons(v); }
u_long ntohl(u_long v) { return htonl(v); }

}  // namespace win
