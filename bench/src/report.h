// The figures of every round and the table made from them.
#pragma once
#include <array>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "resources.h"

namespace bench {

enum Metric {
  kBulkUp,
  kBulkDown,
  kConnectionsOne,
  kConnections32,
  kRtt1P50,
  kRtt1P99,
  kRtt1000P50,
  kRtt1000P99,
  kLoadedPingP50,
  kLoadedPingP99,
  kPacedPingP50,
  kPacedPingP99,
  kIdleMemory,
  kPeakMemory,
  kMetricCount
};

struct Samples {
  std::vector<double> values;  // one per round that succeeded
  int failures = 0;
};

using RelayResults = std::array<Samples, kMetricCount>;

struct Results {
  std::vector<std::string> relays;  // in table order, the subject first
  std::map<std::string, RelayResults> byRelay;
};

// Markdown table: median and min–max per metric and relay, the subject's
// ratio to each peer, and whether each target is met.
void print_table(std::ostream& out, const Results& results);

// Markdown table of velotrunk-relay's resource figures, each with its target
// and whether it is met.
void print_resource_table(std::ostream& out, const std::vector<ResourceFigure>& figures);

}  // namespace bench
