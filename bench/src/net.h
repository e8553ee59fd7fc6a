// Small blocking and non-blocking socket helpers over loopback.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

struct NetError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws NetError with the text of errno appended.
[[noreturn]] void throw_errno(const std::string& what);

double seconds_since(Clock::time_point start);

// Raises the soft descriptor limit as far as the hard limit allows.
void raise_fd_limit();

void set_nonblocking(int fd);
void set_nodelay(int fd);
// Blocking reads and writes fail after this many seconds instead of hanging.
void set_io_timeout(int fd, int seconds);

// Blocking connection to 127.0.0.1:port with a 10 s I/O timeout.
int connect_loopback(uint16_t port, bool nodelay);
// Non-blocking listener on 127.0.0.1:port.
int listen_loopback(uint16_t port);
// True when nothing is bound to port on any local address.
bool port_is_free(uint16_t port);

void write_all(int fd, const void* data, size_t size);
void read_exact(int fd, void* data, size_t size);

// Owns a descriptor and closes it.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  operator int() const { return fd_; }

 private:
  int fd_;
};

// The first byte of a connection to the bench server picks what it does.
constexpr char kModeEcho = 'E';    // echoes every byte, the first included
constexpr char kModeSink = 'S';    // then 8 bytes count N: reads N bytes, answers 'K'
constexpr char kModeSource = 'D';  // then 8 bytes count N: sends N bytes (0: until closed)
constexpr char kSinkDone = 'K';

// The mode byte and the count of a sink or source connection.
void send_request(int fd, char mode, uint64_t count);

}  // namespace bench
