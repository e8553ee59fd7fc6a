// The headless relay over real loopback sockets: every byte arrives, in
// order, whatever the sizes, the number of connections, the speed of either
// side and the way a side closes; a reset reaches the other side as an
// error; nothing is left behind; and the program's arguments, start-up
// failures and stop signals end it as they should.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <random>
#include <sstream>
#include <thread>

#include "loopback.h"
#include "test_sockets.h"

using namespace loopback;

namespace {

// Wine relays far more slowly than Linux (each chunk costs calls into its
// server): the Windows build runs the same cases on less data.
#ifdef _WIN32
constexpr std::uint32_t kDataDivisor = 256;
#else
constexpr std::uint32_t kDataDivisor = 1;
#endif
constexpr std::uint32_t Scaled(std::uint32_t bytes) { return bytes / kDataDivisor; }

class RelayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testsock::RaiseDescriptorLimit(); }

  // One echo round trip of `message` over an open connection.
  static void ExpectEcho(int fd, const std::string& message) {
    ASSERT_TRUE(SendAll(fd, message));
    EXPECT_EQ(ReceiveExactly(fd, message.size()), message);
  }

  // Asks a source server through the relay for `size` bytes.
  static std::string Fetch(int port, std::uint32_t seed, std::uint32_t size, bool halfClose) {
    int fd = Connect(port);
    if (fd < 0) return "<no connection>";
    SendAll(fd, SourceHeader(seed, size));
    if (halfClose) ::shutdown(fd, testsock::kShutdownSend);
    std::string reply = ReceiveAll(fd);
    testsock::Close(fd);
    return reply;
  }

  // Sends `data` through an echo server, half-closes, and returns the echo.
  static std::string EchoWhole(int port, const std::string& data) {
    int fd = Connect(port);
    if (fd < 0) return "<no connection>";
    auto sender = std::async(std::launch::async, [&] {
      SendAll(fd, data);
      ::shutdown(fd, testsock::kShutdownSend);
    });
    std::string echo = ReceiveAll(fd);
    sender.get();
    testsock::Close(fd);
    return echo;
  }
};

TEST_F(RelayTest, EchoRoundTripsOnOneConnection) {
  TestServer server(TestServer::kEcho);
  RelayProcess relay(FreePort(), server.port());
  int fd = Connect(relay.port());
  ASSERT_GE(fd, 0);
  std::mt19937 rng(1);
  for (int i = 0; i < 200; ++i) ExpectEcho(fd, Pattern(i, 1 + rng() % 3000));
  testsock::Close(fd);
  EXPECT_EQ(relay.Stop(), 0);
}

TEST_F(RelayTest, EverySizeArrivesWholeInBothDirections) {
  TestServer echo(TestServer::kEcho);
  TestServer source(TestServer::kSource);
  RelayProcess toEcho(FreePort(), echo.port());
  RelayProcess toSource(FreePort(), source.port());
  for (std::size_t size : {0u, 1u, 89u, 90u, 91u, 99u, 100u, 101u, 65536u, Scaled(16u << 20)}) {
    std::string data = Pattern(size, size);
    EXPECT_TRUE(EchoWhole(toEcho.port(), data) == data) << "client to server and back, size " << size;
    EXPECT_TRUE(Fetch(toSource.port(), 7, size, false) == Pattern(7, size)) << "server to client, size " << size;
  }
}

TEST_F(RelayTest, FiveHundredConcurrentConnectionsKeepTheirOwnBytes) {
  TestServer server(TestServer::kEcho);
  RelayProcess relay(FreePort(), server.port());
  std::mt19937 rng(2);
  std::vector<int> fds;
  std::vector<std::string> sent;
  for (int i = 0; i < 500; ++i) {
    fds.push_back(Connect(relay.port()));
    ASSERT_GE(fds.back(), 0) << "connection " << i;
  }
  for (int i = 0; i < 500; ++i) {
    sent.push_back(Pattern(1000 + i, rng() % Scaled(20000)));
    ASSERT_TRUE(SendAll(fds[i], sent[i]));
    ::shutdown(fds[i], testsock::kShutdownSend);
  }
  for (int i = 0; i < 500; ++i) {
    EXPECT_TRUE(ReceiveAll(fds[i]) == sent[i]) << "connection " << i;
    testsock::Close(fds[i]);
  }
}

