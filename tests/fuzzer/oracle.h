// What TCP allows one end of a connection to see, given what the other end
// has done so far. The same rules judge the direct connection (which checks
// the scenarios and these rules) and the relayed one. Each check returns the
// fault it found, or an empty text.
#pragma once

#include <cstddef>
#include <string>

#include "scenario.h"

namespace fuzz {

// What one end has done and seen.
struct SideState {
  std::size_t accepted = 0;  // bytes its send calls accepted
  std::size_t received = 0;  // bytes its recv calls returned
  bool finSent = false;      // it shut down sending, or closed without a reset
  bool reset = false;        // it closed with a reset
  bool closed = false;       // it has closed, either way
  bool sawEnd = false;       // recv returned 0
  int error = 0;             // the error a call returned, 0 when none
  bool stalled = false;      // the deadline came first

  std::string Describe() const;
};

// `self` has just received `size` bytes at offset self.received, of which
// the one at `mismatch` is the first unlike the other end's stream (size
// when none is). `peer` is null while the other end is unknown (a client
// whose server has not read the connection's id yet).
std::string CheckData(const SideState& self, const SideState* peer, std::size_t size, std::size_t mismatch);
// recv has just returned 0.
std::string CheckEnd(const SideState& self, const SideState* peer, bool resetsMayEndCleanly);
// A call has just failed with self.error.
std::string CheckError(const SideState& self, const SideState* peer);
// Once both ends are done: what the two plans together promise.
std::string CheckOutcome(const SidePlan& plan, const SideState& self, const SidePlan& peerPlan,
                         const SideState& peer);

}  // namespace fuzz
