// The plain socket calls the fuzzer's own clients and servers use, on
// 127.0.0.1 only, over the tests' socket helpers (test_sockets.h), in the
// shape the fuzzer's poll loop wants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

// A socket is an int on both systems, as in test_sockets.h: Windows' handle
// values fit.
using Socket = int;
extern const Socket kNoSocket;

// Once, before any other call: starts Winsock, or ignores SIGPIPE and raises
// the descriptor limit.
void Startup();

// A non-blocking listener on 127.0.0.1 with a port the system picked.
Socket ListenLoopback(int* port);
// A port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Starts a non-blocking connect to 127.0.0.1:port; kNoSocket when it failed at once.
Socket ConnectLoopback(int port);
// Once the socket polls writable: the connect's error, 0 when it connected.
int ConnectError(Socket s);
// A non-blocking accepted socket, or kNoSocket when none waits.
Socket Accept(Socket listener);

// Send and Recv return the byte count (Recv: 0 at end of stream), or one of these.
constexpr long kWouldBlock = -1;
constexpr long kFailed = -2;  // LastError() tells why
long Send(Socket s, const char* data, std::size_t size);
long Recv(Socket s, char* data, std::size_t size);
int LastError();
std::string ErrorName(int error);

// Bytes that arrived and were not read yet. Closing a socket that holds
// some resets the connection.
long UnreadBytes(Socket s);
void ShutdownSend(Socket s);
void Close(Socket s);
// Closes with SO_LINGER 0: the peer gets a reset, not an end of stream.
void Abort(Socket s);

// One socket to poll, and what it turned out to be ready for. A socket that
// failed or hung up is reported both readable and writable, so that the
// next recv or send tells what happened.
struct Watch {
  Socket socket;
  bool read;
  bool write;
  bool readable = false;
  bool writable = false;
};
void Poll(std::vector<Watch>& watches, int timeoutMs);

// The sockets this process holds, or -1 where they cannot be counted.
int OpenSockets();

}  // namespace net
