// Starting and stopping the processes under test, and reading their memory.
#pragma once
#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace bench {

// Makes this process the reaper of orphaned descendants and makes SIGINT and
// SIGTERM stop every process started through spawn() before exiting.
void install_process_guard();

// Starts argv[0] (searched in PATH) with stdout and stderr appended to logPath
// and no other descriptor of ours; with fdLimit above 0, under that
// descriptor limit (soft and hard). The child is killed when this process dies.
pid_t spawn(const std::vector<std::string>& argv, const std::string& logPath, int fdLimit = 0);

// Each spawned process leads a session of its own: its forked children stay
// in it, so they are measured and stopped with it.

// SIGTERM to pid's process group, SIGKILL after 2 s; reaps them.
void stop(pid_t pid);
void stop_all();
// Sends signal to pid alone and returns the seconds until it exited; then
// stops what is left of its session. Throws NetError when it is still
// running after timeoutSeconds.
double seconds_to_exit(pid_t pid, int signal, double timeoutSeconds);
// Reaps exited children, including the orphans this process adopted.
void reap_orphans();

// Sum of VmRSS over pid's session, in bytes; 0 when it is gone.
long long session_rss_bytes(pid_t pid);

// Samples session_rss_bytes(pid) every few milliseconds until finished.
class RssSampler {
 public:
  explicit RssSampler(pid_t pid);
  ~RssSampler() { finish(); }
  long long finish();  // the highest sample

 private:
  std::atomic<bool> done_{false};
  std::atomic<long long> peak_{0};
  std::thread thread_;
};

// pid's open descriptors, or only those that are sockets.
int open_descriptors(pid_t pid, bool socketsOnly = false);

// CPU time pid has used, user and system, in seconds.
double cpu_seconds(pid_t pid);

// True once something listens on port (IPv4), within timeoutSeconds.
// False also when pid exits first.
bool wait_for_port(unsigned port, pid_t pid, double timeoutSeconds);

// Full path of an executable found in PATH, or "" when there is none.
std::string find_in_path(const std::string& name);

}  // namespace bench