TEST_F(RelayTest, AClientThatHalfClosesAfterItsRequestGetsTheWholeAnswer) {
  TestServer source(TestServer::kSource);
  RelayProcess relay(FreePort(), source.port());
  EXPECT_TRUE(Fetch(relay.port(), 3, Scaled(5 << 20), true) == Pattern(3, Scaled(5 << 20)));
}

TEST_F(RelayTest, AnUploadToASlowServerArrivesWholeBeforeItsEnd) {
  TestServer sink(TestServer::kSink, 8 << 20);  // 8 MB/s
  RelayProcess relay(FreePort(), sink.port());
  std::string upload = Pattern(4, Scaled(4 << 20));
  int fd = Connect(relay.port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, upload));
  testsock::Close(fd);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sink.SinkResults().empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  auto results = sink.SinkResults();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].size(), upload.size());
  EXPECT_TRUE(results[0] == upload);
}

// How much memory the relay keeps for the slow reader is a figure for
// bench/run; here every byte must arrive and the others must not wait.
TEST_F(RelayTest, ASlowReaderHoldsUpNoOtherConnection) {
  TestServer source(TestServer::kSource);
  TestServer echo(TestServer::kEcho);
  RelayProcess toSource(FreePort(), source.port());
  int slow = Connect(toSource.port());
  ASSERT_GE(slow, 0);
  const std::uint32_t size = Scaled(48 << 20);
  ASSERT_TRUE(SendAll(slow, SourceHeader(5, size)));

  // Read about 10 MB/s while other connections through the same relay go on.
  std::string got;
  auto others = std::async(std::launch::async, [&] {
    int n = 0;
    for (int i = 0; i < 100; ++i) n += Fetch(toSource.port(), 100 + i, 1000, false) == Pattern(100 + i, 1000);
    return n;
  });
  char buffer[100000];
  while (got.size() < size) {
    long n = testsock::Receive(slow, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, n);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  testsock::Close(slow);
  EXPECT_EQ(others.get(), 100);
  EXPECT_TRUE(got == Pattern(5, size));
}

TEST_F(RelayTest, AClientResetMidTransferEndsOnlyThatConnection) {
  TestServer source(TestServer::kSource);
  RelayProcess relay(FreePort(), source.port());
  int fd = Connect(relay.port());
  ASSERT_GE(fd, 0);
  SendAll(fd, SourceHeader(6, 64 << 20));
  EXPECT_EQ(ReceiveExactly(fd, Scaled(1 << 20)), Pattern(6, Scaled(1 << 20)));
  CloseWithReset(fd);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (source.OpenConnections() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(source.OpenConnections(), 0) << "the server side of the reset connection is closed";
  EXPECT_TRUE(Fetch(relay.port(), 8, 100000, false) == Pattern(8, 100000));
}

// A server that refuses must not look like one that answered nothing: each
// client sees a reset. The operator reads of the failures on stderr, in at
// most one line a second, each with its count, so that a log cannot flood.
TEST_F(RelayTest, ARefusedServerResetsTheClientAndTheOperatorIsToldAtMostOnceASecond) {
  int serverPort = FreePort();  // nothing listens there
  [[maybe_unused]] auto started = std::chrono::steady_clock::now();
  RelayProcess relay(FreePort(), serverPort);
  constexpr int kClients = 50;
  for (int i = 0; i < kClients; ++i) {
    int fd = Connect(relay.port());
    ASSERT_GE(fd, 0);
    // The reset may come before the request goes: then the send meets it.
    [[maybe_unused]] bool sent = SendAll(fd, "hello");
    std::string got;
    End end = ReceiveToEnd(fd, got);
#ifdef _WIN32
    EXPECT_NE(end, End::kTimeout);  // Wine reports a reset as an orderly end
#else
    EXPECT_TRUE(!sent || end == End::kError) << "a refused server must not look like an empty answer";
#endif
    testsock::Close(fd);
  }
  EXPECT_EQ(relay.Stop(), 0);
#ifndef _WIN32
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  std::istringstream errors(relay.Errors());
  const std::string server = "127.0.0.1:" + std::to_string(serverPort);
  int told = 0, lines = 0;
  for (std::string line; std::getline(errors, line);) {
    if (line.starts_with("listening on ")) continue;
    int count = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "velotrunk-relay: %d connect", &count), 1) << line;
    EXPECT_NE(line.find(" to " + server + " failed (WSAECONNREFUSED)"), std::string::npos) << line;
    told += count;
    ++lines;
  }
  EXPECT_EQ(told, kClients);
  // The first failure at once, then one line a second, and the rest at the stop.
  EXPECT_LE(lines, seconds.count() + 2);
#endif
}

