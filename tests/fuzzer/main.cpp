// scenario_fuzzer [--seed N] [--count N] [--first N] [--concurrency N] [--deadline SECONDS]
//                 [--pause-scale N] [--size-divisor N] [--resets-may-end-cleanly] [--list]
//
// Plays randomised client/server scenarios over loopback, each both straight
// to the server and through the relay engine running in this process, and
// judges every connection by what TCP allows. A fault on the direct
// connection is a fault of the fuzzer's own model; one only on the relayed
// connection is the relay's. Afterwards the relay must hold no connection
// socket, no queued chunk and no extra socket descriptor, and must have shown no
// notice. Exits 0 when nothing was found, 1 otherwise, 2 for bad arguments.
// --deadline is how long a connection may go without a byte moving, or an
// end, before it counts as stalled: a guard against a hang, not a speed.
// --pause-scale multiplies the pauses in reading (0.1-1.5 s), so that a long
// run can hold a side paused past the relay's time limits; raise --deadline
// with it. --size-divisor divides every write (and where a reader pauses),
// for a relay that is slow where it runs (under Wine each chunk costs calls
// into its server). --resets-may-end-cleanly accepts an orderly end where
// the other end reset, as Wine reports every reset. --list prints the
// scenarios instead of running them.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net.h"
#include "peers.h"
#include "relay.h"
#include "scenario.h"

namespace {

using namespace fuzz;

struct Arguments {
  std::uint64_t seed = 0;
  bool seedGiven = false;
  int count = 100;
  int first = 0;
  int pauseScale = 1;
  std::size_t sizeDivisor = 1;
  bool list = false;
  Options options;
};

bool Parse(int argc, char** argv, Arguments& a) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--list") {
      a.list = true;
      continue;
    }
    if (name == "--resets-may-end-cleanly") {
      a.options.resetsMayEndCleanly = true;
      continue;
    }
    if (i + 1 == argc) return false;
    const char* text = argv[++i];
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (*end || !*text) return false;
    if (name == "--seed") {
      a.seed = value;
      a.seedGiven = true;
    } else if (name == "--count") {
      a.count = static_cast<int>(value);
    } else if (name == "--first") {
      a.first = static_cast<int>(value);
    } else if (name == "--concurrency" && value > 0) {
      a.options.concurrency = static_cast<int>(value);
    } else if (name == "--pause-scale" && value > 0) {
      a.pauseScale = static_cast<int>(value);
    } else if (name == "--size-divisor" && value > 0) {
      a.sizeDivisor = value;
    } else if (name == "--deadline" && value > 0) {
      a.options.deadlineMs = static_cast<int>(value * 1000);
    } else {
      return false;
    }
  }
  return true;
}

// The options that decide what the scenarios are.
std::string ScenarioOptions(const Arguments& a) {
  std::string text = "--seed " + std::to_string(a.seed);
  if (a.pauseScale != 1) text += " --pause-scale " + std::to_string(a.pauseScale);
  if (a.sizeDivisor != 1) text += " --size-divisor " + std::to_string(a.sizeDivisor);
  if (a.options.deadlineMs != Options{}.deadlineMs) text += " --deadline " + std::to_string(a.options.deadlineMs / 1000);
  if (a.options.resetsMayEndCleanly) text += " --resets-may-end-cleanly";
  return text;
}

