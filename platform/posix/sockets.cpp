#include "sockets.h"

// The Winsock option values, taken before the POSIX headers define macros
// of the same names.
namespace {
constexpr int kWinSolSocket = win::SOL_SOCKET;
constexpr int kWinSoLinger = win::SO_LINGER;
}  // namespace

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <bit>
#include <cerrno>

#include "connect_timeout.h"
#include "descriptor_reserve.h"
#include "lingering_close.h"
#include "socket_table.h"
#include "winsock_conversions.h"
#include "write_out.h"

namespace win {
namespace socket_layer {
namespace {

// Kernel bytes one socket may read between two dispatched messages; past it
// recv reports would-block and FD_READ is posted again, so that one busy
// connection does not hold up the others.
constexpr std::size_t kReadBudget = 64 * 1024;

thread_local int lastError = 0;

int Fail(int error) {
  lastError = error;
  return SOCKET_ERROR;
}

// Copies the short pieces that recv and send move (about a hundred bytes) as
// two overlapping 64-byte moves; a general copy spends more time choosing
// its method than copying pieces this small.
[[gnu::always_inline]] inline void CopyBytes(char* to, const char* from, std::size_t n) {
  if (n > 64 && n <= 128) {
    std::memcpy(to, from, 64);
    std::memcpy(to + n - 64, from + n - 64, 64);
  } else {
    std::memcpy(to, from, n);
  }
}

// Never destroyed: sockets may outlive statics. Set up before main, so the
// lookup on every call needs no guard.
SocketTable* const socketTable = new SocketTable;

// Sockets with work to do after the current message.
thread_local std::vector<Pending> pendingWork;
thread_local bool hookInstalled = false;

bool IsLiveTag(WPARAM wParam, std::uint64_t tag) {
  Sock* s = table().Live(static_cast<SOCKET>(wParam));
  return s && s->tag == tag;
}

int NewStreamSocket(int protocol) {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// A socket that used up its read budget is busy: its next FD_READ lets the
// sockets that became ready meanwhile go first. A reset is told even while
// the owner reads nothing from the socket (it may wait for room elsewhere,
// and would otherwise never hear of it); an owner that does read meets the
// bytes before the reset first, and then the reset itself.
void PostReadSide(Sock& s, bool busy) {
  if (s.resetSeen && !s.readEnabled && !s.closePosted) {
    s.closePosted = true;
    Post(s, FD_CLOSE, WSAECONNRESET);
    return;
  }
  if (!s.readEnabled) return;
  if (s.listening) {
    if (s.readable && !s.starved) {
      s.readEnabled = false;
      Post(s, FD_ACCEPT, 0);
    }
    return;
  }
  if (!s.connected) return;
  if (!s.in.empty() || (s.readable && !s.peerClosed && !s.readError)) {
    s.readEnabled = false;
    Post(s, FD_READ, 0, busy);
  } else if ((s.peerClosed || s.readError) && !s.closePosted) {
    s.closePosted = true;
    Post(s, FD_CLOSE, s.readError);
  }
}

// Brings a socket's events and buffers up to date with what is known.
void Update(Sock& s) {
  bool busy = s.readThisTurn >= kReadBudget;
  s.readThisTurn = 0;
  WriteOrHold(s);
  if (s.orphan) return;
  PostWriteSide(s);
  PostReadSide(s, busy);
}

void FinishConnect(Sock& s) {
  int error = 0;
  socklen_t len = sizeof error;
  ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &len);
  s.connecting = false;
  if (error == 0) {
    s.connected = true;
    Post(s, FD_CONNECT, 0);
    s.writeWanted = true;
  } else {
    s.readEnabled = false;
    Post(s, FD_CONNECT, WsaFromErrno(error));
  }
}

}  // namespace

SocketTable& table() { return *socketTable; }

void MarkPending(Sock& s) {
  if (s.pending) return;
  s.pending = true;
  pendingWork.push_back({static_cast<SOCKET>(s.fd), s.tag});
}

void Post(Sock& s, long event, int error, bool afterPoll) {
  if (!s.hwnd || !(s.events & event)) return;
  LPARAM lParam = MAKELPARAM(static_cast<WORD>(event), static_cast<WORD>(error));
  if (afterPoll)
    PostTaggedMessageAfterPoll(s.hwnd, s.message, static_cast<WPARAM>(s.fd), lParam, s.tag);
  else
    PostTaggedMessage(s.hwnd, s.message, static_cast<WPARAM>(s.fd), lParam, s.tag);
}

void Sock::OnReady(std::uint32_t ev) {
  if (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) readable = true;
  if (ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) hangupSeen = true;
  if (ev & (EPOLLOUT | EPOLLHUP | EPOLLERR)) kernelFull = false;
  if (connecting && (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
    FinishConnect(*this);
  else if (connected && (ev & EPOLLERR))
    resetSeen = true;
  Update(*this);
}

namespace {

// The queue is about to wait with nothing to do. If many sockets have gone
// since the last time, the memory their buffers and connections took goes
// back to the system: the allocator keeps freed memory otherwise.
void GiveMemoryBackWhenIdle() {
  if (table().closedSinceTrim < 64) return;
  table().closedSinceTrim = 0;
  ::malloc_trim(0);
}

// How long the queue may wait when no socket has work left: until a starved
// listener tries again or a lingering close is looked at; -1 for as long as
// it takes.
int IdleWait() {
  if (int retry = StarvedRetryWait(); retry >= 0) return retry;
  int lingering = LingeringCheckWait();
  if (lingering < 0) GiveMemoryBackWhenIdle();
  return lingering;
}

// The shorter of two waits, where -1 is no limit.
int Sooner(int a, int b) { return a < 0 ? b : b < 0 ? a : std::min(a, b); }

// Runs after every dispatched message, before the next one is fetched.
int AfterMessage() {
  static thread_local std::vector<Pending> work;  // kept, so that no message allocates
  work.clear();
  work.swap(pendingWork);
  for (const Pending& p : work) {
    Sock* s = table().Find(p);
    if (!s) continue;
    s->pending = false;
    Update(*s);
  }
  FlushHeldTails();
  FinishLingeringCloses();
  int untilConnectDeadline = ExpireConnects();
  if (!pendingWork.empty() || HoldingTails()) return 0;
  return Sooner(IdleWait(), untilConnectDeadline);
}

void Watch(Sock& s) {
  if (!hookInstalled) {
    hookInstalled = true;
    AbortLingeringWhenThreadEnds();
    SetTagChecker(&IsLiveTag);
    AddFetchHook(&AfterMessage);
  }
  if (s.inEpoll) return;
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  ev.data.ptr = static_cast<WaitSource*>(&s);
  if (::epoll_ctl(QueueEpollFd(), EPOLL_CTL_ADD, s.fd, &ev) == 0) s.inEpoll = true;
}

}  // namespace
}  // namespace socket_layer

using namespace socket_layer;

int WSAStartup(WORD versionRequested, WSADATA* data) {
  if ((versionRequested & 0xFF) < 1) return 10092;  // WSAVERNOTSUPPORTED
  RaiseDescriptorLimit();
  if (data) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = 0x0101;
    data->wHighVersion = 0x0101;
    std::strcpy(data->szDescription, "Velotrunk sockets over epoll");
    std::strcpy(data->szSystemStatus, "Running");
    data->iMaxSockets = 0xFFFF;
  }
  return 0;
}

int WSACleanup() { return 0; }
int WSAGetLastError() { return lastError; }
void WSASetLastError(int error) { lastError = error; }

SOCKET socket(int af, int type, int protocol) {
  if (af != AF_INET || type != SOCK_STREAM) {
    lastError = WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }
  int fd = NewStreamSocket(protocol);
  if (fd < 0 && OutOfDescriptors(errno) && ReleaseReserve()) fd = NewStreamSocket(protocol);
  if (fd < 0) {
    lastError = WsaFromErrno(errno);
    return INVALID_SOCKET;
  }
  SetNoDelay(fd);
  table().Add(fd);
  return static_cast<SOCKET>(fd);
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  ::sockaddr_in address;
  if (!ToPosix(name, nameLength, address)) return Fail(WSAEFAULT);
  // Windows lets a new listener take a port whose old connections linger in
  // TIME_WAIT and refuses one that another socket listens on; on Linux that
  // is what SO_REUSEADDR gives.
  int one = 1;
  ::setsockopt(sock->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(sock->fd, reinterpret_cast<::sockaddr*>(&address), sizeof address) != 0)
    return Fail(WsaFromErrno(errno));
  sock->bound = true;
  return 0;
}

int listen(SOCKET s, int backlog) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  // Linux would listen on an unbound socket, on a port of its own choosing
  // and every interface; Windows refuses, and so does this layer.
  if (!sock->bound) return Fail(WSAEINVAL);
  // Winsock 1.1 caps the backlog at its SOMAXCONN, 5, so 5 asks for the most
  // the system allows. Taken literally on Linux it would drop the SYNs of a
  // burst of connections and stall each dropped client for a second or more.
  if (backlog >= 5) backlog = SOMAXCONN;
  if (::listen(sock->fd, backlog) != 0) return Fail(WsaFromErrno(errno));
  sock->listening = true;
  MarkPending(*sock);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* address, int* addressLength) {
  Sock* listener = table().Live(s);
  if (!listener) {
    lastError = WSAENOTSOCK;
    return INVALID_SOCKET;
  }
  listener->readEnabled = true;
  MarkPending(*listener);
  ::sockaddr_in peer{};
  socklen_t peerLength = sizeof peer;
  int fd = -1;
  int e = EMFILE;
  if (HoldReserve()) {
    fd = ::accept4(listener->fd, reinterpret_cast<::sockaddr*>(&peer), &peerLength,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
    e = errno;
  }
  if (fd < 0) {
    if (e == EAGAIN) listener->readable = false;
    if (OutOfDescriptors(e)) MarkStarved(*listener);
    lastError = WsaFromErrno(e);
    return INVALID_SOCKET;
  }
  SetNoDelay(fd);
  // Table growth may move nothing the listener points to: entries are heap objects.
  HWND hwnd = listener->hwnd;
  UINT message = listener->message;
  long events = listener->events;
  Sock& sock = table().Add(fd);
  sock.connected = true;
  sock.hwnd = hwnd;
  sock.message = message;
  sock.events = events;
  sock.writeWanted = true;  // an accepted socket reports FD_WRITE once
  if (hwnd) Watch(sock);
  MarkPending(sock);
  FromPosix(peer, address, addressLength);
  return static_cast<SOCKET>(fd);
}

int connect(SOCKET s, const sockaddr* name, int nameLength) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  ::sockaddr_in address;
  if (!ToPosix(name, nameLength, address)) return Fail(WSAEFAULT);
  if (sock->connected || sock->connecting) return Fail(sock->connected ? WSAEISCONN : WSAEALREADY);
  int result = ::connect(sock->fd, reinterpret_cast<::sockaddr*>(&address), sizeof address);
  if (result == 0 || errno == EINPROGRESS) {
    sock->connecting = true;
    if (result == 0) {
      FinishConnect(*sock);
      MarkPending(*sock);  // its FD_WRITE
    } else {
      StartConnectTimer(*sock, s);
    }
    return Fail(WSAEWOULDBLOCK);
  }
  // A connect refused at once is reported like one refused later, so that
  // the owner learns of it through FD_CONNECT either way.
  int error = WsaFromErrno(errno);
  sock->readEnabled = false;
  Post(*sock, FD_CONNECT, error);
  return Fail(error);
}

namespace {

// Hands out read-ahead bytes; the common case of recv.
[[gnu::always_inline]] inline int TakeBuffered(Sock& sock, char* buffer, int length) {
  sock.readEnabled = true;
  MarkPending(sock);
  std::size_t n = std::min(static_cast<std::size_t>(length), sock.in.size());
  CopyBytes(buffer, sock.in.block + sock.in.begin, n);
  sock.in.Consume(n);
  return static_cast<int>(n);
}

}  // namespace

int recv(SOCKET s, char* buffer, int length, int flags) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!sock->in.empty() && length > 0) return TakeBuffered(*sock, buffer, length);
  if (sock->listening || (!sock->connected && !sock->connecting)) return Fail(WSAENOTCONN);
  if (length <= 0) return 0;
  sock->readEnabled = true;
  MarkPending(*sock);
  {
    if (sock->readError) return Fail(sock->readError);
    if (sock->peerClosed) return 0;
    if (!sock->readable || !sock->connected || sock->readThisTurn >= kReadBudget)
      return Fail(WSAEWOULDBLOCK);
    std::size_t room = sock->in.Reserve(kBlockSize);
    ssize_t n;
    do {
      n = ::recv(sock->fd, sock->in.block + sock->in.end, room, 0);
    } while (n < 0 && errno == EINTR);
    if (n == 0) {
      sock->in.Release();
      // A reset that a buffered write met first leaves the read side an
      // ordinary end of stream; the owner still hears of the reset.
      if (sock->writeError == WSAECONNRESET) {
        sock->readError = WSAECONNRESET;
        return Fail(sock->readError);
      }
      sock->peerClosed = true;
      return 0;
    }
    if (n < 0) {
      sock->in.Release();
      if (errno == EAGAIN) {
        sock->readable = false;
        return Fail(WSAEWOULDBLOCK);
      }
      sock->readError = WsaFromErrno(errno);
      return Fail(sock->readError);
    }
    sock->in.end += static_cast<std::size_t>(n);
    sock->readThisTurn += static_cast<std::size_t>(n);
    if (sock->readThisTurn >= kReadBudget) ExpectMoreBytes();
    // A read that did not fill the room emptied the kernel's queue, and any
    // byte that comes later brings a new edge: no need to ask again just to
    // hear would-block. An end of stream or error that epoll has already
    // reported is still to be read, so then the next read goes ahead.
    if (static_cast<std::size_t>(n) < room && !sock->hangupSeen) sock->readable = false;
  }
  return TakeBuffered(*sock, buffer, length);
}

