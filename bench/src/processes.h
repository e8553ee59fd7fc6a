// Starting and stopping the processes under test, and reading their memory.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// Makes this process the reaper of orphaned descendants and makes SIGINT and
// SIGTERM stop every process started through spawn() before exiting.
void install_process_guard();

// Starts argv[0] (searched in PATH) with stdout and stderr appended to logPath.
// The child is killed when this process dies.
pid_t spawn(const std::vector<std::string>& argv, const std::string& logPath);

// Each spawned process leads a session of its own: its forked children stay
// in it, so they are measured and stopped with it.

// SIGTERM to pid's process group, SIGKILL after 2 s; reaps them.
void stop(pid_t pid);
void stop_all();
// Reaps exited children, including the orphans this process adopted.
void reap_orphans();

// Sum of VmRSS over pid's session, in bytes; 0 when it is gone.
long long session_rss_bytes(pid_t pid);

// True once 127.0.0.1:port accepts a connection, within timeoutSeconds.
// False also when pid exits first.
bool wait_for_port(unsigned port, pid_t pid, double timeoutSeconds);

// Full path of an executable found in PATH, or "" when there is none.
std::string find_in_path(const std::string& name);

}  // namespace bench
