// The loopback helpers' POSIX parts: the relay as a forked child, the
// descriptor limit, and what /proc and the kernel tell.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "loopback.h"
#include "test_sockets.h"

namespace loopback {
namespace {

// A connection or listener as /proc/net/tcp lists it.
struct TcpEntry {
  int localPort = 0, remotePort = 0;
  std::string state;  // 01 established, 0A listening
  unsigned long inode = 0;  // 0 while no process holds it: a connection not yet accepted
};

int PortOf(const std::string& address) { return std::stoi(address.substr(address.rfind(':') + 1), nullptr, 16); }

std::vector<TcpEntry> TcpTable() {
  std::vector<TcpEntry> entries;
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  std::getline(tcp, line);  // the heading
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, queues, timer, retransmits, uid, timeout;
    TcpEntry e;
    fields >> slot >> local >> remote >> e.state >> queues >> timer >> retransmits >> uid >> timeout >> e.inode;
    if (!fields) continue;
    e.localPort = PortOf(local);
    e.remotePort = PortOf(remote);
    entries.push_back(e);
  }
  return entries;
}

bool IsListening(int port) {
  for (const TcpEntry& e : TcpTable())
    if (e.state == "0A" && e.localPort == port) return true;
  return false;
}

}  // namespace

RelayProcess::RelayProcess(int listenPort, int serverPort, long maxDescriptors, int ignoredSignal)
    : port_(listenPort) {
  char errorsPath[] = "/tmp/velotrunk-relay-stderr-XXXXXX";
  errors_ = ::mkostemp(errorsPath, O_CLOEXEC);
  if (errors_ >= 0) ::unlink(errorsPath);
  pid_ = ::fork();
  if (pid_ == 0) {
    if (errors_ >= 0) ::dup2(errors_, 2);
    // A shell that starts a job in the background without job control
    // ignores SIGINT for it, and the relay would keep ignoring it.
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) ::signal(stop, stop == ignoredSignal ? SIG_IGN : SIG_DFL);
    if (maxDescriptors > 0) {
      rlimit limit{static_cast<rlim_t>(maxDescriptors), static_cast<rlim_t>(maxDescriptors)};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::string listen = std::to_string(listenPort), server = std::to_string(serverPort);
    ::execl(VELOTRUNK_RELAY_PATH, "velotrunk-relay", listen.c_str(), "127.0.0.1", server.c_str(), nullptr);
    ::_exit(127);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kGuardSeconds);
  while (!IsListening(listenPort) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// What it wrote to stderr goes on to the test's, as it would without the
// file (a sanitizer's report among it).
RelayProcess::~RelayProcess() {
  Stop();
  std::string errors = Errors();
  std::fwrite(errors.data(), 1, errors.size(), stderr);
  if (errors_ >= 0) ::close(errors_);
}

void RelayProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

std::string RelayProcess::Errors() const {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::pread(errors_, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

namespace {

// Waits for the child (kGuardSeconds at most, then kills it); its exit status, or -1.
int Reap(pid_t pid) {
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kGuardSeconds);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int RelayProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal);
  int status = Reap(pid_);
  pid_ = -1;
  return status;
}

int RelayProcess::OpenSockets() const { return testsock::CountSockets(std::to_string(pid_)); }
bool RelayProcess::HoldsEveryDescriptorBelow(int limit) const {
  for (int fd = 0; fd < limit; ++fd)
    if (::access(("/proc/" + std::to_string(pid_) + "/fd/" + std::to_string(fd)).c_str(), F_OK) != 0) return false;
  return true;
}

RelayRun RunRelay(const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {-1, ""};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 2);
    std::vector<char*> argv{const_cast<char*>("velotrunk-relay")};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VELOTRUNK_RELAY_PATH, argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  std::string errors;
  char buffer[4096];
  pollfd p{pipeFds[0], POLLIN, 0};
  while (::poll(&p, 1, kGuardSeconds * 1000) > 0) {
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    errors.append(buffer, n);
  }
  ::close(pipeFds[0]);
  return {Reap(pid), errors};
}

bool WaitsInTheListenQueue(int listenPort, int clientFd) {
  int clientPort = LocalPort(clientFd);
  for (const TcpEntry& e : TcpTable())
    if (e.localPort == listenPort && e.remotePort == clientPort) return e.inode == 0;
  return false;
}

// A backlog of 0 leaves room for one connection in the queue.
FullListener::FullListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd_, 0);
  port_ = LocalPort(fd_);
  queued_ = Connect(port_);
}

FullListener::~FullListener() {
  ::close(queued_);
  ::close(fd_);
}

}  // namespace loopback
