#include "proxy.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "free_list.h"
#include "notices.h"
#include "threads.h"

using namespace win;

// ---------------------------------------------------------------------------
// Connection table
// ---------------------------------------------------------------------------

std::map<std::int32_t, CLIENT_DATA> ClientTable;

std::int32_t ListenPort = 3128;
std::string ServerAddress = "127.0.0.1";
std::int32_t ServerPort = 8080;

SOCKET ListenSocket = INVALID_SOCKET;
HWND EngineWindow = nullptr;

namespace {

// Chunk buffers come from a free list: relaying allocates and frees one per
// chunk, and the general allocator is the slower path for that.
using ChunkPool = FreeList<CHUNK_SIZE, 4096>;

ChunkPool& chunkPool() {
  static ChunkPool* pool = new ChunkPool;  // outlives ClientTable's destruction
  return *pool;
}

// The client sockets whose record names a given server socket, smallest first.
std::unordered_map<SOCKET, std::set<std::int32_t>> serverIndex;

std::atomic<std::size_t> openConnectionSockets{0};
std::atomic<std::size_t> queuedChunks{0};

}  // namespace

SOCK_DATA::SOCK_DATA(const char* bytes, std::int32_t count) : payload(chunkPool().Take()), byteCount(count) {
  std::memcpy(payload, bytes, count);
  queuedChunks.fetch_add(1, std::memory_order_relaxed);
}

SOCK_DATA::SOCK_DATA(const SOCK_DATA& other) : SOCK_DATA(other.payload, other.byteCount) {}

SOCK_DATA::~SOCK_DATA() {
  chunkPool().Give(payload);
  queuedChunks.fetch_sub(1, std::memory_order_relaxed);
}

std::size_t OpenConnectionSockets() { return openConnectionSockets.load(std::memory_order_relaxed); }
std::size_t QueuedChunks() { return queuedChunks.load(std::memory_order_relaxed); }

std::int32_t ClientForServerSocket(SOCKET serverSocket) {
  auto it = serverIndex.find(serverSocket);
  if (it == serverIndex.end() || it->second.empty()) return -1;
  return *it->second.begin();
}

void SetServerSocket(std::int32_t clientSocket, CLIENT_DATA& entry, SOCKET serverSocket) {
  auto old = serverIndex.find(entry.serverSocket);
  if (old != serverIndex.end()) {
    old->second.erase(clientSocket);
    if (old->second.empty()) serverIndex.erase(old);
  }
  entry.serverSocket = serverSocket;
  serverIndex[serverSocket].insert(clientSocket);
}

// The record of a client socket, created with the defaults when absent. A new
// record names INVALID_SOCKET, and the index must know it.
static CLIENT_DATA& Entry(std::int32_t clientSocket) {
  auto [it, inserted] = ClientTable.try_emplace(clientSocket);
  if (inserted) serverIndex[INVALID_SOCKET].insert(clientSocket);
  return it->second;
}

void DiscardQueue(ChunkQueue& queue) {
  while (!queue.empty()) queue.pop_front();
}

// ---------------------------------------------------------------------------
// Sending
// ---------------------------------------------------------------------------

// Sends the queue from its head until it is empty or a send fails. A send
// that takes part of a chunk leaves the rest at the head and is tried again,
// so a full socket always ends in a failed send (and a later FD_WRITE).
static void FlushQueue(ChunkQueue& queue, SOCKET socket) {
  while (!queue.empty()) {
    SOCK_DATA& head = queue.front();
    int sent = send(socket, head.payload, head.byteCount, 0);
    if (sent == SOCKET_ERROR) return;
    if (sent < head.byteCount) {
      std::memmove(head.payload, head.payload + sent, head.byteCount - sent);
      head.byteCount -= sent;
      continue;
    }
    queue.pop_front();
  }
}

// Sends a fresh chunk when nothing waits before it. Whatever the socket does
// not take is queued. Returns false when the send failed with an error other
// than would-block (the caller decides what that means).
static bool SendOrQueue(ChunkQueue& queue, SOCKET socket, const char* bytes, int count) {
  int sent = send(socket, bytes, count, 0);
  if (sent == SOCKET_ERROR) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    sent = 0;
  }
  if (sent < count) queue.emplace_back(bytes + sent, count - sent);
  return true;
}

static bool QueueFull(const ChunkQueue& queue) { return !queue.empty() && queue.size() >= MAX_QUEUED_CHUNKS; }

