#pragma once
#include <cstdint>
#include <string>

namespace bench {

// A plain single-threaded epoll relay with a 64 KiB read buffer: the
// reference for what a simple, sound relay achieves. Never returns.
[[noreturn]] void run_plain_relay(uint16_t listenPort, const std::string& serverAddress, uint16_t serverPort);

}  // namespace bench
