// The socket layer's own rules over real loopback sockets: read-ahead that
// still posts FD_CLOSE after the last byte, buffered writes that survive
// partial kernel writes and report a reset on the next call, busy transfers
// whose held-back bytes still go, stale messages of closed sockets, and
// connect outcomes.

#include "sockets.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include <chrono>
#include <functional>
#include <thread>

#include "loopback.h"
#include "messages.h"

namespace {

constexpr win::UINT kSocketMessage = win::WM_USER + 1;

struct Event {
  win::SOCKET socket;
  win::WORD event;
  win::WORD error;
};

std::vector<Event> events;
std::function<void(const Event&)> onEvent;

win::LRESULT TestWindowProc(win::HWND, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  if (message != kSocketMessage) return 0;
  Event e{static_cast<win::SOCKET>(wParam), win::WSAGETSELECTEVENT(lParam), win::WSAGETSELECTERROR(lParam)};
  events.push_back(e);
  if (onEvent) onEvent(e);
  return 0;
}

int PortOf(win::SOCKET s) { return loopback::LocalPort(static_cast<int>(s)); }

class SocketLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = [] {
      win::WNDCLASSA wc{};
      wc.lpfnWndProc = TestWindowProc;
      wc.lpszClassName = "socket layer test";
      return win::RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    window = win::CreateWindowExA(0, "socket layer test", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                  nullptr);
    events.clear();
    onEvent = nullptr;
    win::WSADATA data;
    win::WSAStartup(0x0101, &data);
  }
  void TearDown() override {
    onEvent = nullptr;
    for (win::SOCKET s : owned) win::closesocket(s);
  }

  // Dispatches messages until `done` holds or the time is up.
  static bool Pump(const std::function<bool()>& done, int ms = loopback::kGuardSeconds * 1000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      win::MSG msg;
      if (win::PeekMessageA(&msg, nullptr, 0, 0, win::PM_REMOVE))
        win::DispatchMessageA(&msg);
      else
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }
  static void PumpFor(int ms) {
    Pump([] { return false; }, ms);
  }

