// CreateThread / CloseHandle: the system's own.
#pragma once

#include "wintypes.h"

namespace win {

using ::LPTHREAD_START_ROUTINE;
using ::CreateThread;
using ::CloseHandle;

}  // namespace win