// ---------------------------------------------------------------------------
// Notices
// ---------------------------------------------------------------------------

namespace {

// The notice's own copies of its texts: the caller's may be gone by the time
// the box shows.
struct Notice {
  std::string text;
  std::string caption;
  UINT style;
};

DWORD NoticeThread(void* parameter) {
  std::unique_ptr<Notice> notice(static_cast<Notice*>(parameter));
  MessageBoxA(nullptr, notice->text.c_str(), notice->caption.c_str(), notice->style | MB_SYSTEMMODAL);
  return 0;
}

}  // namespace

void ShowMessageAsync(const char* text, const char* caption, UINT style) {
  auto notice = std::make_unique<Notice>(Notice{text, caption, style});
  HANDLE thread = CreateThread(nullptr, 0, NoticeThread, notice.get(), 0, nullptr);
  if (!thread) return;
  notice.release();  // the thread owns it now
  CloseHandle(thread);
}

// ---------------------------------------------------------------------------
// Teardown steps shared by several events
// ---------------------------------------------------------------------------

// Every socket of a relayed connection is opened and closed through these,
// so that OpenConnectionSockets can tell what the engine holds.
static SOCKET OpenConnectionSocket(SOCKET s) {
  if (s != INVALID_SOCKET) openConnectionSockets.fetch_add(1, std::memory_order_relaxed);
  return s;
}

static void CloseConnectionSocket(SOCKET s) {
  closesocket(s);
  openConnectionSockets.fetch_sub(1, std::memory_order_relaxed);
}

static void CloseClient(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (!E.clientOpen) return;
  CloseConnectionSocket(static_cast<SOCKET>(clientSocket));
  E.clientOpen = false;
  E.clientReadPaused = false;
}

static void CloseServer(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (E.serverSocket == INVALID_SOCKET) return;
  CloseConnectionSocket(E.serverSocket);
  SetServerSocket(clientSocket, E, INVALID_SOCKET);
}

// The server side is gone for good: nothing more can be relayed, so the
// queues go, and a client that has closed too is closed now.
static void EndServerSide(std::int32_t clientSocket, CLIENT_DATA& E) {
  CloseServer(clientSocket, E);
  DiscardQueue(E.toServer);
  DiscardQueue(E.toClient);
  if (E.clientEnded) CloseClient(clientSocket, E);
}

// After the client has closed: once everything it sent has reached the
// server, the server reads end of stream.
static void FinishClientClose(CLIENT_DATA& E) {
  if (E.clientEnded && E.connected && E.serverSocket != INVALID_SOCKET && E.toServer.empty())
    shutdown(E.serverSocket, SD_SEND);
}

// After the server has closed: once everything it sent has reached the
// client (or the client can take no more), the client reads end of stream and
// the server side ends.
static void FinishServerClose(std::int32_t clientSocket, CLIENT_DATA& E) {
  FlushQueue(E.toClient, static_cast<SOCKET>(clientSocket));
  if (!E.toClient.empty() && WSAGetLastError() == WSAEWOULDBLOCK) return;  // resumed by FD_WRITE
  shutdown(static_cast<SOCKET>(clientSocket), SD_SEND);
  EndServerSide(clientSocket, E);
}

// ---------------------------------------------------------------------------
// Accepting and connecting
// ---------------------------------------------------------------------------

