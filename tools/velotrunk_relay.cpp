// velotrunk-relay LISTEN_PORT SERVER_ADDRESS SERVER_PORT
//
// Runs the relay engine without a window, as the window's start button
// would: the same settings, the same engine thread, the same notices (one
// line each on stderr) and the terminal bell for the beep. It says on stderr
// when it listens, and tells of connects to the server that fail, which the
// window does not show (connect_failures.h). A stop request
// (stop_requests.h) stops the engine and exits with status 0; a port it
// cannot listen on exits with 1 once the notices are shown; bad arguments
// exit with 2; --help and --version exit with 1 when their answer cannot be
// written.

#include <cstdio>
#include <cstring>
#include <future>
#include <optional>
#include <string>

#include "connect_failures.h"
#include "notices.h"
#include "proxy.h"
#include "server_address.h"
#include "stop_requests.h"
#include "strtoint.h"
#include "threads.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: velotrunk-relay LISTEN_PORT SERVER_ADDRESS SERVER_PORT\n"
               "       velotrunk-relay --version\n"
               "\n"
               "Listens on LISTEN_PORT on every local IPv4 address and relays each TCP\n"
               "connection to SERVER_ADDRESS:SERVER_PORT. Ports are decimal or hexadecimal\n"
               "($C38, 0xC38) and lie in 1-65535; SERVER_ADDRESS is a dotted IPv4 address\n"
               "other than this relay's own listener. %s;\n"
               "a port that cannot be listened on ends it with status 1.\n",
               kStopHint);
}

std::optional<std::int32_t> ReadPort(const char* text) {
  auto value = win::TryStrToInt(text);
  if (!value || *value < 1 || *value > 65535) return std::nullopt;
  return value;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "velotrunk-relay: %s\n", problem);
  PrintUsage(stderr);
  return 2;
}

// Checks the arguments and hands them to the engine's settings; the exit
// status for bad arguments, or 0.
int TakeSettings(int argc, char** argv) {
  if (argc != 4) return Usage("three arguments are needed");
  std::optional<std::int32_t> listenPort = ReadPort(argv[1]), serverPort = ReadPort(argv[3]);
  if (!listenPort || !serverPort) return Usage("ports must be integers in 1-65535");
  std::string address = argv[2];
  if (!IsServerAddress(address)) return Usage("SERVER_ADDRESS must be a dotted IPv4 address");
  if (IsOwnListener(address, *serverPort, *listenPort))
    return Usage("the server is this relay's own port: it would connect to itself");
  ServerAddress = address;
  ServerPort = *serverPort;
  ListenPort = *listenPort;
  return 0;
}

// The exit status of an answer on stdout: 1 when it could not be written
// (a full disk), told on stderr.
int AnswerWritten() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fprintf(stderr, "velotrunk-relay: cannot write to standard output\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintUsage(stdout);
    return AnswerWritten();
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("velotrunk-relay %s\n", VELOTRUNK_VERSION);
    return AnswerWritten();
  }
  if (int status = TakeSettings(argc, argv)) return status;
  ConnectFailureReport connectFailures(ServerAddress + ":" + std::to_string(ServerPort & 0xFFFF));
  SetConnectFailedHandler([&connectFailures](int error) { connectFailures.Count(error); });
  StopRelayOnRequest();
  win::SetMessageBoxHandler(win::TerminalMessageBox);
  win::SetBeepHandler(win::TerminalBeep);

  std::promise<win::DWORD> ended;
  SetRelayListeningHandler([] {
    std::fprintf(stderr, "listening on 0.0.0.0:%d, relaying to %s:%d\n", ListenPort & 0xFFFF,
                 ServerAddress.c_str(), ServerPort & 0xFFFF);
  });
  SetRelayEndedHandler([&ended](win::DWORD code) { ended.set_value(code); });
  win::HANDLE thread = win::CreateThread(nullptr, 0, RelayThread, nullptr, 0, nullptr);
  if (!thread) {
    std::fprintf(stderr, "velotrunk-relay: cannot start the engine thread\n");
    return 1;
  }
  win::CloseHandle(thread);
  win::DWORD code = ended.get_future().get();
  StopRelayThread();  // waits until the engine thread has let go of its state
  return code == RELAY_START_FAILED ? 1 : 0;
}
