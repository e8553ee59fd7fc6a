// The real Winsock, checked for what the engine's scripted layer
// (fake_sockets) models and for the facts of its event model that the engine
// must live with. Windows only; the tests run it under Wine.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "messages.h"
#include "sockets.h"

using namespace win;

namespace {

constexpr UINT kSocketMessage = WM_USER + 1;
constexpr long kAllEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

struct Event {
  SOCKET socket;
  WORD event;
  WORD error;
};

std::vector<Event> events;

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kSocketMessage) return DefWindowProcA(window, message, wParam, lParam);
  events.push_back({static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam)});
  return 0;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  return address;
}

int PortOf(SOCKET s) {
  sockaddr_in address{};
  int length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

class WinsockTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    WNDCLASSA wc{};
    wc.lpfnWndProc = TestWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "winsock test";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }

  void SetUp() override {
    window = CreateWindowExA(0, "winsock test", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    events.clear();
  }

  void TearDown() override {
    for (SOCKET s : owned) closesocket(s);
    DestroyWindow(window);
  }

  SOCKET Own(SOCKET s) {
    owned.push_back(s);
    return s;
  }

  // A socket listening on 127.0.0.1, on a port of the system's choosing.
  SOCKET Listener() {
    SOCKET s = Own(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(s, 5), 0);
    return s;
  }

  // A blocking client connected to `port`.
  SOCKET Client(int port) {
    SOCKET s = Own(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(port);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return s;
  }

  // A blocking client, and the socket its listener (registered for the
  // engine's client events) accepted for it.
  struct Pair {
    SOCKET client, accepted;
  };
  Pair AcceptedPair() {
    SOCKET listener = Listener();
    EXPECT_EQ(WSAAsyncSelect(listener, window, kSocketMessage, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE), 0);
    SOCKET client = Client(PortOf(listener));
    EXPECT_TRUE(PumpUntil(listener, FD_ACCEPT));
    return {client, Own(accept(listener, nullptr, nullptr))};
  }

  // Dispatches messages until `done` holds; false after ten seconds.
  static bool Pump(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MSG msg;
      if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  // The first event `event` of socket `s` so far, if any.
  static const Event* Find(SOCKET s, long event) {
    for (const Event& e : events)
      if (e.socket == s && e.event == event) return &e;
    return nullptr;
  }
  static bool PumpUntil(SOCKET s, long event) {
    return Pump([&] { return Find(s, event) != nullptr; });
  }

  HWND window = nullptr;
  std::vector<SOCKET> owned;
};

// The scripted layer fails listen after a failed bind with WSAEINVAL.
TEST_F(WinsockTest, ListenOnAnUnboundSocketFailsWithInvalidArgument) {
  SOCKET s = Own(socket(AF_INET, SOCK_STREAM, 0));
  EXPECT_EQ(listen(s, 5), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

// The scripted layer's failed bind: a port that another socket listens on.
TEST_F(WinsockTest, BindingAPortThatIsListenedOnFailsWithAddressInUse) {
  int port = PortOf(Listener());
  SOCKET s = Own(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = Loopback(port);
  EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
}

TEST_F(WinsockTest, ARefusedConnectReportsFdConnectWithTheError) {
  SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int port = PortOf(probe);
  closesocket(probe);  // nothing listens there now

  SOCKET s = Own(socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_EQ(WSAAsyncSelect(s, window, kSocketMessage, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
  address = Loopback(port);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  ASSERT_TRUE(PumpUntil(s, FD_CONNECT));
  EXPECT_EQ(Find(s, FD_CONNECT)->error, WSAECONNREFUSED);
}

// The scripted layer hands the engine accepted sockets that report on the
// listener's message, FD_WRITE first.
TEST_F(WinsockTest, AnAcceptedSocketInheritsTheListenersRegistration) {
  auto [client, accepted] = AcceptedPair();
  ASSERT_NE(accepted, INVALID_SOCKET);
  ASSERT_TRUE(PumpUntil(accepted, FD_WRITE));
  ASSERT_EQ(send(client, "x", 1, 0), 1);
  ASSERT_TRUE(PumpUntil(accepted, FD_READ));
  char c = 0;
  EXPECT_EQ(recv(accepted, &c, 1, 0), 1);
  EXPECT_EQ(c, 'x');
}

// The engine reads a share of what waits per FD_READ and relies on the
// next one for the rest: a recv that leaves bytes unread brings FD_READ
// again, for an accepted socket and for a connected one alike.
TEST_F(WinsockTest, ARecvThatLeavesBytesUnreadBringsFdReadAgain) {
  SOCKET listener = Listener();
  ASSERT_EQ(WSAAsyncSelect(listener, window, kSocketMessage, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE), 0);
  // Registered before its connect, as the engine's server sockets are.
  SOCKET connected = Own(socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_EQ(WSAAsyncSelect(connected, window, kSocketMessage, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
  sockaddr_in address = Loopback(PortOf(listener));
  connect(connected, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ASSERT_TRUE(PumpUntil(listener, FD_ACCEPT));
  SOCKET accepted = Own(accept(listener, nullptr, nullptr));
  ASSERT_TRUE(PumpUntil(connected, FD_WRITE));
  ASSERT_TRUE(PumpUntil(accepted, FD_WRITE));
  for (auto [reader, writer] : {std::pair{accepted, connected}, std::pair{connected, accepted}}) {
    auto reads = [&, reader = reader] {
      int n = 0;
      for (const Event& e : events) n += e.socket == reader && e.event == FD_READ;
      return n;
    };
    ASSERT_EQ(send(writer, "0123456789", 10, 0), 10);
    for (int i = 1; i <= 5; ++i) {
      SCOPED_TRACE(i);
      ASSERT_TRUE(Pump([&] { return reads() == i; }));
      char two[2];
      ASSERT_EQ(recv(reader, two, 2, 0), 2);
    }
  }
}

TEST_F(WinsockTest, NewAndAcceptedSocketsSendWithoutDelay) {
  SOCKET listener = Listener();
  SOCKET client = Client(PortOf(listener));
  SOCKET accepted = Own(accept(listener, nullptr, nullptr));
  for (SOCKET s : {client, accepted}) {
    BOOL noDelay = FALSE;
    int length = sizeof noDelay;
    ASSERT_EQ(::getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&noDelay), &length), 0);
    EXPECT_TRUE(noDelay);
  }
}

// The scripted layer's client reset: FD_CLOSE carries WSAECONNRESET on
// Windows. Wine reports the same close with error 0 and then reads an end of
// stream, as for an orderly close; either way a send fails with an error
// other than would-block, which is what ends such a connection in the engine.
TEST_F(WinsockTest, AResetPeerGivesFdCloseWithResetOrNoErrorAndRefusesSends) {
  auto [client, accepted] = AcceptedPair();
  linger reset{1, 0};
  ::setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
  closesocket(client);
  ASSERT_TRUE(PumpUntil(accepted, FD_CLOSE));
  WORD error = Find(accepted, FD_CLOSE)->error;
  EXPECT_TRUE(error == WSAECONNRESET || error == 0) << error;
  char c;
  int received = recv(accepted, &c, 1, 0);
  EXPECT_TRUE(received == 0 || (received == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET));
  int sent = 0;
  for (int i = 0; i < 100 && sent != SOCKET_ERROR; ++i) sent = send(accepted, "answer", 6, 0);
  EXPECT_EQ(sent, SOCKET_ERROR);
  EXPECT_NE(WSAGetLastError(), WSAEWOULDBLOCK);
}

// Unlike the POSIX layer, Winsock does not take back what it has posted: a
// message queued for a socket arrives after the socket was closed, when its
// value may already name a new socket. The engine closes a socket only once
// such messages have gone by.
TEST_F(WinsockTest, AMessageQueuedForASocketArrivesAfterItWasClosed) {
  SOCKET listener = Listener();
  SOCKET client = Client(PortOf(listener));
  SOCKET accepted = accept(listener, nullptr, nullptr);
  ASSERT_EQ(send(client, "x", 1, 0), 1);
  ASSERT_EQ(WSAAsyncSelect(accepted, window, kSocketMessage, FD_READ), 0);
  MSG msg;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!PeekMessageA(&msg, window, kSocketMessage, kSocketMessage, PM_NOREMOVE) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  closesocket(accepted);
  ASSERT_TRUE(PumpUntil(accepted, FD_READ)) << "the FD_READ posted before the close";
}

}  // namespace
