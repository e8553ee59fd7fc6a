// The headless relay over real loopback sockets: every byte arrives, in
// order, whatever the sizes, the number of connections, the speed of either
// side and the way a side closes.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <random>
#include <thread>

#include "loopback.h"

using namespace loopback;

namespace {

class RelayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RaiseDescriptorLimit(); }

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
    if (halfClose) ::shutdown(fd, SHUT_WR);
    std::string reply = ReceiveAll(fd);
    ::close(fd);
    return reply;
  }

  // Sends `data` through an echo server, half-closes, and returns the echo.
  static std::string EchoWhole(int port, const std::string& data) {
    int fd = Connect(port);
    if (fd < 0) return "<no connection>";
    auto sender = std::async(std::launch::async, [&] {
      SendAll(fd, data);
      ::shutdown(fd, SHUT_WR);
    });
    std::string echo = ReceiveAll(fd);
    sender.get();
    ::close(fd);
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
  ::close(fd);
  EXPECT_EQ(relay.Stop(), 0);
}

TEST_F(RelayTest, EverySizeArrivesWholeInBothDirections) {
  TestServer echo(TestServer::kEcho);
  TestServer source(TestServer::kSource);
  RelayProcess toEcho(FreePort(), echo.port());
  RelayProcess toSource(FreePort(), source.port());
  for (std::size_t size : {0u, 1u, 89u, 90u, 91u, 99u, 100u, 101u, 65536u, 16u << 20}) {
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
    sent.push_back(Pattern(1000 + i, rng() % 20000));
    ASSERT_TRUE(SendAll(fds[i], sent[i]));
    ::shutdown(fds[i], SHUT_WR);
  }
  for (int i = 0; i < 500; ++i) {
    EXPECT_TRUE(ReceiveAll(fds[i]) == sent[i]) << "connection " << i;
    ::close(fds[i]);
  }
}

TEST_F(RelayTest, AClientThatHalfClosesAfterItsRequestGetsTheWholeAnswer) {
  TestServer source(TestServer::kSource);
  RelayProcess relay(FreePort(), source.port());
  EXPECT_TRUE(Fetch(relay.port(), 3, 5 << 20, true) == Pattern(3, 5 << 20));
}

TEST_F(RelayTest, AnUploadToASlowServerArrivesWholeBeforeItsEnd) {
  TestServer sink(TestServer::kSink, 8 << 20);  // 8 MB/s
  RelayProcess relay(FreePort(), sink.port());
  std::string upload = Pattern(4, 4 << 20);
  int fd = Connect(relay.port());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, upload));
  ::close(fd);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sink.SinkResults().empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  auto results = sink.SinkResults();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].size(), upload.size());
  EXPECT_TRUE(results[0] == upload);
}