int send(SOCKET s, const char* buffer, int length, int flags) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (sock->writeError) return Fail(sock->writeError);
  if (!sock->connected) return Fail(WSAENOTCONN);
  if (sock->sendShut) return Fail(WSAESHUTDOWN);
  if (length <= 0) return 0;
  std::size_t wanted = static_cast<std::size_t>(length);
  if (sock->out.block && kBlockSize - sock->out.end >= wanted) {  // the common case: room at the end
    CopyBytes(sock->out.block + sock->out.end, buffer, wanted);
    sock->out.end += wanted;
    MarkPending(*sock);
    return length;
  }
  std::size_t room = sock->out.Reserve(wanted);
  if (room == 0) {
    // The buffer is full: give the kernel what it takes now, in whole
    // segments while more follows, unless a segment is more than the buffer.
    WriteOut(*sock, false);
    if (sock->out.size() == kBlockSize) WriteOut(*sock);
    if (sock->writeError) return Fail(sock->writeError);
    room = sock->out.Reserve(wanted);
  }
  if (room == 0) {
    sock->writeWanted = true;
    return Fail(WSAEWOULDBLOCK);
  }
  CopyBytes(sock->out.block + sock->out.end, buffer, room);
  sock->out.end += room;
  MarkPending(*sock);
  return static_cast<int>(room);
}

