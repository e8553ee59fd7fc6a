#include "sockets.h"

// The Winsock option values, taken before the POSIX headers define macros
// of the same names.
namespace {
constexpr int kWinSolSocket = win::SOL_SOCKET;
constexpr int kWinSoLinger = win::SO_LINGER;
}  // namespace

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <linux/sockios.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "free_list.h"
#include "messages.h"

namespace win {
namespace {

// Bytes one kernel read may bring into a socket's read-ahead buffer, and the
// most that a socket's write buffer holds before send reports would-block.
constexpr std::size_t kBlockSize = 64 * 1024;
// Kernel bytes one socket may read between two dispatched messages; past it
// recv reports would-block and FD_READ is posted again, so that one busy
// connection does not hold up the others.
constexpr std::size_t kReadBudget = 64 * 1024;
// Free blocks kept for reuse; the rest go back to the allocator.
constexpr std::size_t kPooledBlocks = 32;
// How long a closed socket with bytes still buffered may go without its peer
// taking any, before it is aborted.
std::chrono::milliseconds stalledCloseLimit{60000};
// How many rounds (one per dispatched message) the short tail of a write may
// wait for the bytes that follow it: enough for a quiet connection's
// messages to pass between two turns of a busy one without forcing the tail
// out as a segment of its own.
constexpr std::uint64_t kTailRounds = 3;
// How often a listener that ran out of descriptors tries accept again.
constexpr int kStarvedRetryMs = 200;
// How long a connect may go without an outcome before it fails with
// WSAETIMEDOUT, as Windows gives up by default (Linux would retry its SYNs
// for about two minutes).
std::chrono::milliseconds connectTimeout{21000};

thread_local int lastError = 0;

int Fail(int error) {
  lastError = error;
  return SOCKET_ERROR;
}

int WsaFromErrno(int e) {
  switch (e) {
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case ENOTSOCK: return WSAENOTSOCK;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: return WSAEMFILE;
    case ENFILE: return WSAEMFILE;
    case EALREADY: return WSAEALREADY;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS: return WSAENOBUFS;
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return 10000 + e;
  }
}

// --- Buffers --------------------------------------------------------------

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

using BlockPool = FreeList<kBlockSize, kPooledBlocks>;

BlockPool& pool() {
  static BlockPool* p = new BlockPool;  // never destroyed: sockets may outlive statics
  return *p;
}

// A byte range inside a pooled block, handed back to the pool when it empties.
struct Buffer {
  char* block = nullptr;
  std::size_t begin = 0;
  std::size_t end = 0;

  std::size_t size() const { return end - begin; }
  bool empty() const { return begin == end; }
  void Consume(std::size_t n) {
    begin += n;
    if (empty()) Release();
  }
  void Release() {
    if (block) pool().Give(block);
    block = nullptr;
    begin = end = 0;
  }
  // Makes room for up to `wanted` bytes at the end; returns the room made.
  std::size_t Reserve(std::size_t wanted) {
    if (!block) block = pool().Take();
    if (kBlockSize - end < wanted && begin > 0) {
      std::memmove(block, block + begin, size());
      end -= begin;
      begin = 0;
    }
    return std::min(wanted, kBlockSize - end);
  }
};

// --- Sockets --------------------------------------------------------------

struct Sock : WaitSource {
  int fd = -1;
  std::uint64_t tag = 0;  // distinguishes this socket from later ones with the same value

  HWND hwnd = nullptr;
  UINT message = 0;
  long events = 0;
  bool inEpoll = false;

  bool bound = false;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool starved = false;  // a listener whose accept ran out of descriptors

  // What epoll last said, until a kernel call says otherwise.
  bool readable = false;
  bool hangupSeen = false;  // epoll has reported the peer's close or an error
  bool resetSeen = false;   // epoll has reported an error on a connected socket

  // Read side.
  Buffer in;
  bool peerClosed = false;
  int readError = 0;
  bool readEnabled = true;  // FD_READ / FD_ACCEPT may be posted
  bool closePosted = false;
  std::size_t readThisTurn = 0;

  // Write side.
  Buffer out;
  bool kernelFull = false;   // the kernel refused a write and epoll has not reported room since
  int writeError = 0;        // from a buffered write; reported by the next send
  bool writeWanted = false;  // FD_WRITE is owed once the buffer drains
  bool shutdownPending = false;
  bool sendShut = false;

  bool abortive = false;  // SO_LINGER 0: closing resets the connection

  // When a connect still without outcome fails with WSAETIMEDOUT.
  std::chrono::steady_clock::time_point connectDeadline;

  bool pending = false;  // listed in pendingWork
  // The last round in which it held back a short tail; 0 while it holds none
  // (and is not listed in heldTails).
  std::uint64_t heldRound = 0;

