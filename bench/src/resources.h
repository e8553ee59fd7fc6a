// What velotrunk-relay costs beside its speed: how soon it stops under full
// load, the memory a burst of stalled connections takes and gives back, its
// peak memory beside a slow reader, its CPU while idle and while out of
// descriptors, and how whole the segments it sends are. Every figure comes
// from a fresh relay on loopback and has a target it should stay under.
#pragma once
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "relays.h"

namespace bench {

struct ResourceFigure {
  std::string label;
  double value = std::numeric_limits<double>::quiet_NaN();
  int decimals = 0;
  // The target: value under limit; none when NaN.
  double limit = std::numeric_limits<double>::quiet_NaN();
  std::string limitNote;  // where the limit comes from, when it is not fixed
  std::string failure;    // why there is no value
};

struct ResourceSetup {
  RelayKind relay;                      // velotrunk-relay
  std::string workDir;                  // its logs
  uint16_t serverPort = 0;              // the bench server (echo, sink, source)
  std::function<uint16_t()> freshPort;  // a free port never used before
  bool quick = false;                   // smaller sizes where they still tell
};

// Takes every measurement in turn; one that throws gives a figure with its
// failure and the others still run.
std::vector<ResourceFigure> measure_resources(const ResourceSetup& setup);

}  // namespace bench
