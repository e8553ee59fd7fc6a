#include "measure.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "net.h"
#include "processes.h"

namespace bench {
namespace {

constexpr size_t kBulkChunk = 256 * 1024;

Bulk finish_bulk(uint64_t bytes, Clock::time_point start, RssSampler& sampler) {
  double seconds = seconds_since(start);
  return {static_cast<double>(bytes) / seconds / 1e6, sampler.finish()};
}

Latency percentiles(std::vector<double>& us) {
  if (us.empty()) throw NetError("no round trip completed");
  std::sort(us.begin(), us.end());
  size_t p99 = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(us.size()))) - 1;
  return {us[us.size() / 2], us[std::min(p99, us.size() - 1)]};
}

double round_trip_us(int fd, const char* message, char* reply, size_t size) {
  auto t0 = Clock::now();
  write_all(fd, message, size);
  read_exact(fd, reply, size);
  return seconds_since(t0) * 1e6;
}

// A connection in echo mode that has relayed one byte both ways.
int open_echo(uint16_t port) {
  int fd = connect_loopback(port, true);
  char c = kModeEcho;
  try {
    write_all(fd, &c, 1);
    read_exact(fd, &c, 1);
  } catch (...) {
    close(fd);
    throw;
  }
  return fd;
}

}  // namespace

Bulk bulk_upload(uint16_t port, uint64_t bytes, pid_t relay) {
  Socket fd(connect_loopback(port, false));
  std::vector<char> chunk(kBulkChunk, 'u');
  RssSampler sampler(relay);
  auto start = Clock::now();
  send_request(fd, kModeSink, bytes);
  for (uint64_t left = bytes; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
    write_all(fd, chunk.data(), n);
    left -= n;
  }
  char done = 0;
  read_exact(fd, &done, 1);
  if (done != kSinkDone) throw NetError("sink answered with a wrong byte");
  return finish_bulk(bytes, start, sampler);
}

Bulk bulk_download(uint16_t port, uint64_t bytes, pid_t relay) {
  Socket fd(connect_loopback(port, false));
  std::vector<char> chunk(kBulkChunk);
  RssSampler sampler(relay);
  auto start = Clock::now();
  send_request(fd, kModeSource, bytes);
  for (uint64_t left = bytes; left > 0;) {
    ssize_t n = recv(fd, chunk.data(), static_cast<size_t>(std::min<uint64_t>(left, chunk.size())), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw NetError("bulk download ended early");
    left -= static_cast<uint64_t>(n);
  }
  return finish_bulk(bytes, start, sampler);
}

namespace {

// The connect-send-read-close cycles of connections_per_second.
class ConnectionCycler {
 public:
  ConnectionCycler(uint16_t port, int concurrency) : ep_(epoll_create1(EPOLL_CLOEXEC)), slots_(concurrency) {
    address_.sin_family = AF_INET;
    address_.sin_port = htons(port);
    address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::memset(message_, 'c', sizeof message_);
    message_[0] = kModeEcho;
  }
  ~ConnectionCycler() {
    for (Slot& s : slots_)
      if (s.fd >= 0) close(s.fd);
    close(ep_);
  }

  Connections run(double seconds) {
    for (size_t i = 0; i < slots_.size(); ++i) open_slot(i);
    auto start = Clock::now();
    epoll_event evs[64];
    for (double left = seconds; left > 0; left = seconds - seconds_since(start)) {
      int n = epoll_wait(ep_, evs, 64, static_cast<int>(left * 1000) + 1);
      for (int i = 0; i < n && seconds_since(start) < seconds; ++i) on_event(evs[i].data.u32, evs[i].events);
    }
    return {static_cast<double>(completed_) / seconds, errors_};
  }

 private:
  struct Slot {
    int fd = -1;
    bool sent = false;
    size_t received = 0;
  };

  // Source addresses rotate over 127.0.0.2–9 so that closed connections
  // waiting out TIME_WAIT never run short of ports.
  void open_slot(size_t i) {
    Slot& s = slots_[i];
    s = Slot{};
    s.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(s.fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + (opened_++ % 8));
    bind(s.fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    // A connect that fails at once shows up as an event too: no recursion here.
    connect(s.fd, reinterpret_cast<sockaddr*>(&address_), sizeof address_);
    epoll_event ev{EPOLLOUT, {}};
    ev.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(ep_, EPOLL_CTL_ADD, s.fd, &ev);
  }

  void fail(size_t i) {
    ++errors_;
    close(slots_[i].fd);
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // no busy loop on a dead relay
    open_slot(i);
  }

  void on_event(size_t i, uint32_t events) {
    Slot& s = slots_[i];
    if (!s.sent) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0 || send(s.fd, message_, sizeof message_, MSG_NOSIGNAL) != sizeof message_) return fail(i);
      s.sent = true;
      epoll_event ev{EPOLLIN, {}};
      ev.data.u32 = static_cast<uint32_t>(i);
      epoll_ctl(ep_, EPOLL_CTL_MOD, s.fd, &ev);
      return;
    }
    char reply[sizeof message_];
    ssize_t n = recv(s.fd, reply, sizeof reply, 0);
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) return fail(i);
    s.received += static_cast<size_t>(n);
    if (s.received < sizeof message_) return;
    ++completed_;
    close(s.fd);
    open_slot(i);
  }

  int ep_;
  std::vector<Slot> slots_;
  sockaddr_in address_{};
  char message_[101];
  long long completed_ = 0;
  unsigned opened_ = 0;
  int errors_ = 0;
};

}  // namespace

