#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct DriverOptions {
  std::string velotrunkRelay;  // path of velotrunk-relay; left out when empty or missing
  std::string workDir;         // config files and logs of the relays
  int rounds = 5;
  double scale = 1.0;          // multiplies every measurement's duration
  // Below Linux's ephemeral range (32768 up), so no outgoing connection holds them.
  uint16_t relayPortBase = 24200;
  uint16_t serverPortBase = 24100;
  int idleConnections = 1000;
  std::vector<std::string> only;  // relay names to run; all when empty
  // velotrunk-relay's resource figures after the table: "full", "quick"
  // (smaller sizes) or "off".
  std::string resources = "full";
};

// Starts the server and the relays, measures round by round, stops
// everything and prints the table to stdout, then the resource figures.
// Returns the exit status: 1 when a measurement could not be taken, whatever
// the figures.
int run_driver(const DriverOptions& options, const std::string& selfExe);

}  // namespace bench
