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

// A send that failed for good: the peer has reset or the socket is broken.
static bool HardError(int error) { return error != 0 && error != WSAEWOULDBLOCK; }

// Sends the queue from its head until it is empty or a send fails, and
// returns the failure's error (0 when the queue emptied). A send that takes
// part of a chunk leaves the rest at the head and is tried again, so a full
// socket always ends in a failed send (and a later FD_WRITE).
static int FlushQueue(ChunkQueue& queue, SOCKET socket) {
  while (!queue.empty()) {
    SOCK_DATA& head = queue.front();
    int sent = send(socket, head.payload, head.byteCount, 0);
    if (sent == SOCKET_ERROR) return WSAGetLastError();
    if (sent < head.byteCount) {
      std::memmove(head.payload, head.payload + sent, head.byteCount - sent);
      head.byteCount -= sent;
      continue;
    }
    queue.pop_front();
  }
  return 0;
}

// Sends a fresh chunk when nothing waits before it; whatever the socket does
// not take is queued. Returns false on a hard error.
static bool SendOrQueue(ChunkQueue& queue, SOCKET socket, const char* bytes, int count) {
  int sent = send(socket, bytes, count, 0);
  if (sent == SOCKET_ERROR) {
    if (HardError(WSAGetLastError())) return false;
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

namespace {

std::atomic<std::size_t> noticesAsked{0};

}  // namespace

std::size_t NoticesAsked() { return noticesAsked.load(); }

void ShowMessageAsync(const char* text, const char* caption, UINT style) {
  ++noticesAsked;
  auto notice = std::make_unique<Notice>(Notice{text, caption, style});
  HANDLE thread = CreateThread(nullptr, 0, NoticeThread, notice.get(), 0, nullptr);
  if (!thread) return;
  notice.release();  // the thread owns it now
  CloseHandle(thread);
}

// ---------------------------------------------------------------------------
// Opening and closing sockets
// ---------------------------------------------------------------------------

// A socket the engine is done with is closed only once every message already
// queued for it has come by: its events are cancelled at once, and a message
// of the engine's own, queued behind them, closes it. Until then its value
// cannot be handed to a new socket, so a late event never reaches a
// successor; the late events themselves are ignored.
constexpr UINT WM_CLOSE_RETIRED = WM_USER + 20;

namespace {

std::set<SOCKET> retiringSockets;

}  // namespace

// Every socket of a relayed connection is opened through here and closed
// through RetireSocket, so that OpenConnectionSockets can tell what the
// engine holds.
static SOCKET OpenConnectionSocket(SOCKET s) {
  if (s != INVALID_SOCKET) openConnectionSockets.fetch_add(1, std::memory_order_relaxed);
  return s;
}

// Closes the socket once its queued messages have come by. An aborted
// connection ends with a reset, so that the peer sees an error rather than a
// clean end of a stream that was cut short.
static void RetireSocket(SOCKET s, bool abort) {
  WSAAsyncSelect(s, EngineWindow, 0, 0);
  if (abort) {
    linger now{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now), sizeof now);
  }
  retiringSockets.insert(s);
  PostMessageA(EngineWindow, WM_CLOSE_RETIRED, s, 0);
}

static void CloseRetired(SOCKET s) {
  if (retiringSockets.erase(s) == 0) return;
  closesocket(s);
  openConnectionSockets.fetch_sub(1, std::memory_order_relaxed);
}

static bool IsRetiring(SOCKET s) { return retiringSockets.count(s) != 0; }

// ---------------------------------------------------------------------------
// Ending connections
// ---------------------------------------------------------------------------
//
// Each direction ends on its own. When one side ends its stream in order,
// what it sent is delivered to the other side, and then the other side's
// receiving direction is ended (shutdown), while the opposite direction goes
// on. When both directions have ended, both sockets are closed. A reset or a
// hard error on either side aborts the whole connection, so that the other
// side sees an error too.

static void CloseServerSocket(std::int32_t clientSocket, CLIENT_DATA& E, bool abort) {
  if (E.serverSocket == INVALID_SOCKET) return;
  RetireSocket(E.serverSocket, abort);
  SetServerSocket(clientSocket, E, INVALID_SOCKET);
}

static void CloseClientSocket(std::int32_t clientSocket, CLIENT_DATA& E, bool abort) {
  if (!E.clientOpen) return;
  RetireSocket(static_cast<SOCKET>(clientSocket), abort);
  E.clientOpen = false;
}

static void CloseConnection(std::int32_t clientSocket, CLIENT_DATA& E, bool abort) {
  CloseClientSocket(clientSocket, E, abort);
  CloseServerSocket(clientSocket, E, abort);
  DiscardQueue(E.toServer);
  DiscardQueue(E.toClient);
  E.clientReadPaused = E.serverReadPaused = false;
}

static void AbortConnection(std::int32_t clientSocket, CLIENT_DATA& E) { CloseConnection(clientSocket, E, true); }

// Reads what `from` still holds and passes it on toward `to`, as far as the
// queue and the socket take it: the last words of a side that has gone.
static void PassOnRemains(SOCKET from, int chunk, ChunkQueue& queue, SOCKET to) {
  char buffer[CHUNK_SIZE];
  for (;;) {
    FlushQueue(queue, to);
    if (QueueFull(queue)) return;
    int count = recv(from, buffer, chunk, 0);
    if (count <= 0) return;
    queue.emplace_back(buffer, count);
  }
}

// A send to the server failed for good: it has reset or is gone. What it had
// sent before is passed on to the client first, then the connection is
// aborted, so that the client hears the answer and then the error.
static void ServerRefused(std::int32_t clientSocket, CLIENT_DATA& E) {
  DiscardQueue(E.toServer);
  if (!E.serverEnded) PassOnRemains(E.serverSocket, 90, E.toClient, static_cast<SOCKET>(clientSocket));
  AbortConnection(clientSocket, E);
}

// The same for a client that refused what was sent to it.
static void ClientRefused(std::int32_t clientSocket, CLIENT_DATA& E) {
  DiscardQueue(E.toClient);
  if (!E.clientEnded && E.connected && E.serverSocket != INVALID_SOCKET)
    PassOnRemains(static_cast<SOCKET>(clientSocket), CHUNK_SIZE, E.toServer, E.serverSocket);
  AbortConnection(clientSocket, E);
}

// Client to server has ended once the client's end of stream was read and
// passed on; with no server socket there is nothing to pass it on to.
static bool ClientDirectionDone(const CLIENT_DATA& E) {
  return E.clientEnded && (E.serverTold || E.serverSocket == INVALID_SOCKET);
}

static void CloseIfDone(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (E.clientOpen && ClientDirectionDone(E) && E.clientTold) CloseConnection(clientSocket, E, false);
}

// Once the client's bytes have all reached the server, the server reads end
// of stream.
static void TellServerIfDrained(CLIENT_DATA& E) {
  if (!E.clientEnded || E.serverTold || !E.connected || E.serverSocket == INVALID_SOCKET || !E.toServer.empty())
    return;
  shutdown(E.serverSocket, SD_SEND);
  E.serverTold = true;
}

// Ends the client's receiving direction: it reads end of stream.
static void TellClient(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (E.clientTold) return;
  shutdown(static_cast<SOCKET>(clientSocket), SD_SEND);
  E.clientTold = true;
}

static void TellClientIfDrained(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (E.serverEnded && E.toClient.empty()) TellClient(clientSocket, E);
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

  CloseServerSocket(key, E, false);
  SetServerSocket(key, E, OpenConnectionSocket(socket(AF_INET, SOCK_STREAM, 0)));
  if (E.serverSocket == INVALID_SOCKET) {
    ShowMessageAsync("Не могу подключиться к прокси серверу!!!", "ERROR!!!", MB_OK);
    // No connect will ever report back: the client hears at once that
    // nothing reached a server, rather than wait for nothing.
    AbortConnection(key, E);
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
  E.clientEnded = E.serverEnded = E.clientTold = E.serverTold = false;
  E.clientReadPaused = E.serverReadPaused = false;
  ConnectToServer(s);
}

static void ReportConnectFailed(int error);

// A connect that failed (refused, unreachable, timed out) resets the
// client's connection: a clean end would tell it that the server answered
// nothing, and what it sent would vanish without a word.
static void OnConnect(std::int32_t clientSocket, int error) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  if (E.connected) return;  // the outcome is known already
  E.connected = true;
  DiscardQueue(E.toClient);
  if (error == 0) return;  // FD_WRITE follows and sends what waits
  AbortConnection(clientSocket, E);
  ReportConnectFailed(error);
}

// ---------------------------------------------------------------------------
// Client to server
// ---------------------------------------------------------------------------

// Sends what waits for the server, and passes the client's end on once it
// has all gone. Returns false when the server refused it for good and the
// connection was aborted.
static bool FlushToServer(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (!E.connected || E.serverSocket == INVALID_SOCKET) return true;
  if (!E.toServer.empty() && HardError(FlushQueue(E.toServer, E.serverSocket))) {
    ServerRefused(clientSocket, E);
    return false;
  }
  TellServerIfDrained(E);
  return true;
}

// An event that has read its share asks for the rest itself, behind the
// events that came meanwhile, rather than count on the socket layer to post
// FD_READ again for bytes that were already waiting; should it post one too,
// the second FD_READ reads nothing.
static void ReadOnLater(UINT message, SOCKET s) { PostMessageA(EngineWindow, message, s, FD_READ); }

// The client has ended its stream in order.
static void ClientEnded(std::int32_t clientSocket, CLIENT_DATA& E) {
  E.clientEnded = true;
  TellServerIfDrained(E);
  CloseIfDone(clientSocket, E);
}

// Reads the client until it has nothing more, its end, the queue toward the
// server is full, or the event has read its share. Records are never erased
// and map nodes never move, so the record is looked up once for all passes.
// The loop runs once per chunk; `flatten` inlines what it calls (the socket
// layer too, in optimised builds).
[[gnu::flatten]] static void OnClientRead(std::int32_t clientSocket) {
  SOCKET client = static_cast<SOCKET>(clientSocket);
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  for (int reads = 0;; ++reads) {
    E.clientReadPaused = false;
    if (!FlushToServer(clientSocket, E)) return;
    if (QueueFull(E.toServer)) {
      E.clientReadPaused = true;  // OnServerWrite reads on once the queue drains
      return;
    }
    if (E.clientEnded) return;  // a recv past the end would only bring another FD_READ
    if (reads == MAX_READS_PER_EVENT) return ReadOnLater(WM_CLIENT_SOCKET, client);
    char buffer[CHUNK_SIZE];
    int count = recv(client, buffer, CHUNK_SIZE, 0);
    if (count == 0) return ClientEnded(clientSocket, E);
    if (count < 0) {
      if (HardError(WSAGetLastError())) AbortConnection(clientSocket, E);
      return;
    }
    // With no server socket the bytes have nowhere to go; keeping them
    // would only grow memory until the client closes.
    if (E.serverSocket == INVALID_SOCKET) continue;
    if (!E.toServer.empty() || !E.connected) {
      E.toServer.emplace_back(buffer, count);
    } else if (!SendOrQueue(E.toServer, E.serverSocket, buffer, count)) {
      ServerRefused(clientSocket, E);
      return;
    }
  }
}

static void OnServerWrite(std::int32_t clientSocket) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  if (!FlushToServer(clientSocket, E)) return;
  CloseIfDone(clientSocket, E);
  if (E.clientOpen && E.clientReadPaused && !QueueFull(E.toServer)) OnClientRead(clientSocket);
}

