// The engine's event handling against the scripted socket layer: exact reads,
// queues, short sends, would-block, closes and stray events.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "fake_sockets.h"
#include "notices.h"
#include "proxy.h"
#include "threads.h"

using namespace win;

namespace {

struct Box {
  std::string text, caption;
  UINT style;
};

std::mutex boxesMutex;
std::vector<Box> boxes;
std::atomic<int> beeps{0};

std::vector<Box> Boxes() {
  std::lock_guard lock(boxesMutex);
  return boxes;
}

std::string Bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

class EngineTest : public ::testing::Test {
 protected:
  static constexpr SOCKET kClient = 5;

  void SetUp() override {
    fake::Reset();
    ResetEngineState();
    {
      std::lock_guard lock(boxesMutex);
      boxes.clear();
    }
    beeps = 0;
    SetMessageBoxHandler([](HWND, const std::string& text, const std::string& caption, UINT style) {
      std::lock_guard lock(boxesMutex);
      boxes.push_back({text, caption, style});
      return IDOK;
    });
    SetBeepHandler([](DWORD frequency, DWORD duration) {
      if (frequency == 2000 && duration == 50) ++beeps;
    });
    ServerAddress = "127.0.0.1";
    ServerPort = 9000;
    ListenSocket = socket(AF_INET, SOCK_STREAM, 0);
  }

  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    SetBeepHandler(nullptr);
    EXPECT_TRUE(fake::layer().calls.empty()) << "socket call on a value the engine does not hold: "
                                             << fake::layer().calls.front();
  }

  // Hands the engine one event, then the messages it posted to itself (with
  // no engine window they wait in this thread's queue).
  static void Event(UINT message, SOCKET s, long event, int error = 0) {
    EngineWindowProc(nullptr, message, s, MAKELPARAM(static_cast<WORD>(event), static_cast<WORD>(error)));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) EngineWindowProc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
  }
  static void ClientEvent(SOCKET s, long event, int error = 0) { Event(WM_CLIENT_SOCKET, s, event, error); }
  static void ServerEvent(SOCKET s, long event, int error = 0) { Event(WM_SERVER_SOCKET, s, event, error); }

  // Accepts `client` and returns the server socket opened for it.
  static SOCKET Accept(SOCKET client) {
    fake::layer().waitingClients.push_back(client);
    ClientEvent(ListenSocket, FD_ACCEPT);
    return ClientTable.at(client).serverSocket;
  }
  static SOCKET AcceptAndConnect(SOCKET client) {
    SOCKET server = Accept(client);
    ServerEvent(server, FD_CONNECT);
    ServerEvent(server, FD_WRITE);
    return server;
  }
  static fake::Socket& Sock(SOCKET s) { return fake::layer().sockets.at(s); }
  // Notices come from threads of their own: waits until `count` are shown (30 s at most).
  static std::vector<Box> WaitForBoxes(std::size_t count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Boxes().size() < count && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Boxes();
  }
  static CLIENT_DATA& Record(SOCKET client) { return ClientTable.at(client); }

};

