// SIGINT, SIGTERM and SIGHUP stop the relay.
#include "stop_requests.h"

#include <signal.h>

#include <thread>

#include "proxy.h"

const char* const kStopHint =
    "SIGINT, SIGTERM or SIGHUP stops the\n"
    "relay (status 0)";

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

// Blocked before main, so that a stop signal that comes while the program is
// still starting waits for sigwait instead of killing it. Every thread
// inherits the mask; the signals are taken by sigwait and nowhere else.
[[gnu::constructor(101)]] void BlockStopSignals() {
  sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

void StopRelayOnRequest() {
  signal(SIGPIPE, SIG_IGN);
  std::thread([] {
    sigset_t set = StopSignals();
    for (int signalNumber = 0;;) {
      sigwait(&set, &signalNumber);
      RequestRelayStop();
    }
  }).detach();
}
