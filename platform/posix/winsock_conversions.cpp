#include "winsock_conversions.h"

#include <netinet/in.h>

#include <cerrno>
#include <cstring>

namespace win {

int WsaFromErrno(int e) {
  switch (e) {
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case ENOTSOCK: return WSAENOTSOCK;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: return WSAEMFILE;
    case ENFILE: return WSAEMFILE;
    case EALREADY: return WSAEALREADY;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS: return WSAENOBUFS;
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return 10000 + e;
  }
}

bool ToPosix(const sockaddr* name, int length, ::sockaddr_in& out) {
  if (!name || length < static_cast<int>(sizeof(sockaddr_in))) return false;
  const auto* in = reinterpret_cast<const sockaddr_in*>(name);
  if (in->sin_family != AF_INET) return false;
  std::memset(&out, 0, sizeof out);
  out.sin_family = AF_INET;
  out.sin_port = in->sin_port;
  out.sin_addr.s_addr = in->sin_addr.s_addr;
  return true;
}

void FromPosix(const ::sockaddr_in& in, sockaddr* name, int* length) {
  if (!name || !length || *length < static_cast<int>(sizeof(sockaddr_in))) return;
  auto* out = reinterpret_cast<sockaddr_in*>(name);
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = in.sin_port;
  out->sin_addr.s_addr = in.sin_addr.s_addr;
  *length = sizeof(sockaddr_in);
}

}  // namespace win
