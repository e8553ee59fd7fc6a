// The handlers of the engine window's socket events: accepting a client and
// connecting to the server, relaying each direction, ending and closing
// connections. They run on RelayThread only.
#include "relay.h"

#include <cstring>

#include "connection_table.h"
#include "notices.h"

using namespace win;

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

LRESULT OnClientSocketEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

LRESULT OnServerSocketEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

void AbortAllConnections() {
  for (auto& [clientSocket, E] : ClientTable) AbortConnection(clientSocket, E);
  CloseAllRetired();
}
