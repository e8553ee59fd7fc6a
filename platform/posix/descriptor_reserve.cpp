#include "descriptor_reserve.h"

#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace win::socket_layer {
namespace {

// How often a listener that ran out of descriptors tries accept again.
constexpr int kStarvedRetryMs = 200;

// One descriptor held in reserve, so that a client accepted with the last
// free descriptor can still get the socket that carries it on: accept takes
// a client only while the reserve is held, and socket gives the reserve up
// when no other descriptor is left. Without it such a client would be taken
// from the backlog only to be refused.
std::atomic<int> reserveFd{-1};

int starvedListeners = 0;

}  // namespace

void RaiseDescriptorLimit() {
  rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

bool OutOfDescriptors(int e) { return e == EMFILE || e == ENFILE; }

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

void MarkStarved(Sock& listener) {
  if (listener.starved) return;
  listener.starved = true;
  ++starvedListeners;
}

void ForgetStarved(Sock& s) {
  if (s.starved) --starvedListeners;
}

void WakeStarvedListeners() {
  if (starvedListeners == 0) return;
  table().ForEach([](Sock& l) {
    if (!l.starved) return;
    l.starved = false;
    --starvedListeners;
    MarkPending(l);
  });
}

int StarvedRetryWait() {
  if (starvedListeners == 0) return -1;
  static thread_local auto lastRetry = std::chrono::steady_clock::now();
  auto now = std::chrono::steady_clock::now();
  if (now - lastRetry >= std::chrono::milliseconds(kStarvedRetryMs)) {
    lastRetry = now;
    WakeStarvedListeners();
    return 0;
  }
  return kStarvedRetryMs;
}

}  // namespace win::socket_layer
