// What one scenario does: for the client and for the server, the writes, how
// fast it reads and how it ends. Scenario i of a seed is always the same,
// whatever else runs beside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

enum class ReadMode {
  kFast,    // reads whatever arrives
  kSlow,    // a chunk every few milliseconds
  kPaused,  // stops after some bytes for a while, then reads fast
  kNever,   // reads nothing (a server: nothing past the connection's id)
};

enum class Ending {
  kClose,      // closes once its writes are done
  kHalfClose,  // shuts down sending once its writes are done, reads to the end, closes
  kReset,      // closes with a reset at a set time, done writing or not
  kWait,       // once its writes are done, reads to the end, then closes
};

struct Write {
  std::size_t size;
  int pauseMs;        // before it starts
  std::size_t piece;  // the most one send call offers
};

struct SidePlan {
  std::vector<Write> writes;
  ReadMode read = ReadMode::kFast;
  std::size_t slowChunk = 0;
  int slowIntervalMs = 0;
  std::size_t pauseAfter = 0;
  int pauseMs = 0;
  Ending ending = Ending::kClose;
  int resetMs = 0;       // kReset: after the start
  int startDelayMs = 0;  // a server: from the id's arrival to its first read or write
  bool refuses = false;  // a server that resets at once

  std::size_t TotalBytes() const;
  bool ReadsToTheEnd() const { return ending == Ending::kHalfClose || ending == Ending::kWait; }
  std::string Describe() const;
};

struct Scenario {
  int index;
  SidePlan client;
  SidePlan server;
  std::string Describe() const;
};

Scenario MakeScenario(std::uint64_t seed, int index);

// Random numbers that are the same on every platform and standard library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  std::size_t Between(std::size_t low, std::size_t high) { return low + Next() % (high - low + 1); }
  bool Percent(int p) { return static_cast<int>(Next() % 100) < p; }

 private:
  std::uint64_t state_;
};

// The bytes one side sends, computable at any offset without storing them.
// A client's stream starts with the 8-byte id of its connection.
class Stream {
 public:
  Stream() = default;
  Stream(std::uint64_t key, int id);
  void Fill(std::size_t offset, char* out, std::size_t size) const;
  // The first position in data that differs from the stream at offset, or size.
  std::size_t Mismatch(std::size_t offset, const char* data, std::size_t size) const;

 private:
  char At(std::size_t offset) const;
  std::uint64_t key_ = 0;
  int id_ = -1;
};

constexpr std::size_t kIdSize = 8;
// The connection number an id names, or -1 when the bytes are no id.
int ParseId(const std::array<char, kIdSize>& bytes);

}  // namespace fuzz