// ---------------------------------------------------------------------------
// Server to client
// ---------------------------------------------------------------------------

// Sends what waits for the client, and passes the server's end on once it
// has all gone. Returns false when the client refused it for good and the
// connection was aborted.
static bool FlushToClient(std::int32_t clientSocket, CLIENT_DATA& E) {
  if (!E.toClient.empty() && HardError(FlushQueue(E.toClient, static_cast<SOCKET>(clientSocket)))) {
    ClientRefused(clientSocket, E);
    return false;
  }
  TellClientIfDrained(clientSocket, E);
  return true;
}

// The server has ended its stream in order.
static void ServerEnded(std::int32_t clientSocket, CLIENT_DATA& E) {
  E.serverEnded = true;
  TellClientIfDrained(clientSocket, E);
  CloseIfDone(clientSocket, E);
}

[[gnu::flatten]] static void OnServerRead(std::int32_t clientSocket) {
  SOCKET client = static_cast<SOCKET>(clientSocket);
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  for (int reads = 0;; ++reads) {
    E.serverReadPaused = false;
    if (!FlushToClient(clientSocket, E)) return;
    if (QueueFull(E.toClient)) {
      E.serverReadPaused = true;  // OnClientWrite reads on once the queue drains
      return;
    }
    if (E.serverEnded) return;  // a recv past the end would only bring another FD_READ
    if (reads == MAX_READS_PER_EVENT) return ReadOnLater(WM_SERVER_SOCKET, E.serverSocket);
    char buffer[CHUNK_SIZE];
    int count = recv(E.serverSocket, buffer, 90, 0);
    if (count == 0) return ServerEnded(clientSocket, E);
    if (count < 0) {
      if (HardError(WSAGetLastError())) AbortConnection(clientSocket, E);
      return;
    }
    if (!E.toClient.empty()) {
      E.toClient.emplace_back(buffer, count);
    } else if (!SendOrQueue(E.toClient, client, buffer, count)) {
      ClientRefused(clientSocket, E);
      return;
    }
  }
}