#ifndef _WIN32  // Windows has no per-process descriptor limit to run into
// How much CPU the relay takes meanwhile is measured by bench/run.
TEST_F(RelayTest, RunningOutOfDescriptorsLosesNoWaitingClient) {
  TestServer echo(TestServer::kEcho);
  // Room for the relay's own descriptors and about a dozen connections. Both
  // an even and an odd limit: the last free descriptor may go to an accepted
  // client or to the socket towards the server, and neither may cost the
  // client its connection.
  for (int limit : {32, 33}) {
    SCOPED_TRACE(limit);
    RelayProcess relay(FreePort(), echo.port(), limit);
    // Each client sends a byte and is either echoed or left waiting in the
    // listen queue of a relay that holds every descriptor it may have.
    std::vector<int> held;
    bool waits = false;
    for (int i = 0; i < 30 && !waits; ++i) {
      int fd = Connect(relay.port());
      ASSERT_GE(fd, 0);
      held.push_back(fd);
      ASSERT_EQ(testsock::Send(fd, "x", 1), 1);
      auto echoed = [fd] {
        pollfd p{fd, POLLIN, 0};
        return testsock::Poll(&p, 1, 0) > 0;
      };
      auto waiting = [&] { return relay.HoldsEveryDescriptorBelow(limit) && WaitsInTheListenQueue(relay.port(), fd); };
      ASSERT_TRUE(WaitUntil([&] { return echoed() || waiting(); })) << "connection " << i;
      if (echoed()) {
        char c;
        ASSERT_EQ(testsock::Receive(fd, &c, 1), 1) << "connection " << i << " was refused";
      } else {
        waits = true;
      }
    }
    ASSERT_TRUE(waits) << "the descriptor limit was never reached";

    // Freeing descriptors lets the waiting client through.
    int waiting = held.back();
    for (std::size_t i = 0; i + 1 < held.size(); ++i) testsock::Close(held[i]);
    char c;
    EXPECT_EQ(testsock::Receive(waiting, &c, 1), 1);
    testsock::Close(waiting);
    int fresh = Connect(relay.port());
    ASSERT_GE(fresh, 0);
    ExpectEcho(fresh, "after");
    testsock::Close(fresh);
    EXPECT_EQ(relay.Stop(), 0);
  }
}
#endif

TEST_F(RelayTest, ReusedDescriptorsNeverMixTwoConnectionsBytes) {
  // One connection winds down slowly (its client has half-closed and reads
  // a large answer at leisure) while many short ones come and go, taking
  // the descriptor values that the relay frees meanwhile.
  TestServer source(TestServer::kSource);
  TestServer echo(TestServer::kEcho);
  RelayProcess toSource(FreePort(), source.port());
  int slow = Connect(toSource.port());
  ASSERT_GE(slow, 0);
  SendAll(slow, SourceHeader(9, Scaled(8 << 20)));
  ::shutdown(slow, testsock::kShutdownSend);

  RelayProcess toEcho(FreePort(), echo.port());
  std::string got;
  char buffer[32768];
  for (int i = 0; i < 200; ++i) {
    std::string message = Pattern(500 + i, 1 + i * 37 % 5000);
    EXPECT_TRUE(EchoWhole(toEcho.port(), message) == message) << "short connection " << i;
    EXPECT_TRUE(Fetch(toSource.port(), 700 + i, 3000, i % 2) == Pattern(700 + i, 3000)) << "fetch " << i;
    long n = testsock::Receive(slow, buffer, sizeof buffer);
    if (n > 0) got.append(buffer, n);
  }
  got += ReceiveAll(slow);
  testsock::Close(slow);
  EXPECT_TRUE(got == Pattern(9, Scaled(8 << 20)));
}

// --- The program: arguments, start-up, stop --------------------------------

