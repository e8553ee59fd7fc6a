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
// Directions
// ---------------------------------------------------------------------------

// The two sides of a relayed connection.
enum class Side { Client, Server };

static Side Other(Side side) { return side == Side::Client ? Side::Server : Side::Client; }

// Whether the engine still holds the socket of `side`.
static bool Holds(const CLIENT_DATA& E, Side side) {
  return side == Side::Client ? E.clientOpen : E.serverSocket != INVALID_SOCKET;
}

// One direction of a connection, a view of its record: what is read from one
// side, queued, and sent to the other. The directions differ only in what
// the fields hold: each side is read in pieces of its own size, and bytes
// for the server wait until its connect has come through, and have nowhere
// to go while there is no server socket.
struct Direction {
  Side fromSide;
  SOCKET from;         // the side read
  SOCKET to;           // the side written; INVALID_SOCKET when there is none
  bool toConnected;    // `to` takes bytes: the server only once its connect came through
  int readSize;        // what one recv asks of `from`
  UINT fromMessage;    // the message of `from`'s events
  ChunkQueue& queue;   // read from `from`, waiting for `to`
  bool& readPaused;    // reading `from` waits for the queue to drain
  bool& fromEnded;     // `from`'s end of stream has been read
  bool& toTold;        // `to` reads end of stream
};

// The direction that reads `side`. It holds a copy of the server socket and
// of the connect's state: it is made afresh for each event, and a handler
// that closes the connection returns at once.
static Direction ReadingFrom(Side side, std::int32_t clientSocket, CLIENT_DATA& E) {
  SOCKET client = static_cast<SOCKET>(clientSocket);
  if (side == Side::Client)
    return {.fromSide = side, .from = client, .to = E.serverSocket, .toConnected = E.connected,
            .readSize = CLIENT_READ_SIZE, .fromMessage = WM_CLIENT_SOCKET, .queue = E.toServer,
            .readPaused = E.clientReadPaused, .fromEnded = E.clientEnded, .toTold = E.serverTold};
  return {.fromSide = side, .from = E.serverSocket, .to = client, .toConnected = true,
          .readSize = SERVER_READ_SIZE, .fromMessage = WM_SERVER_SOCKET, .queue = E.toClient,
          .readPaused = E.serverReadPaused, .fromEnded = E.serverEnded, .toTold = E.clientTold};
}

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

