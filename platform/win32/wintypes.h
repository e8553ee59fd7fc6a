// The Windows types and constants that the engine is written against: on
// Windows, the system's own (see system_constants.h for how its macros
// become win::NAME).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN  // Winsock comes from sockets.h alone
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// MessageBoxA and Beep are platform/'s own here too, routed through the
// notice handler (notices.h). The system's declarations are renamed while its
// headers are read, so that an unqualified call finds ours alone. The one
// file that calls the system's (system_notices.cpp) includes <windows.h>
// before any of ours.
#define MessageBoxA velotrunk_system_MessageBoxA
#define Beep velotrunk_system_Beep
#include <windows.h>
#undef MessageBoxA
#undef Beep

#include "system_constants.h"

namespace win {

using ::BYTE;
using ::WORD;
using ::DWORD;
using ::UINT;
using ::BOOL;
using ::ATOM;
using ::WPARAM;
using ::LPARAM;
using ::LRESULT;
using ::HWND;
using ::HINSTANCE;
using ::HANDLE;
using ::HBRUSH;
using u_short = unsigned short;  // as Winsock's headers have them
using u_long = unsigned long;

}  // namespace win

#define VELOTRUNK_WINTYPES_CONSTANTS(X)                                                              \
  X(UINT, WM_NULL) X(UINT, WM_DESTROY) X(UINT, WM_QUIT) X(UINT, WM_USER)                             \
  X(UINT, MB_OK) X(UINT, MB_ICONERROR) X(UINT, MB_ICONWARNING) X(UINT, MB_ICONINFORMATION)           \
  X(UINT, MB_SYSTEMMODAL) X(int, IDOK)                                                               \
  X(int, WSAEINTR) X(int, WSAEBADF) X(int, WSAEACCES) X(int, WSAEFAULT) X(int, WSAEINVAL)            \
  X(int, WSAEMFILE) X(int, WSAEWOULDBLOCK) X(int, WSAEINPROGRESS) X(int, WSAEALREADY)                \
  X(int, WSAENOTSOCK) X(int, WSAEMSGSIZE) X(int, WSAENOPROTOOPT) X(int, WSAEOPNOTSUPP) X(int, WSAEAFNOSUPPORT)              \
  X(int, WSAEADDRINUSE) X(int, WSAEADDRNOTAVAIL) X(int, WSAENETDOWN) X(int, WSAENETUNREACH)          \
  X(int, WSAECONNABORTED) X(int, WSAECONNRESET) X(int, WSAENOBUFS) X(int, WSAEISCONN)                \
  X(int, WSAENOTCONN) X(int, WSAESHUTDOWN) X(int, WSAETIMEDOUT) X(int, WSAECONNREFUSED)              \
  X(int, WSAEHOSTUNREACH) X(int, WSANOTINITIALISED)

namespace win::system_values {
VELOTRUNK_WINTYPES_CONSTANTS(VELOTRUNK_TAKE_CONSTANT)
}

#undef WM_NULL
#undef WM_DESTROY
#undef WM_QUIT
#undef WM_USER
#undef MB_OK
#undef MB_ICONERROR
#undef MB_ICONWARNING
#undef MB_ICONINFORMATION
#undef MB_SYSTEMMODAL
#undef IDOK
// The error codes come from winerror.h; WSABASEERR stays defined, so that
// Winsock's headers, read later, do not define them again.
#undef WSAEINTR
#undef WSAEBADF
#undef WSAEACCES
#undef WSAEFAULT
#undef WSAEINVAL
#undef WSAEMFILE
#undef WSAEWOULDBLOCK
#undef WSAEINPROGRESS
#undef WSAEALREADY
#undef WSAENOTSOCK
#undef WSAEMSGSIZE
#undef WSAENOPROTOOPT
#undef WSAEOPNOTSUPP
#undef WSAEAFNOSUPPORT
#undef WSAEADDRINUSE
#undef WSAEADDRNOTAVAIL
#undef WSAENETDOWN
#undef WSAENETUNREACH
#undef WSAECONNABORTED
#undef WSAECONNRESET
#undef WSAENOBUFS
#undef WSAEISCONN
#undef WSAENOTCONN
#undef WSAESHUTDOWN
#undef WSAETIMEDOUT
#undef WSAECONNREFUSED
#undef WSAEHOSTUNREACH
#undef WSANOTINITIALISED

namespace win {
VELOTRUNK_WINTYPES_CONSTANTS(VELOTRUNK_GIVE_CONSTANT)
}