TEST_F(RelayTest, ArgumentsThatCanNeverWorkGetTheUsageAndStatusTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"4000", "127.0.0.1", "4000"},   // its own port: it would connect to itself
      {"4000", "0.0.0.0", "0xFA0"},     //   the same, any address
      {"$FA0", "127.8.9.10", "4000"},   //   the same, another loopback address
      {"4000", "localhost", "80"},      // not a dotted address
      {"4000", "", "80"},
      {"4000", "999.1.1.1", "80"},
      {"4000", "255.255.255.255", "80"},  // the parser's failure value
      {"0", "127.0.0.1", "80"},
      {"4000", "127.0.0.1", "65536"},
      {"4000", "127.0.0.1"},
      {"4000", "127.0.0.1 ", "80"},     // a blank after the address, as the window refuses it
      {"4000", "127.0.0.1 junk", "80"},
  };
  for (const auto& arguments : cases) {
    RelayRun run = RunRelay(arguments);
    EXPECT_EQ(run.status, 2) << arguments[0] << " " << arguments[1];
    EXPECT_NE(run.errors.find("usage: velotrunk-relay"), std::string::npos) << run.errors;
  }
  EXPECT_EQ(RunRelay({"--version"}).status, 0);
#ifndef _WIN32
  // An answer that cannot be written is a failure, not a success.
  for (const char* answer : {"--version", "--help"}) {
    std::fflush(stdout);
    int saved = ::dup(1), full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    ::dup2(full, 1);
    RelayRun run = RunRelay({answer});
    ::dup2(saved, 1);
    ::close(saved);
    ::close(full);
    EXPECT_EQ(run.status, 1) << answer;
    EXPECT_NE(run.errors.find("cannot write"), std::string::npos) << run.errors;
  }
#endif
}

TEST_F(RelayTest, APortInUseGivesBothNoticesAndEndsWithStatusOne) {
  Listener holder;
  RelayRun run = RunRelay({std::to_string(holder.port()), "127.0.0.1", "9"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.errors, "BIND TCP ERROR!!!: This port in use!\nERROR!!!: listen error!\n");
}

#ifndef _WIN32  // stop signals; on Windows every Stop() checks Ctrl+C
// Two connections stream through the relay both ways as fast as they can
// while it is told to stop (how quickly it stops is measured by bench/run).
TEST_F(RelayTest, AStopSignalEndsTheRelayUnderFullLoad) {
  TestServer echo(TestServer::kEcho);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    RelayProcess relay(FreePort(), echo.port());
    std::atomic<long> echoed{0};
    std::vector<int> fds;
    std::vector<std::thread> streams;
    for (int i = 0; i < 2; ++i) {
      int fd = Connect(relay.port());
      ASSERT_GE(fd, 0);
      fds.push_back(fd);
      streams.emplace_back([fd] {
        std::string block = Pattern(fd, 65536);
        while (SendAll(fd, block)) {
        }
      });
      streams.emplace_back([fd, &echoed] {
        char buffer[65536];
        for (long n; (n = testsock::Receive(fd, buffer, sizeof buffer)) > 0;) echoed += n;
      });
    }
    ASSERT_TRUE(WaitUntil([&] { return echoed > Scaled(16 << 20); })) << echoed << " bytes echoed";
    EXPECT_EQ(relay.Stop(signal), 0);
    for (int fd : fds) ::shutdown(fd, testsock::kShutdownBoth);
    for (auto& t : streams) t.join();
    for (int fd : fds) testsock::Close(fd);
  }
}

// A signal ignored when the relay starts (nohup ignores SIGHUP, a shell
// SIGINT for a background job) stays ignored; the others still stop it.
TEST_F(RelayTest, ASignalIgnoredAtTheStartStaysIgnored) {
  TestServer echo(TestServer::kEcho);
  for (int ignored : {SIGHUP, SIGINT}) {
    SCOPED_TRACE(ignored);
    RelayProcess relay(FreePort(), echo.port(), 0, ignored);
    relay.Signal(ignored);
    int fd = Connect(relay.port());
    ASSERT_GE(fd, 0) << "the ignored signal stopped the relay";
    ExpectEcho(fd, "still relaying");
    testsock::Close(fd);
    EXPECT_EQ(relay.Stop(SIGTERM), 0);
  }
}

#endif

// --- How connections end ----------------------------------------------------

