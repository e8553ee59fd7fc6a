// The clients and servers that play the scenarios: one thread, non-blocking
// sockets, one poll loop with timers. Each scenario runs twice at once, once
// with its client connected straight to the server and once through the
// relay; the server side tells the connections apart by the id each client
// sends first.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "net.h"
#include "oracle.h"
#include "scenario.h"

namespace fuzz {

enum Mode { kDirect = 0, kRelayed = 1 };
constexpr const char* kModeNames[] = {"direct", "relayed"};

struct Options {
  std::uint64_t seed = 1;  // for the servers' pauses in accepting
  int concurrency = 24;    // scenarios under way at once
  int deadlineMs = 15000;  // how long a connection may go without a step forward
  // Wine reports a reset peer as an orderly end, on any connection: there
  // an end after the other end closed is not judged.
  bool resetsMayEndCleanly = false;
};

// Where the servers accept, for each mode: the direct clients connect to the
// first, the relay to the second.
struct Listeners {
  std::array<net::Socket, 2> socket{net::kNoSocket, net::kNoSocket};
  std::array<int, 2> port{0, 0};
};
Listeners OpenListeners();
void CloseListeners(const Listeners& listeners);

struct ConnectionResult {
  SideState client;
  SideState server;
  bool serverKnown = false;  // a server connection read this connection's id
  std::vector<std::string> faults;
};

struct RunResult {
  std::vector<std::array<ConnectionResult, 2>> connections;  // per scenario, per mode
  std::array<std::vector<std::string>, 2> unnamedFaults;     // server connections whose id never arrived
};

// Runs every scenario in both modes and returns when all have ended or
// stalled past their deadline. The relayed clients connect to relayPort.
RunResult RunScenarios(const std::vector<Scenario>& scenarios, const Options& options,
                       const Listeners& listeners, int relayPort);

}  // namespace fuzz
