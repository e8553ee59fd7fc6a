#include "connect_failures.h"

#include <cstdio>

#include "wintypes.h"

static std::string WsaErrorName(int error) {
  switch (error) {
    case win::WSAECONNREFUSED: return "WSAECONNREFUSED";
    case win::WSAETIMEDOUT: return "WSAETIMEDOUT";
    case win::WSAENETUNREACH: return "WSAENETUNREACH";
    case win::WSAEHOSTUNREACH: return "WSAEHOSTUNREACH";
    case win::WSAENETDOWN: return "WSAENETDOWN";
    case win::WSAEADDRNOTAVAIL: return "WSAEADDRNOTAVAIL";
    case win::WSAEACCES: return "WSAEACCES";
    case win::WSAECONNRESET: return "WSAECONNRESET";
    case win::WSAENOBUFS: return "WSAENOBUFS";
    default: return "error " + std::to_string(error);
  }
}

ConnectFailureReport::ConnectFailureReport(std::string server, std::chrono::milliseconds interval)
    : server_(std::move(server)), interval_(interval), thread_([this] { Run(); }) {}

ConnectFailureReport::~ConnectFailureReport() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ConnectFailureReport::Count(int error) {
  {
    std::lock_guard lock(mutex_);
    ++untold_[error];
  }
  changed_.notify_all();
}

// Waits for a failure, tells it and what came with it, then lets a whole
// interval pass before the next line; at the stop, tells the rest.
void ConnectFailureReport::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !untold_.empty(); });
    std::map<int, long> failures;
    failures.swap(untold_);
    lock.unlock();
    if (!failures.empty()) Tell(failures);
    lock.lock();
    if (stopping_) return Tell(untold_);
    changed_.wait_for(lock, interval_, [this] { return stopping_; });
  }
}

// "velotrunk-relay: 3 connects to 127.0.0.1:9 failed (WSAECONNREFUSED)";
// several errors are named with their counts.
void ConnectFailureReport::Tell(const std::map<int, long>& failures) const {
  if (failures.empty()) return;
  long total = 0;
  for (const auto& [error, count] : failures) total += count;
  std::string names;
  for (const auto& [error, count] : failures) {
    if (!names.empty()) names += ", ";
    names += WsaErrorName(error);
    if (failures.size() > 1) names += " " + std::to_string(count);
  }
  std::fprintf(stderr, "velotrunk-relay: %ld connect%s to %s failed (%s)\n", total, total == 1 ? "" : "s",
               server_.c_str(), names.c_str());
  std::fflush(stderr);
}
