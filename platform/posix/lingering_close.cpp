#include "lingering_close.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "descriptor_reserve.h"

namespace win {
namespace socket_layer {
namespace {

// How long a closed socket with bytes still buffered may go without its peer
// taking any, before it is aborted.
std::chrono::milliseconds stalledCloseLimit{60000};

// Closed sockets still writing out their last bytes.
thread_local std::vector<Pending> lingering;

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

struct LingeringOfThread {
  ~LingeringOfThread() {
    for (const Pending& p : lingering)
      if (Sock* s = table().Find(p)) AbortNow(*s);
    lingering.clear();
  }
};
thread_local LingeringOfThread lingeringOfThread;

}  // namespace

void CloseNow(Sock& s) {
  s.in.Release();
  s.out.Release();
  ForgetStarved(s);
  ::close(s.fd);
  table().Remove(s.fd);
  // A descriptor is free again: listeners that ran out may accept now.
  WakeStarvedListeners();
}

void CloseWhenWritten(Sock& sock, SOCKET s) {
  sock.orphan = true;
  sock.lastProgress = std::chrono::steady_clock::now();
  PeerTookSome(sock);
  lingering.push_back({s, sock.tag});
}

void FinishLingeringCloses() {
  if (lingering.empty()) return;
  auto now = std::chrono::steady_clock::now();
  std::erase_if(lingering, [&](const Pending& p) {
    Sock* s = table().Find(p);
    if (!s) return true;
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

int LingeringCheckWait() {
  if (lingering.empty()) return -1;
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(1000, stalledCloseLimit.count()));
}

void AbortLingeringWhenThreadEnds() {
  (void)&lingeringOfThread;  // made now, so that it runs when the thread ends
}

}  // namespace socket_layer

void SetStalledCloseLimit(int milliseconds) {
  socket_layer::stalledCloseLimit = std::chrono::milliseconds(milliseconds);
}

}  // namespace win