  // A listener on 127.0.0.1 reporting to the test window.
  win::SOCKET Listen() {
    win::SOCKET l = win::socket(win::AF_INET, win::SOCK_STREAM, 0);
    win::sockaddr_in a{};
    a.sin_family = win::AF_INET;
    a.sin_addr.s_addr = win::htonl(0x7F000001);
    EXPECT_EQ(win::bind(l, reinterpret_cast<win::sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(win::listen(l, 5), 0);
    win::WSAAsyncSelect(l, window, kSocketMessage, win::FD_ACCEPT | win::FD_READ | win::FD_WRITE | win::FD_CLOSE);
    owned.push_back(l);
    return l;
  }

  // Connects a plain POSIX client to the listener and returns both ends.
  std::pair<win::SOCKET, int> AcceptPeer(win::SOCKET listener, int peerReceiveBuffer = 0) {
    int peer = loopback::Connect(PortOf(listener), peerReceiveBuffer);
    win::SOCKET accepted = win::INVALID_SOCKET;
    onEvent = [&](const Event& e) {
      if (e.event == win::FD_ACCEPT) accepted = win::accept(listener, nullptr, nullptr);
    };
    EXPECT_TRUE(Pump([&] { return accepted != win::INVALID_SOCKET; }));
    onEvent = nullptr;
    owned.push_back(accepted);
    return {accepted, peer};
  }

  // Sends until the layer stays full, so that bytes are left in it, then
  // closes s; returns what send took. Small kernel buffers keep what is on
  // its way small (the peer should be given a small one too, so that a
  // peer that reads nothing can never take what is left in the layer).
  std::string CloseWithBytesLeft(win::SOCKET s) {
    loopback::ShrinkSendBuffer(static_cast<int>(s), 32768);
    std::string sent;
    for (int i = 0, full = 0; full < 2; ++i) {
      std::string piece = loopback::Pattern(i, 1000);
      int n = win::send(s, piece.data(), static_cast<int>(piece.size()), 0);
      if (n > 0) sent += piece.substr(0, static_cast<std::size_t>(n));
      full = n > 0 ? 0 : full + 1;
      if (n <= 0 || i % 64 == 0) PumpFor(n > 0 ? 1 : 200);
    }
    win::closesocket(s);
    owned.erase(std::remove(owned.begin(), owned.end(), s), owned.end());
    return sent;
  }

  // Waits until the kernel holds `bytes` unread bytes for s.
  static void WaitUntilWaiting(win::SOCKET s, int bytes) {
    loopback::WaitUntil([&] {
      int waiting = 0;
      ::ioctl(static_cast<int>(s), FIONREAD, &waiting);
      return waiting >= bytes;
    });
  }

  static int Count(win::SOCKET s, win::WORD event) {
    int n = 0;
    for (const Event& e : events) n += e.socket == s && e.event == event;
    return n;
  }

  win::HWND window = nullptr;
  std::vector<win::SOCKET> owned;
};

TEST_F(SocketLayerTest, ReadAheadPostsCloseOnlyAfterTheLastByteIsRead) {
  auto [s, peer] = AcceptPeer(Listen());
  std::string data = loopback::Pattern(1, 300000);
  std::thread sender([&, peer = peer] {
    loopback::SendAll(peer, data);
    ::close(peer);
  });
  // One small read per FD_READ: the layer must keep posting while it holds bytes.
  std::string got;
  std::size_t readWhenClosed = 0;
  onEvent = [&, s = s](const Event& e) {
    if (e.socket != s) return;
    char buffer[100];
    if (e.event == win::FD_READ) {
      int n = win::recv(s, buffer, sizeof buffer, 0);
      if (n > 0) got.append(buffer, n);
    }
    if (e.event == win::FD_CLOSE) readWhenClosed = got.size();
  };
  EXPECT_TRUE(Pump([&, s = s] { return Count(s, win::FD_CLOSE) > 0; }));
  sender.join();
  PumpFor(50);
  EXPECT_EQ(Count(s, win::FD_CLOSE), 1);
  EXPECT_EQ(readWhenClosed, data.size());
  EXPECT_TRUE(got == data);
  EXPECT_GE(Count(s, win::FD_READ), 3000);
}

TEST_F(SocketLayerTest, PartialKernelWritesNeitherStallNorReorder) {
  auto [s, peer] = AcceptPeer(Listen());
  loopback::ShrinkSendBuffer(static_cast<int>(s), 4096);  // the kernel takes a few KiB at a time
  std::string data = loopback::Pattern(2, 16 << 20);
  std::size_t sent = 0;
  bool blocked = false;
  auto sendMore = [&, s = s] {
    while (sent < data.size()) {
      int n = win::send(s, data.data() + sent, static_cast<int>(std::min<std::size_t>(1000, data.size() - sent)), 0);
      if (n == win::SOCKET_ERROR) {
        EXPECT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);
        blocked = true;
        return;
      }
      sent += n;
    }
    win::shutdown(s, win::SD_SEND);
  };
  onEvent = [&, s = s](const Event& e) {
    if (e.socket == s && e.event == win::FD_WRITE) sendMore();
  };
  sendMore();
  ASSERT_TRUE(blocked) << "the peer reads nothing yet, so the layer's buffer must fill";
  EXPECT_LT(sent, data.size());

  std::string received;
  std::atomic<bool> ended{false};
  std::thread reader([&, peer = peer] {
    received = loopback::ReceiveAll(peer);
    ended = true;
  });
  bool done = Pump([&] { return sent == data.size(); });
  // The last buffered bytes and the shutdown go out while messages are served.
  EXPECT_TRUE(Pump([&] { return ended.load(); }));
  reader.join();
  ::close(peer);
  EXPECT_TRUE(done);
  EXPECT_GE(Count(s, win::FD_WRITE), 2);  // once on accept, then after each would-block
  EXPECT_TRUE(received == data);
}

TEST_F(SocketLayerTest, AResetMetByABufferedWriteIsReportedByTheNextCall) {
  auto [s, peer] = AcceptPeer(Listen());
  PumpFor(20);
  loopback::CloseWithReset(peer);
  EXPECT_TRUE(loopback::WaitUntil([s = s] {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP));
  })) << "the reset never arrived";

  EXPECT_EQ(win::send(s, "0123456789", 10, 0), 10);  // taken into the buffer
  onEvent = [&, s = s](const Event& e) {
    char buffer[100];
    if (e.socket == s && e.event == win::FD_READ) win::recv(s, buffer, sizeof buffer, 0);
  };
  EXPECT_TRUE(Pump([&, s = s] { return Count(s, win::FD_CLOSE) > 0; }));
  EXPECT_EQ(win::send(s, "more", 4, 0), win::SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), win::WSAECONNRESET);
  for (const Event& e : events) {
    if (e.socket == s && e.event == win::FD_CLOSE) {
      EXPECT_EQ(e.error, win::WSAECONNRESET);
    }
  }
}

