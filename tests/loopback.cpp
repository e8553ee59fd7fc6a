#include "loopback.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/tcp.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace loopback {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

std::uint32_t ReadLe32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool IsListening(int port) {
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (state == "0A" && local.size() >= 5 && local.substr(local.size() - 5) == wanted) return true;
  }
  return false;
}

}  // namespace

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::string Pattern(std::uint64_t seed, std::size_t size) {
  std::string out(size, '\0');
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::size_t i = 0; i < size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(&out[i], &x, std::min<std::size_t>(8, size - i));
  }
  return out;
}

void RaiseDescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// --- TestServer -------------------------------------------------------------

namespace {

struct Conn {
  std::string out;           // bytes still to send
  std::size_t sent = 0;
  std::string header;        // source mode: the header read so far
  std::string received;      // sink mode
  bool peerEnded = false;
  bool sourcing = false;
};

}  // namespace

TestServer::TestServer(Mode mode, std::size_t sinkRate) : mode_(mode), sinkRate_(sinkRate) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Loopback(0);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listenFd_, 1024);
  socklen_t len = sizeof a;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  thread_ = std::thread([this] { Run(); });
}

TestServer::~TestServer() {
  stop_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
  thread_.join();
  ::close(listenFd_);
  ::close(wakeFd_);
}

std::vector<std::string> TestServer::SinkResults() {
  std::lock_guard lock(mutex_);
  return sinkResults_;
}