static void ConnectToServer(SOCKET clientSocket) {
  std::int32_t key = static_cast<std::int32_t>(clientSocket);
  CLIENT_DATA& E = Entry(key);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr(ServerAddress.c_str());
  address.sin_port = htons(static_cast<u_short>(ServerPort & 0xFFFF));

  if (E.serverSocket != INVALID_SOCKET) CloseConnectionSocket(E.serverSocket);
  SetServerSocket(key, E, OpenConnectionSocket(socket(AF_INET, SOCK_STREAM, 0)));
  if (E.serverSocket == INVALID_SOCKET) {
    ShowMessageAsync("Не могу подключиться к прокси серверу!!!", "ERROR!!!", MB_OK);
    // No connect will ever report back: let the client read end of stream
    // rather than wait for nothing.
    shutdown(clientSocket, SD_SEND);
    return;
  }
  WSAAsyncSelect(E.serverSocket, EngineWindow, WM_SERVER_SOCKET, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
  connect(E.serverSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

static void OnAccept() {
  SOCKET s = OpenConnectionSocket(accept(ListenSocket, nullptr, nullptr));
  if (s == INVALID_SOCKET) return;
  CLIENT_DATA& E = Entry(static_cast<std::int32_t>(s));
  E.connected = false;
  DiscardQueue(E.toServer);
  DiscardQueue(E.toClient);
  E.clientOpen = true;
  E.clientEnded = E.serverEnded = false;
  E.clientReadPaused = E.serverReadPaused = false;
  ConnectToServer(s);
}

static void OnClientRead(SOCKET clientSocket);

static void OnConnect(std::int32_t clientSocket, int error) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  if (error != 0) {
    shutdown(static_cast<SOCKET>(clientSocket), SD_SEND);
    EndServerSide(clientSocket, E);  // what waits for the server can never be delivered
  }
  DiscardQueue(E.toClient);
  E.connected = true;
  if (error != 0 && E.clientOpen && E.clientReadPaused) OnClientRead(static_cast<SOCKET>(clientSocket));
}

// ---------------------------------------------------------------------------
// Client to server
// ---------------------------------------------------------------------------

// Records are never erased and map nodes never move, so a handler looks its
// record up once for all its passes. The two read loops run once per chunk;
// `flatten` inlines what they call (the socket layer too, in optimised builds).
[[gnu::flatten]] static void OnClientRead(SOCKET clientSocket) {
  CLIENT_DATA& E = ClientTable.at(static_cast<std::int32_t>(clientSocket));
  for (;;) {
    E.clientReadPaused = false;
    if (!E.toServer.empty() && E.connected) FlushQueue(E.toServer, E.serverSocket);
    if (QueueFull(E.toServer)) {
      E.clientReadPaused = true;  // OnServerWrite reads on once the queue drains
      return;
    }
    char buffer[CHUNK_SIZE];
    int count = recv(clientSocket, buffer, CHUNK_SIZE, 0);
    if (count <= 0) return;
    // With no server socket the bytes have nowhere to go; keeping them
    // would only grow memory until the client closes.
    if (E.serverSocket == INVALID_SOCKET) continue;
    if (E.toServer.empty() && E.connected) {
      if (!SendOrQueue(E.toServer, E.serverSocket, buffer, count)) E.toServer.emplace_back(buffer, count);
    } else {
      E.toServer.emplace_back(buffer, count);
    }
  }
}

static void OnServerWrite(std::int32_t clientSocket) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  if (!E.toServer.empty()) FlushQueue(E.toServer, E.serverSocket);
  FinishClientClose(E);
  if (E.clientReadPaused && !QueueFull(E.toServer)) OnClientRead(static_cast<SOCKET>(clientSocket));
}

// ---------------------------------------------------------------------------
// Server to client
// ---------------------------------------------------------------------------

// The client connection is broken: give the whole connection up.
static void GiveUp(std::int32_t clientSocket, CLIENT_DATA& E) {
  CloseClient(clientSocket, E);
  EndServerSide(clientSocket, E);
}

// Sends what waits for the client. A client that has closed and now refuses
// bytes with an error will never take them, and no other event would end the
// connection: it is given up. Returns false when that happened.
static bool FlushToClient(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (E.toClient.empty()) return true;
  FlushQueue(E.toClient, static_cast<SOCKET>(clientSocket));
  if (E.toClient.empty() || !E.clientEnded || WSAGetLastError() == WSAEWOULDBLOCK) return true;
  GiveUp(clientSocket, E);
  return false;
}

[[gnu::flatten]] static void OnServerRead(std::int32_t clientSocket) {
  SOCKET client = static_cast<SOCKET>(clientSocket);
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  for (;;) {
    E.serverReadPaused = false;
    if (!FlushToClient(clientSocket, E)) return;
    if (QueueFull(E.toClient)) {
      E.serverReadPaused = true;  // OnClientWrite reads on once the queue drains
      return;
    }
    char buffer[CHUNK_SIZE];
    int count = recv(E.serverSocket, buffer, 90, 0);
    if (count <= 0) return;
    if (!E.toClient.empty()) {
      E.toClient.emplace_back(buffer, count);
    } else if (!SendOrQueue(E.toClient, client, buffer, count)) {
      GiveUp(clientSocket, E);
      return;
    }
  }
}

static void OnClientWrite(std::int32_t clientSocket) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  if (E.serverEnded) {
    FinishServerClose(clientSocket, E);
    return;
  }
  if (!FlushToClient(clientSocket, E)) return;
  if (E.serverReadPaused && !QueueFull(E.toClient)) OnServerRead(clientSocket);
}