TEST_F(SocketLayerTest, WaitingMessagesOfAClosedSocketNeverReachItsSuccessor) {
  win::SOCKET listener = Listen();
  auto [a, peerA] = AcceptPeer(listener);
  auto [b, peerB] = AcceptPeer(listener);
  PumpFor(20);
  // Both become readable in the same wait, so both FD_READs are queued when
  // the first is handled.
  loopback::SendAll(peerA, "a");
  loopback::SendAll(peerB, "b");
  WaitUntilWaiting(a, 1);
  WaitUntilWaiting(b, 1);
  events.clear();
  win::SOCKET successor = win::INVALID_SOCKET, closed = win::INVALID_SOCKET;
  onEvent = [&, a = a, b = b](const Event& e) {
    if (e.event != win::FD_READ || closed != win::INVALID_SOCKET) return;
    closed = e.socket == a ? b : a;
    win::closesocket(closed);
    successor = win::socket(win::AF_INET, win::SOCK_STREAM, 0);
    win::WSAAsyncSelect(successor, window, kSocketMessage, win::FD_READ | win::FD_WRITE | win::FD_CLOSE);
  };
  EXPECT_TRUE(Pump([&] { return closed != win::INVALID_SOCKET; }));
  PumpFor(200);  // whatever else was queued comes by
  ASSERT_NE(closed, win::INVALID_SOCKET);
  EXPECT_EQ(successor, closed) << "the kernel hands out the lowest free descriptor";
  owned.erase(std::remove(owned.begin(), owned.end(), closed), owned.end());
  owned.push_back(successor);
  int seen = 0;
  for (const Event& e : events) seen += e.socket == closed;
  EXPECT_EQ(seen, 0) << "a message of the closed socket reached the new one";
  ::close(peerA);
  ::close(peerB);
}

TEST_F(SocketLayerTest, ASocketThatUsedUpItsReadBudgetLetsAQuietOneGoFirst) {
  win::SOCKET listener = Listen();
  auto [busy, busyPeer] = AcceptPeer(listener);
  auto [quiet, quietPeer] = AcceptPeer(listener);
  PumpFor(20);
  std::string data = loopback::Pattern(3, 1 << 20);
  std::thread sender([&, peer = busyPeer] { loopback::SendAll(peer, data); });
  // Enough waits in the kernel that the first read ends on the budget.
  WaitUntilWaiting(busy, 96 * 1024);
  // Each FD_READ of the busy socket is read until would-block, which its
  // read budget brings long before its bytes run out. During the first one
  // the quiet socket gets a byte.
  std::vector<win::SOCKET> reads;
  std::size_t received = 0;
  onEvent = [&, busy = busy, quiet = quiet, quietPeer = quietPeer](const Event& e) {
    if (e.event != win::FD_READ) return;
    reads.push_back(e.socket);
    char buffer[100];
    for (int n; (n = win::recv(e.socket, buffer, sizeof buffer, 0)) > 0;)
      if (e.socket == busy) received += static_cast<std::size_t>(n);
    if (e.socket == busy && reads.size() == 1) {
      loopback::SendAll(quietPeer, "q");
      pollfd ready{static_cast<int>(quiet), POLLIN, 0};
      ASSERT_EQ(::poll(&ready, 1, loopback::kGuardSeconds * 1000), 1);
    }
  };
  EXPECT_TRUE(Pump([&] { return received == data.size(); }));
  sender.join();
  ASSERT_GE(reads.size(), 3u);
  ASSERT_EQ(reads[0], busy);
  EXPECT_EQ(reads[1], quiet) << "the busy socket's next read went ahead of the quiet socket";
  ::close(busyPeer);
  ::close(quietPeer);
}

