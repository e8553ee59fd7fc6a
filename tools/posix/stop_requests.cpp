// SIGINT, SIGTERM and SIGHUP stop the relay, except those that were ignored
// when it started: nohup ignores SIGHUP, and a shell ignores SIGINT (and
// SIGQUIT) for a job it starts in the background without job control.
#include "stop_requests.h"

#include <signal.h>

#include <thread>

#include "proxy.h"

const char* const kStopHint =
    "SIGINT, SIGTERM or SIGHUP stops the\n"
    "relay (status 0), unless it was ignored when the relay started (nohup)";

namespace {

// The stop signals the relay listens to, chosen before main. A blocked
// signal is queued for sigwait even while its disposition is to ignore it,
// so an ignored one must be left out rather than blocked.
sigset_t stopSignals;

// Blocked before main, so that a stop signal that comes while the program is
// still starting waits for sigwait instead of killing it. Every thread
// inherits the mask; the signals are taken by sigwait and nowhere else.
[[gnu::constructor(101)]] void BlockStopSignals() {
  sigemptyset(&stopSignals);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction inherited {};
    sigaction(signalNumber, nullptr, &inherited);
    if (inherited.sa_handler != SIG_IGN) sigaddset(&stopSignals, signalNumber);
  }
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

}  // namespace

void StopRelayOnRequest() {
  signal(SIGPIPE, SIG_IGN);
  std::thread([] {
    for (int signalNumber = 0;;) {
      sigwait(&stopSignals, &signalNumber);
      RequestRelayStop();
    }
  }).detach();
}