// ---------------------------------------------------------------------------
// Closing
// ---------------------------------------------------------------------------

// The client has closed its sending side. What it sent still goes to the
// server (once connected); the client socket stays open for the server's
// answer until the server side ends. A reset client can take no answer, so
// its connection is given up at once.
static void OnClientClose(std::int32_t clientSocket, int error) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  E.clientEnded = true;
  if (error != 0) {
    GiveUp(clientSocket, E);
    return;
  }
  if (E.serverSocket == INVALID_SOCKET) {
    CloseClient(clientSocket, E);
    DiscardQueue(E.toServer);
    DiscardQueue(E.toClient);
    return;
  }
  if (E.connected) FlushQueue(E.toServer, E.serverSocket);
  FinishClientClose(E);
}

// The server has closed. Its last bytes reach the client first.
static void OnServerClose(std::int32_t clientSocket) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  E.serverEnded = true;
  FinishServerClose(clientSocket, E);
}

// ---------------------------------------------------------------------------
// Event dispatch
// ---------------------------------------------------------------------------

// Lets a client event through only for a socket the engine holds. Events of
// unknown sockets are closed with a beep; those of sockets the engine has
// already closed are ignored, since the value may belong to someone else.
static bool ClientEventCheck(SOCKET s, WORD event) {
  auto it = ClientTable.find(static_cast<std::int32_t>(s));
  if (it != ClientTable.end()) return it->second.clientOpen || event == FD_ACCEPT;
  if (event == FD_ACCEPT) return true;
  if (event == FD_CLOSE) return false;
  closesocket(s);
  Beep(2000, 50);
  return false;
}

static LRESULT OnClientSocketEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SOCKET s = static_cast<SOCKET>(wParam);
  WORD event = WSAGETSELECTEVENT(lParam);
  if (!ClientEventCheck(s, event)) return 0;
  std::int32_t key = static_cast<std::int32_t>(s);
  switch (event) {
    case FD_READ: OnClientRead(s); return 0;
    case FD_WRITE: OnClientWrite(key); return DefWindowProcA(window, message, wParam, lParam);
    case FD_ACCEPT: OnAccept(); return 0;
    case FD_CLOSE: OnClientClose(key, WSAGETSELECTERROR(lParam)); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

// The listener and the open client sockets: a late server event whose value
// has since been handed to one of them must leave it alone.
static bool IsEngineSocket(SOCKET s) {
  if (s == ListenSocket) return true;
  auto it = ClientTable.find(static_cast<std::int32_t>(s));
  return it != ClientTable.end() && it->second.clientOpen;
}

static LRESULT OnServerSocketEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SOCKET s = static_cast<SOCKET>(wParam);
  std::int32_t clientSocket = ClientForServerSocket(s);
  if (clientSocket == -1) {
    if (!IsEngineSocket(s)) closesocket(s);
    return 0;
  }
  switch (WSAGETSELECTEVENT(lParam)) {
    case FD_READ: OnServerRead(clientSocket); return 0;
    case FD_WRITE: OnServerWrite(clientSocket); return 0;
    case FD_CONNECT: OnConnect(clientSocket, WSAGETSELECTERROR(lParam)); return 0;
    case FD_CLOSE: OnServerClose(clientSocket); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

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
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

// ---------------------------------------------------------------------------
// Engine thread
// ---------------------------------------------------------------------------

namespace {

constexpr const char* kEngineClass = "Velotrunk proxy";

std::mutex engineMutex;
std::condition_variable engineStopped;
bool engineRunning = false;
bool stopRequested = false;
RelayListeningHandler listeningHandler;
RelayEndedHandler endedHandler;

// Marks the engine as running for StopRelayThread; false when a stop came first.
bool EnterEngine() {
  std::lock_guard lock(engineMutex);
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
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<void*>(static_cast<std::intptr_t>(COLOR_WINDOW + 1));
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

// Leaves nothing behind: the listener and the window go with the thread.
void CloseEngine(HWND window) {
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
  HWND window = CreateWindowExA(0, kEngineClass, nullptr, 0, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
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
  ClientTable.clear();
  serverIndex.clear();
  ListenSocket = INVALID_SOCKET;
  EngineWindow = nullptr;
  stopRequested = false;
}