// One side of a connection: it reads everything on a thread of its own while
// it sends `data` and then ends its sending; with `afterTheOther` it sends
// only once it has read the other side's end.
struct Side {
  std::string got;
  End end;
};

Side RunSide(int fd, const std::string& data, bool afterTheOther) {
  Side side;
  std::promise<void> ended;
  std::thread reader([&] {
    side.end = ReceiveToEnd(fd, side.got);
    ended.set_value();
  });
  if (afterTheOther) ended.get_future().wait();
  SendAll(fd, data);
  ::shutdown(fd, testsock::kShutdownSend);
  reader.join();
  return side;
}

TEST_F(RelayTest, EitherSideMayEndItsSendingFirstOrBothAtOnceAndStillGetEverything) {
  Listener server;
  RelayProcess relay(FreePort(), server.port());
  std::mt19937 rng(21);
  for (int i = 0; i < 150; ++i) {
    enum { kBothAtOnce, kServerFirst, kClientFirst } order = static_cast<decltype(kBothAtOnce)>(i % 3);
    SCOPED_TRACE(testing::Message() << "connection " << i << ", order " << order);
    std::string up = Pattern(i, rng() % Scaled(200000)), down = Pattern(1000 + i, rng() % Scaled(200000));
    int client = Connect(relay.port());
    int peer = server.Accept();
    ASSERT_GE(peer, 0);
    auto serverSide = std::async(std::launch::async, [&] { return RunSide(peer, down, order == kClientFirst); });
    Side clientSide = RunSide(client, up, order == kServerFirst);
    Side fromClient = serverSide.get();
    EXPECT_EQ(clientSide.end, End::kOrderly);
    EXPECT_EQ(fromClient.end, End::kOrderly);
    EXPECT_TRUE(clientSide.got == down);
    EXPECT_TRUE(fromClient.got == up);
    testsock::Close(client);
    testsock::Close(peer);
  }
}

TEST_F(RelayTest, AResetOnEitherSideReachesTheOtherAsAnError) {
  Listener server;
  RelayProcess relay(FreePort(), server.port());
  for (bool serverResets : {true, false}) {
    SCOPED_TRACE(serverResets ? "the server resets" : "the client resets");
    int client = Connect(relay.port());
    int peer = server.Accept();
    ASSERT_GE(peer, 0);
    int resetting = serverResets ? peer : client, other = serverResets ? client : peer;
    std::string sent = Pattern(31, Scaled(15 << 20));
    auto sender = std::async(std::launch::async, [&] {
      SendAll(resetting, sent);
      CloseWithReset(resetting);
    });
    std::string got;
#ifdef _WIN32
    // Wine reports a reset to the relay as an orderly close (FD_CLOSE with
    // error 0, then recv 0), so the relay can only pass on an orderly end;
    // Windows reports WSAECONNRESET, and the relay passes on the reset.
    EXPECT_NE(ReceiveToEnd(other, got), End::kTimeout);
#else
    EXPECT_EQ(ReceiveToEnd(other, got), End::kError) << "a stream cut short must not end in order";
#endif
    sender.get();
    EXPECT_TRUE(got == sent.substr(0, got.size()));
    // What the other side sends afterwards fails too, rather than vanish.
    std::string more(65536, 'm');
    bool failed = false;
    for (int i = 0; i < 1000 && !failed; ++i) failed = !SendAll(other, more);
    EXPECT_TRUE(failed);
    testsock::Close(other);
  }
}

