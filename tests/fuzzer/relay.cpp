#include "relay.h"

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "engine_start.h"
#include "net.h"
#include "notices.h"
#include "proxy.h"

namespace fuzz {
namespace {

std::mutex noticesMutex;
std::vector<std::string> notices;

void Record(std::string notice) {
  std::lock_guard lock(noticesMutex);
  notices.push_back(std::move(notice));
}

// One attempt on one port: true once the engine listens, false when it ended
// instead (someone took the port meanwhile) or did not answer in time.
bool TryStart(int listenPort, int serverPort) {
  if (engine_start::StartEngine(listenPort, serverPort) == engine_start::kListening) return true;
  StopRelay(10000);
  return false;
}

}  // namespace

int StartRelay(int serverPort) {
  win::SetMessageBoxHandler([](win::HWND, const std::string& text, const std::string& caption, win::UINT) {
    Record(caption + ": " + text);
    return win::IDOK;
  });
  win::SetBeepHandler([](win::DWORD, win::DWORD) { Record("beep"); });
  for (int attempt = 0; attempt < 5; ++attempt) {
    {
      std::lock_guard lock(noticesMutex);
      notices.clear();  // a port taken meanwhile is not the relay's fault
    }
    int port = net::FreeLoopbackPort();
    if (TryStart(port, serverPort)) return port;
  }
  return 0;
}

std::size_t RelaySockets() { return OpenConnectionSockets(); }
std::size_t RelayChunks() { return QueuedChunks(); }

std::vector<std::string> RelayNotices() {
  std::lock_guard lock(noticesMutex);
  return notices;
}

bool StopRelay(int timeoutMs) {
  // StopRelayThread waits for the engine without a limit; a stuck engine
  // must fail the run, not hang it, so the wait runs on a thread of its own.
  auto stopped = std::make_shared<std::promise<void>>();
  std::future<void> done = stopped->get_future();
  std::thread([stopped] {
    StopRelayThread();
    stopped->set_value();
  }).detach();
  return done.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
}

}  // namespace fuzz
