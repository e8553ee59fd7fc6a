// CreateThread / CloseHandle over std::thread. A thread runs detached; its
// handle only says that it was started, and CloseHandle lets it go.
#pragma once

#include <cstddef>

#include "wintypes.h"

namespace win {

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

// Returns nullptr when the thread cannot be started.
HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD creationFlags, DWORD* threadId);
BOOL CloseHandle(HANDLE handle);

}  // namespace win