void TestServer::Run() {
  std::map<int, Conn> conns;
  auto closeConn = [&](int fd) {
    if (mode_ == kSink) {
      std::lock_guard lock(mutex_);
      sinkResults_.push_back(std::move(conns[fd].received));
    }
    ::close(fd);
    conns.erase(fd);
    --open_;
  };
  char buffer[65536];
  auto budgetStart = std::chrono::steady_clock::now();
  std::size_t budgetUsed = 0;
  while (!stop_) {
    std::vector<pollfd> fds{{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (auto& [fd, c] : conns) {
      short events = 0;
      if (!c.peerEnded && c.out.size() - c.sent < (1 << 20)) events |= POLLIN;
      if (c.sent < c.out.size()) events |= POLLOUT;
      fds.push_back({fd, events, 0});
    }
    ::poll(fds.data(), fds.size(), 10);
    if (fds[0].revents & POLLIN) {
      for (int fd; (fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
        conns[fd];
        ++open_;
      }
    }
    // Sink mode reads at most sinkRate_ bytes per second over all connections.
    auto now = std::chrono::steady_clock::now();
    if (now - budgetStart >= std::chrono::seconds(1)) {
      budgetStart = now;
      budgetUsed = 0;
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      int fd = fds[i].fd;
      Conn& c = conns[fd];
      bool broken = false;
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        std::size_t want = sizeof buffer;
        if (mode_ == kSink && sinkRate_) {
          std::size_t perTick = sinkRate_ / 100;
          want = std::min(want, perTick);
          if (budgetUsed >= sinkRate_) want = 0;
        }
        ssize_t n = want ? ::recv(fd, buffer, want, 0) : -2;
        if (n > 0) {
          budgetUsed += n;
          if (mode_ == kEcho) c.out.append(buffer, n);
          if (mode_ == kSink) c.received.append(buffer, n);
          if (mode_ == kSource && !c.sourcing) {
            c.header.append(buffer, std::min<std::size_t>(n, 8 - c.header.size()));
            if (c.header.size() == 8) {
              c.out = Pattern(ReadLe32(c.header.data()), ReadLe32(c.header.data() + 4));
              c.sourcing = true;
            }
          }
        } else if (n == 0) {
          c.peerEnded = true;
        } else if (n == -1 && errno != EAGAIN) {
          broken = true;
        }
      }
      if (!broken && (fds[i].revents & POLLOUT) && c.sent < c.out.size()) {
        ssize_t n = ::send(fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) c.sent += n;
        if (n < 0 && errno != EAGAIN) broken = true;
      }
      bool done = (mode_ == kSource && c.sourcing && c.sent == c.out.size()) ||
                  (mode_ != kSource && c.peerEnded && c.sent == c.out.size());
      if (broken || done) closeConn(fd);
    }
  }
  while (!conns.empty()) closeConn(conns.begin()->first);
}

// --- RelayProcess -----------------------------------------------------------

RelayProcess::RelayProcess(int listenPort, int serverPort, long maxDescriptors) : port_(listenPort) {
  pid_ = ::fork();
  if (pid_ == 0) {
    if (maxDescriptors > 0) {
      rlimit limit{static_cast<rlim_t>(maxDescriptors), static_cast<rlim_t>(maxDescriptors)};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::string listen = std::to_string(listenPort), server = std::to_string(serverPort);
    ::execl(VELOTRUNK_RELAY_PATH, "velotrunk-relay", listen.c_str(), "127.0.0.1", server.c_str(), nullptr);
    ::_exit(127);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!IsListening(listenPort) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

RelayProcess::~RelayProcess() { Stop(); }

namespace {

// Waits for the child (10 s at most, then kills it); its exit status, or -1.
int Reap(pid_t pid) {
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
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

int RelayProcess::OpenSockets() const {
  int n = 0;
  std::string folder = "/proc/" + std::to_string(pid_) + "/fd/";
  if (DIR* dir = ::opendir(folder.c_str())) {
    char target[64];
    while (dirent* entry = ::readdir(dir)) {
      ssize_t length = ::readlink((folder + entry->d_name).c_str(), target, sizeof target - 1);
      n += length > 7 && std::string(target, 7) == "socket:";
    }
    ::closedir(dir);
  }
  return n;
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
  while (::poll(&p, 1, 10000) > 0) {
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    errors.append(buffer, n);
  }
  ::close(pipeFds[0]);
  return {Reap(pid), errors};
}

bool WaitUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

long RelayProcess::ResidentKiB() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string key;
  long value;
  while (status >> key) {
    if (key == "VmRSS:" && status >> value) return value;
    status.ignore(1 << 16, '\n');
  }
  return -1;
}

double RelayProcess::CpuSeconds() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);
  return ticks / sysconf(_SC_CLK_TCK);
}

// --- Clients ----------------------------------------------------------------

namespace {

void SetTimeouts(int fd) {
  timeval timeout{20, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

}  // namespace

Listener::Listener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd_, 1024);
  port_ = LocalPort(fd_);
}

Listener::~Listener() { ::close(fd_); }

int Listener::Accept() {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 10000) <= 0) return -1;
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) SetTimeouts(fd);
  return fd;
}

int Connect(int port, int receiveBuffer) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  SetTimeouts(fd);
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in a = Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

std::string ReceiveAll(int fd) {
  std::string out;
  char buffer[65536];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) out.append(buffer, n);
  return out;
}

End ReceiveToEnd(int fd, std::string& into) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      into.append(buffer, n);
      continue;
    }
    if (n == 0) return End::kOrderly;
    return errno == EAGAIN || errno == EWOULDBLOCK ? End::kTimeout : End::kError;
  }
}

std::string ReceiveExactly(int fd, std::size_t size) {
  std::string out(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::recv(fd, &out[done], size - done, 0);
    if (n <= 0) break;
    done += n;
  }
  out.resize(done);
  return out;
}

std::string SourceHeader(std::uint32_t seed, std::uint32_t size) {
  std::string h(8, '\0');
  std::memcpy(&h[0], &seed, 4);
  std::memcpy(&h[4], &size, 4);
  return h;
}

int LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

void ShrinkSendBuffer(int fd, int bytes) { ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes); }

void GrowReceiveBuffer(int fd, int bytes) { ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

std::uint32_t DataSegmentsSent(int fd) {
  tcp_info info{};
  socklen_t len = sizeof info;
  ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len);
  return info.tcpi_data_segs_out;
}

int MaxSegment(int fd) {
  int mss = 0;
  socklen_t len = sizeof mss;
  ::getsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &mss, &len);
  return mss;
}

void CloseWithReset(int fd) {
  linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
}

}  // namespace loopback