static void OnClientWrite(std::int32_t clientSocket) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  if (!FlushToClient(clientSocket, E)) return;
  CloseIfDone(clientSocket, E);
  if (E.serverSocket != INVALID_SOCKET && E.serverReadPaused && !QueueFull(E.toClient))
    OnServerRead(clientSocket);
}

// ---------------------------------------------------------------------------
// Closing
// ---------------------------------------------------------------------------

// A side has closed or reset. A reset aborts the connection; an orderly end
// is found by reading on, after whatever bytes still precede it (while that
// side's reading waits for the other side, the end is found when it resumes).
// A close that reading does not confirm is a late one and changes nothing.
static void OnClientClose(std::int32_t clientSocket, int error) {
  if (error != 0) return AbortConnection(clientSocket, ClientTable.at(clientSocket));
  OnClientRead(clientSocket);
}

static void OnServerClose(std::int32_t clientSocket, int error) {
  if (error != 0) return AbortConnection(clientSocket, ClientTable.at(clientSocket));
  OnServerRead(clientSocket);
}

// ---------------------------------------------------------------------------
// Event dispatch
// ---------------------------------------------------------------------------

// Lets a client event through only for a client socket the engine holds.
// Events of sockets the engine has let go of, or holds as server sockets,
// are ignored; any other socket is closed with a beep.
static bool ClientEventCheck(SOCKET s, WORD event) {
  if (event == FD_ACCEPT) return true;
  auto it = ClientTable.find(static_cast<std::int32_t>(s));
  if (it != ClientTable.end() && it->second.clientOpen) return true;
  if (it != ClientTable.end() || event == FD_CLOSE) return false;
  if (IsRetiring(s) || ClientForServerSocket(s) != -1) return false;
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
    case FD_READ: OnClientRead(key); return 0;
    case FD_WRITE: OnClientWrite(key); return DefWindowProcA(window, message, wParam, lParam);
    case FD_ACCEPT: OnAccept(); return 0;
    case FD_CLOSE: OnClientClose(key, WSAGETSELECTERROR(lParam)); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

// The listener, the open client sockets and those being let go of: a late
// server event whose value has since been handed to one of them must leave
// it alone.
static bool IsEngineSocket(SOCKET s) {
  if (s == ListenSocket || IsRetiring(s)) return true;
  auto it = ClientTable.find(static_cast<std::int32_t>(s));
  return it != ClientTable.end() && it->second.clientOpen;
}

static LRESULT OnServerSocketEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SOCKET s = static_cast<SOCKET>(wParam);
  std::int32_t clientSocket = s == INVALID_SOCKET ? -1 : ClientForServerSocket(s);
  if (clientSocket == -1) {
    if (!IsEngineSocket(s)) closesocket(s);
    return 0;
  }
  switch (WSAGETSELECTEVENT(lParam)) {
    case FD_READ: OnServerRead(clientSocket); return 0;
    case FD_WRITE: OnServerWrite(clientSocket); return 0;
    case FD_CONNECT: OnConnect(clientSocket, WSAGETSELECTERROR(lParam)); return 0;
    case FD_CLOSE: OnServerClose(clientSocket, WSAGETSELECTERROR(lParam)); return 0;
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
    case WM_CLOSE_RETIRED: CloseRetired(static_cast<SOCKET>(wParam)); return 0;
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

// The engine is stopping: every connection still open is aborted, so that
// neither side takes a stream cut short for a whole one, and the sockets
// being let go of are closed now.
void AbortAllConnections() {
  for (auto& [clientSocket, E] : ClientTable) AbortConnection(clientSocket, E);
  while (!retiringSockets.empty()) CloseRetired(*retiringSockets.begin());
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

static void ReportConnectFailed(int error) { Report(connectFailedHandler, error); }

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
  retiringSockets.clear();
  openConnectionSockets = 0;
  ListenSocket = INVALID_SOCKET;
  EngineWindow = nullptr;
  stopRequested = false;
}
