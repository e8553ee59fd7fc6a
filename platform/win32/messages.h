// Hidden windows and the thread's message queue: the system's own.
#pragma once

#include "wintypes.h"

namespace win {

using ::WNDPROC;
using ::POINT;
using ::MSG;
using ::WNDCLASSA;

using ::RegisterClassA;
using ::UnregisterClassA;
using ::CreateWindowExA;
using ::DestroyWindow;
using ::ShowWindow;
using ::GetMessageA;
using ::PeekMessageA;
using ::TranslateMessage;
using ::DispatchMessageA;
using ::DefWindowProcA;
using ::PostQuitMessage;
using ::PostMessageA;
using ::GetModuleHandleA;

}  // namespace win

#define VELOTRUNK_MESSAGES_CONSTANTS(X)                                                \
  X(UINT, CS_VREDRAW) X(UINT, CS_HREDRAW) X(UINT, CS_DBLCLKS) X(int, CW_USEDEFAULT)    \
  X(int, SW_HIDE) X(int, COLOR_WINDOW) X(UINT, PM_NOREMOVE) X(UINT, PM_REMOVE)

namespace win::system_values {
VELOTRUNK_MESSAGES_CONSTANTS(VELOTRUNK_TAKE_CONSTANT)
}

#undef CS_VREDRAW
#undef CS_HREDRAW
#undef CS_DBLCLKS
#undef CW_USEDEFAULT
#undef SW_HIDE
#undef COLOR_WINDOW
#undef PM_NOREMOVE
#undef PM_REMOVE

namespace win {
VELOTRUNK_MESSAGES_CONSTANTS(VELOTRUNK_GIVE_CONSTANT)
}

// The parent of a window that only receives messages; such a window needs no
// desktop. A handle value is no constant expression, so it is taken apart.
namespace win::system_values {
inline const HWND system_HWND_MESSAGE = HWND_MESSAGE;
}
#undef HWND_MESSAGE
namespace win {
inline const HWND HWND_MESSAGE = system_values::system_HWND_MESSAGE;
}
