// Loopback helpers for tests over real sockets: a test server with a few
// behaviours, the headless relay as a child process, and blocking clients.
// Everything binds to 127.0.0.1 only. They build on POSIX and on Windows;
// sockets are ints (test_sockets.h).
#pragma once

#include <signal.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace loopback {

// How long any wait in these helpers may last before it counts as a hang.
// Only a guard: every wait ends as soon as its condition holds, and a busy
// machine must never reach it.
constexpr int kGuardSeconds = 30;

// A free TCP port on 127.0.0.1 (as free as the kernel says at that moment).
int FreePort();

// Deterministic bytes: the same (seed, size) always gives the same text.
std::string Pattern(std::uint64_t seed, std::size_t size);

// A single-threaded poll server on 127.0.0.1.
//  kEcho:   sends back what it reads; after the peer's end of stream and the
//           last byte echoed, it closes.
//  kSource: reads an 8-byte header (seed:4, size:4, little-endian), then sends
//           Pattern(seed, size) and closes. Ignores what follows the header.
//  kSink:   reads until end of stream, at most `sinkRate` bytes per second
//           (0: no limit), and records every connection's bytes.
class TestServer {
 public:
  enum Mode { kEcho, kSource, kSink };
  explicit TestServer(Mode mode, std::size_t sinkRate = 0);
  ~TestServer();

  int port() const { return port_; }
  // The bytes each finished sink connection received, in the order they ended.
  std::vector<std::string> SinkResults();
  int OpenConnections() const { return open_; }

 private:
  void Run();

  Mode mode_;
  std::size_t sinkRate_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<int> open_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> sinkResults_;
  std::thread thread_;
};

// velotrunk-relay started as a child process, stopped and waited for at the
// end: SIGTERM on POSIX, Ctrl+C on Windows.
class RelayProcess {
 public:
  // maxDescriptors > 0 lowers the child's descriptor limit (soft and hard;
  // POSIX only). The child starts with the stop signals' default actions,
  // however the tests were started, except that ignoredSignal (if not 0) is
  // ignored, as nohup does (POSIX only).
  RelayProcess(int listenPort, int serverPort, long maxDescriptors = 0, int ignoredSignal = 0);
  ~RelayProcess();
  int port() const { return port_; }
  int OpenSockets() const;      // sockets among its descriptors (POSIX only)
  // Whether every descriptor number below `limit` is in use, so that it can
  // open nothing more (POSIX only).
  bool HoldsEveryDescriptorBelow(int limit) const;
  std::string Errors() const;   // what it wrote to stderr so far (POSIX only)
  void Signal(int signal) const;  // sends it and returns at once (POSIX only)
  // Sends `signal` (on Windows Ctrl+C, whatever the signal) and waits (kGuardSeconds
  // at most, then kills it); returns the exit status, or -1 when it did not
  // exit by itself.
  int Stop(int signal = SIGTERM);

 private:
  long pid_ = -1;
  void* process_ = nullptr;  // Windows: the process handle
  int port_;
  int errors_ = -1;  // POSIX: an unlinked file that holds its stderr
};

// velotrunk-relay run with `arguments` to its end (kGuardSeconds at most): its exit
// status (-1 when it had to be killed) and what it wrote to stderr.
struct RelayRun {
  int status;
  std::string errors;
};
RelayRun RunRelay(const std::vector<std::string>& arguments);

// Waits (kGuardSeconds at most) until `done` holds; returns whether it did.
bool WaitUntil(const std::function<bool()>& done);

// A plain listener on 127.0.0.1 that hands out blocking sockets with
// kGuardSeconds timeouts, as Connect does.
class Listener {
 public:
  Listener();
  ~Listener();
  int port() const { return port_; }
  int Accept();  // -1 when no connection comes within kGuardSeconds

 private:
  int fd_;
  int port_;
};

// A listener on 127.0.0.1 whose listen queue is full and that never
// accepts: Linux drops the SYNs of every further connect to it, which then
// neither completes nor fails until the connecting side gives up, as with a
// server that is overloaded or behind a firewall that drops packets. POSIX
// only.
class FullListener {
 public:
  FullListener();
  ~FullListener();
  int port() const { return port_; }

 private:
  int fd_;
  int queued_;  // the connection that fills the queue
  int port_;
};

// A blocking client socket with kGuardSeconds send and receive timeouts; a
// receiveBuffer other than 0 fixes its receive buffer (and so the window it
// offers) before it connects.
int Connect(int port, int receiveBuffer = 0);
bool SendAll(int fd, const std::string& data);
std::string ReceiveAll(int fd);  // until end of stream, error or timeout
// How a stream ended for the reader: in order, with an error (a reset), or
// not within the timeout.
enum class End { kOrderly, kError, kTimeout };
End ReceiveToEnd(int fd, std::string& into);
std::string ReceiveExactly(int fd, std::size_t size);
std::string SourceHeader(std::uint32_t seed, std::uint32_t size);

// Plain descriptor helpers for tests that must not see the system's socket
// headers (their macros clash with the Winsock-shaped names).
int LocalPort(int fd);
void ShrinkSendBuffer(int fd, int bytes);
void GrowReceiveBuffer(int fd, int bytes);
void CloseWithReset(int fd);            // the peer sees a reset, not an end of stream
// Whether the client's connection to a listener on this machine waits in
// that listener's queue, not accepted yet (Linux only).
bool WaitsInTheListenQueue(int listenPort, int clientFd);

}  // namespace loopback
