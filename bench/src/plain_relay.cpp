#include "plain_relay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "net.h"

namespace bench {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

struct Pair;

// One socket of a relayed connection; side 0 is the client, side 1 the server.
struct Side {
  Pair* pair = nullptr;
  int index = 0;
  int fd = -1;
  std::string pending;  // bytes read from the other side, not yet written here
  bool readDone = false;
  bool writeShut = false;
  uint32_t events = 0;
};

struct Pair {
  Side side[2];
  bool connected = false;
  bool closed = false;
};

class PlainRelay {
 public:
  PlainRelay(uint16_t listenPort, const std::string& address, uint16_t port)
      : ep_(epoll_create1(EPOLL_CLOEXEC)), buffer_(kBufferSize) {
    server_.sin_family = AF_INET;
    server_.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &server_.sin_addr);
    listener_ = listen_loopback(listenPort);
    epoll_event ev{EPOLLIN, {}};
    ev.data.ptr = nullptr;
    epoll_ctl(ep_, EPOLL_CTL_ADD, listener_, &ev);
  }

  [[noreturn]] void run() {
    epoll_event evs[256];
    for (;;) {
      int n = epoll_wait(ep_, evs, 256, -1);
      for (int i = 0; i < n; ++i) dispatch(static_cast<Side*>(evs[i].data.ptr), evs[i].events);
      for (Pair* p : closed_) delete p;
      closed_.clear();
    }
  }

 private:
  void dispatch(Side* s, uint32_t events) {
    if (s == nullptr) return accept_all();
    Pair& p = *s->pair;
    if (p.closed) return;
    if (events & EPOLLERR) return close_pair(p);
    if (events & EPOLLOUT) on_writable(*s);
    if (!p.closed && (events & (EPOLLIN | EPOLLHUP)) && wants_read(*s)) on_readable(*s);
    if (!p.closed) finish_if_done(p);
  }

  void accept_all() {
    for (;;) {
      int cfd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (cfd < 0) return;
      int sfd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      auto* p = new Pair;
      for (int i = 0; i < 2; ++i) p->side[i].pair = p, p->side[i].index = i;
      p->side[0].fd = cfd;
      p->side[1].fd = sfd;
      connect(sfd, reinterpret_cast<sockaddr*>(&server_), sizeof server_);
      for (Side& s : p->side) {
        epoll_event ev{0, {}};
        ev.data.ptr = &s;
        epoll_ctl(ep_, EPOLL_CTL_ADD, s.fd, &ev);
      }
      update(*p);
    }
  }

  static Side& other(Side& s) { return s.pair->side[1 - s.index]; }

  bool wants_read(Side& s) { return s.pair->connected && !s.readDone && other(s).pending.empty(); }

  void update(Pair& p) {
    for (Side& s : p.side) {
      uint32_t events = wants_read(s) ? uint32_t{EPOLLIN} : 0u;
      if (!s.pending.empty() || (s.index == 1 && !p.connected)) events |= EPOLLOUT;
      if (events == s.events) continue;
      s.events = events;
      epoll_event ev{events, {}};
      ev.data.ptr = &s;
      epoll_ctl(ep_, EPOLL_CTL_MOD, s.fd, &ev);
    }
  }

  void on_writable(Side& s) {
    Pair& p = *s.pair;
    if (!p.connected) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) return close_pair(p);
      p.connected = true;
    } else if (!s.pending.empty()) {
      ssize_t w = send(s.fd, s.pending.data(), s.pending.size(), MSG_NOSIGNAL);
      if (w < 0 && errno != EAGAIN) return close_pair(p);
      if (w > 0) s.pending.erase(0, static_cast<size_t>(w));
    }
    update(p);
  }

  void on_readable(Side& s) {
    Pair& p = *s.pair;
    Side& to = other(s);
    ssize_t n = recv(s.fd, buffer_.data(), buffer_.size(), 0);
    if (n < 0) {
      if (errno != EAGAIN) close_pair(p);
      return;
    }
    if (n == 0) {
      s.readDone = true;
    } else {
      ssize_t w = send(to.fd, buffer_.data(), static_cast<size_t>(n), MSG_NOSIGNAL);
      if (w < 0 && errno != EAGAIN) return close_pair(p);
      size_t sent = w < 0 ? 0 : static_cast<size_t>(w);
      if (sent < static_cast<size_t>(n)) to.pending.assign(buffer_.data() + sent, static_cast<size_t>(n) - sent);
    }
    update(p);
  }

  // Passes each end of stream on once its bytes are out; closes when both are.
  void finish_if_done(Pair& p) {
    for (Side& s : p.side) {
      Side& to = other(s);
      if (s.readDone && to.pending.empty() && !to.writeShut) {
        shutdown(to.fd, SHUT_WR);
        to.writeShut = true;
      }
    }
    if (p.side[0].writeShut && p.side[1].writeShut) close_pair(p);
  }

  void close_pair(Pair& p) {
    for (Side& s : p.side) close(s.fd);
    p.closed = true;
    closed_.push_back(&p);
  }

  int ep_;
  int listener_ = -1;
  sockaddr_in server_{};
  std::vector<char> buffer_;
  std::vector<Pair*> closed_;
};

}  // namespace

void run_plain_relay(uint16_t listenPort, const std::string& serverAddress, uint16_t serverPort) {
  PlainRelay(listenPort, serverAddress, serverPort).run();
}

}  // namespace bench
