// The relay engine: the connection table (connection_table.cpp), the engine
// thread with its hidden window and listener (relay_thread.cpp), and the
// socket-event handlers that accept, connect, relay and tear down connections
// (relay.cpp). Everything except the three settings and the thread entry runs
// on RelayThread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "messages.h"
#include "notices.h"
#include "sockets.h"

constexpr int CHUNK_SIZE = 100;
// One read asks the client for a whole chunk, the server for 90 bytes.
constexpr int CLIENT_READ_SIZE = CHUNK_SIZE;
constexpr int SERVER_READ_SIZE = 90;

// One chunk of relayed bytes. It owns a buffer of CHUNK_SIZE bytes, of which
// byteCount are in use; a copy owns a buffer of its own.
struct SOCK_DATA {
  char* payload;
  std::int32_t byteCount;

  SOCK_DATA(const char* bytes, std::int32_t count);
  SOCK_DATA(const SOCK_DATA& other);
  SOCK_DATA& operator=(const SOCK_DATA&) = delete;
  ~SOCK_DATA();
};

using ChunkQueue = std::deque<SOCK_DATA>;

// The record of one relayed connection, keyed in ClientTable by its client
// socket. The fields after `connected` follow each direction to its end: a
// side that ends its stream has what it sent delivered, then the other side
// is told (its receiving direction is shut down); reading pauses while the
// queue toward the other side is full.
struct CLIENT_DATA {
  win::SOCKET serverSocket = win::INVALID_SOCKET;
  ChunkQueue toServer;
  ChunkQueue toClient;
  bool connected = false;

  bool clientOpen = false;        // the engine still holds the client socket
  bool clientEnded = false;       // the client's end of stream has been read
  bool serverEnded = false;       // the server's end of stream has been read
  bool serverTold = false;        // the server reads end of stream (shut down after toServer drained)
  bool clientTold = false;        // the client reads end of stream
  bool clientReadPaused = false;  // reading the client waits for toServer to drain
  bool serverReadPaused = false;  // reading the server waits for toClient to drain
};

// A queue holding this many chunks stops the reading of the socket that fills it.
constexpr std::size_t MAX_QUEUED_CHUNKS = 64;

// One read event reads at most this many chunks, as many as the socket layer
// advises. The rest is read by a later FD_READ, behind the events that came
// meanwhile: a peer that sends faster than the engine relays would otherwise
// keep one event going, and every other connection (and the answer of its
// own) waiting, for as long as it sends.
constexpr int MAX_READS_PER_EVENT = win::READS_PER_EVENT;

extern std::map<std::int32_t, CLIENT_DATA> ClientTable;

// The three settings, written by the start command before RelayThread starts.
extern std::int32_t ListenPort;
extern std::string ServerAddress;
extern std::int32_t ServerPort;

constexpr win::UINT WM_CLIENT_SOCKET = win::WM_USER + 1;
constexpr win::UINT WM_SERVER_SOCKET = win::WM_USER + 10;

extern win::SOCKET ListenSocket;
extern win::HWND EngineWindow;

std::int32_t ClientForServerSocket(win::SOCKET serverSocket);
// Every write of a record's serverSocket goes through here, so that
// ClientForServerSocket can answer from an index.
void SetServerSocket(std::int32_t clientSocket, CLIENT_DATA& entry, win::SOCKET serverSocket);
void DiscardQueue(ChunkQueue& queue);

// RelayThread returns 0 when it was stopped, and RELAY_START_FAILED when it
// could not listen (bind or listen failed): it then ends as soon as its
// start-up notices are closed, since it has nothing to serve.
constexpr win::DWORD RELAY_START_FAILED = 1;
win::DWORD RelayThread(void* parameter);

// Called on the engine thread once ListenSocket listens, and as RelayThread
// returns, with its exit code: the window offers the start again after a
// failed one, the headless relay says that it listens and exits when the
// engine ends. The handlers must not wait for the thread that stops the
// engine.
using RelayListeningHandler = std::function<void()>;
using RelayEndedHandler = std::function<void(win::DWORD exitCode)>;
void SetRelayListeningHandler(RelayListeningHandler handler);
void SetRelayEndedHandler(RelayEndedHandler handler);
// Called on the engine thread for every connect to the server that failed
// (refused, unreachable, timed out), with the socket layer's error code,
// after the client's connection was reset. The window shows nothing; the
// headless relay tells the operator. The handler must return quickly.
using ConnectFailedHandler = std::function<void(int error)>;
void SetConnectFailedHandler(ConnectFailedHandler handler);
win::LRESULT EngineWindowProc(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);

// Asks a running RelayThread to stop (WM_DESTROY to EngineWindow), or one
// that is about to start not to; returns at once. Any thread may ask.
void RequestRelayStop();
// The same, then waits until RelayThread has returned, so that ClientTable
// can be destroyed safely. Returns at once when no engine runs.
void StopRelayThread();

// What the engine holds, readable from any thread: the sockets of relayed
// connections that are open (the listener not counted), and the chunks
// waiting in queues.
std::size_t OpenConnectionSockets();
std::size_t QueuedChunks();
// The engine's notices go through ShowMessageAsync (notices.h), and
// NoticesAsked counts them.

// Forgets every connection record and the stop request, so that a test can
// run another engine in the same process after StopRelayThread.
void ResetEngineState();
