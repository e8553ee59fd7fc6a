// The operator's view of connects to the server that fail: one line on
// stderr for the first at once, then at most one line a second however many
// fail, each with the count since the last line, the server and the
// errors' names, so that a log cannot flood.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class ConnectFailureReport {
 public:
  // `server` is "address:port" as the lines show it.
  explicit ConnectFailureReport(std::string server, std::chrono::milliseconds interval = std::chrono::seconds(1));
  // Tells what is still untold, then returns.
  ~ConnectFailureReport();
  ConnectFailureReport(const ConnectFailureReport&) = delete;
  ConnectFailureReport& operator=(const ConnectFailureReport&) = delete;

  // Counts one failed connect; any thread, returns at once.
  void Count(int error);

 private:
  void Run();
  void Tell(const std::map<int, long>& failures) const;

  const std::string server_;
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, long> untold_;  // by error code
  bool stopping_ = false;
  std::thread thread_;
};