// How many segments the transfer takes is measured by bench/run.
TEST_F(SocketLayerTest, WhatABusyTransferHoldsBackStillGoesOnItsOwn) {
  win::SOCKET listener = Listen();
  loopback::GrowReceiveBuffer(static_cast<int>(listener), 4 << 20);  // inherited by what it accepts
  auto [from, fromPeer] = AcceptPeer(listener);
  auto [to, toPeer] = AcceptPeer(listener);
  loopback::GrowReceiveBuffer(toPeer, 4 << 20);
  PumpFor(20);
  // Eight whole read budgets, all waiting before the first read: every turn
  // is busy, and the last one ends with nothing more to come, so whatever
  // the layer held back then must still leave on its own.
  constexpr std::size_t kBudget = 64 * 1024;
  std::string data = loopback::Pattern(7, 8 * kBudget);
  ASSERT_TRUE(loopback::SendAll(fromPeer, data));
  WaitUntilWaiting(from, static_cast<int>(data.size()));
  std::string received;
  std::atomic<bool> done{false};
  std::thread receiver([&, peer = toPeer] {
    received = loopback::ReceiveExactly(peer, data.size());
    done = true;
  });
  // Relays as the engine does: 100-byte reads, each sent on at once.
  std::string waiting;
  std::size_t sent = 0;
  auto flush = [&, to = to] {
    while (sent < waiting.size()) {
      int n = win::send(to, waiting.data() + sent, static_cast<int>(std::min<std::size_t>(100, waiting.size() - sent)), 0);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  };
  onEvent = [&, from = from, to = to](const Event& e) {
    if (e.socket == from && e.event == win::FD_READ) {
      char buffer[100];
      for (int n; (n = win::recv(from, buffer, sizeof buffer, 0)) > 0;) waiting.append(buffer, static_cast<std::size_t>(n));
      flush();
    } else if (e.socket == to && e.event == win::FD_WRITE) {
      flush();
    }
  };
  bool arrived = Pump([&] { return done.load(); });
  receiver.join();
  ASSERT_TRUE(arrived) << "the last bytes stayed in the layer";
  EXPECT_EQ(received, data);
  ::close(fromPeer);
  ::close(toPeer);
}

TEST_F(SocketLayerTest, StartupTakesTheDescriptorsTheHardLimitAllows) {
  // Every socket is a descriptor: a soft limit of 256 would end a relay at
  // about 120 connections.
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max <= 256) GTEST_SKIP() << "the hard limit leaves nothing to raise";
  rlimit lowered{256, limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  win::WSADATA data;
  ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  EXPECT_EQ(limit.rlim_cur, limit.rlim_max);
}

TEST_F(SocketLayerTest, ConnectReportsItsOutcomeThenOneWrite) {
  auto connectTo = [&](int port) {
    win::SOCKET s = win::socket(win::AF_INET, win::SOCK_STREAM, 0);
    owned.push_back(s);
    win::WSAAsyncSelect(s, window, kSocketMessage, win::FD_READ | win::FD_WRITE | win::FD_CONNECT | win::FD_CLOSE);
    win::sockaddr_in a{};
    a.sin_family = win::AF_INET;
    a.sin_addr.s_addr = win::inet_addr("127.0.0.1");
    a.sin_port = win::htons(static_cast<win::u_short>(port));
    EXPECT_EQ(win::connect(s, reinterpret_cast<win::sockaddr*>(&a), sizeof a), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);
    return s;
  };
  win::SOCKET refused = connectTo(loopback::FreePort());
  // A connect that hangs (its SYNs are dropped) fails at the layer's timeout.
  loopback::FullListener full;
  win::SetConnectTimeout(300);
  win::SOCKET timedOut = connectTo(full.port());
  win::SetConnectTimeout(21000);
  win::SOCKET listener = Listen();
  win::SOCKET accepted = connectTo(PortOf(listener));
  onEvent = [&](const Event& e) {
    if (e.event == win::FD_ACCEPT) owned.push_back(win::accept(listener, nullptr, nullptr));
  };
  EXPECT_TRUE(Pump([&] {
    return Count(refused, win::FD_CONNECT) && Count(timedOut, win::FD_CONNECT) && Count(accepted, win::FD_WRITE);
  }));
  PumpFor(50);
  ASSERT_EQ(Count(refused, win::FD_CONNECT), 1);
  EXPECT_EQ(Count(refused, win::FD_WRITE), 0);
  ASSERT_EQ(Count(timedOut, win::FD_CONNECT), 1);
  EXPECT_EQ(Count(timedOut, win::FD_WRITE), 0);
  EXPECT_EQ(Count(accepted, win::FD_CONNECT), 1);
  EXPECT_EQ(Count(accepted, win::FD_WRITE), 1);
  for (const Event& e : events) {
    if (e.socket == refused) {
      EXPECT_EQ(e.error, win::WSAECONNREFUSED);
    }
    if (e.socket == timedOut) {
      EXPECT_EQ(e.error, win::WSAETIMEDOUT);
    }
    if (e.socket == accepted) {
      EXPECT_EQ(e.error, 0);
    }
  }
  EXPECT_EQ(win::inet_addr(""), win::INADDR_NONE);
  EXPECT_EQ(win::inet_addr("not an address"), win::INADDR_NONE);
}

TEST_F(SocketLayerTest, ListenOnAPortInUseFailsAndListensNowhere) {
  // Linux would listen on the unbound socket, on a port of its own choosing
  // and every interface; the fake layer of the engine's tests models this.
  loopback::Listener holder;
  win::SOCKET s = win::socket(win::AF_INET, win::SOCK_STREAM, 0);
  owned.push_back(s);
  win::sockaddr_in a{};
  a.sin_family = win::AF_INET;
  a.sin_addr.s_addr = win::htonl(win::INADDR_ANY);
  a.sin_port = win::htons(static_cast<win::u_short>(holder.port()));
  EXPECT_EQ(win::bind(s, reinterpret_cast<win::sockaddr*>(&a), sizeof a), win::SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), win::WSAEADDRINUSE);
  EXPECT_EQ(win::listen(s, 5), win::SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL);
  EXPECT_EQ(PortOf(s), 0) << "the socket took a port after all";
}