#ifndef _WIN32  // counting the relay's sockets needs /proc
// A side whose reading the relay has paused (the other side reads nothing,
// so the queue toward it is full) while the other side answers and ends in
// one of three ways. Whatever happens, the paused side hears the answer and
// an end, and once both sides have closed the relay holds no socket of the
// connection.
TEST_F(RelayTest, AnEndWhileTheOtherSidesReadingIsPausedLeavesNothingBehind) {
  enum Ending { kClose, kHalfClose, kReset };
  Listener server;
  RelayProcess relay(FreePort(), server.port());
  int baseline = relay.OpenSockets();
  for (bool clientPaused : {true, false}) {
    for (Ending ending : {kClose, kHalfClose, kReset}) {
      SCOPED_TRACE(testing::Message() << (clientPaused ? "client" : "server") << " paused, ending " << ending);
      int client = Connect(relay.port());
      int peer = server.Accept();
      ASSERT_GE(peer, 0);
      int flooding = clientPaused ? client : peer, answering = clientPaused ? peer : client;

      // Flood until nothing more is taken for a while: every buffer on the
      // way is full, and the relay has stopped reading the flooding side.
      testsock::SetNonBlocking(flooding);
      std::string block(65536, 'f');
      for (auto quiet = std::chrono::steady_clock::now();
           std::chrono::steady_clock::now() - quiet < std::chrono::milliseconds(300);) {
        if (testsock::Send(flooding, block.data(), block.size()) > 0)
          quiet = std::chrono::steady_clock::now();
        else
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      testsock::SetNonBlocking(flooding, false);

      ASSERT_TRUE(SendAll(answering, "413 too large"));
      if (ending == kClose) testsock::Close(answering);
      if (ending == kHalfClose) ::shutdown(answering, testsock::kShutdownSend);
      if (ending == kReset) CloseWithReset(answering);

      std::string got;
      End end = ReceiveToEnd(flooding, got);
      EXPECT_NE(end, End::kTimeout);
      EXPECT_EQ(got, "413 too large");
      if (ending == kHalfClose) {
        EXPECT_EQ(end, End::kOrderly);
      }
      if (ending == kReset) {
        EXPECT_EQ(end, End::kError);
      }
      testsock::Close(flooding);
      if (ending == kHalfClose) testsock::Close(answering);
      EXPECT_TRUE(WaitUntil([&] { return relay.OpenSockets() == baseline; }))
          << relay.OpenSockets() << " sockets, " << baseline << " before";
    }
  }
}

#endif

// A web server that refuses an upload: it reads the start, answers and
// closes with the rest unread, which resets the connection. Its answer must
// still reach the client, also when the relay meets the reset first while
// sending the upload on.
TEST_F(RelayTest, AServerThatRefusesAnUploadIsHeardBeforeItsReset) {
  Listener server;
  RelayProcess relay(FreePort(), server.port());
  const std::string answer = "HTTP/1.1 413 Payload Too Large\r\n\r\n";
  int heard = 0;
  for (int i = 0; i < 100; ++i) {
    int client = Connect(relay.port());
    int peer = server.Accept();
    ASSERT_GE(peer, 0);
    auto refuser = std::async(std::launch::async, [&] {
      char start[100];
      testsock::Receive(peer, start, sizeof start);
      SendAll(peer, answer);
      testsock::Close(peer);
    });
    SendAll(client, std::string(Scaled(4 << 20), 'u'));
    refuser.get();
    std::string got;
    ReceiveToEnd(client, got);
    heard += got == answer;
    testsock::Close(client);
  }
  EXPECT_EQ(heard, 100);
}

// --- Resources --------------------------------------------------------------

#ifndef _WIN32  // counting the relay's sockets needs /proc
// Each server floods a client that reads nothing, until every buffer on the
// way is full; then both sides reset. How much memory the burst took and
// gives back is measured by bench/run. The test's own sockets keep small
// fixed buffers: 500 connections with buffers grown to their most would
// take more than the kernel allows all TCP sockets on the machine together,
// and stall every other test's connections meanwhile.
TEST_F(RelayTest, ABurstOfStalledConnectionsLeavesNoSocketOnceReset) {
  Listener server;
  RelayProcess relay(FreePort(), server.port());
  int baseline = relay.OpenSockets();
  std::vector<int> fds;
  static const std::string block(65536, 's');
  for (int i = 0; i < 500; ++i) {
    int client = Connect(relay.port(), 16384);
    int peer = server.Accept();
    ASSERT_GE(peer, 0);
    ShrinkSendBuffer(peer, 16384);
    fds.push_back(client);
    fds.push_back(peer);
    testsock::SetNonBlocking(peer);
    for (int stalls = 0; stalls < 3;) {
      if (testsock::Send(peer, block.data(), block.size()) > 0) continue;
      ++stalls;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  for (int fd : fds) CloseWithReset(fd);
  EXPECT_TRUE(WaitUntil([&] { return relay.OpenSockets() == baseline; }))
      << relay.OpenSockets() << " sockets, " << baseline << " before";
}

#endif

}  // namespace
