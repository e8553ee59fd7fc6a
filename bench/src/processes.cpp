#include "processes.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "net.h"

namespace bench {
namespace {

std::vector<pid_t> g_started;  // every live process spawned here

void on_stop_signal(int sig) {
  for (pid_t p : g_started) kill(-p, SIGKILL);
  _exit(128 + sig);
}

// Every process of the session that spawn() opened for a relay, forked
// children included, wherever they were reparented.
std::vector<pid_t> session_members(pid_t session) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    size_t afterName = stat.rfind(')');
    if (afterName == std::string::npos) continue;
    std::istringstream fields(stat.substr(afterName + 2));
    std::string state;
    long ppid = 0, pgrp = 0, sid = 0;
    if (fields >> state >> ppid >> pgrp >> sid && sid == session) out.push_back(std::stoi(name));
  }
  return out;
}

bool reap(pid_t pid, double timeoutSeconds) {
  auto start = Clock::now();
  while (seconds_since(start) < timeoutSeconds) {
    int status;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace

void reap_orphans() {
  int status;
  while (waitpid(-1, &status, WNOHANG) > 0) {
  }
}

void install_process_guard() {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGINT, on_stop_signal);
  signal(SIGTERM, on_stop_signal);
  signal(SIGHUP, on_stop_signal);
}

std::string find_in_path(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string full = dir + "/" + name;
    if (access(full.c_str(), X_OK) == 0) return full;
  }
  // Daemons often live in sbin, which a plain user's PATH may lack.
  for (const char* d : {"/usr/sbin/", "/sbin/", "/usr/local/sbin/"})
    if (access((d + name).c_str(), X_OK) == 0) return d + name;
  return "";
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& logPath, int fdLimit) {
  std::string exe = find_in_path(argv.at(0));
  if (exe.empty()) throw NetError("not found: " + argv[0]);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) throw_errno("fork");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    setsid();  // one process group and session per relay, forked children included
    signal(SIGPIPE, SIG_DFL);
    int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(log, 1);
    dup2(log, 2);
    close_range(3, ~0U, 0);
    rlimit limit{static_cast<rlim_t>(fdLimit), static_cast<rlim_t>(fdLimit)};
    if (fdLimit > 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
    execv(exe.c_str(), args.data());
    _exit(127);
  }
  g_started.push_back(pid);
  return pid;
}

void stop(pid_t pid) {
  kill(-pid, SIGTERM);
  if (!reap(pid, 2.0)) {
    kill(-pid, SIGKILL);
    reap(pid, 2.0);
  }
  for (pid_t p : session_members(pid)) kill(p, SIGKILL);  // forked children that left the group
  kill(-pid, SIGKILL);
  reap_orphans();
  std::erase(g_started, pid);
}

void stop_all() {
  while (!g_started.empty()) stop(g_started.back());
}

double seconds_to_exit(pid_t pid, int signal, double timeoutSeconds) {
  auto start = Clock::now();
  kill(pid, signal);
  bool exited = reap(pid, timeoutSeconds);
  double seconds = seconds_since(start);
  stop(pid);
  if (!exited)
    throw NetError("still running " + std::to_string(timeoutSeconds) + " s after signal " + std::to_string(signal));
  return seconds;
}

long long session_rss_bytes(pid_t pid) {
  long long total = 0;
  for (pid_t p : session_members(pid)) {
    std::ifstream in("/proc/" + std::to_string(p) + "/status");
    std::string key;
    while (in >> key) {
      if (key == "VmRSS:") {
        long long kib = 0;
        in >> kib;
        total += kib * 1024;
        break;
      }
      in.ignore(1 << 20, '\n');
    }
  }
  return total;
}

RssSampler::RssSampler(pid_t pid)
    : thread_([this, pid] {
        while (!done_) {
          peak_ = std::max(peak_.load(), session_rss_bytes(pid));
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      }) {}

long long RssSampler::finish() {
  done_ = true;
  if (thread_.joinable()) thread_.join();
  return peak_;
}

int open_descriptors(pid_t pid, bool socketsOnly) {
  int count = 0;
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkError;
    std::string target = std::filesystem::read_symlink(entry.path(), linkError).string();
    if (!linkError && (!socketsOnly || target.starts_with("socket:"))) ++count;
  }
  return count;
}

double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  size_t afterName = stat.rfind(')');
  if (afterName == std::string::npos) throw NetError("no such process: " + std::to_string(pid));
  // Fields from the state on: utime and stime are the 12th and 13th.
  std::istringstream fields(stat.substr(afterName + 2));
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i)
    if (i >= 12) ticks += std::stod(field);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

namespace {

// True when an IPv4 socket listens on port. Looked up rather than tried, so
// that no connection of ours is left for the relay to wind down.
bool listening_on(unsigned port) {
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  std::getline(tcp, line);  // the header
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    if (fields >> slot >> local >> remote >> state && state == "0A" &&
        std::stoul(local.substr(local.find(':') + 1), nullptr, 16) == port)
      return true;
  }
  return false;
}

}  // namespace

bool wait_for_port(unsigned port, pid_t pid, double timeoutSeconds) {
  auto start = Clock::now();
  while (seconds_since(start) < timeoutSeconds) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      std::erase(g_started, pid);
      return false;
    }
    if (listening_on(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace bench
