// Starts the relay engine in this process, on its own thread, as the
// window's start command does, and tells how its start went.
#pragma once

namespace engine_start {

constexpr int kListening = -1;
constexpr int kNoAnswer = -2;

// Sets the engine's three settings (server on 127.0.0.1), starts RelayThread
// and waits (10 s at most) until it listens or ends: kListening (it is left
// running), its exit code when it ended by itself, or kNoAnswer.
int StartEngine(int listenPort, int serverPort);

}  // namespace engine_start
