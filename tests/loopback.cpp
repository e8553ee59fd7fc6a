// The parts of the loopback helpers that read the same on every system,
// written against test_sockets.h. loopback_posix.cpp and loopback_win32.cpp
// hold the rest: processes, descriptor limits and what the kernel tells.
#include "loopback.h"

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "test_sockets.h"

namespace loopback {
namespace {

std::uint32_t ReadLe32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

int FreePort() {
  int fd = testsock::Open();
  sockaddr_in a = testsock::Loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int port = LocalPort(fd);
  testsock::Close(fd);
  return port;
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
  listenFd_ = testsock::Open();
  testsock::SetOption(listenFd_, SOL_SOCKET, SO_REUSEADDR, 1);
  sockaddr_in a = testsock::Loopback(0);
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listenFd_, 1024);
  testsock::SetNonBlocking(listenFd_);
  port_ = LocalPort(listenFd_);
  thread_ = std::thread([this] { Run(); });
}

// The server looks at its stop flag at least every 10 ms.
TestServer::~TestServer() {
  stop_ = true;
  thread_.join();
  testsock::Close(listenFd_);
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
    testsock::Close(fd);
    conns.erase(fd);
    --open_;
  };
  char buffer[65536];
  auto budgetStart = std::chrono::steady_clock::now();
  std::size_t budgetUsed = 0;
  while (!stop_) {
    std::vector<pollfd> fds{{static_cast<decltype(pollfd::fd)>(listenFd_), POLLIN, 0}};
    for (auto& [fd, c] : conns) {
      short events = 0;
      if (!c.peerEnded && c.out.size() - c.sent < (1 << 20)) events |= POLLIN;
      if (c.sent < c.out.size()) events |= POLLOUT;
      fds.push_back({static_cast<decltype(pollfd::fd)>(fd), events, 0});
    }
    testsock::Poll(fds.data(), fds.size(), 10);
    if (fds[0].revents & POLLIN) {
      for (int fd; (fd = testsock::Accept(listenFd_)) >= 0;) {
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
    for (std::size_t i = 1; i < fds.size(); ++i) {
      int fd = static_cast<int>(fds[i].fd);
      Conn& c = conns[fd];
      bool broken = false;
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        std::size_t want = sizeof buffer;
        if (mode_ == kSink && sinkRate_) {
          std::size_t perTick = sinkRate_ / 100;
          want = std::min(want, perTick);
          if (budgetUsed >= sinkRate_) want = 0;
        }
        long n = want ? testsock::Receive(fd, buffer, want) : -2;
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
        } else if (n == -1 && !testsock::WouldBlock()) {
          broken = true;
        }
      }
      if (!broken && (fds[i].revents & POLLOUT) && c.sent < c.out.size()) {
        long n = testsock::Send(fd, c.out.data() + c.sent, c.out.size() - c.sent);
        if (n > 0) c.sent += n;
        if (n < 0 && !testsock::WouldBlock()) broken = true;
      }
      bool done = (mode_ == kSource && c.sourcing && c.sent == c.out.size()) ||
                  (mode_ != kSource && c.peerEnded && c.sent == c.out.size());
      if (broken || done) closeConn(fd);
    }
  }
  while (!conns.empty()) closeConn(conns.begin()->first);
}

bool WaitUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kGuardSeconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// --- Clients ----------------------------------------------------------------

Listener::Listener() {
  fd_ = testsock::Open();
  sockaddr_in a = testsock::Loopback(0);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd_, 1024);
  port_ = LocalPort(fd_);
}

Listener::~Listener() { testsock::Close(fd_); }

int Listener::Accept() {
  pollfd p{static_cast<decltype(pollfd::fd)>(fd_), POLLIN, 0};
  if (testsock::Poll(&p, 1, kGuardSeconds * 1000) <= 0) return -1;
  int fd = testsock::Accept(fd_);
  if (fd < 0) return -1;
  testsock::SetNonBlocking(fd, false);
  testsock::SetTimeouts(fd, kGuardSeconds);
  return fd;
}

int Connect(int port, int receiveBuffer) {
  int fd = testsock::Open();
  testsock::SetTimeouts(fd, kGuardSeconds);
  if (receiveBuffer > 0) testsock::SetOption(fd, SOL_SOCKET, SO_RCVBUF, receiveBuffer);
  sockaddr_in a = testsock::Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    testsock::Close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    long n = testsock::Send(fd, data.data() + done, data.size() - done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

std::string ReceiveAll(int fd) {
  std::string out;
  char buffer[65536];
  for (long n; (n = testsock::Receive(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  return out;
}

End ReceiveToEnd(int fd, std::string& into) {
  char buffer[65536];
  for (;;) {
    long n = testsock::Receive(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, n);
      continue;
    }
    if (n == 0) return End::kOrderly;
    return testsock::TimedOut() ? End::kTimeout : End::kError;
  }
}

std::string ReceiveExactly(int fd, std::size_t size) {
  std::string out(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    long n = testsock::Receive(fd, &out[done], size - done);
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

void ShrinkSendBuffer(int fd, int bytes) { testsock::SetOption(fd, SOL_SOCKET, SO_SNDBUF, bytes); }

void GrowReceiveBuffer(int fd, int bytes) { testsock::SetOption(fd, SOL_SOCKET, SO_RCVBUF, bytes); }

void CloseWithReset(int fd) {
  linger reset{1, 0};
  testsock::SetOption(fd, SOL_SOCKET, SO_LINGER, reset);
  testsock::Close(fd);
}

}  // namespace loopback
