// The signals that ask a desktop program to end: SIGTERM (the session at
// logout, or `kill`), SIGINT (Ctrl+C in the terminal that started it) and
// SIGHUP (that terminal closing). While an instance lives, each of them runs
// a handler on the GUI thread instead of ending the process on the spot, so
// the program can end the normal way: settings saved, engine stopped, exit
// status 0.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

class StopSignals : public QObject {
 public:
  explicit StopSignals(std::function<void()> onStop);
  ~StopSignals() override;  // the signals' default actions come back

 private:
  void Drain();

  std::function<void()> onStop_;
  QSocketNotifier* notifier_ = nullptr;
};
