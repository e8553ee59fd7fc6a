#include "scenario.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fuzz {
namespace {

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

constexpr std::size_t KiB = 1024, MiB = 1024 * 1024;

// Mostly small writes, some large, a few of several MiB.
std::size_t WriteSize(Rng& rng) {
  switch (rng.Next() % 20) {
    case 0: case 1: case 2: case 3: case 4: case 5: return rng.Between(0, 100);
    case 6: case 7: case 8: case 9: case 10: case 11: return rng.Between(101, 16 * KiB);
    case 12: case 13: case 14: case 15: case 16: return rng.Between(16 * KiB, 256 * KiB);
    case 17: case 18: return rng.Between(256 * KiB, MiB);
    default: return rng.Between(MiB, 4 * MiB);
  }
}

int PauseMs(Rng& rng) {
  if (rng.Percent(60)) return 0;
  return rng.Percent(75) ? static_cast<int>(rng.Between(1, 30)) : static_cast<int>(rng.Between(31, 300));
}

std::vector<Write> MakeWrites(Rng& rng) {
  std::vector<Write> writes(rng.Between(0, 4));
  for (Write& w : writes) {
    w.size = WriteSize(rng);
    w.pauseMs = PauseMs(rng);
    switch (rng.Next() % 3) {
      case 0: w.piece = rng.Between(1, 1460); break;
      case 1: w.piece = rng.Between(1460, 64 * KiB); break;
      default: w.piece = 4 * MiB; break;
    }
  }
  return writes;
}

SidePlan MakeSide(Rng& rng, bool server) {
  SidePlan p;
  p.writes = MakeWrites(rng);
  int r = static_cast<int>(rng.Next() % 100);
  p.read = r < 45 ? ReadMode::kFast : r < 65 ? ReadMode::kSlow : (r < 88 || !server) ? ReadMode::kPaused : ReadMode::kNever;
  p.slowChunk = rng.Between(512, 32 * KiB);
  p.slowIntervalMs = static_cast<int>(rng.Between(1, 15));
  p.pauseMs = static_cast<int>(rng.Between(100, 1500));
  int e = static_cast<int>(rng.Next() % 100);
  p.ending = e < 30 ? Ending::kClose : e < 58 ? Ending::kHalfClose : e < 75 ? Ending::kReset : Ending::kWait;
  // A side that never reads cannot see the other side's end.
  if (p.read == ReadMode::kNever && p.ReadsToTheEnd()) p.ending = rng.Percent(70) ? Ending::kClose : Ending::kReset;
  p.resetMs = static_cast<int>(rng.Between(0, 1000));
  if (server && rng.Percent(20)) p.startDelayMs = static_cast<int>(rng.Between(50, 800));
  return p;
}

// Fits how a side reads to what the other side sends: a slow reader gets
// through it in about two seconds, a pause comes somewhere inside it.
void FitReading(SidePlan& reader, const SidePlan& sender, Rng& rng) {
  std::size_t total = sender.TotalBytes();
  reader.slowChunk = std::max(reader.slowChunk, total * reader.slowIntervalMs / 2000);
  reader.pauseAfter = rng.Percent(40) ? 0 : rng.Between(0, total);
}

// Makes a transfer larger than the kernel's and the relay's buffers
// together, toward a side that does not read it for a while (or ever), so
// that the relay has to stop reading the sender.
void MakeBulk(SidePlan& sender, SidePlan& receiver, Rng& rng) {
  Write bulk{rng.Between(5 * MiB, 12 * MiB), 0, 64 * KiB};
  sender.writes.insert(sender.writes.begin() + static_cast<long>(rng.Between(0, sender.writes.size())), bulk);
  if (receiver.read == ReadMode::kNever) return;
  receiver.read = ReadMode::kPaused;
  receiver.pauseAfter = 0;
}

SidePlan Refusing() {
  SidePlan p;
  p.ending = Ending::kReset;
  p.refuses = true;
  return p;
}

std::string Size(std::size_t n) {
  char text[32];
  if (n >= MiB)
    std::snprintf(text, sizeof text, "%.1fMiB", n / double(MiB));
  else if (n >= 10 * KiB)
    std::snprintf(text, sizeof text, "%zuKiB", n / KiB);
  else
    std::snprintf(text, sizeof text, "%zuB", n);
  return text;
}

const std::array<char, 4> kIdMagic = {'V', 'T', 'f', 'z'};

std::array<char, kIdSize> IdBytes(int id) {
  std::array<char, kIdSize> bytes{};
  std::memcpy(bytes.data(), kIdMagic.data(), 4);
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>(static_cast<std::uint32_t>(id) >> (8 * i));
  return bytes;
}

}  // namespace

