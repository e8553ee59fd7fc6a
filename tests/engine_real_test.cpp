// The engine in this process over the real socket layer: every start, one
// that serves a connection and one that cannot listen, leaves nothing behind
// once its thread has ended; and the servers a relay must refuse.

// The Winsock-shaped names come first: the POSIX headers define macros of
// the same names.
#include "engine_start.h"
#include "loopback.h"
#include "notices.h"
#include "proxy.h"
#include "server_address.h"
#include "threads.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (dirent* entry = ::readdir(dir)) n += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return n - 1;  // the folder being read
}

TEST(EngineOnTheRealLayer, EveryStartLeavesNothingBehindOnceItsThreadHasEnded) {
  win::SetMessageBoxHandler([](win::HWND, const std::string&, const std::string&, win::UINT) { return 1; });
  loopback::Listener server, portInUse;
  // The socket layer keeps one descriptor in reserve for the whole process
  // from the first accept on.
  int expected = OpenDescriptors() + 1;
  for (int run = 0; run < 4; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(engine_start::StartEngine(portInUse.port(), server.port()), static_cast<int>(RELAY_START_FAILED));
    StopRelayThread();

    int listenPort = loopback::FreePort();
    ASSERT_EQ(engine_start::StartEngine(listenPort, server.port()), engine_start::kListening);
    int client = loopback::Connect(listenPort);
    int peer = server.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(loopback::SendAll(peer, "still open at the stop"));
    StopRelayThread();
    std::string got;
    EXPECT_EQ(loopback::ReceiveToEnd(client, got), loopback::End::kError) << "the stop cut the connection";
    ::close(client);
    ::close(peer);
    EXPECT_EQ(OpenConnectionSockets(), 0u);
    EXPECT_EQ(QueuedChunks(), 0u);
    // A thread's own descriptors go a moment after it has returned.
    EXPECT_TRUE(loopback::WaitUntil([&] { return OpenDescriptors() == expected; }))
        << OpenDescriptors() << " descriptors open, " << expected << " expected";
  }
  SetRelayListeningHandler(nullptr);
  SetRelayEndedHandler(nullptr);
  win::SetMessageBoxHandler(nullptr);
}

// A connect that fails, by refusal or by the socket layer's timeout, resets
// the client; a client that resets while the connect is pending aborts the
// connect at once, long before the timeout (21 s there). Either way the
// relay keeps no descriptor of the connection.
TEST(EngineOnTheRealLayer, AConnectThatFailsOrIsGivenUpResetsTheClientAndLeavesNothing) {
  struct Case {
    const char* name;
    bool serverListens;  // with a full queue, so that the connect hangs
    int connectTimeoutMs;
    bool clientResets;
  };
  const Case cases[] = {
      {"refused", false, 21000, false},
      {"timed out", true, 300, false},
      {"given up by a client that resets", true, 21000, true},
  };
  std::vector<int> failures;
  std::mutex failuresMutex;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    loopback::FullListener full;
    int serverPort = c.serverListens ? full.port() : loopback::FreePort();
    win::SetConnectTimeout(c.connectTimeoutMs);
    SetConnectFailedHandler([&](int error) {
      std::lock_guard lock(failuresMutex);
      failures.push_back(error);
    });
    int listenPort = loopback::FreePort();
    ASSERT_EQ(engine_start::StartEngine(listenPort, serverPort), engine_start::kListening);
    int client = loopback::Connect(listenPort);
    ASSERT_GE(client, 0);
    // A refusal may come before the request goes: then the send meets it.
    bool sent = loopback::SendAll(client, "a request that reaches no server");
    int held = 0;
    if (c.serverListens) {
      // The connection is accepted and its connect started: two sockets.
      ASSERT_TRUE(loopback::WaitUntil([] { return OpenConnectionSockets() == 2; }));
      held = OpenDescriptors();
    }
    if (c.clientResets) {
      loopback::CloseWithReset(client);
    } else {
      std::string got;
      loopback::End end = loopback::ReceiveToEnd(client, got);
      EXPECT_TRUE(!sent || end == loopback::End::kError) << "a clean end would say the server answered nothing";
      EXPECT_EQ(got, "");
      ::close(client);
    }
    EXPECT_TRUE(loopback::WaitUntil([] { return OpenConnectionSockets() == 0; }));
    if (c.serverListens) {
      EXPECT_TRUE(loopback::WaitUntil([&] { return OpenDescriptors() == held - 3; }))
          << OpenDescriptors() << " descriptors open, " << held - 3 << " expected";
    }
    StopRelayThread();
    SetConnectFailedHandler(nullptr);
    std::lock_guard lock(failuresMutex);
    int expected = c.clientResets ? 0 : c.serverListens ? win::WSAETIMEDOUT : win::WSAECONNREFUSED;
    EXPECT_EQ(failures, expected ? std::vector<int>{expected} : std::vector<int>{});
    failures.clear();
  }
  win::SetConnectTimeout(21000);
  SetRelayListeningHandler(nullptr);
  SetRelayEndedHandler(nullptr);
}

TEST(ServerAddress, TheRelaysOwnListenerAndUnusableAddressesAreKnown) {
  struct Case {
    const char* address;
    int serverPort;
    bool usable, own;
  };
  const Case cases[] = {
      {"127.0.0.1", 3128, true, true},      {"127.200.1.9", 3128, true, true},
      {"0.0.0.0", 3128, true, true},        {"127.0.0.1", 3128 + 65536, true, true},  // low 16 bits
      {"127.0.0.1", 3129, true, false},     {"10.1.2.3", 3128, true, false},
      {"", 3128, false, false},             {"localhost", 3128, false, false},
      {"999.1.1.1", 3128, false, false},    {"255.255.255.255", 3128, false, false},
      {"10.1.2.3 ", 3128, false, false},    {" 10.1.2.3", 3128, false, false},  // the address alone
      {"10.1.2.3 x", 3128, false, false},   {"10.1.2.3\t", 3128, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsServerAddress(c.address), c.usable) << c.address;
    EXPECT_EQ(IsOwnListener(c.address, c.serverPort, 3128), c.own) << c.address << ":" << c.serverPort;
  }
  // Each of this host's own addresses counts as well.
  ifaddrs* list = nullptr;
  ASSERT_EQ(::getifaddrs(&list), 0);
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    char text[32];
    auto bytes = reinterpret_cast<const unsigned char*>(&reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    EXPECT_TRUE(IsOwnListener(text, 3128, 3128)) << text;
  }
  ::freeifaddrs(list);
}

}  // namespace