TEST_F(EngineTest, BytesSentBeforeTheConnectAreReadInHundredsAndArriveInOrder) {
  SOCKET server = Accept(kClient);
  EXPECT_EQ(Sock(server).connectPort, 9000);
  EXPECT_EQ(Sock(server).events, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
  std::string data = Bytes(250, 1);
  Sock(kClient).inbound = data;

  ClientEvent(kClient, FD_READ);
  EXPECT_EQ(Sock(kClient).recvResults, (std::vector<int>{100, 100, 50, SOCKET_ERROR}));
  EXPECT_EQ(Sock(kClient).recvSizes, (std::vector<int>{100, 100, 100}));
  ASSERT_EQ(Record(kClient).toServer.size(), 3u);
  EXPECT_EQ(Record(kClient).toServer.back().byteCount, 50);
  EXPECT_EQ(Sock(server).sent, "");

  ServerEvent(server, FD_CONNECT);
  EXPECT_TRUE(Record(kClient).connected);
  ServerEvent(server, FD_WRITE);
  EXPECT_EQ(Sock(server).sent, data);
  EXPECT_TRUE(Record(kClient).toServer.empty());
}

TEST_F(EngineTest, ServerReplyIsReadInNinetiesAndWaitsWhileTheClientIsFull) {
  SOCKET server = AcceptAndConnect(kClient);
  std::string reply = Bytes(200, 2);
  Sock(server).inbound = reply;
  ServerEvent(server, FD_READ);
  EXPECT_EQ(Sock(server).recvResults, (std::vector<int>{90, 90, 20, SOCKET_ERROR}));
  EXPECT_EQ(Sock(server).recvSizes, (std::vector<int>{90, 90, 90}));
  EXPECT_EQ(Sock(kClient).sent, reply);

  // The client takes 150 bytes; the rest waits, later bytes go behind it,
  // and the client's FD_WRITE sends them oldest first.
  std::string more = Bytes(400, 3);
  Sock(kClient).sendRoom = 150;
  Sock(server).inbound = more.substr(0, 300);
  ServerEvent(server, FD_READ);
  EXPECT_EQ(Sock(kClient).sent, reply + more.substr(0, 150));
  Sock(server).inbound = more.substr(300);
  ServerEvent(server, FD_READ);
  EXPECT_EQ(Sock(kClient).sent.size(), reply.size() + 150);
  Sock(kClient).sendRoom = -1;
  ClientEvent(kClient, FD_WRITE);
  EXPECT_EQ(Sock(kClient).sent, reply + more);
  EXPECT_TRUE(Record(kClient).toClient.empty());
}

TEST_F(EngineTest, ShortSendsAndWouldBlockNeitherLoseNorRepeatABytes) {
  SOCKET server = AcceptAndConnect(kClient);
  std::string up = Bytes(20000, 4), down = Bytes(20000, 5);
  std::mt19937 rng(6);
  std::size_t upFed = 0, downFed = 0;
  for (int round = 0; round < 2000 && (Sock(server).sent.size() < up.size() ||
                                       Sock(kClient).sent.size() < down.size());
       ++round) {
    // Each side takes a random, often partial, amount per send.
    for (SOCKET s : {server, kClient}) {
      Sock(s).sendScript.clear();
      for (int i = 0; i < 8; ++i) Sock(s).sendScript.push_back(1 + rng() % 120);
      Sock(s).sendRoom = rng() % 400;
    }
    std::size_t n = std::min<std::size_t>(rng() % 700, up.size() - upFed);
    Sock(kClient).inbound += up.substr(upFed, n);
    upFed += n;
    n = std::min<std::size_t>(rng() % 700, down.size() - downFed);
    Sock(server).inbound += down.substr(downFed, n);
    downFed += n;
    switch (rng() % 4) {
      case 0: ClientEvent(kClient, FD_READ); break;
      case 1: ServerEvent(server, FD_READ); break;
      case 2: ClientEvent(kClient, FD_WRITE); break;
      case 3: ServerEvent(server, FD_WRITE); break;
    }
  }
  EXPECT_EQ(Sock(server).sent, up);
  EXPECT_EQ(Sock(kClient).sent, down);
}

// A server side that never comes (the connect fails, or no socket can be
// made for it) resets the client, so that it sees an error rather than an
// empty answer; what the client sent early is dropped. A failed connect is
// reported to the connect-failure handler and shows no box; a socket that
// cannot be made shows its notice.
TEST_F(EngineTest, AServerSideThatNeverComesResetsTheClient) {
  struct Case {
    const char* name;
    bool failSocket;
    int connectError;
  };
  const Case cases[] = {
      {"refused", false, WSAECONNREFUSED},
      {"timed out", false, WSAETIMEDOUT},
      {"no socket", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::size_t noticesBefore = NoticesAsked();
    std::vector<int> failures;
    SetConnectFailedHandler([&failures](int error) { failures.push_back(error); });
    fake::layer().failSocket = c.failSocket;
    SOCKET server = Accept(kClient);
    if (!c.failSocket) {
      Sock(kClient).inbound = "early bytes";
      ClientEvent(kClient, FD_READ);
      ServerEvent(server, FD_CONNECT, c.connectError);
      EXPECT_FALSE(Sock(server).open);
      EXPECT_EQ(Sock(server).sent, "");
    }
    EXPECT_FALSE(Sock(kClient).open);
    EXPECT_TRUE(Sock(kClient).abortive) << "the client must see a reset";
    EXPECT_TRUE(Sock(kClient).shutdowns.empty());
    EXPECT_EQ(Record(kClient).serverSocket, INVALID_SOCKET);
    EXPECT_TRUE(Record(kClient).toServer.empty());
    SetConnectFailedHandler(nullptr);
    if (c.failSocket) {
      EXPECT_TRUE(failures.empty());
      auto shown = WaitForBoxes(1);
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text, "Не могу подключиться к прокси серверу!!!");
      EXPECT_EQ(shown[0].caption, "ERROR!!!");
      EXPECT_EQ(shown[0].style, MB_OK | MB_SYSTEMMODAL);
    } else {
      EXPECT_EQ(failures, std::vector<int>{c.connectError});
      EXPECT_EQ(NoticesAsked(), noticesBefore);
    }
    TearDown();
  }
}

TEST_F(EngineTest, StrayEventsAreFilteredAtTheHead) {
  for (SOCKET s : {77u, 78u, 79u}) fake::layer().sockets[s] = fake::Socket{};
  ClientEvent(77, FD_READ);
  EXPECT_FALSE(Sock(77).open);
  EXPECT_EQ(beeps, 1);

  ClientEvent(78, FD_CLOSE);
  EXPECT_TRUE(Sock(78).open);
  EXPECT_EQ(beeps, 1);

  ServerEvent(79, FD_READ);
  EXPECT_FALSE(Sock(79).open);
  EXPECT_TRUE(ClientTable.empty());
  EXPECT_EQ(beeps, 1);
}

TEST_F(EngineTest, ReusedClientValueResetsItsRecordAndClosesTheLeftoverServerSocket) {
  SOCKET first = AcceptAndConnect(kClient);
  // A record as an older engine could leave it: server socket still open,
  // bytes in both queues.
  Record(kClient).toServer.emplace_back("abc", 3);
  Record(kClient).toClient.emplace_back("def", 3);
  Record(kClient).clientOpen = false;

  SOCKET second = Accept(kClient);
  EXPECT_FALSE(Sock(first).open);
  EXPECT_NE(second, first);
  EXPECT_TRUE(Sock(second).open);
  EXPECT_EQ(ClientTable.size(), 1u);
  EXPECT_FALSE(Record(kClient).connected);
  EXPECT_TRUE(Record(kClient).toServer.empty());
  EXPECT_TRUE(Record(kClient).toClient.empty());
  EXPECT_EQ(ClientForServerSocket(first), -1);
  EXPECT_EQ(ClientForServerSocket(second), static_cast<std::int32_t>(kClient));
}

TEST_F(EngineTest, ServerCloseDeliversTheRestAsTheSlowClientTakesItAndTheUploadGoesOn) {
  SOCKET server = AcceptAndConnect(kClient);
  std::string reply = Bytes(500, 7);
  Sock(kClient).sendRoom = 100;
  Sock(server).inbound = reply;
  Sock(server).peerClosed = true;
  ServerEvent(server, FD_CLOSE);  // reads on to the end
  EXPECT_EQ(Sock(kClient).sent, reply.substr(0, 100));
  EXPECT_TRUE(Sock(kClient).shutdowns.empty());  // not before the rest is sent

  Sock(kClient).sendRoom = 250;
  ClientEvent(kClient, FD_WRITE);
  EXPECT_TRUE(Sock(kClient).shutdowns.empty());
  Sock(kClient).sendRoom = -1;
  ClientEvent(kClient, FD_WRITE);
  EXPECT_EQ(Sock(kClient).sent, reply);
  EXPECT_EQ(Sock(kClient).shutdowns, (std::vector<int>{SD_SEND}));

  // The server only ended its sending: what the client sends still reaches it.
  Sock(kClient).inbound = "more upload";
  Sock(kClient).peerClosed = true;
  ClientEvent(kClient, FD_READ);
  EXPECT_EQ(Sock(server).sent, "more upload");
  EXPECT_EQ(Sock(server).shutdowns, (std::vector<int>{SD_SEND}));
  EXPECT_FALSE(Sock(kClient).open);  // both directions have ended
  EXPECT_FALSE(Sock(server).open);
  EXPECT_EQ(Record(kClient).serverSocket, INVALID_SOCKET);
}

TEST_F(EngineTest, ClientCloseDeliversItsUploadThenTheServersAnswer) {
  SOCKET server = AcceptAndConnect(kClient);
  std::string upload = Bytes(300, 8);
  Sock(server).sendRoom = 100;
  Sock(kClient).inbound = upload;
  Sock(kClient).peerClosed = true;
  ClientEvent(kClient, FD_READ);
  ClientEvent(kClient, FD_CLOSE);
  EXPECT_TRUE(Sock(kClient).open);
  EXPECT_TRUE(Sock(server).shutdowns.empty());

  Sock(server).sendRoom = -1;
  ServerEvent(server, FD_WRITE);
  EXPECT_EQ(Sock(server).sent, upload);
  EXPECT_EQ(Sock(server).shutdowns, (std::vector<int>{SD_SEND}));

  Sock(server).inbound = "the answer";
  Sock(server).peerClosed = true;
  ServerEvent(server, FD_CLOSE);
  EXPECT_EQ(Sock(kClient).sent, "the answer");
  EXPECT_EQ(Sock(kClient).shutdowns, (std::vector<int>{SD_SEND}));
  EXPECT_FALSE(Sock(kClient).open);
  EXPECT_FALSE(Sock(server).open);
  EXPECT_FALSE(Sock(kClient).abortive);
}

TEST_F(EngineTest, AClientThatResetsOrRefusesTheAnswerEndsTheConnection) {
  SOCKET server = AcceptAndConnect(kClient);
  ClientEvent(kClient, FD_CLOSE, WSAECONNRESET);
  EXPECT_FALSE(Sock(kClient).open);
  EXPECT_FALSE(Sock(server).open);

  // A client that closed in order, then refuses the answer it is sent.
  SOCKET other = AcceptAndConnect(6);
  ClientEvent(6, FD_CLOSE);
  Sock(6).sendRoom = 0;
  Sock(other).inbound = Bytes(300, 12);
  ServerEvent(other, FD_READ);
  EXPECT_TRUE(Sock(other).open);
  Sock(6).sendScript = {-WSAECONNRESET};
  ClientEvent(6, FD_WRITE);
  EXPECT_FALSE(Sock(6).open);
  EXPECT_FALSE(Sock(other).open);
}

TEST_F(EngineTest, ClientCloseWhileConnectingWaitsForTheConnect) {
  SOCKET server = Accept(kClient);
  Sock(kClient).inbound = "request";
  Sock(kClient).peerClosed = true;
  ClientEvent(kClient, FD_READ);
  ClientEvent(kClient, FD_CLOSE);
  EXPECT_TRUE(Sock(server).shutdowns.empty());
  ServerEvent(server, FD_CONNECT);
  ServerEvent(server, FD_WRITE);
  EXPECT_EQ(Sock(server).sent, "request");
  EXPECT_EQ(Sock(server).shutdowns, (std::vector<int>{SD_SEND}));

  // A second connection whose connect fails: its bytes are dropped and the
  // client socket is closed.
  SOCKET other = Accept(6);
  Sock(6).inbound = "lost";
  Sock(6).peerClosed = true;
  ClientEvent(6, FD_READ);
  ClientEvent(6, FD_CLOSE);
  ServerEvent(other, FD_CONNECT, WSAECONNREFUSED);
  EXPECT_EQ(Sock(other).sent, "");
  EXPECT_FALSE(Sock(6).open);
  EXPECT_FALSE(Sock(other).open);
}

// Wine posts FD_READ again after every recv that finds the end of stream:
// reading past it would keep a half-closed connection busy for as long as it
// lasts.
TEST_F(EngineTest, EachSidesEndOfStreamIsReadOnce) {
  for (bool clientSide : {true, false}) {
    SCOPED_TRACE(clientSide ? "client" : "server");
    SOCKET client = clientSide ? kClient : kClient + 100;
    SOCKET server = AcceptAndConnect(client);
    SOCKET ending = clientSide ? client : server;
    auto event = [&](long e) { clientSide ? ClientEvent(ending, e) : ServerEvent(ending, e); };
    Sock(ending).inbound = "last";
    Sock(ending).peerClosed = true;
    event(FD_READ);
    event(FD_READ);
    event(FD_CLOSE);
    EXPECT_EQ(Sock(ending).recvResults, (std::vector<int>{4, 0}));
    EXPECT_TRUE(Record(client).clientOpen) << "the other direction is still open";
  }
}

TEST_F(EngineTest, AFullQueuePausesReadingUntilTheOtherSideDrains) {
  SOCKET server = AcceptAndConnect(kClient);
  std::string up = Bytes(100 * 200, 9);
  Sock(server).sendRoom = 0;
  Sock(kClient).inbound = up;
  ClientEvent(kClient, FD_READ);
  EXPECT_EQ(Record(kClient).toServer.size(), MAX_QUEUED_CHUNKS);
  EXPECT_EQ(Sock(kClient).inbound.size(), up.size() - 100 * MAX_QUEUED_CHUNKS);
  Sock(server).sendRoom = -1;
  ServerEvent(server, FD_WRITE);
  EXPECT_EQ(Sock(server).sent, up);

  std::string down = Bytes(90 * 200, 10);
  Sock(kClient).sendRoom = 0;
  Sock(server).inbound = down;
  ServerEvent(server, FD_READ);
  EXPECT_EQ(Record(kClient).toClient.size(), MAX_QUEUED_CHUNKS);
  Sock(kClient).sendRoom = -1;
  ClientEvent(kClient, FD_WRITE);
  EXPECT_EQ(Sock(kClient).sent, down);
}

// A peer with more waiting than one event's share: the event stops there
// and the next FD_READ reads on, so that a peer that sends faster than the
// engine relays cannot keep one event going while other events wait.
TEST_F(EngineTest, OneReadEventReadsAtMostItsShareAndAsksForTheRest) {
  SOCKET server = AcceptAndConnect(kClient);
  struct Direction {
    SOCKET from, to;
    UINT message;
    std::size_t chunk;
  };
  for (Direction d : {Direction{kClient, server, WM_CLIENT_SOCKET, 100}, Direction{server, kClient, WM_SERVER_SOCKET, 90}}) {
    std::string bytes = Bytes(d.chunk * (MAX_READS_PER_EVENT + 10), static_cast<unsigned>(d.chunk));
    Sock(d.from).inbound = bytes;
    EngineWindowProc(nullptr, d.message, d.from, FD_READ);
    EXPECT_EQ(Sock(d.to).sent.size(), d.chunk * MAX_READS_PER_EVENT);
    // The rest is asked for with an FD_READ of the engine's own.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, d.message);
    EXPECT_EQ(msg.wParam, d.from);
    EXPECT_EQ(WSAGETSELECTEVENT(msg.lParam), FD_READ);
    EngineWindowProc(nullptr, msg.message, msg.wParam, msg.lParam);
    EXPECT_EQ(Sock(d.to).sent, bytes);
  }
}

TEST_F(EngineTest, ClosedValuesAreNeverUsedAgainWhenTheyComeBack) {
  // Connection A: its client resets while the server sends, so the engine
  // closes both of A's sockets.
  SOCKET serverA = AcceptAndConnect(kClient);
  Sock(kClient).sendScript = {-WSAECONNRESET};
  Sock(serverA).inbound = "to a";
  ServerEvent(serverA, FD_READ);
  ASSERT_FALSE(Sock(kClient).open);
  ASSERT_FALSE(Sock(serverA).open);

  // Connection B gets A's old server socket value as its client socket.
  fake::layer().nextSockets.push_back(kClient);
  SOCKET serverB = AcceptAndConnect(serverA);
  EXPECT_EQ(serverB, kClient);

  // Late events of A's sockets must not touch B.
  ServerEvent(serverA, FD_READ);
  ClientEvent(kClient, FD_READ);
  EXPECT_TRUE(Sock(serverA).open);
  EXPECT_TRUE(Sock(serverB).open);

  Sock(serverA).inbound = "to b";
  ClientEvent(serverA, FD_READ);
  Sock(serverB).inbound = "from b";
  ServerEvent(serverB, FD_READ);
  EXPECT_EQ(Sock(serverB).sent, "to b");
  EXPECT_EQ(Sock(serverA).sent, "from b");
}

TEST(ConnectionTable, ReverseLookupMatchesAWalkOverTheTable) {
  std::mt19937 rng(11);
  for (int round = 0; round < 50; ++round) {
    ResetEngineState();
    for (int i = 0; i < 200; ++i) {
      std::int32_t client = static_cast<std::int32_t>(rng() % 64);
      auto [it, inserted] = ClientTable.try_emplace(client);
      if (inserted) SetServerSocket(client, it->second, INVALID_SOCKET);
      SOCKET server = rng() % 3 == 0 ? INVALID_SOCKET : static_cast<SOCKET>(rng() % 32);
      SetServerSocket(client, it->second, server);
    }
    for (SOCKET probe = 0; probe < 40; ++probe) {
      std::int32_t walked = -1;
      for (auto& [key, entry] : ClientTable)
        if (entry.serverSocket == probe) {
          walked = key;
          break;
        }
      EXPECT_EQ(ClientForServerSocket(probe), walked);
    }
    std::int32_t walked = -1;
    for (auto& [key, entry] : ClientTable)
      if (entry.serverSocket == INVALID_SOCKET) {
        walked = key;
        break;
      }
    EXPECT_EQ(ClientForServerSocket(INVALID_SOCKET), walked);
  }
  ResetEngineState();
  EXPECT_EQ(ClientForServerSocket(3), -1);
}

// --- The engine thread ------------------------------------------------------

class EngineThreadTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    endCode = -1;
    SetRelayEndedHandler([this](DWORD code) { endCode = static_cast<int>(code); });
  }
  void TearDown() override {
    StopRelayThread();
    SetRelayEndedHandler(nullptr);
    EngineTest::TearDown();
  }
  // Starts the engine and waits until it listens or has ended.
  void Start() {
    ListenSocket = INVALID_SOCKET;
    HANDLE thread = CreateThread(nullptr, 0, RelayThread, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::atomic_ref(EngineWindow).load() && endCode < 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(std::atomic_ref(EngineWindow).load() || endCode >= 0);
  }
  std::atomic<int> endCode{-1};
};