std::uint64_t Rng::Next() { return Mix(state_++); }

std::size_t SidePlan::TotalBytes() const {
  std::size_t total = 0;
  for (const Write& w : writes) total += w.size;
  return total;
}

std::string SidePlan::Describe() const {
  if (refuses) return "resets at once";
  std::string text;
  if (startDelayMs) text += "starts " + std::to_string(startDelayMs) + "ms late; ";
  text += "writes [";
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (i) text += ", ";
    if (writes[i].pauseMs) text += std::to_string(writes[i].pauseMs) + "ms then ";
    text += Size(writes[i].size) + " by " + Size(writes[i].piece);
  }
  text += "]; reads ";
  switch (read) {
    case ReadMode::kFast: text += "fast"; break;
    case ReadMode::kSlow: text += Size(slowChunk) + " per " + std::to_string(slowIntervalMs) + "ms"; break;
    case ReadMode::kPaused:
      text += "fast, pausing " + std::to_string(pauseMs) + "ms after " + Size(pauseAfter);
      break;
    case ReadMode::kNever: text += "nothing"; break;
  }
  text += "; ";
  switch (ending) {
    case Ending::kClose: text += "closes"; break;
    case Ending::kHalfClose: text += "half-closes, reads to the end, closes"; break;
    case Ending::kReset: text += "resets at " + std::to_string(resetMs) + "ms"; break;
    case Ending::kWait: text += "reads to the end, closes"; break;
  }
  return text;
}

std::string Scenario::Describe() const {
  return "scenario " + std::to_string(index) + "\n    client: " + client.Describe() +
         "\n    server: " + server.Describe();
}

Scenario MakeScenario(std::uint64_t seed, int index) {
  Rng rng(Mix(seed) ^ Mix(0x5CE7A410ull + static_cast<std::uint64_t>(index)));
  Scenario s{index, MakeSide(rng, false), rng.Percent(6) ? Refusing() : MakeSide(rng, true)};
  // Two sides that each wait for the other's end would wait for ever.
  if (s.client.ending == Ending::kWait && s.server.ending == Ending::kWait) s.server.ending = Ending::kHalfClose;
  FitReading(s.client, s.server, rng);
  FitReading(s.server, s.client, rng);
  int bulk = static_cast<int>(rng.Next() % 100);
  if (bulk < 8 && !s.server.refuses) MakeBulk(s.client, s.server, rng);
  if (bulk >= 92 && !s.server.refuses) MakeBulk(s.server, s.client, rng);
  return s;
}

// --- Streams ----------------------------------------------------------------

Stream::Stream(std::uint64_t key, int id) : key_(Mix(key)), id_(id) {}

char Stream::At(std::size_t offset) const {
  if (id_ >= 0 && offset < kIdSize) return IdBytes(id_)[offset];
  return static_cast<char>(Mix(key_ + offset / 8) >> (offset % 8 * 8));
}

void Stream::Fill(std::size_t offset, char* out, std::size_t size) const {
  std::size_t i = 0;
  for (; i < size && (offset + i < kIdSize || (offset + i) % 8); ++i) out[i] = At(offset + i);
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word = Mix(key_ + (offset + i) / 8);
    for (int b = 0; b < 8; ++b) out[i + b] = static_cast<char>(word >> (8 * b));
  }
  for (; i < size; ++i) out[i] = At(offset + i);
}

std::size_t Stream::Mismatch(std::size_t offset, const char* data, std::size_t size) const {
  char expected[4096];
  for (std::size_t done = 0; done < size;) {
    std::size_t n = std::min(size - done, sizeof expected);
    Fill(offset + done, expected, n);
    for (std::size_t i = 0; i < n; ++i)
      if (expected[i] != data[done + i]) return done + i;
    done += n;
  }
  return size;
}

int ParseId(const std::array<char, kIdSize>& bytes) {
  if (std::memcmp(bytes.data(), kIdMagic.data(), 4) != 0) return -1;
  std::uint32_t id = 0;
  for (int i = 0; i < 4; ++i) id |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4 + i])) << (8 * i);
  return id > 0x7FFFFFFF ? -1 : static_cast<int>(id);
}

}  // namespace fuzz
