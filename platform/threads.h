// CreateThread / CloseHandle over std::thread. A thread runs detached; its
// handle can be waited on until CloseHandle lets it go.
#pragma once

#include <cstddef>

#include "wintypes.h"

namespace win {

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD STILL_ACTIVE = 259;

// Returns nullptr when the thread cannot be started.
HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD creationFlags, DWORD* threadId);
BOOL CloseHandle(HANDLE handle);
DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs);
BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode);

}  // namespace win
