// velotrunk-relay LISTEN_PORT SERVER_ADDRESS SERVER_PORT
//
// Runs the relay engine without a window, as the window's start button
// would: the same settings, the same engine thread, the same notices (one
// line each on stderr) and the terminal bell for the beep. SIGINT or SIGTERM
// stops the engine and exits with status 0.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "proxy.h"
#include "strtoint.h"
#include "threads.h"

namespace {

constexpr const char* kUsage =
    "usage: velotrunk-relay LISTEN_PORT SERVER_ADDRESS SERVER_PORT\n"
    "\n"
    "Listens on LISTEN_PORT on every local IPv4 address and relays each TCP\n"
    "connection to SERVER_ADDRESS:SERVER_PORT. Ports are decimal or hexadecimal\n"
    "($C38, 0xC38) and lie in 1-65535. SIGINT or SIGTERM stops the relay.\n";

std::optional<std::int32_t> ReadPort(const char* text) {
  auto value = win::TryStrToInt(text);
  if (!value || *value < 1 || *value > 65535) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::optional<std::int32_t> listenPort, serverPort;
  if (argc == 4) {
    listenPort = ReadPort(argv[1]);
    serverPort = ReadPort(argv[3]);
  }
  if (!listenPort || !serverPort) {
    if (argc == 4) std::fprintf(stderr, "velotrunk-relay: ports must be integers in 1-65535\n");
    std::fputs(kUsage, stderr);
    return 2;
  }

  ServerAddress = argv[2];
  ServerPort = *serverPort;
  ListenPort = *listenPort;

  // The engine and notice threads inherit this mask; the signals are taken
  // here, by sigwait, and nowhere else.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  win::HANDLE thread = win::CreateThread(nullptr, 0, RelayThread, nullptr, 0, nullptr);
  if (!thread) {
    std::fprintf(stderr, "velotrunk-relay: cannot start the engine thread\n");
    return 1;
  }
  win::CloseHandle(thread);

  int signalNumber = 0;
  sigwait(&stopSignals, &signalNumber);
  StopRelayThread();
  return 0;
}
