#include "oracle.h"

#include "net.h"

namespace fuzz {

std::string SideState::Describe() const {
  std::string text = "sent " + std::to_string(accepted) + ", received " + std::to_string(received);
  if (sawEnd) text += ", saw end of stream";
  if (error) text += ", saw " + net::ErrorName(error);
  if (stalled)
    text += ", stalled";
  else if (reset)
    text += ", reset";
  else if (closed)
    text += ", closed";
  else if (finSent)
    text += ", half-closed";
  return text;
}

std::string CheckData(const SideState& self, const SideState* peer, std::size_t size, std::size_t mismatch) {
  if (mismatch < size)
    return "byte " + std::to_string(self.received + mismatch) +
           " is not the other end's: corrupted, reordered or another connection's bytes";
  std::size_t sent = peer ? peer->accepted : 0;
  if (self.received + size > sent)
    return "received " + std::to_string(self.received + size) + " bytes, but the other end's sends took only " +
           std::to_string(sent);
  return {};
}

std::string CheckEnd(const SideState& self, const SideState* peer, bool resetsMayEndCleanly) {
  // A close with bytes still unread, or arriving, resets: under Wine the
  // reader sees an orderly end there, so only a peer that merely shut down
  // its sending is held to every byte.
  if (resetsMayEndCleanly && peer && peer->closed) return {};
  if (!peer || !peer->finSent) {
    if (peer && peer->reset) return "a reset arrived as a clean end of stream";
    return "end of stream while the other end had neither closed nor shut down sending";
  }
  if (self.received != peer->accepted)
    return "clean end of stream after " + std::to_string(self.received) + " of the " +
           std::to_string(peer->accepted) + " bytes the other end sent (silent truncation)";
  return {};
}

std::string CheckError(const SideState& self, const SideState* peer) {
  // Only a closed end resets a connection: by SO_LINGER 0, or by closing
  // with unread bytes, or by refusing bytes that arrive after it closed.
  if (!peer || !peer->closed)
    return net::ErrorName(self.error) + " while the other end had not closed";
  return {};
}

std::string CheckOutcome(const SidePlan& plan, const SideState& self, const SidePlan& peerPlan,
                         const SideState& peer) {
  // Neither end resets nor closes before it has read the other's end: no
  // reset can happen, and each end gets all of the other's bytes and a clean end.
  if (!plan.ReadsToTheEnd() || !peerPlan.ReadsToTheEnd() || self.stalled || peer.stalled) return {};
  if (self.error) return "saw " + net::ErrorName(self.error) + ", though neither end resets or closes early";
  if (!self.sawEnd || self.received != peer.accepted)
    return "ended with " + std::to_string(self.received) + " of " + std::to_string(peer.accepted) +
           " bytes" + (self.sawEnd ? "" : " and no end of stream") + ", though neither end resets or closes early";
  return {};
}

}  // namespace fuzz