  // Closed by its owner while bytes were still buffered; when its peer last
  // took some, and how many the kernel held unacknowledged then.
  bool orphan = false;
  std::chrono::steady_clock::time_point lastProgress;
  int kernelHeld = 0;

  void OnReady(std::uint32_t ev) override;
};

std::uint64_t nextTag = 1;

// Sockets closed since memory was last handed back to the system.
std::size_t closedSinceTrim = 0;

class SocketTable {
 public:
  Sock* Find(SOCKET s) {
    if (s >= socks_.size()) return nullptr;
    return socks_[s].get();
  }
  Sock* Live(SOCKET s) {
    Sock* sock = Find(s);
    return sock && !sock->orphan ? sock : nullptr;
  }
  Sock& Add(int fd) {
    if (static_cast<std::size_t>(fd) >= socks_.size()) socks_.resize(fd + 1);
    socks_[fd] = std::make_unique<Sock>();
    socks_[fd]->fd = fd;
    socks_[fd]->tag = nextTag++;
    return *socks_[fd];
  }
  void Remove(int fd) {
    socks_[fd].reset();
    ++closedSinceTrim;
  }

  template <typename F>
  void ForEach(F f) {
    for (auto& s : socks_)
      if (s) f(*s);
  }

 private:
  std::vector<std::unique_ptr<Sock>> socks_;
};

// Never destroyed: sockets may outlive statics. Set up before main, so the
// lookup on every call needs no guard.
SocketTable* const socketTable = new SocketTable;
SocketTable& table() { return *socketTable; }

// Sockets with work to do after the current message: buffered bytes to
// write, events to post again.
struct Pending {
  SOCKET fd;
  std::uint64_t tag;
};
thread_local std::vector<Pending> pendingWork;
thread_local bool hookInstalled = false;
int starvedListeners = 0;
// Closed sockets still writing out their last bytes.
thread_local std::vector<Pending> orphans;
// Sockets whose connect has no outcome yet, in the order they started.
thread_local std::vector<Pending> pendingConnects;
// Whether a read of the current message used up its budget: more bytes are
// waiting, and what they bring will be written soon after.
thread_local bool moreComing = false;
// Sockets holding back the short tail of a write, and the current round (one
// per AfterMessage).
thread_local std::vector<Pending> heldTails;
thread_local std::uint64_t round = 1;

void MarkPending(Sock& s) {
  if (s.pending) return;
  s.pending = true;
  pendingWork.push_back({static_cast<SOCKET>(s.fd), s.tag});
}

// A message posted after the next look at the descriptors waits behind what
// that look finds.
void Post(Sock& s, long event, int error, bool afterPoll = false) {
  if (!s.hwnd || !(s.events & event)) return;
  LPARAM lParam = MAKELPARAM(static_cast<WORD>(event), static_cast<WORD>(error));
  if (afterPoll)
    PostTaggedMessageAfterPoll(s.hwnd, s.message, static_cast<WPARAM>(s.fd), lParam, s.tag);
  else
    PostTaggedMessage(s.hwnd, s.message, static_cast<WPARAM>(s.fd), lParam, s.tag);
}

bool IsLiveTag(WPARAM wParam, std::uint64_t tag) {
  Sock* s = table().Live(static_cast<SOCKET>(wParam));
  return s && s->tag == tag;
}

// One descriptor held in reserve, so that a client accepted with the last
// free descriptor can still get the socket that carries it on: accept takes
// a client only while the reserve is held, and socket gives the reserve up
// when no other descriptor is left. Without it such a client would be taken
// from the backlog only to be refused.
std::atomic<int> reserveFd{-1};

bool HoldReserve() {
  if (reserveFd.load(std::memory_order_relaxed) >= 0) return true;
  int fd = ::eventfd(0, EFD_CLOEXEC);
  if (fd < 0) return false;
  int none = -1;
  if (!reserveFd.compare_exchange_strong(none, fd)) ::close(fd);
  return true;
}

bool ReleaseReserve() {
  int fd = reserveFd.exchange(-1);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool OutOfDescriptors(int e) { return e == EMFILE || e == ENFILE; }

// Every socket is a descriptor here, and the usual soft limit of 1024 would
// stop a relay at about 500 connections where Windows allows thousands: take
// what the hard limit allows.
void RaiseDescriptorLimit() {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int NewStreamSocket(int protocol) {
  return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The largest segment the kernel sends on this connection; 1 when unknown.
std::size_t SegmentSize(const Sock& s) {
  int mss = 0;
  socklen_t len = sizeof mss;
  if (::getsockopt(s.fd, IPPROTO_TCP, TCP_MAXSEG, &mss, &len) != 0 || mss <= 0) return 1;
  return static_cast<std::size_t>(mss);
}

// Hands buffered bytes to the kernel until it takes no more. Unless `whole`,
// only whole segments go: with Nagle off, the short rest of a large write
// would leave as a segment of its own, and when more bytes are about to
// follow it is cheaper to send it along with them.
void WriteOut(Sock& s, bool whole = true) {
  // The segment size is asked only when something can be written.
  std::size_t unit = 0;
  while (!s.out.empty() && !s.writeError && !s.kernelFull) {
    if (unit == 0) unit = whole ? 1 : SegmentSize(s);
    std::size_t wanted = s.out.size() - s.out.size() % unit;
    if (wanted == 0) return;
    ssize_t n = ::send(s.fd, s.out.block + s.out.begin, wanted, MSG_NOSIGNAL);
    if (n > 0) {
      s.out.Consume(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      // Trying again before epoll reports room would only spin; a socket
      // epoll does not watch has nothing else to wait for.
      s.kernelFull = s.inEpoll;
      return;
    } else {
      // The peer has reset or gone: what it sent before is still to be
      // read, and the read side must look rather than wait for epoll.
      s.writeError = WsaFromErrno(errno);
      s.out.Release();
      s.readable = s.hangupSeen = true;
    }
  }
  if (s.out.empty() && s.shutdownPending) {
    s.shutdownPending = false;
    ::shutdown(s.fd, SHUT_WR);
  }
}

// Writes what the socket has buffered. While more bytes are on their way, a
// short tail is held back for a few rounds, to leave with them.
void WriteOrHold(Sock& s) {
  bool hold = moreComing && !s.orphan;
  WriteOut(s, !hold);
  if (!hold || s.out.empty() || s.kernelFull || s.writeError) return;
  if (s.heldRound == 0) heldTails.push_back({static_cast<SOCKET>(s.fd), s.tag});
  s.heldRound = round;
}

void PostWriteSide(Sock& s) {
  if (s.out.empty() && s.writeWanted && s.connected) {
    s.writeWanted = false;
    Post(s, FD_WRITE, 0);
  }
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

// Fails the connects whose time is up; returns the milliseconds until the
// next deadline (-1 when no connect waits).
int ExpireConnects() {
  auto now = std::chrono::steady_clock::now();
  auto next = std::chrono::steady_clock::time_point::max();
  std::erase_if(pendingConnects, [&](const Pending& p) {
    Sock* s = table().Live(p.fd);
    if (!s || s->tag != p.tag || !s->connecting) return true;
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

// Listeners that ran out of descriptors try accept again.
void WakeStarvedListeners() {
  table().ForEach([](Sock& l) {
    if (!l.starved) return;
    l.starved = false;
    --starvedListeners;
    MarkPending(l);
  });
}

void CloseNow(Sock& s) {
  s.in.Release();
  s.out.Release();
  if (s.starved) --starvedListeners;
  ::close(s.fd);
  table().Remove(s.fd);
  // A descriptor is free again: listeners that ran out may accept now.
  if (starvedListeners > 0) WakeStarvedListeners();
}

// Closes with a reset: the peer sees an error, and what is unsent is dropped.
void AbortNow(Sock& s) {
  ::linger now{1, 0};
  ::setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  CloseNow(s);
}

// Whether the peer has taken bytes since the last look: the kernel holds
// fewer unacknowledged ones (or more, when the layer handed it some).
bool PeerTookSome(Sock& s) {
  int held = 0;
  ::ioctl(s.fd, SIOCOUTQ, &held);
  bool changed = held != s.kernelHeld;
  s.kernelHeld = held;
  return changed;
}

// Closed sockets whose last bytes have gone are closed for good; those whose
// peer has taken nothing for too long are aborted.
void FinishOrphans() {
  auto now = std::chrono::steady_clock::now();
  std::erase_if(orphans, [&](const Pending& p) {
    Sock* s = table().Find(p.fd);
    if (!s || s->tag != p.tag) return true;
    if (s->out.empty() || s->writeError) {
      CloseNow(*s);
      return true;
    }
    if (PeerTookSome(*s)) s->lastProgress = now;
    if (now - s->lastProgress < stalledCloseLimit) return false;
    AbortNow(*s);
    return true;
  });
}

// A thread that ends leaves no socket behind that still writes out: nothing
// would serve it any more.
struct OrphansOfThread {
  ~OrphansOfThread() {
    for (const Pending& p : orphans) {
      Sock* s = table().Find(p.fd);
      if (s && s->tag == p.tag) AbortNow(*s);
    }
    orphans.clear();
  }
};
thread_local OrphansOfThread orphansOfThread;

// Ends a round: a tail that has waited its rounds goes out now. One that a
// later write took along (holding back a new one) waits from then on.
void FlushHeldTails() {
  moreComing = false;
  std::erase_if(heldTails, [](const Pending& p) {
    Sock* s = table().Find(p.fd);
    if (!s || s->tag != p.tag) return true;  // closed: closesocket wrote it out
    if (round < s->heldRound + kTailRounds) return false;
    s->heldRound = 0;
    WriteOut(*s);
    PostWriteSide(*s);
    return true;
  });
  ++round;
}

// The queue is about to wait with nothing to do. If many sockets have gone
// since the last time, the memory their buffers and connections took goes
// back to the system: the allocator keeps freed memory otherwise.
void GiveMemoryBackWhenIdle() {
  if (closedSinceTrim < 64) return;
  closedSinceTrim = 0;
  ::malloc_trim(0);
}

// How long the queue may wait when no socket has work left: until a starved
// listener tries again or an orphan is looked at; -1 for as long as it takes.
int IdleWait() {
  if (starvedListeners > 0) {
    static thread_local auto lastRetry = std::chrono::steady_clock::now();
    auto now = std::chrono::steady_clock::now();
    if (now - lastRetry >= std::chrono::milliseconds(kStarvedRetryMs)) {
      lastRetry = now;
      WakeStarvedListeners();
      return 0;
    }
    return kStarvedRetryMs;
  }
  if (orphans.empty()) {
    GiveMemoryBackWhenIdle();
    return -1;
  }
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(1000, stalledCloseLimit.count()));
}

// The shorter of two waits, where -1 is no limit.
int Sooner(int a, int b) { return a < 0 ? b : b < 0 ? a : std::min(a, b); }

// Runs after every dispatched message, before the next one is fetched.
int AfterMessage() {
  static thread_local std::vector<Pending> work;  // kept, so that no message allocates
  work.clear();
  work.swap(pendingWork);
  for (const Pending& p : work) {
    Sock* s = table().Find(p.fd);
    if (!s || s->tag != p.tag) continue;
    s->pending = false;
    Update(*s);
  }
  FlushHeldTails();
  if (!orphans.empty()) FinishOrphans();
  int untilConnectDeadline = pendingConnects.empty() ? -1 : ExpireConnects();
  if (!pendingWork.empty() || !heldTails.empty()) return 0;
  return Sooner(IdleWait(), untilConnectDeadline);
}

void Watch(Sock& s) {
  if (!hookInstalled) {
    hookInstalled = true;
    (void)&orphansOfThread;  // made now, so that it runs when the thread ends
    SetTagChecker(&IsLiveTag);
    AddFetchHook(&AfterMessage);
  }
  if (s.inEpoll) return;
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  ev.data.ptr = static_cast<WaitSource*>(&s);
  if (::epoll_ctl(QueueEpollFd(), EPOLL_CTL_ADD, s.fd, &ev) == 0) s.inEpoll = true;
}

// Winsock's 16-byte IPv4 address has the same bytes as the POSIX one but for
// the family field, which both keep in host order at the front.
bool ToPosix(const sockaddr* name, int length, ::sockaddr_in& out) {
  if (!name || length < static_cast<int>(sizeof(sockaddr_in))) return false;
  const auto* in = reinterpret_cast<const sockaddr_in*>(name);
  if (in->sin_family != AF_INET) return false;
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = in->sin_port;
  out.sin_addr.s_addr = in->sin_addr.s_addr;
  return true;
}

void FromPosix(const ::sockaddr_in& in, sockaddr* name, int* length) {
  if (!name || !length || *length < static_cast<int>(sizeof(sockaddr_in))) return;
  auto* out = reinterpret_cast<sockaddr_in*>(name);
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = in.sin_port;
  out->sin_addr.s_addr = in.sin_addr.s_addr;
  *length = sizeof(sockaddr_in);
}

}  // namespace

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
    if (OutOfDescriptors(e) && !listener->starved) {
      listener->starved = true;
      ++starvedListeners;
    }
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
      sock->connectDeadline = std::chrono::steady_clock::now() + connectTimeout;
      pendingConnects.push_back({s, sock->tag});
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
    if (sock->readThisTurn >= kReadBudget) moreComing = true;
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
  sock->tag = nextTag++;
  WriteOut(*sock);
  if (sock->out.empty() || sock->writeError || sock->abortive) {
    CloseNow(*sock);
  } else {
    // Bytes already accepted by send still reach the peer, as after a
    // graceful close; the descriptor stays ours until they are written.
    sock->orphan = true;
    sock->lastProgress = std::chrono::steady_clock::now();
    PeerTookSome(*sock);
    orphans.push_back({s, sock->tag});
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

void SetStalledCloseLimit(int milliseconds) { stalledCloseLimit = std::chrono::milliseconds(milliseconds); }
void SetConnectTimeout(int milliseconds) { connectTimeout = std::chrono::milliseconds(milliseconds); }

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
