// A Winsock 1.1 subset of our own, with WSAAsyncSelect's event rules. The
// POSIX side implements it over sockets and epoll (posix/sockets.cpp), and
// the engine's tests implement it as a scripted fake, on every system; on
// Windows the engine itself uses the real Winsock (win32/sockets.h).
//
// On the POSIX side socket values are the descriptors themselves; errors are
// reported as WSA codes through WSAGetLastError (the codes are in wintypes.h,
// as on Windows they come with the system's headers).
//
// Events reach the registered window's queue as messages: wParam the socket,
// low word of lParam the event, high word the error code. The rules:
//  - an accepted socket inherits its listener's registration and gets
//    FD_WRITE once it is writable;
//  - FD_CONNECT carries the connect's error code (0 on success); a successful
//    connect is followed by one FD_WRITE; a connect still without outcome
//    after 21 s (SetConnectTimeout) fails with WSAETIMEDOUT, as on Windows;
//  - FD_READ / FD_ACCEPT are posted once and re-enabled by the next recv /
//    accept; they come again while unread data (waiting connections) remain;
//  - FD_WRITE comes again only after a send failed with WSAEWOULDBLOCK, once
//    the socket can take data;
//  - FD_CLOSE comes once, after every byte that preceded the peer's close has
//    been read (error 0), or when the connection is reset (WSAECONNRESET);
//  - closesocket drops the socket's registration and every message of that
//    socket still waiting in the queue.
//
// Underneath, recv is served from a read-ahead buffer filled by large kernel
// reads, and send appends to a bounded per-socket buffer that is written to
// the kernel after each dispatched message; would-block is reported only when
// that buffer is full. Buffers are released when they empty. A socket closed
// with bytes still buffered stays open until they are written, for as long
// as its peer takes some now and then; one whose peer takes nothing for
// StalledCloseLimit is aborted, so the peer sees a reset rather than a short
// stream that ends cleanly.
#pragma once

#include <cstdint>

#include "wintypes.h"

namespace win {

using SOCKET = std::uint32_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

// The most recv calls one read event of a caller should make before it lets
// the other events through. This layer ends a busy read at its own budget
// well before that, so the figure only bounds a read in the worst case.
constexpr int READS_PER_EVENT = 2048;

struct in_addr {
  u_long s_addr;
};

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  in_addr sin_addr;
  char sin_zero[8];
};

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};

constexpr int AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr u_long INADDR_ANY = 0;
constexpr u_long INADDR_NONE = 0xFFFFFFFF;

struct linger {
  u_short l_onoff;
  u_short l_linger;
};

constexpr int SOL_SOCKET = 0xFFFF;
constexpr int SO_LINGER = 0x0080;

constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;

constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

inline WORD WSAGETSELECTEVENT(LPARAM l) { return LOWORD(l); }
inline WORD WSAGETSELECTERROR(LPARAM l) { return HIWORD(l); }

int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int nameLength);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* address, int* addressLength);
int connect(SOCKET s, const sockaddr* name, int nameLength);
int recv(SOCKET s, char* buffer, int length, int flags);
int send(SOCKET s, const char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);
// SO_LINGER only. With l_onoff set and l_linger 0, closesocket aborts the
// connection: the peer sees a reset, and bytes not yet sent are dropped.
int setsockopt(SOCKET s, int level, int optionName, const char* optionValue, int optionLength);
int closesocket(SOCKET s);
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, long events);

u_long inet_addr(const char* text);
u_short htons(u_short v);
u_long htonl(u_long v);
u_short ntohs(u_short v);
u_long ntohl(u_long v);

// --- Beyond Winsock ---

// How long a closed socket with bytes still buffered may go without its peer
// taking any before it is aborted (60 s). Tests shorten it.
void SetStalledCloseLimit(int milliseconds);
// How long a connect may go without an outcome before FD_CONNECT reports
// WSAETIMEDOUT (21 s, Windows' default); it applies to connects started
// afterwards. Tests shorten it. Windows' own Winsock keeps its own.
void SetConnectTimeout(int milliseconds);

}  // namespace win
