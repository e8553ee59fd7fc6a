#include "write_out.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include "winsock_conversions.h"

namespace win::socket_layer {
namespace {

// How many rounds (one per dispatched message) the short tail of a write may
// wait for the bytes that follow it: enough for a quiet connection's
// messages to pass between two turns of a busy one without forcing the tail
// out as a segment of its own.
constexpr std::uint64_t kTailRounds = 3;

// Whether a read of the current message used up its budget: more bytes are
// waiting, and what they bring will be written soon after.
thread_local bool moreComing = false;
// Sockets holding back the short tail of a write, and the current round (one
// per AfterMessage).
thread_local std::vector<Pending> heldTails;
thread_local std::uint64_t round = 1;

// The largest segment the kernel sends on this connection; 1 when unknown.
std::size_t SegmentSize(const Sock& s) {
  int mss = 0;
  socklen_t len = sizeof mss;
  if (::getsockopt(s.fd, IPPROTO_TCP, TCP_MAXSEG, &mss, &len) != 0 || mss <= 0) return 1;
  return static_cast<std::size_t>(mss);
}

}  // namespace

void WriteOut(Sock& s, bool whole) {
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

void ExpectMoreBytes() { moreComing = true; }

// A tail that a later write took along (holding back a new one) waits its
// rounds from then on.
void FlushHeldTails() {
  moreComing = false;
  std::erase_if(heldTails, [](const Pending& p) {
    Sock* s = table().Find(p);
    if (!s) return true;  // closed: closesocket wrote it out
    if (round < s->heldRound + kTailRounds) return false;
    s->heldRound = 0;
    WriteOut(*s);
    PostWriteSide(*s);
    return true;
  });
  ++round;
}

bool HoldingTails() { return !heldTails.empty(); }

}  // namespace win::socket_layer