// Waits (5 s at most) until the relay holds nothing of the finished
// connections; what it still holds then. The socket layer may keep a closed
// socket for a moment while it writes out its last bytes.
std::vector<std::string> RelayLeftovers(int socketsBefore) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::size_t connectionSockets, chunks;
  int processSockets;
  for (;;) {
    connectionSockets = RelaySockets();
    chunks = RelayChunks();
    processSockets = net::OpenSockets();
    bool empty = connectionSockets == 0 && chunks == 0 && processSockets <= socketsBefore;
    if (empty || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::vector<std::string> faults;
  if (connectionSockets)
    faults.push_back("the engine still holds " + std::to_string(connectionSockets) + " connection sockets");
  if (chunks) faults.push_back("the engine still holds " + std::to_string(chunks) + " queued chunks");
  if (processSockets > socketsBefore)
    faults.push_back("the process holds " + std::to_string(processSockets - socketsBefore) +
                     " more sockets than before the scenarios");
  for (const std::string& notice : RelayNotices()) faults.push_back("the relay showed a notice: " + notice);
  return faults;
}

void PrintConnection(const char* mode, const ConnectionResult& r) {
  std::printf("  %s: client %s; server %s\n", mode, r.client.Describe().c_str(),
              r.serverKnown ? r.server.Describe().c_str() : "never got the id");
  for (const std::string& fault : r.faults) std::printf("    %s\n", fault.c_str());
}

// Prints each failing scenario; returns the counts of relay and model faults.
std::pair<int, int> Report(const std::vector<Scenario>& scenarios, const RunResult& result) {
  int relay = 0, model = 0;
  for (std::size_t i = 0; i < scenarios.size(); ++i) {
    const ConnectionResult& direct = result.connections[i][kDirect];
    const ConnectionResult& relayed = result.connections[i][kRelayed];
    if (direct.faults.empty() && relayed.faults.empty()) continue;
    bool modelFault = !direct.faults.empty();
    (modelFault ? model : relay)++;
    std::printf("%s %s\n", modelFault ? "MODEL FAULT (the direct connection breaks the fuzzer's rules)" : "RELAY FAULT",
                scenarios[i].Describe().c_str());
    PrintConnection("direct", direct);
    PrintConnection("relayed", relayed);
  }
  for (Mode mode : {kDirect, kRelayed})
    for (const std::string& fault : result.unnamedFaults[mode]) {
      std::printf("%s (%s server connections): %s\n", mode == kDirect ? "MODEL FAULT" : "RELAY FAULT",
                  kModeNames[mode], fault.c_str());
      (mode == kDirect ? model : relay)++;
    }
  return {relay, model};
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!Parse(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: scenario_fuzzer [--seed N] [--count N] [--first N] [--concurrency N] [--deadline SECONDS]\n"
                 "                       [--pause-scale N] [--size-divisor N] [--resets-may-end-cleanly] [--list]\n");
    return 2;
  }
  if (!args.seedGiven) args.seed = std::random_device{}() ^ static_cast<std::uint64_t>(std::time(nullptr));
  args.options.seed = args.seed;
  std::printf("scenario_fuzzer %s --first %d --count %d --concurrency %d\n", ScenarioOptions(args).c_str(),
              args.first, args.count, args.options.concurrency);
  std::fflush(stdout);

  net::Startup();
  std::vector<Scenario> scenarios;
  for (int i = 0; i < args.count; ++i) {
    scenarios.push_back(MakeScenario(args.seed, args.first + i));
    for (SidePlan* side : {&scenarios.back().client, &scenarios.back().server}) {
      side->pauseMs *= args.pauseScale;
      side->pauseAfter /= args.sizeDivisor;
      for (Write& w : side->writes) w.size /= args.sizeDivisor;
    }
  }
  if (args.list) {
    for (const Scenario& s : scenarios) std::printf("%s\n", s.Describe().c_str());
    return 0;
  }
  Listeners listeners = OpenListeners();
  if (listeners.socket[kDirect] == net::kNoSocket || listeners.socket[kRelayed] == net::kNoSocket) {
    std::printf("could not listen on 127.0.0.1\n");
    return 1;
  }
  int relayPort = StartRelay(listeners.port[kRelayed]);
  if (!relayPort) {
    std::printf("RELAY FAULT: the engine did not start listening\n");
    return 1;
  }
  int socketsBefore = net::OpenSockets();
  auto started = std::chrono::steady_clock::now();
  RunResult result = RunScenarios(scenarios, args.options, listeners, relayPort);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  auto [relayFaults, modelFaults] = Report(scenarios, result);
  for (const std::string& fault : RelayLeftovers(socketsBefore)) {
    std::printf("RELAY FAULT after all scenarios ended: %s\n", fault.c_str());
    ++relayFaults;
  }
  if (!StopRelay(10000)) {
    std::printf("RELAY FAULT: the engine did not stop within 10 s\n");
    std::fflush(stdout);
    std::_Exit(1);
  }
  CloseListeners(listeners);

  std::printf("seed %llu: %d scenarios in %.1f s, %d relay faults, %d model faults\n",
              static_cast<unsigned long long>(args.seed), args.count, seconds, relayFaults, modelFaults);
  if (relayFaults + modelFaults == 0) return 0;
  std::printf("to replay one: scenario_fuzzer %s --first INDEX --count 1\n", ScenarioOptions(args).c_str());
  return 1;
}
