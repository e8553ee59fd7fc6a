#include "start_command.h"

#include "form1_design.h"
#include "notices.h"
#include "proxy.h"
#include "server_address.h"
#include "strtoint.h"
#include "threads.h"

namespace {

// A port field's text as a port: the integer conversion, then 1 to 65535.
// Anything else throws, like a text that does not convert.
std::int32_t ReadPort(const std::string& text) {
  std::int32_t port = win::StrToInt(text);
  if (port < 1 || port > 65535) throw win::EConvertError(text + " is not a port");
  return port;
}

// The server's address as typed, when inet_addr finds an address in it;
// anything else throws like a port that does not convert (a relay to it
// would drop every client without a word).
std::string ReadServerAddress(const std::string& address) {
  if (!IsServerAddress(address)) throw win::EConvertError(address + " is not an IPv4 address");
  return address;
}

}  // namespace

bool RunStartCommand(void* owner, const std::string& listenPort, const std::string& serverAddress,
                     const std::string& serverPort) {
  try {
    ServerAddress = ReadServerAddress(serverAddress);
    ServerPort = ReadPort(serverPort);
    ListenPort = ReadPort(listenPort);
    if (IsOwnListener(ServerAddress, ServerPort, ListenPort)) throw win::EConvertError("the relay's own port");
    win::DWORD threadId = 0;
    win::CloseHandle(win::CreateThread(nullptr, 0, RelayThread, nullptr, 0, &threadId));
    return true;
  } catch (...) {
    win::MessageBoxA(static_cast<win::HWND>(owner), form1_design::BadValuesText, form1_design::BadValuesCaption,
                     win::MB_ICONERROR);
    return false;
  }
}

void SetRelayStartFailedHandler(std::function<void()> handler) {
  SetRelayEndedHandler([handler = std::move(handler)](win::DWORD exitCode) {
    if (exitCode == RELAY_START_FAILED && handler) handler();
  });
}

void StopStartedRelay() { StopRelayThread(); }