TEST_F(RelayTest, ASlowReaderKeepsTheRelaySmallAndOthersFlowing) {
  TestServer source(TestServer::kSource);
  TestServer echo(TestServer::kEcho);
  RelayProcess toSource(FreePort(), source.port());
  int slow = Connect(toSource.port());
  ASSERT_GE(slow, 0);
  const std::uint32_t size = 48 << 20;
  ASSERT_TRUE(SendAll(slow, SourceHeader(5, size)));

  // Read about 10 MB/s while other connections through the same relay go on.
  std::string got;
  long peakKiB = 0;
  auto others = std::async(std::launch::async, [&] {
    int n = 0;
    for (int i = 0; i < 100; ++i) n += Fetch(toSource.port(), 100 + i, 1000, false) == Pattern(100 + i, 1000);
    return n;
  });
  char buffer[100000];
  while (got.size() < size) {
    ssize_t n = ::recv(slow, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, n);
    peakKiB = std::max(peakKiB, toSource.ResidentKiB());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::close(slow);
  EXPECT_EQ(others.get(), 100);
  EXPECT_TRUE(got == Pattern(5, size));
  EXPECT_LT(peakKiB, 32 * 1024) << "resident memory of the relay while the client lags";
}

TEST_F(RelayTest, AClientResetMidTransferEndsOnlyThatConnection) {
  TestServer source(TestServer::kSource);
  RelayProcess relay(FreePort(), source.port());
  int fd = Connect(relay.port());
  ASSERT_GE(fd, 0);
  SendAll(fd, SourceHeader(6, 64 << 20));
  EXPECT_EQ(ReceiveExactly(fd, 1 << 20), Pattern(6, 1 << 20));
  linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (source.OpenConnections() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(source.OpenConnections(), 0) << "the server side of the reset connection is closed";
  EXPECT_TRUE(Fetch(relay.port(), 8, 100000, false) == Pattern(8, 100000));
}

TEST_F(RelayTest, ARefusedServerEndsTheClientsStream) {
  RelayProcess relay(FreePort(), FreePort());  // nothing listens on the server port
  int fd = Connect(relay.port());
  ASSERT_GE(fd, 0);
  SendAll(fd, "hello");
  char c;
  EXPECT_EQ(::recv(fd, &c, 1, 0), 0) << "end of stream, not a hang";
  ::close(fd);
  EXPECT_EQ(relay.Stop(), 0);
}

TEST_F(RelayTest, RunningOutOfDescriptorsNeitherSpinsNorLosesWaitingClients) {
  TestServer echo(TestServer::kEcho);
  // Room for the relay's own descriptors and about a dozen connections. Both
  // an even and an odd limit: the last free descriptor may go to an accepted
  // client or to the socket towards the server, and neither may cost the
  // client its connection.
  for (int limit : {32, 33}) {
    SCOPED_TRACE(limit);
    RelayProcess relay(FreePort(), echo.port(), limit);
    std::vector<int> held;
    for (int i = 0; i < 30; ++i) {
      int fd = Connect(relay.port());
      if (fd < 0) break;
      held.push_back(fd);
      if (::send(fd, "x", 1, MSG_NOSIGNAL) != 1) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 300) <= 0) break;  // not relayed: the relay is out of descriptors
      char c;
      ASSERT_EQ(::recv(fd, &c, 1, 0), 1) << "connection " << i << " was refused";
    }
    ASSERT_LT(held.size(), 30u) << "the descriptor limit was never reached";
    int waiting = held.back();

    double cpuBefore = relay.CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(relay.CpuSeconds() - cpuBefore, 0.5) << "the relay spins while out of descriptors";

    // Freeing descriptors lets the waiting client through.
    for (std::size_t i = 0; i + 1 < held.size(); ++i) ::close(held[i]);
    char c;
    EXPECT_EQ(::recv(waiting, &c, 1, 0), 1);
    ::close(waiting);
    int fresh = Connect(relay.port());
    ASSERT_GE(fresh, 0);
    ExpectEcho(fresh, "after");
    ::close(fresh);
    EXPECT_EQ(relay.Stop(), 0);
  }
}

TEST_F(RelayTest, ReusedDescriptorsNeverMixTwoConnectionsBytes) {
  // One connection winds down slowly (its client has half-closed and reads
  // a large answer at leisure) while many short ones come and go, taking
  // the descriptor values that the relay frees meanwhile.
  TestServer source(TestServer::kSource);
  TestServer echo(TestServer::kEcho);
  RelayProcess toSource(FreePort(), source.port());
  int slow = Connect(toSource.port());
  ASSERT_GE(slow, 0);
  SendAll(slow, SourceHeader(9, 8 << 20));
  ::shutdown(slow, SHUT_WR);

  RelayProcess toEcho(FreePort(), echo.port());
  std::string got;
  char buffer[32768];
  for (int i = 0; i < 200; ++i) {
    std::string message = Pattern(500 + i, 1 + i * 37 % 5000);
    EXPECT_TRUE(EchoWhole(toEcho.port(), message) == message) << "short connection " << i;
    EXPECT_TRUE(Fetch(toSource.port(), 700 + i, 3000, i % 2) == Pattern(700 + i, 3000)) << "fetch " << i;
    ssize_t n = ::recv(slow, buffer, sizeof buffer, 0);
    if (n > 0) got.append(buffer, n);
  }
  got += ReceiveAll(slow);
  ::close(slow);
  EXPECT_TRUE(got == Pattern(9, 8 << 20));
}

}  // namespace
