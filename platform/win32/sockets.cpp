// The system's socket, accept and listen under their own names: this file
// reads Winsock's header before ours.
#include <winsock2.h>

#include "sockets.h"

namespace win {
namespace {

void SetNoDelay(SOCKET s) {
  BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

SOCKET socket(int af, int type, int protocol) {
  SOCKET s = ::socket(af, type, protocol);
  if (s != INVALID_SOCKET) SetNoDelay(s);
  return s;
}

// Winsock 1.1 caps the backlog at its SOMAXCONN, 5, so 5 asks for the most
// the system allows. Taken literally, a burst of connections would be
// refused beyond the fifth.
int listen(SOCKET s, int backlog) { return ::listen(s, backlog >= 5 ? SOMAXCONN : backlog); }

SOCKET accept(SOCKET s, sockaddr* address, int* addressLength) {
  SOCKET accepted = ::accept(s, address, addressLength);
  if (accepted != INVALID_SOCKET) SetNoDelay(accepted);
  return accepted;
}

}  // namespace win
