// The relay engine: the connection table, the engine thread with its hidden
// window and listener, and the socket-event handlers that accept, connect,
// relay and tear down connections. Everything except the three settings and
// the thread entry runs on RelayThread only.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "messages.h"
#include "sockets.h"

constexpr int CHUNK_SIZE = 100;

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
// socket. The fields after `connected` carry the teardown and back-pressure
// state that keeps every byte: see proxy.cpp.
struct CLIENT_DATA {
  win::SOCKET serverSocket = win::INVALID_SOCKET;
  ChunkQueue toServer;
  ChunkQueue toClient;
  bool connected = false;

  bool clientOpen = false;      // the engine still holds the client socket
  bool clientEnded = false;     // the client has closed; toServer drains, then the server is told
  bool serverEnded = false;     // the server has closed; toClient drains, then the client is told
  std::int32_t toServerHead = 0;  // bytes of toServer's head chunk already sent
  std::int32_t toClientHead = 0;  // bytes of toClient's head chunk already sent
};

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
void DiscardQueue(ChunkQueue& queue);

win::DWORD RelayThread(void* parameter);
win::LRESULT EngineWindowProc(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);
void ShowMessageAsync(const char* text, const char* caption, win::UINT style);

// Stops a running RelayThread (WM_DESTROY to EngineWindow) and waits until
// it has returned, so that ClientTable can be destroyed safely. Returns at
// once when no engine runs.
void StopRelayThread();