// A send to `d.to` failed for good: it has reset or is gone. What it had
// sent before is passed on to the other side first, then the connection is
// aborted, so that the other side hears the answer and then the error.
static void Refused(std::int32_t clientSocket, CLIENT_DATA& E, const Direction& d) {
  DiscardQueue(d.queue);
  Direction back = ReadingFrom(Other(d.fromSide), clientSocket, E);
  if (!back.fromEnded && back.toConnected && back.to != INVALID_SOCKET)
    PassOnRemains(back.from, back.readSize, back.queue, back.to);
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

// Once the bytes of `d.from` have all reached `d.to`, `d.to` reads end of
// stream (its receiving direction is shut down).
static void TellIfDrained(const Direction& d) {
  if (!d.fromEnded || d.toTold || !d.toConnected || d.to == INVALID_SOCKET || !d.queue.empty()) return;
  shutdown(d.to, SD_SEND);
  d.toTold = true;
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
// Relaying
// ---------------------------------------------------------------------------

// Sends what waits for `d.to`, and passes the end of `d.from` on once it has
// all gone. Returns false when `d.to` refused it for good and the connection
// was aborted.
static bool Flush(std::int32_t clientSocket, CLIENT_DATA& E, const Direction& d) {
  if (!d.toConnected || d.to == INVALID_SOCKET) return true;
  if (!d.queue.empty() && HardError(FlushQueue(d.queue, d.to))) {
    Refused(clientSocket, E, d);
    return false;
  }
  TellIfDrained(d);
  return true;
}

// An event that has read its share asks for the rest itself, behind the
// events that came meanwhile, rather than count on the socket layer to post
// FD_READ again for bytes that were already waiting; should it post one too,
// the second FD_READ reads nothing.
static void ReadOnLater(UINT message, SOCKET s) { PostMessageA(EngineWindow, message, s, FD_READ); }

// `d.from` has ended its stream in order.
static void Ended(std::int32_t clientSocket, CLIENT_DATA& E, const Direction& d) {
  d.fromEnded = true;
  TellIfDrained(d);
  CloseIfDone(clientSocket, E);
}

// Reads `side` until it has nothing more, its end, the queue toward the
// other side is full, or the event has read its share. Records are never
// erased and map nodes never move, so the record is looked up once for all
// passes. The loop runs once per chunk; `flatten` inlines what it calls (the
// socket layer too, in optimised builds).
[[gnu::flatten]] static void OnRead(std::int32_t clientSocket, Side side) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  Direction d = ReadingFrom(side, clientSocket, E);
  for (int reads = 0;; ++reads) {
    d.readPaused = false;
    if (!Flush(clientSocket, E, d)) return;
    if (QueueFull(d.queue)) {
      d.readPaused = true;  // OnWrite of the other side reads on once the queue drains
      return;
    }
    if (d.fromEnded) return;  // a recv past the end would only bring another FD_READ
    if (reads == MAX_READS_PER_EVENT) return ReadOnLater(d.fromMessage, d.from);
    char buffer[CHUNK_SIZE];
    int count = recv(d.from, buffer, d.readSize, 0);
    if (count == 0) return Ended(clientSocket, E, d);
    if (count < 0) {
      if (HardError(WSAGetLastError())) AbortConnection(clientSocket, E);
      return;
    }
    // With no server socket the client's bytes have nowhere to go; keeping
    // them would only grow memory until the client closes.
    if (d.to == INVALID_SOCKET) continue;
    if (!d.queue.empty() || !d.toConnected) {
      d.queue.emplace_back(buffer, count);
    } else if (!SendOrQueue(d.queue, d.to, buffer, count)) {
      Refused(clientSocket, E, d);
      return;
    }
  }
}

// `side` takes bytes again: what waits for it is sent, and the other side's
// reading, paused while that queue was full, goes on.
static void OnWrite(std::int32_t clientSocket, Side side) {
  CLIENT_DATA& E = ClientTable.at(clientSocket);
  Direction d = ReadingFrom(Other(side), clientSocket, E);
  if (!Flush(clientSocket, E, d)) return;
  CloseIfDone(clientSocket, E);
  if (Holds(E, d.fromSide) && d.readPaused && !QueueFull(d.queue)) OnRead(clientSocket, d.fromSide);
}

// `side` has closed or reset. A reset aborts the connection; an orderly end
// is found by reading on, after whatever bytes still precede it (while that
// side's reading waits for the other side, the end is found when it resumes).
// A close that reading does not confirm is a late one and changes nothing.
static void OnClose(std::int32_t clientSocket, Side side, int error) {
  if (error != 0) return AbortConnection(clientSocket, ClientTable.at(clientSocket));
  OnRead(clientSocket, side);
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
    case FD_READ: OnRead(key, Side::Client); return 0;
    case FD_WRITE: OnWrite(key, Side::Client); return DefWindowProcA(window, message, wParam, lParam);
    case FD_ACCEPT: OnAccept(); return 0;
    case FD_CLOSE: OnClose(key, Side::Client, WSAGETSELECTERROR(lParam)); return 0;
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
    case FD_READ: OnRead(clientSocket, Side::Server); return 0;
    case FD_WRITE: OnWrite(clientSocket, Side::Server); return 0;
    case FD_CONNECT: OnConnect(clientSocket, WSAGETSELECTERROR(lParam)); return 0;
    case FD_CLOSE: OnClose(clientSocket, Side::Server, WSAGETSELECTERROR(lParam)); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

void AbortAllConnections() {
  for (auto& [clientSocket, E] : ClientTable) AbortConnection(clientSocket, E);
  CloseAllRetired();
}