Connections connections_per_second(uint16_t port, int concurrency, double seconds) {
  return ConnectionCycler(port, concurrency).run(seconds);
}

Latency round_trips(uint16_t port, size_t size, double seconds) {
  Socket fd(open_echo(port));
  std::vector<char> message(size, 'r'), reply(size);
  std::vector<double> us;
  auto start = Clock::now();
  while (seconds_since(start) < seconds && us.size() < 50000)
    us.push_back(round_trip_us(fd, message.data(), reply.data(), size));
  return percentiles(us);
}

namespace {

// Reads a server → client transfer that never ends, until destroyed; as fast
// as it comes, or at bytesPerSecond when that is above 0.
class BackgroundDownload {
 public:
  BackgroundDownload(uint16_t port, double bytesPerSecond) : fd_(connect_loopback(port, false)) {
    send_request(fd_, kModeSource, 0);
    reader_ = std::thread([this, bytesPerSecond] {
      std::vector<char> chunk(kBulkChunk);
      auto start = Clock::now();
      double total = 0;
      for (ssize_t n; !stop_ && (n = recv(fd_, chunk.data(), chunk.size(), 0)) > 0;) {
        total += static_cast<double>(n);
        if (bytesPerSecond > 0)
          std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(total / bytesPerSecond)));
      }
    });
  }
  ~BackgroundDownload() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    reader_.join();
  }

 private:
  Socket fd_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

}  // namespace

Latency ping_under_load(uint16_t port, double seconds, double bytesPerSecond) {
  Socket ping(open_echo(port));
  BackgroundDownload download(port, bytesPerSecond);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the transfer ramp up
  std::vector<double> us;
  char message = 'p', reply;
  for (auto start = Clock::now(); seconds_since(start) < seconds;) {
    auto next = Clock::now() + std::chrono::milliseconds(1);
    us.push_back(round_trip_us(ping, &message, &reply, 1));
    std::this_thread::sleep_until(next);
  }
  return percentiles(us);
}

double idle_bytes_per_connection(uint16_t port, pid_t relay, int count) {
  long long before = session_rss_bytes(relay);
  std::vector<int> fds;
  auto close_all = [&] {
    for (int fd : fds) close(fd);
  };
  try {
    while (static_cast<int>(fds.size()) < count) fds.push_back(open_echo(port));
  } catch (const NetError& e) {
    close_all();
    throw NetError(std::string(e.what()) + " after " + std::to_string(fds.size()) + " connections");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  long long after = session_rss_bytes(relay);
  close_all();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the relay tear them down
  return static_cast<double>(after - before) / count;
}

}  // namespace bench
