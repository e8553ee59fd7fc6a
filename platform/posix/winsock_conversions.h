// Winsock's values from the POSIX ones underneath, and back: error codes
// and IPv4 addresses.
#pragma once

#include "sockets.h"

struct sockaddr_in;  // POSIX's

namespace win {

// The WSA code for an errno value. A value Winsock has no code for comes
// back as 10000 plus the errno value, so that it still reads as an error.
int WsaFromErrno(int e);

// Winsock's 16-byte IPv4 address has the same bytes as the POSIX one but for
// the family field, which both keep in host order at the front.
//
// The POSIX address for `name`; false when it is no IPv4 address of
// `length` bytes.
bool ToPosix(const sockaddr* name, int length, ::sockaddr_in& out);
// Fills `name` with the Winsock form of `in`, when `*length` leaves room.
void FromPosix(const ::sockaddr_in& in, sockaddr* name, int* length);

}  // namespace win
