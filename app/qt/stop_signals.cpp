#include "stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may run on any thread, so it only writes a byte into a pipe
// that the GUI thread watches. Signal dispositions are per process, so one
// pipe serves the one instance.
int pipeFds[2] = {-1, -1};

void OnSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(pipeFds[1], &byte, 1);  // a full pipe has a stop waiting already
  errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
  if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::Drain);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : kStopSignals) {
    struct sigaction inherited {};
    ::sigaction(signalNumber, nullptr, &inherited);
    // A signal the starter chose to ignore (nohup ignores SIGHUP) stays ignored.
    if (inherited.sa_handler != SIG_IGN) ::sigaction(signalNumber, &action, nullptr);
  }
}

StopSignals::~StopSignals() {
  if (!notifier_) return;
  for (int signalNumber : kStopSignals) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    if (current.sa_handler == OnSignal) ::signal(signalNumber, SIG_DFL);
  }
  delete notifier_;
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  pipeFds[0] = pipeFds[1] = -1;
}

void StopSignals::Drain() {
  char bytes[64];
  while (::read(pipeFds[0], bytes, sizeof bytes) > 0) {
  }
  if (onStop_) onStop_();
}
