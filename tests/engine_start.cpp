#include "engine_start.h"

#include <chrono>
#include <future>
#include <memory>
#include <mutex>

#include "proxy.h"
#include "threads.h"

namespace engine_start {

int StartEngine(int listenPort, int serverPort) {
  ResetEngineState();
  ListenPort = listenPort;
  ServerAddress = "127.0.0.1";
  ServerPort = serverPort;
  auto outcome = std::make_shared<std::promise<int>>();
  auto once = std::make_shared<std::once_flag>();
  auto tell = [outcome, once](int value) { std::call_once(*once, [&] { outcome->set_value(value); }); };
  SetRelayListeningHandler([tell] { tell(kListening); });
  SetRelayEndedHandler([tell](win::DWORD code) { tell(static_cast<int>(code)); });
  win::HANDLE thread = win::CreateThread(nullptr, 0, RelayThread, nullptr, 0, nullptr);
  if (!thread) return kNoAnswer;
  win::CloseHandle(thread);
  auto result = outcome->get_future();
  return result.wait_for(std::chrono::seconds(10)) == std::future_status::ready ? result.get() : kNoAnswer;
}

}  // namespace engine_start
