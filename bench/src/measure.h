// One measurement of one relay on 127.0.0.1:port. Each is bounded in time and
// throws NetError when the relay fails it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace bench {

struct Bulk {
  double megabytesPerSecond = 0;
  long long peakRssBytes = 0;  // highest VmRSS of the relay seen during the transfer
};

struct Connections {
  double perSecond = 0;
  int errors = 0;
};

struct Latency {
  double p50us = 0;
  double p99us = 0;
};

// client → server: sends bytes and waits for the server's receipt.
Bulk bulk_upload(uint16_t port, uint64_t bytes, pid_t relay);
// server → client: asks for bytes and reads them.
Bulk bulk_download(uint16_t port, uint64_t bytes, pid_t relay);

// Connect, send 101 bytes, read the echo, close; concurrency at a time.
Connections connections_per_second(uint16_t port, int concurrency, double seconds);

// Echo round trips of size-byte messages on one connection.
Latency round_trips(uint16_t port, size_t size, double seconds);

// 1-byte echo round trips once a millisecond while a server → client bulk
// transfer runs through the same relay, read as fast as it comes or, with
// bytesPerSecond above 0, at that pace.
Latency ping_under_load(uint16_t port, double seconds, double bytesPerSecond);

// Growth of the relay's resident memory per connection with count idle
// connections open (each has relayed one byte both ways first).
double idle_bytes_per_connection(uint16_t port, pid_t relay, int count);

}  // namespace bench
