// RelayThread: the engine window and its message loop, the listener, and
// the start and stop of the thread, which any thread may ask for. The
// window's socket events go to the handlers of relay.cpp.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "connection_table.h"
#include "notices.h"
#include "relay.h"

using namespace win;

std::int32_t ListenPort = 3128;
std::string ServerAddress = "127.0.0.1";
std::int32_t ServerPort = 8080;

SOCKET ListenSocket = INVALID_SOCKET;
HWND EngineWindow = nullptr;

namespace {

// Set by WM_DESTROY: the loop ends after that message, however many socket
// events are still waiting (the quit message would wait behind them all).
bool quitRequested = false;

}  // namespace

LRESULT EngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      quitRequested = true;
      PostQuitMessage(0);
      return DefWindowProcA(window, message, wParam, lParam);
    case WM_CLIENT_SOCKET: return OnClientSocketEvent(window, message, wParam, lParam);
    case WM_SERVER_SOCKET: return OnServerSocketEvent(window, message, wParam, lParam);
    case WM_CLOSE_RETIRED: CloseRetired(static_cast<SOCKET>(wParam)); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

namespace {

constexpr const char* kEngineClass = "Velotrunk proxy";

std::mutex engineMutex;
std::condition_variable engineStopped;
bool engineRunning = false;
bool stopRequested = false;
RelayListeningHandler listeningHandler;
RelayEndedHandler endedHandler;
ConnectFailedHandler connectFailedHandler;

// Marks the engine as running for StopRelayThread; false when a stop came
// first. An engine that has just told its end may still be leaving: the new
// one waits for that, so that the old one's leave cannot wipe out its state.
bool EnterEngine() {
  std::unique_lock lock(engineMutex);
  engineStopped.wait(lock, [] { return !engineRunning; });
  if (stopRequested) return false;
  engineRunning = true;
  return true;
}

// The window is gone with the thread: nothing may be posted to it any more.
void LeaveEngine() {
  std::lock_guard lock(engineMutex);
  EngineWindow = nullptr;
  engineRunning = false;
  engineStopped.notify_all();
}

template <typename Handler, typename... Args>
void Report(const Handler& which, Args... args) {
  Handler handler;
  {
    std::lock_guard lock(engineMutex);
    handler = which;
  }
  if (handler) handler(args...);
}

void PublishEngineWindow(HWND window) {
  std::lock_guard lock(engineMutex);
  EngineWindow = window;
  if (stopRequested && window) PostMessageA(window, WM_DESTROY, 0, 0);
}

bool RegisterEngineClass(void* instance) {
  WNDCLASSA wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = EngineWindowProc;
  wc.hInstance = static_cast<HINSTANCE>(instance);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<std::intptr_t>(COLOR_WINDOW + 1));
  wc.lpszClassName = kEngineClass;
  return RegisterClassA(&wc) != 0;
}

// Opens ListenSocket; false when it does not listen. Both failures are told
// in turn, and the user closes each box before the thread goes on.
bool OpenListener() {
  ListenSocket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<u_short>(ListenPort & 0xFFFF));
  if (bind(ListenSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    MessageBoxA(EngineWindow, "This port in use!", "BIND TCP ERROR!!!", MB_OK);
  if (listen(ListenSocket, 5) != 0) {
    MessageBoxA(EngineWindow, "listen error!", "ERROR!!!", MB_OK);
    return false;
  }
  WSAAsyncSelect(ListenSocket, EngineWindow, WM_CLIENT_SOCKET, FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE);
  return true;
}

void ReportUnexpectedError() {
  ShowMessageAsync("Error access violation at module proxy.obj, maybe some BUGs width socket handle has expressed!!!",
                   "Unexpected error!", MB_ICONERROR);
}

// The socket layer does work of its own while a message is fetched; what
// goes wrong there is reported like a failed handler, and the loop goes on.
int RunMessageLoop() {
  MSG msg{};
  for (;;) {
    BOOL got;
    try {
      got = GetMessageA(&msg, nullptr, 0, 0);
    } catch (...) {
      ReportUnexpectedError();
      continue;
    }
    if (!got) return static_cast<int>(msg.wParam);
    TranslateMessage(&msg);
    try {
      DispatchMessageA(&msg);
    } catch (...) {
      ReportUnexpectedError();
    }
    if (quitRequested) return 0;
  }
}

// Leaves nothing behind: the connections, the listener and the window go
// with the thread.
void CloseEngine(HWND window) {
  AbortAllConnections();
  if (ListenSocket != INVALID_SOCKET) closesocket(ListenSocket);
  ListenSocket = INVALID_SOCKET;
  if (window) DestroyWindow(window);
  UnregisterClassA(kEngineClass, GetModuleHandleA(nullptr));
}

DWORD RunEngine(void* parameter) {
  quitRequested = false;
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) MessageBoxA(nullptr, "WSAStartup error !", "NET ERROR!!!", MB_OK);
  if (!RegisterEngineClass(parameter)) return RELAY_START_FAILED;
  HWND window = CreateWindowExA(0, kEngineClass, nullptr, 0, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, HWND_MESSAGE,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  PublishEngineWindow(window);
  ShowWindow(EngineWindow, SW_HIDE);
  DWORD code = RELAY_START_FAILED;
  if (OpenListener()) {
    Report(listeningHandler);
    code = static_cast<DWORD>(RunMessageLoop());
  }
  CloseEngine(window);
  return code;
}

}  // namespace

DWORD RelayThread(void* parameter) {
  if (!EnterEngine()) {  // stopped before it started
    Report(endedHandler, DWORD{0});
    return 0;
  }
  DWORD code = RunEngine(parameter);
  Report(endedHandler, code);
  LeaveEngine();
  return code;
}

void SetRelayListeningHandler(RelayListeningHandler handler) {
  std::lock_guard lock(engineMutex);
  listeningHandler = std::move(handler);
}

void SetRelayEndedHandler(RelayEndedHandler handler) {
  std::lock_guard lock(engineMutex);
  endedHandler = std::move(handler);
}

void SetConnectFailedHandler(ConnectFailedHandler handler) {
  std::lock_guard lock(engineMutex);
  connectFailedHandler = std::move(handler);
}

void ReportConnectFailed(int error) { Report(connectFailedHandler, error); }

void RequestRelayStop() {
  std::lock_guard lock(engineMutex);
  stopRequested = true;
  if (EngineWindow) PostMessageA(EngineWindow, WM_DESTROY, 0, 0);
}

void StopRelayThread() {
  RequestRelayStop();
  std::unique_lock lock(engineMutex);
  engineStopped.wait(lock, [] { return !engineRunning; });
}

void ResetEngineState() {
  std::lock_guard lock(engineMutex);
  ClearConnectionTable();
  ListenSocket = INVALID_SOCKET;
  EngineWindow = nullptr;
  stopRequested = false;
}

