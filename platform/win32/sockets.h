// The Winsock subset the engine uses: on Windows, the real Winsock with its
// real WSAAsyncSelect. Three calls stay ours, for what the engine relies on
// beyond Winsock 1.1:
//  - socket and accept turn Nagle's algorithm off (TCP_NODELAY): the engine
//    relays in small chunks, and each one should leave at once;
//  - listen takes the backlog of 5, Winsock 1.1's most, as the system's
//    most, so that a burst of clients is queued rather than refused.
// Real Winsock keeps the messages queued for a socket that was closed, and
// hands out the same value again; the engine copes with both.
#pragma once

#include "wintypes.h"  // first: it includes <windows.h> its own way

// socket, accept and listen are ours (above); the system's declarations are
// renamed while Winsock's header is read, so that an unqualified call finds
// ours alone. sockets.cpp, which calls the system's, includes <winsock2.h>
// before this header.
#define socket velotrunk_system_socket
#define accept velotrunk_system_accept
#define listen velotrunk_system_listen
#include <winsock2.h>
#undef socket
#undef accept
#undef listen

namespace win {

// The most recv calls one read event of the engine makes before it lets the
// other events through. Each recv, and the send that follows it, is a call
// into the system; under Wine a round trip to its server (0.1-0.3 ms), so
// 2048 of them kept every other connection waiting for a second or more.
constexpr int READS_PER_EVENT = 64;

using ::SOCKET;
using ::in_addr;
using ::sockaddr;
using ::sockaddr_in;
using ::WSADATA;
using ::linger;

using ::WSAStartup;
using ::WSACleanup;
using ::WSAGetLastError;
using ::WSASetLastError;
using ::bind;
using ::connect;
using ::recv;
using ::send;
using ::shutdown;
using ::setsockopt;
using ::closesocket;
using ::WSAAsyncSelect;
using ::inet_addr;
using ::htons;
using ::htonl;
using ::ntohs;
using ::ntohl;

SOCKET socket(int af, int type, int protocol);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* address, int* addressLength);

}  // namespace win

#define VELOTRUNK_SOCKETS_CONSTANTS(X)                                                            \
  X(SOCKET, INVALID_SOCKET) X(int, SOCKET_ERROR) X(int, AF_INET) X(int, SOCK_STREAM)              \
  X(u_long, INADDR_ANY) X(u_long, INADDR_NONE) X(int, SOL_SOCKET) X(int, SO_LINGER)               \
  X(int, SD_RECEIVE) X(int, SD_SEND) X(int, SD_BOTH)                                              \
  X(long, FD_READ) X(long, FD_WRITE) X(long, FD_OOB) X(long, FD_ACCEPT) X(long, FD_CONNECT)       \
  X(long, FD_CLOSE)

namespace win::system_values {
VELOTRUNK_SOCKETS_CONSTANTS(VELOTRUNK_TAKE_CONSTANT)
}

#undef INVALID_SOCKET
#undef SOCKET_ERROR
#undef AF_INET
#undef SOCK_STREAM
#undef INADDR_ANY
#undef INADDR_NONE
#undef SOL_SOCKET
#undef SO_LINGER
#undef SD_RECEIVE
#undef SD_SEND
#undef SD_BOTH
#undef FD_READ
#undef FD_WRITE
#undef FD_OOB
#undef FD_ACCEPT
#undef FD_CONNECT
#undef FD_CLOSE
#undef WSAGETSELECTEVENT
#undef WSAGETSELECTERROR

namespace win {
VELOTRUNK_SOCKETS_CONSTANTS(VELOTRUNK_GIVE_CONSTANT)

inline WORD WSAGETSELECTEVENT(LPARAM l) { return LOWORD(l); }
inline WORD WSAGETSELECTERROR(LPARAM l) { return HIWORD(l); }
}  // namespace win