TEST_F(EngineThreadTest, PortInUseShowsBothStartUpBoxesInOrderThenTheThreadEnds) {
  fake::layer().failBind = true;
  Start();
  auto shown = WaitForBoxes(2);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "This port in use!");
  EXPECT_EQ(shown[0].caption, "BIND TCP ERROR!!!");
  EXPECT_EQ(shown[0].style, MB_OK);
  EXPECT_EQ(shown[1].text, "listen error!");
  EXPECT_EQ(shown[1].caption, "ERROR!!!");
  StopRelayThread();  // returns once the thread has ended by itself
  EXPECT_EQ(endCode, static_cast<int>(RELAY_START_FAILED));
  ASSERT_FALSE(fake::layer().closed.empty());
  EXPECT_FALSE(Sock(fake::layer().closed.back()).open) << "the listener is closed";
}

// The window starts again as soon as it hears of a failed start, which may be
// while the ended engine is still on its way out.
TEST_F(EngineThreadTest, AStartRightAfterAFailedOneRunsAnEngineOfItsOwn) {
  fake::layer().failBind = true;
  std::atomic<int> ends{0};
  std::atomic<bool> listening{false};
  SetRelayListeningHandler([&] { listening = true; });
  SetRelayEndedHandler([&](DWORD) {
    if (ends++ > 0) return;
    fake::layer().failBind = false;
    CloseHandle(CreateThread(nullptr, 0, RelayThread, nullptr, 0, nullptr));
    // Gives the new engine time to get going before this one has left.
    for (int i = 0; i < 200 && !listening; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  Start();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!listening && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(listening);
  StopRelayThread();  // stops the second engine and waits for it
  EXPECT_EQ(ends, 2);
  SetRelayListeningHandler(nullptr);
}

TEST_F(EngineThreadTest, OnlyTheLowSixteenBitsOfTheListenPortCount) {
  ListenPort = 70000;
  Start();
  StopRelayThread();
  EXPECT_EQ(fake::layer().boundPort, 4464);
  EXPECT_TRUE(Boxes().empty());
  ListenPort = 3128;
}

TEST_F(EngineThreadTest, AnExceptionGivesOneNoticeAndTheNextEventIsHandled) {
  std::atomic<int> throws{1}, reads{0};
  fake::layer().waitingClients.push_back(kClient);
  fake::layer().onRecv = [&](SOCKET) {
    ++reads;
    if (throws-- > 0) throw std::runtime_error("injected");
  };
  auto waitForReads = [&](int count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (reads < count && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return reads >= count;
  };
  Start();
  PostMessageA(EngineWindow, WM_CLIENT_SOCKET, 0, FD_ACCEPT);
  PostMessageA(EngineWindow, WM_CLIENT_SOCKET, kClient, FD_READ);
  auto shown = WaitForBoxes(1);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Unexpected error!");
  EXPECT_EQ(shown[0].text,
            "Error access violation at module proxy.obj, maybe some BUGs width socket handle has expressed!!!");
  EXPECT_EQ(shown[0].style, MB_ICONERROR | MB_SYSTEMMODAL);
  PostMessageA(EngineWindow, WM_CLIENT_SOCKET, kClient, FD_READ);
  EXPECT_TRUE(waitForReads(2)) << "the next event is handled";

#ifndef _WIN32  // on Windows the system fetches messages, with no work of ours
  // A failure in the socket layer's own work between two messages is told
  // the same way, and the loop goes on.
  fake::fetchThrows = 1;
  PostMessageA(EngineWindow, WM_CLIENT_SOCKET, kClient, FD_READ);
  ASSERT_EQ(WaitForBoxes(2).size(), 2u);
  EXPECT_EQ(Boxes()[1].caption, "Unexpected error!");
  PostMessageA(EngineWindow, WM_CLIENT_SOCKET, kClient, FD_READ);
  EXPECT_TRUE(waitForReads(4));
#endif
}

}  // namespace
