// The far end of every relay: one epoll thread serving, per connection, an
// echo, a sink or a source, chosen by the connection's first byte (net.h).
#include "server.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "net.h"

namespace bench {
namespace {

constexpr size_t kIoSize = 256 * 1024;

struct Conn {
  int fd = -1;
  char mode = 0;
  unsigned char header[8]{};
  size_t headerBytes = 0;
  uint64_t remaining = 0;  // sink: bytes still to read; source: bytes still to send
  bool unlimited = false;  // source without a count
  std::string pending;     // echo bytes not yet written
  uint32_t events = 0;
};

class Server {
 public:
  explicit Server(const std::vector<uint16_t>& ports) : ep_(epoll_create1(EPOLL_CLOEXEC)) {
    for (uint16_t p : ports) {
      int fd = listen_loopback(p);
      listeners_.push_back(fd);
      watch(fd, EPOLLIN);
    }
    out_.assign(kIoSize, 'x');
    in_.resize(kIoSize);
  }

  [[noreturn]] void run() {
    epoll_event evs[256];
    for (;;) {
      int n = epoll_wait(ep_, evs, 256, -1);
      for (int i = 0; i < n; ++i) dispatch(evs[i].data.fd, evs[i].events);
    }
  }

 private:
  void watch(int fd, uint32_t events) {
    epoll_event ev{events, {}};
    ev.data.fd = fd;
    epoll_ctl(ep_, EPOLL_CTL_ADD, fd, &ev);
  }

  void set_events(Conn& c, uint32_t events) {
    if (c.events == events) return;
    c.events = events;
    epoll_event ev{events, {}};
    ev.data.fd = c.fd;
    epoll_ctl(ep_, EPOLL_CTL_MOD, c.fd, &ev);
  }

  bool is_listener(int fd) const {
    for (int l : listeners_)
      if (l == fd) return true;
    return false;
  }

  void dispatch(int fd, uint32_t events) {
    if (is_listener(fd)) return accept_all(fd);
    auto it = conns_.find(fd);
    if (it == conns_.end()) return;
    Conn& c = it->second;
    bool ok = true;
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) ok = on_readable(c);
    if (ok && (events & EPOLLOUT)) ok = on_writable(c);
    if (!ok) drop(fd);
  }

  void accept_all(int lfd) {
    for (;;) {
      int fd = accept4(lfd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      set_nodelay(fd);
      Conn& c = conns_[fd];
      c.fd = fd;
      c.events = EPOLLIN;
      watch(fd, EPOLLIN);
    }
  }

  void drop(int fd) {
    conns_.erase(fd);
    close(fd);
  }

  // Reads once; false when the connection is finished or broken.
  bool on_readable(Conn& c) {
    ssize_t n = recv(c.fd, in_.data(), in_.size(), 0);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    return consume(c, in_.data(), static_cast<size_t>(n));
  }

  bool consume(Conn& c, const char* p, size_t n) {
    if (c.mode == 0) c.mode = p[0];
    if (c.mode == kModeEcho) return echo(c, p, n);
    if (c.mode != kModeSink && c.mode != kModeSource) return false;
    if (c.headerBytes == 0) ++p, --n;  // the mode byte
    while (c.headerBytes < 8 && n > 0) {
      c.header[c.headerBytes++] = static_cast<unsigned char>(*p++);
      --n;
      if (c.headerBytes == 8) start_counted(c);
    }
    if (c.mode == kModeSink && c.headerBytes == 8 && n > 0) return sink(c, n);
    return true;
  }

  void start_counted(Conn& c) {
    uint64_t count = 0;
    std::memcpy(&count, c.header, 8);
    c.remaining = count;
    if (c.mode == kModeSink && count == 0) send(c.fd, &kSinkDone, 1, MSG_NOSIGNAL);
    if (c.mode == kModeSource) {
      c.unlimited = count == 0;
      set_events(c, EPOLLIN | EPOLLOUT);
    }
  }

  bool sink(Conn& c, size_t n) {
    if (n > c.remaining) return false;  // more than announced: a corrupting relay
    c.remaining -= n;
    if (c.remaining == 0) send(c.fd, &kSinkDone, 1, MSG_NOSIGNAL);
    return true;
  }

  bool echo(Conn& c, const char* p, size_t n) {
    if (!c.pending.empty()) {  // read on a hang-up while an echo waits
      c.pending.append(p, n);
      return true;
    }
    ssize_t w = send(c.fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno != EAGAIN) return false;
    size_t sent = w < 0 ? 0 : static_cast<size_t>(w);
    if (sent < n) {
      c.pending.assign(p + sent, n - sent);
      set_events(c, EPOLLOUT);  // stop reading until the echo is out
    }
    return true;
  }

  bool on_writable(Conn& c) {
    if (c.mode == kModeEcho) return flush_echo(c);
    if (c.mode == kModeSource) return send_source(c);
    return true;
  }

  bool flush_echo(Conn& c) {
    ssize_t w = send(c.fd, c.pending.data(), c.pending.size(), MSG_NOSIGNAL);
    if (w < 0) return errno == EAGAIN;
    c.pending.erase(0, static_cast<size_t>(w));
    if (c.pending.empty()) set_events(c, EPOLLIN);
    return true;
  }

  bool send_source(Conn& c) {
    size_t want = c.unlimited ? out_.size() : std::min<uint64_t>(c.remaining, out_.size());
    ssize_t w = send(c.fd, out_.data(), want, MSG_NOSIGNAL);
    if (w < 0) return errno == EAGAIN;
    if (!c.unlimited) c.remaining -= static_cast<uint64_t>(w);
    if (!c.unlimited && c.remaining == 0) set_events(c, EPOLLIN);
    return true;
  }

  int ep_;
  std::vector<int> listeners_;
  std::unordered_map<int, Conn> conns_;
  std::vector<char> in_;
  std::string out_;
};

}  // namespace

void run_server(const std::vector<uint16_t>& ports) {
  Server(ports).run();
}

}  // namespace bench