// A socket closed with bytes still in the layer keeps writing them for as
// long as its peer takes some now and then; one whose peer takes nothing for
// the stalled-close limit is aborted, so the peer sees a reset rather than a
// clean end of a stream cut short.
TEST_F(SocketLayerTest, AClosedSocketWritesOutToASlowPeerAndAbortsAStalledOne) {
  win::SetStalledCloseLimit(500);
  for (bool stalled : {false, true}) {
    SCOPED_TRACE(stalled ? "the peer stalls" : "the peer reads slowly");
    auto [s, peer] = AcceptPeer(Listen(), 4096);
    std::string sent = CloseWithBytesLeft(s);

    std::string got;
    loopback::End end = loopback::End::kTimeout;
    // The stalled peer reads nothing until the layer has given up on it.
    if (stalled) {
      EXPECT_TRUE(Pump([&, peer = peer] {
        pollfd p{peer, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP));
      }));
    }
    ::fcntl(peer, F_SETFL, O_NONBLOCK);
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         end == loopback::End::kTimeout && std::chrono::steady_clock::now() < deadline;) {
      PumpFor(stalled ? 1 : 50);
      char buffer[16384];
      ssize_t n = ::read(peer, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
      if (n == 0) end = loopback::End::kOrderly;
      if (n < 0 && errno != EAGAIN) end = loopback::End::kError;
    }
    EXPECT_TRUE(got == sent.substr(0, got.size()));
    if (stalled) {
      EXPECT_EQ(end, loopback::End::kError);
      EXPECT_LT(got.size(), sent.size());
    } else {
      EXPECT_EQ(end, loopback::End::kOrderly);
      EXPECT_EQ(got.size(), sent.size());
    }
    ::close(peer);
  }
  win::SetStalledCloseLimit(60000);
}

// Nothing would serve a closed socket that still writes out once its thread
// has ended: it is aborted then, not left open for good.
TEST_F(SocketLayerTest, ASocketStillWritingOutWhenItsThreadEndsIsAborted) {
  int peer = -1;
  std::string sent;
  std::thread([&] {
    win::WNDCLASSA wc{};
    wc.lpfnWndProc = TestWindowProc;
    wc.lpszClassName = "socket layer test";
    win::RegisterClassA(&wc);
    window = win::CreateWindowExA(0, "socket layer test", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    win::SOCKET listener = Listen();
    auto accepted = AcceptPeer(listener, 4096);
    peer = accepted.second;
    sent = CloseWithBytesLeft(accepted.first);
    win::closesocket(listener);
    owned.clear();
  }).join();
  std::string got;
  EXPECT_EQ(loopback::ReceiveToEnd(peer, got), loopback::End::kError);
  EXPECT_LT(got.size(), sent.size());
  EXPECT_TRUE(got == sent.substr(0, got.size()));
  ::close(peer);
}

}  // namespace
