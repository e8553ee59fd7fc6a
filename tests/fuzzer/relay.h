// The relay engine run inside this process on its own thread, started as the
// window's start command starts it, with its notices and beeps recorded
// instead of shown. Kept apart from the engine's header, whose Winsock-shaped
// names clash with the system's socket headers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fuzz {

// Starts the engine listening on a free port and relaying to
// 127.0.0.1:serverPort; the port it listens on, or 0 when it could not start.
int StartRelay(int serverPort);
// What the engine holds: its connection sockets (not its listener) and queued chunks.
std::size_t RelaySockets();
std::size_t RelayChunks();
// Every notice ("caption: text") and beep since the start.
std::vector<std::string> RelayNotices();
// Stops the engine; false when it did not end within the time.
bool StopRelay(int timeoutMs);

}  // namespace fuzz