int shutdown(SOCKET s, int how) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (!sock->connected) return Fail(WSAENOTCONN);
  if (how == SD_RECEIVE || how == SD_BOTH) ::shutdown(sock->fd, SHUT_RD);
  if (how == SD_SEND || how == SD_BOTH) {
    sock->sendShut = true;
    if (sock->out.empty())
      ::shutdown(sock->fd, SHUT_WR);
    else
      sock->shutdownPending = true;  // after the buffered bytes
  }
  return 0;
}

int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  if (level != kWinSolSocket || optionName != kWinSoLinger) return Fail(WSAENOPROTOOPT);
  if (!optionValue || optionLength < static_cast<int>(sizeof(linger))) return Fail(WSAEFAULT);
  const auto* value = reinterpret_cast<const linger*>(optionValue);
  ::linger posix{value->l_onoff ? 1 : 0, value->l_linger};
  if (::setsockopt(sock->fd, SOL_SOCKET, SO_LINGER, &posix, sizeof posix) != 0) return Fail(WsaFromErrno(errno));
  sock->abortive = value->l_onoff && value->l_linger == 0;
  return 0;
}

int closesocket(SOCKET s) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  // Its waiting messages go stale with the new tag; no new ones are posted.
  sock->hwnd = nullptr;
  sock->tag = table().NewTag();
  WriteOut(*sock);
  if (sock->out.empty() || sock->writeError || sock->abortive) {
    CloseNow(*sock);
  } else {
    // Bytes already accepted by send still reach the peer, as after a
    // graceful close; the descriptor stays ours until they are written.
    CloseWhenWritten(*sock, s);
  }
  return 0;
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, long events) {
  Sock* sock = table().Live(s);
  if (!sock) return Fail(WSAENOTSOCK);
  sock->hwnd = events ? hwnd : nullptr;
  sock->message = message;
  sock->events = events;
  if (sock->hwnd) Watch(*sock);
  MarkPending(*sock);
  return 0;
}

u_long inet_addr(const char* text) {
  ::in_addr address;
  if (!text || ::inet_aton(text, &address) == 0) return INADDR_NONE;
  return address.s_addr;
}

// glibc defines the POSIX byte-order calls as macros; these are spelled out.
#undef htons
#undef htonl
#undef ntohs
#undef ntohl
u_short htons(u_short v) {
  return std::endian::native == std::endian::little ? __builtin_bswap16(v) : v;
}
u_long htonl(u_long v) {
  return std::endian::native == std::endian::little ? __builtin_bswap32(v) : v;
}
u_short ntohs(u_short v) { return htons(v); }
u_long ntohl(u_long v) { return htonl(v); }

}  // namespace win
